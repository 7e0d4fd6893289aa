#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tovktest {

std::string BinDir() { return TOVK_BIN_DIR; }
std::string SourceDir() { return TOVK_SOURCE_DIR; }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/tovktest.XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  Root = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Root, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

ChildEnvironment::ChildEnvironment(const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> all;
  for (char** e = environ; *e; ++e) {
    std::string assignment = *e;
    std::size_t eq = assignment.find('=');
    if (eq != std::string::npos) all[assignment.substr(0, eq)] = assignment.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) all[name] = value;
  for (const auto& [name, value] : all) Assignments.push_back(name + "=" + value);
  for (auto& a : Assignments) Pointers.push_back(a.data());
  Pointers.push_back(nullptr);
}

RunResult Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::string& input, std::chrono::milliseconds timeout) {
  RunResult result;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  ChildEnvironment environment(env);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execvpe(args[0], args.data(), environment.Envp());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  SetNonBlocking(in[1]);
  SetNonBlocking(out[0]);
  SetNonBlocking(err[0]);
  std::size_t written = 0;
  if (input.empty()) {
    close(in[1]);
    in[1] = -1;
  }
  auto deadline = std::chrono::steady_clock::now() + timeout;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.TimedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[3];
    int n = 0;
    if (outOpen) fds[n++] = {out[0], POLLIN, 0};
    if (errOpen) fds[n++] = {err[0], POLLIN, 0};
    if (in[1] >= 0) fds[n++] = {in[1], POLLOUT, 0};
    if (poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 200))) < 0 &&
        errno != EINTR)
      break;
    char buffer[65536];
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == in[1]) {
        ssize_t w = write(in[1], input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        if (w < 0 && errno != EAGAIN) written = input.size();
        if (written >= input.size()) {
          close(in[1]);
          in[1] = -1;
        }
        continue;
      }
      ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
      if (r > 0) {
        (fds[i].fd == out[0] ? result.Out : result.Err).append(buffer, static_cast<std::size_t>(r));
      } else if (r == 0 || errno != EAGAIN) {
        if (fds[i].fd == out[0]) outOpen = false;
        else errOpen = false;
      }
    }
  }
  if (in[1] >= 0) close(in[1]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

int SpawnWithOutput(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::string& outputPath) {
  if (argv.empty()) return -1;
  ChildEnvironment environment(env);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    int fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    dup2(devNull, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    execve(args[0], args.data(), environment.Envp());
    _exit(127);
  }
  return child;
}

void ConnectLoopbackPair(int& server, int& client, int clientReceiveBuffer) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("loopback listener failed");
  client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (clientReceiveBuffer > 0)
    ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &clientReceiveBuffer, sizeof clientReceiveBuffer);
  if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("loopback connect failed");
  server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ::close(listener);
  if (server < 0) throw std::runtime_error("loopback accept failed");
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    throw std::runtime_error("bind failed");
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReceiveAll(int fd, std::chrono::milliseconds timeout) {
  std::string all;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buffer[65536];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

std::string HttpExchange(int port, const std::string& request, std::chrono::milliseconds timeout) {
  int fd = ConnectLoopback(port);
  if (fd < 0) return {};
  SendAll(fd, request);
  std::string answer = ReceiveAll(fd, timeout);
  close(fd);
  return answer;
}

namespace {

// State, parent and process group of every process, from /proc/N/stat:
// "pid (name) state ppid pgrp ...", the name possibly holding blanks.
struct ProcessStat {
  char State = '?';
  int Parent = 0;
  int Group = 0;
};

std::vector<ProcessStat> AllProcesses() {
  std::vector<ProcessStat> all;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::string stat = ReadFile(entry.path().string() + "/stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    ProcessStat p;
    std::istringstream fields(stat.substr(close + 1));
    if (fields >> p.State >> p.Parent >> p.Group) all.push_back(p);
  }
  return all;
}

}  // namespace

bool ProcessGroupGone(int group, int collector, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    bool left = false;
    for (const ProcessStat& p : AllProcesses())
      if (p.Group == group && (p.State != 'Z' || p.Parent == collector)) left = true;
    if (!left) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int ThreadCount(int pid) {
  int count = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/task", error), end;
       !error && it != end; it.increment(error))
    ++count;
  return count;
}

}  // namespace tovktest
