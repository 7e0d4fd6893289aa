#include "tests/support/ServerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>

namespace tovktest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollStep = std::chrono::milliseconds(20);

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

// --- NotifySocket ------------------------------------------------------------

NotifySocket::NotifySocket() {
  static std::atomic<int> counter{0};
  Name = "@tovktest/" + std::to_string(getpid()) + "/" + std::to_string(++counter);
  Fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, Name.data(), Name.size());
  addr.sun_path[0] = '\0';
  if (Fd < 0 || bind(Fd, reinterpret_cast<sockaddr*>(&addr),
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + Name.size())) != 0)
    throw std::runtime_error("cannot bind the notify socket");
  StopFd = eventfd(0, EFD_CLOEXEC);
  Reader = std::thread([this] { Receive(); });
}

NotifySocket::~NotifySocket() {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(StopFd, &one, sizeof one);
  Reader.join();
  ::close(StopFd);
  ::close(Fd);
}

void NotifySocket::Receive() {
  for (;;) {
    pollfd fds[2] = {{Fd, POLLIN, 0}, {StopFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    char buffer[8192];
    ssize_t n = recv(Fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) continue;
    {
      std::lock_guard<std::mutex> guard(Lock);
      Received.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    Arrived.notify_all();
  }
}

std::vector<std::string> NotifySocket::Messages() {
  std::lock_guard<std::mutex> guard(Lock);
  return Received;
}

std::vector<std::string> NotifySocket::Lines() {
  std::vector<std::string> lines;
  for (const auto& message : Messages())
    for (auto& line : SplitLines(message)) lines.push_back(line);
  return lines;
}

bool NotifySocket::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(Lock);
  return Arrived.wait_for(lock, timeout, [&] {
    for (const auto& message : Received)
      for (const auto& l : SplitLines(message))
        if (l == line) return true;
    return false;
  });
}

bool NotifySocket::WaitForStatus(const std::string& part, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(Lock);
  return Arrived.wait_for(lock, timeout, [&] {
    for (const auto& message : Received)
      for (const auto& l : SplitLines(message))
        if (l.rfind("STATUS=", 0) == 0 && l.find(part) != std::string::npos) return true;
    return false;
  });
}

std::string NotifySocket::LastStatus() {
  std::string status;
  for (const auto& line : Lines())
    if (line.rfind("STATUS=", 0) == 0) status = line.substr(7);
  return status;
}

// --- ServerProcess ---------------------------------------------------------

bool WaitForPort(int port, bool open, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    int fd = ConnectLoopback(port);
    if (fd >= 0) ::close(fd);
    if ((fd >= 0) == open) return true;
    std::this_thread::sleep_for(kPollStep);
  }
  return false;
}

ServerProcess::ServerProcess() : HttpPort(FreePort()) {
  MakeDirs(LogDir());
  MakeDirs(DocRoot());
  // The built-in default log directory is "c:\": keep it inside the test.
  MakeDirs(Root / "c");
  Env["TOVK_DRIVE_C"] = Root / "c";
}

ServerProcess::~ServerProcess() {
  if (Child > 0) Stop();
}

std::string ServerProcess::SystemPath(const std::string& linuxPath) {
  std::string path = linuxPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string ServerProcess::RegEscape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string ServerProcess::BaseConfig() const {
  char port[16];
  std::snprintf(port, sizeof port, "%08x", static_cast<unsigned>(HttpPort));
  return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server]\n"
         "\"Port\"=dword:" + std::string(port) + "\n"
         "\"ProtFile\"=\"" + RegEscape(SystemPath(LogDir()) + "\\") + "\"\n"
         "\"DefaultHTML\"=\"index.html\"\n"
         "\"SSLon\"=dword:00000000\n"
         "\"NewLogFile\"=dword:00000000\n"
         "\"KeepAlive\"=dword:00000000\n"
         "\"MIME num\"=dword:00000003\n"
         "\"MIME 1\"=\"html,text/html\"\n"
         "\"MIME 2\"=\"txt,text/plain\"\n"
         "\"MIME 3\"=\"gif,image/gif\"\n"
         "\"App num\"=dword:00000000\n"
         "\"Virt num\"=dword:00000000\n"
         "\"Alias num\"=dword:00000001\n"
         "\"Alias 1\"=\"" + RegEscape("*,/," + SystemPath(DocRoot()) + "\\") + "\"\n";
}

RunResult ServerProcess::RegTool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{BinDir() + "/tovkreg"};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult result = Run(argv, {{"TOVK_REGISTRY", RegistryPath()}});
  LastToolOutput = result.Out + result.Err;
  return result;
}

bool ServerProcess::ImportReg(const std::string& regText) {
  static std::atomic<int> counter{0};
  std::string file = Root / ("import" + std::to_string(++counter) + ".reg");
  WriteFile(file, regText);
  return RegTool({"import", file}).ExitCode == 0;
}

bool ServerProcess::Start(bool waitForPort, std::chrono::milliseconds timeout) {
  if (!Launch()) return false;
  auto deadline = Clock::now() + timeout;
  while (!Manager.WaitForLine("READY=1", kPollStep)) {
    if (!Running() || Clock::now() >= deadline) return false;
  }
  if (!waitForPort) return true;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return WaitForPort(HttpPort, true, std::max(left, std::chrono::milliseconds(1)));
}

bool ServerProcess::Launch() {
  if (Child > 0) return false;
  std::map<std::string, std::string> env{{"TOVK_REGISTRY", RegistryPath()},
                                         {"NOTIFY_SOCKET", Manager.Address()}};
  for (const auto& [name, value] : Env) env[name] = value;
  Child = SpawnWithOutput({BinDir() + "/tovksrv"}, env, Root / "server.out");
  return Child > 0;
}

bool ServerProcess::Running() {
  if (Child <= 0) return false;
  int status = 0;
  if (waitpid(Child, &status, WNOHANG) == Child) {
    ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    Child = -1;
    return false;
  }
  return true;
}

void ServerProcess::Signal(int signalNumber) {
  if (Child > 0) ::kill(Child, signalNumber);
}

int ServerProcess::Wait(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (Running()) {
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(kPollStep);
  }
  return ExitStatus;
}

int ServerProcess::Stop(std::chrono::milliseconds timeout) {
  if (!Running()) return Child < 0 && ExitStatus >= 0 ? ExitStatus : -1;
  Signal(SIGTERM);
  int status = Wait(timeout);
  if (status >= 0) return status;
  Signal(SIGKILL);
  return Wait(std::chrono::seconds(10));
}

bool ServerProcess::WaitForText(const std::string& path, const std::string& text,
                                std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (ReadFile(path).find(text) == std::string::npos) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

}  // namespace tovktest
