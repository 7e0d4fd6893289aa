#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/Paths.h"

extern char** environ;

namespace {

thread_local uint32_t LastErrorCode = ERROR_SUCCESS;

void KeepErrno() { LastErrorCode = static_cast<uint32_t>(errno); }

// A write to a pipe whose reader has gone must come back as EPIPE, not end
// the server; the children get the default action back (see StartProcess).
void IgnoreSigPipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

// Waits for the handle to become ready; true when it is, false on time-out
// or error (errno tells which: 0 for the time-out).
bool WaitReady(HANDLE handle, short events, int timeoutMs) {
  pollfd p{handle, events, 0};
  for (;;) {
    int n = poll(&p, 1, timeoutMs);
    if (n > 0) return true;
    if (n == 0) {
      errno = 0;
      return false;
    }
    if (errno != EINTR) return false;
  }
}

std::string AbsoluteLinuxPath(const std::string& windowsPath) {
  std::string path = ToLinuxPath(windowsPath);
  // posix_spawn resolves a relative program after the child's chdir, while
  // the server means it relative to its own directory.
  if (!path.empty() && path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
  }
  return path;
}

}  // namespace

uint32_t GetLastError() { return LastErrorCode; }
void SetLastError(uint32_t code) {
  LastErrorCode = code;
  errno = static_cast<int>(code);
}

std::string SystemErrorText(uint32_t code) {
  char buffer[256];
  // The GNU strerror_r returns its text, which may not be the buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text ? std::string(text) : std::string();
}

bool CreatePipe(HANDLE& readEnd, HANDLE& writeEnd) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    KeepErrno();
    readEnd = writeEnd = kNoHandle;
    return false;
  }
  readEnd = ends[0];
  writeEnd = ends[1];
  return true;
}

void CloseHandle(HANDLE& handle) {
  if (handle == kNoHandle) return;
  close(handle);
  handle = kNoHandle;
}

