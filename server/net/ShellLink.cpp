#include "server/net/ShellLink.h"

#include <mutex>

std::string ServerSoftware;

namespace {

// Held while a request is handed to the shell, so that a shell that
// unregisters is never called afterwards.
std::mutex LinkLock;
TShellLink* Shell = nullptr;

}  // namespace

void RegisterShell(TShellLink* shell) {
  std::lock_guard<std::mutex> guard(LinkLock);
  Shell = shell;
}

void UnregisterShell(TShellLink* shell) {
  std::lock_guard<std::mutex> guard(LinkLock);
  if (Shell == shell) Shell = nullptr;
}

void RequestRestart(bool keepAlive) {
  std::lock_guard<std::mutex> guard(LinkLock);
  if (Shell) Shell->ArmRestartFromAnyThread(RestartDelay(keepAlive));
}
