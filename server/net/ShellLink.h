#pragma once
// What the request path asks of the server shell (the tray window), without
// depending on the window: the server's name for the replies and the
// restart command. The window implements TShellLink and registers itself
// while it exists; the listeners report to it through the callback that
// StartListeners takes (SvrMain.h). The shell's status-text mailbox lives in
// the log layer (Loging.h), which the request path may use as it is.

#include <cstdint>
#include <string>

// The file version, "/" and the internal name, which the replies send as
// their server name. The shell sets it before the listeners start and does
// not change it while they run, so readers need no lock.
extern std::string ServerSoftware;

// How long a restart waits after it was asked for: with keep-alive a
// browser may still hold connections open, which the restart lets finish;
// without, a moment is enough for the answer to the command to go out.
constexpr uint32_t kRestartDelayMs = 3000;
constexpr uint32_t kRestartDelayKeepAliveMs = 20000;
constexpr uint32_t RestartDelay(bool keepAlive) {
  return keepAlive ? kRestartDelayKeepAliveMs : kRestartDelayMs;
}

// What the shell does for the other threads.
class TShellLink {
 public:
  // From any thread: restart the server after `delayMs`, unless a restart
  // is pending already. Must only hand the request on: it is called with
  // the link's lock held.
  virtual void ArmRestartFromAnyThread(uint32_t delayMs) = 0;

 protected:
  ~TShellLink() = default;
};

// The shell registers itself when it starts and unregisters before it
// goes; once UnregisterShell has returned, no call into it is still running
// or will be made. Unregistering a shell that is not the registered one
// does nothing.
void RegisterShell(TShellLink* shell);
void UnregisterShell(TShellLink* shell);

// The restart command: the registered shell restarts the server after
// RestartDelay(keepAlive). Without a shell (a test that runs replies alone)
// nothing happens.
void RequestRestart(bool keepAlive);