long ReadPipe(HANDLE handle, void* buffer, std::size_t size, int timeoutMs) {
  if (!WaitReady(handle, POLLIN, timeoutMs)) {
    if (errno == 0) return kPipeTimedOut;
    KeepErrno();
    return -1;
  }
  for (;;) {
    ssize_t n = read(handle, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    KeepErrno();
    return -1;
  }
}

long WritePipe(HANDLE handle, const void* bytes, std::size_t size, int timeoutMs) {
  IgnoreSigPipeOnce();
  if (size == 0) return 0;
  if (!WaitReady(handle, POLLOUT, timeoutMs)) {
    if (errno == 0) return 0;
    KeepErrno();
    return -1;
  }
  int flags = fcntl(handle, F_GETFL);
  bool wasBlocking = flags >= 0 && !(flags & O_NONBLOCK);
  if (wasBlocking) fcntl(handle, F_SETFL, flags | O_NONBLOCK);
  ssize_t n;
  do {
    n = write(handle, bytes, size);
  } while (n < 0 && errno == EINTR);
  int saved = errno;
  if (wasBlocking) fcntl(handle, F_SETFL, flags);
  if (n >= 0) return static_cast<long>(n);
  if (saved == EAGAIN || saved == EWOULDBLOCK) return 0;
  LastErrorCode = static_cast<uint32_t>(saved);
  return -1;
}

long PipeBytesAvailable(HANDLE handle) {
  int count = 0;
  if (ioctl(handle, FIONREAD, &count) != 0) {
    KeepErrno();
    return -1;
  }
  return count;
}

namespace {

// When the kernel has no process descriptors, a bounded wait looks at the
// child this often.
constexpr int kExitPollMs = 5;

enum class TExitWait { Ended, TimedOut, Failed };

// Waits at most timeoutMs (-1: no limit) for the child to end, without
// collecting it.
TExitWait WaitForExit(pid_t pid, int timeoutMs) {
  if (timeoutMs >= 0) {
    int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (descriptor >= 0) {
      bool ready = WaitReady(descriptor, POLLIN, timeoutMs);
      bool timedOut = !ready && errno == 0;
      close(descriptor);
      if (ready) return TExitWait::Ended;
      return timedOut ? TExitWait::TimedOut : TExitWait::Failed;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    siginfo_t state{};
    int options = WEXITED | WNOWAIT | (timeoutMs >= 0 ? WNOHANG : 0);
    if (waitid(P_PID, static_cast<id_t>(pid), &state, options) == 0) {
      if (state.si_pid == pid) return TExitWait::Ended;
    } else if (errno != EINTR) {
      return TExitWait::Failed;
    }
    if (timeoutMs < 0) continue;
    if (std::chrono::steady_clock::now() >= deadline) return TExitWait::TimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(kExitPollMs));
  }
}

// Collects an ended (or ending) child; its status as WaitForProcess gives it.
int Collect(TProcessInformation& info) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(info.ProcessId, &status, 0);
  } while (r < 0 && errno == EINTR);
  info.ProcessId = -1;
  if (r < 0) {
    KeepErrno();
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

bool StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::string& directory,
                  const TStartupInfo& startup, TProcessInformation& info) {
  IgnoreSigPipeOnce();
  info.ProcessId = -1;
  if (program.empty()) {
    LastErrorCode = ENOENT;
    return false;
  }
  const std::string path = AbsoluteLinuxPath(program);

  std::vector<std::string> args;
  args.reserve(arguments.size() + 1);
  args.push_back(path);
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Each entry is handed over as its own C string, which ends at its first
  // NUL: whatever follows a NUL inside a value is dropped, never read as a
  // variable of its own.
  std::vector<std::string> entries(environment);
  std::vector<char*> envp;
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // dup2 clears close-on-exec on the copy, so only 0, 1 and 2 reach the child.
  if (startup.StdInput != kNoHandle) posix_spawn_file_actions_adddup2(&actions, startup.StdInput, 0);
  if (startup.StdOutput != kNoHandle)
    posix_spawn_file_actions_adddup2(&actions, startup.StdOutput, 1);
  if (startup.StdError != kNoHandle) posix_spawn_file_actions_adddup2(&actions, startup.StdError, 2);
  std::string linuxDirectory;
  if (!directory.empty()) linuxDirectory = ToLinuxPath(directory);
  if (!linuxDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, linuxDirectory.c_str());
  // The server ignores SIGPIPE and its threads may block signals; a child
  // must start with neither.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  // A group of its own (numbered by the child's id): a program that runs
  // too long is ended together with everything it started.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  pid_t pid = -1;
  int result = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    LastErrorCode = static_cast<uint32_t>(result);
    return false;
  }
  info.ProcessId = pid;
  return true;
}

int WaitForProcess(TProcessInformation& info, int timeoutMs) {
  if (info.ProcessId <= 0) return -1;
  if (timeoutMs >= 0 && WaitForExit(info.ProcessId, timeoutMs) == TExitWait::TimedOut)
    return kProcessStillRunning;
  // Ended, or no child of that number: collecting tells which.
  return Collect(info);
}

int EndProcessGroup(TProcessInformation& info, int graceMs) {
  if (info.ProcessId <= 0) return -1;
  // The child is not collected yet, so its number still names its group.
  const pid_t group = info.ProcessId;
  kill(-group, SIGTERM);
  WaitForExit(info.ProcessId, graceMs);
  // Members that outlived the request to end, the child among them or not.
  kill(-group, SIGKILL);
  return Collect(info);
}

std::vector<std::string> GetEnvironmentStrings() {
  std::vector<std::string> entries;
  for (char** e = environ; *e; ++e) entries.emplace_back(*e);
  return entries;
}

std::string GetEnvironmentVariable(const std::string& name) {
  const char* value = getenv(name.c_str());
  return value ? std::string(value) : std::string();
}
