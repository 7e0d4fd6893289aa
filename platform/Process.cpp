#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/Paths.h"

extern char** environ;

namespace {

thread_local uint32_t LastErrorCode = ERROR_SUCCESS;

void KeepErrno() { LastErrorCode = static_cast<uint32_t>(errno); }

// A write to a pipe whose reader has gone must come back as EPIPE, not end
// the server; the children get the default action back (see CreateProcess).
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
  // CreateProcess resolves it against the caller's directory.
  if (!path.empty() && path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
  }
  return path;
}

}  // namespace

uint32_t GetLastError() { return LastErrorCode; }
void SetLastError(uint32_t code) { LastErrorCode = code; }

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

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  std::size_t i = 0;
  const std::size_t n = commandLine.size();
  while (i < n) {
    char c = commandLine[i];
    if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) {
        args.push_back(current);
        current.clear();
        inArgument = false;
      }
      ++i;
      continue;
    }
    inArgument = true;
    if (c == '\\') {
      std::size_t run = 0;
      while (i < n && commandLine[i] == '\\') {
        ++run;
        ++i;
      }
      if (i < n && commandLine[i] == '"') {
        current.append(run / 2, '\\');
        if (run % 2 == 1) {
          current += '"';
          ++i;
        }
        // An even run leaves the quote to the next round, where it groups.
      } else {
        current.append(run, '\\');
      }
      continue;
    }
    if (c == '"') {
      if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
        current += '"';
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    current += c;
    ++i;
  }
  if (inArgument) args.push_back(current);
  return args;
}

bool CreateProcess(const std::string& commandLine, const std::string& environmentBlock,
                   const std::string& currentDirectory, const TStartupInfo& startup,
                   TProcessInformation& info) {
  IgnoreSigPipeOnce();
  info.ProcessId = -1;
  std::vector<std::string> args;
  // An unquoted program path may hold blanks: as CreateProcess does, the
  // shortest prefix ending at a blank that names an existing file is the
  // program, and only the rest is split.
  if (!commandLine.empty() && commandLine[0] != '"') {
    for (std::size_t blank = commandLine.find(' '); blank != std::string::npos;
         blank = commandLine.find(' ', blank + 1)) {
      std::string candidate = commandLine.substr(0, blank);
      if (!FileExists(candidate)) continue;
      if (candidate.find(' ') != std::string::npos) {  // else the plain split finds it
        args = SplitCommandLine(commandLine.substr(blank + 1));
        args.insert(args.begin(), candidate);
      }
      break;
    }
  }
  if (args.empty()) args = SplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) {
    LastErrorCode = ENOENT;
    return false;
  }
  args[0] = AbsoluteLinuxPath(args[0]);

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The block's entries end at NULs; an empty entry ends the block.
  std::string block = environmentBlock;
  std::vector<char*> envp;
  if (block.empty()) {
    for (char** e = environ; *e; ++e) envp.push_back(*e);
  } else {
    // data() is NUL-terminated past the end, so a last entry without its
    // NUL still ends.
    std::size_t start = 0;
    while (start < block.size()) {
      std::size_t end = block.find('\0', start);
      if (end == start) break;
      envp.push_back(block.data() + start);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
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
  std::string directory;
  if (!currentDirectory.empty()) directory = ToLinuxPath(currentDirectory);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  // The server ignores SIGPIPE and its threads may block signals; a child
  // must start with neither.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

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

int WaitForProcess(TProcessInformation& info) {
  if (info.ProcessId <= 0) return -1;
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

std::string GetEnvironmentStrings() {
  std::string block;
  for (char** e = environ; *e; ++e) {
    block += *e;
    block += '\0';
  }
  block += '\0';
  return block;
}
