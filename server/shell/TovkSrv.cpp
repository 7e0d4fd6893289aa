// tovksrv: serves only as the service "tovk"; from a console it installs or
// removes the service, or prints help (tovksrv /?).

#include <cstdio>
#include <cstdlib>

#include "platform/ResourceLimits.h"
#include "server/net/SvrMain.h"
#include "server/net/XSSL.h"
#include "server/shell/ServiceApp.h"
#include "server/shell/ServiceNames.h"

int main(int argc, char** argv) {
  // Every connection holds a descriptor: the listeners derive the number
  // they serve at once from this limit.
  RaiseDescriptorLimit(kMostUsefulDescriptors);
  // The TLS context is made before anything else, whether or not TLS is on:
  // key files that cannot be used end the program here.
  InitTLSOrExit();
  int status = RunService(argc, argv, kServiceName, kServiceDisplayName);
  // Connection threads that are still finishing must not meet the static
  // destructors of a process that returns from main: leave at once.
  std::fflush(nullptr);
  std::_Exit(status);
}
