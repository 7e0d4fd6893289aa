// tovkunit: prints the unit tovksrv /I would write for a program installed at
// PROGRAM and run as USER, without looking at this machine's users or
// environment. The Debian package is built with its output, so the packaged
// unit is the text /I writes on the installed system.
//
//   tovkunit PROGRAM [USER]

#include <iostream>

#include "platform/ServiceManager.h"
#include "server/shell/ServiceNames.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || argv[1][0] != '/') {
    std::cerr << "usage: tovkunit /PATH/TO/tovksrv [USER]\n";
    return 2;
  }
  TUnitSettings settings;
  settings.Description = kServiceDisplayName;
  settings.Program = argv[1];
  if (argc == 3) settings.User = argv[2];
  std::cout << ServiceUnitText(settings);
  return std::cout.good() ? 0 : 1;
}
