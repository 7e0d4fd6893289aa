#include "platform/ServiceManager.h"

#include <fcntl.h>
#include <pwd.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/Paths.h"

struct TServiceHandle {
  bool IsManager = false;
  std::string Name;
  std::string UnitPath;
};

struct TServiceStatusHandle {
  std::string Name;
};

namespace {

// --- small helpers ---------------------------------------------------------

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string UnitPath(const std::string& serviceName) {
  return UnitDirectory() + "/" + serviceName + ".service";
}

bool WriteAllFd(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Runs a program without a shell; its standard output is captured when `out`
// is given. Returns the exit status, -1 when it could not run.
int RunProgram(const std::vector<std::string>& argv, std::string* out) {
  std::vector<char*> args;  // made before fork: the child only execs
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (out && pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) dup2(devNull, 0);
    if (out) dup2(pipeFds[1], 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (out) {
    ::close(pipeFds[1]);
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      out->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void SystemdReload() {
  if (SystemdRuns()) RunProgram({"systemctl", "daemon-reload"}, nullptr);
}

// A unit file value: double quotes protect blanks, backslash escapes the
// quote and itself, and "%" (a unit specifier) is doubled. A line end is
// written as "\n", so that no value can add lines of its own to the unit.
std::string QuoteUnitValue(const std::string& value, bool doubleDollar) {
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '\n') {
      quoted += "\\n";
      continue;
    }
    if (c == '\\' || c == '"') quoted += '\\';
    if (c == '%') quoted += '%';
    if (c == '$' && doubleDollar) quoted += '$';
    quoted += c;
  }
  return quoted + "\"";
}

// The reverse of QuoteUnitValue, for a whole value: words split at blanks.
std::vector<std::string> SplitUnitValue(const std::string& value, bool dollars) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && i + 1 < value.size()) {
      char next = value[++i];
      word += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    } else if ((c == '%' || (c == '$' && dollars)) && i + 1 < value.size() && value[i + 1] == c) {
      word += c;
      ++i;
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string Trim(const std::string& text) {
  std::size_t b = text.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  std::size_t e = text.find_last_not_of(" \t\r");
  return text.substr(b, e - b + 1);
}

// Field 22 of /proc/PID/stat: when the process started, in clock ticks.
std::string ProcessStartTime(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t paren = all.rfind(')');
  if (paren == std::string::npos) return {};
  std::istringstream fields(all.substr(paren + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return field;
  }
  return {};
}

std::string PidFilePath(const std::string& name) { return RunDirectory() + "/" + name + ".pid"; }
std::string StatusFilePath(const std::string& name) {
  return RunDirectory() + "/" + name + ".status";
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::string temp = path + ".tmp" + std::to_string(getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAllFd(fd, bytes);
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

// Windows-1250 bytes 0x80..0xFF as Unicode; the undefined ones as U+FFFD.
constexpr uint16_t kCp1250High[128] = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021,
    0xFFFD, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

std::string Cp1250ToUtf8(const std::string& text) {
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
      continue;
    }
    uint16_t u = kCp1250High[c - 0x80];
    if (u < 0x800) {
      utf8 += static_cast<char>(0xC0 | (u >> 6));
    } else {
      utf8 += static_cast<char>(0xE0 | (u >> 12));
      utf8 += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    }
    utf8 += static_cast<char>(0x80 | (u & 0x3F));
  }
  return utf8;
}

// --- the service side ------------------------------------------------------

struct TDispatcher {
  int NotifyFd = -1;
  sockaddr_un NotifyAddress{};
  socklen_t NotifyAddressLength = 0;
  std::string ServiceName;
  int WakeFd = -1;  // eventfd: a status was reported or the service ended
  std::mutex Lock;  // guards the two fields below and Handler
  uint32_t ControlsAccepted = 0;
  LPHANDLER_FUNCTION Handler = nullptr;
  TServiceStatusHandle StatusHandle;
};

TDispatcher& Dispatcher() {
  // Never destroyed: detached threads may still report while the process ends.
  static auto* dispatcher = new TDispatcher;
  return *dispatcher;
}

bool SendNotify(const std::string& message) {
  TDispatcher& d = Dispatcher();
  if (d.NotifyFd < 0) {
    errno = ENOTCONN;
    return false;
  }
  // Never block the service on a slow manager.
  ssize_t n = sendto(d.NotifyFd, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&d.NotifyAddress), d.NotifyAddressLength);
  return n == static_cast<ssize_t>(message.size());
}

void Wake(int fd) {
  if (fd < 0) return;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

}  // namespace

// --- shared with tovksc ----------------------------------------------------

std::string UnitDirectory() { return EnvOr("TOVK_UNIT_DIR", "/etc/systemd/system"); }
std::string RunDirectory() { return EnvOr("TOVK_RUN_DIR", "/run/tovk"); }

bool SystemdRuns() {
  struct stat st;
  return ::stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> UnitSearchPath() {
  if (const char* dir = std::getenv("TOVK_UNIT_DIR"); dir && *dir) return {dir};
  return {"/etc/systemd/system", "/lib/systemd/system"};
}

namespace {

std::vector<std::string> SplitWords(const std::string& value) {
  std::vector<std::string> words;
  std::istringstream in(value);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

bool UnitBoolean(const std::string& value) {
  return value == "yes" || value == "true" || value == "on" || value == "1";
}

}  // namespace

bool ReadUnitFile(const std::string& serviceName, TUnitFile& unit) {
  std::ifstream in;
  std::string path;
  for (const auto& dir : UnitSearchPath()) {
    path = dir + "/" + serviceName + ".service";
    in.open(path);
    if (in) break;
    in.clear();
  }
  if (!in.is_open()) return false;
  unit = TUnitFile{};
  unit.Path = path;
  std::string line, section;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      section = line;
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (section == "[Unit]" && key == "Description") {
      unit.Description = value;
      continue;
    }
    if (section != "[Service]") continue;
    if (key == "ExecStart") {
      // Leading prefix characters (-, @, :, +, !) change how systemd runs
      // the program; here they are only skipped.
      std::size_t start = value.find_first_not_of("-@:+!");
      unit.ExecStart = SplitUnitValue(start == std::string::npos ? "" : value.substr(start), true);
    } else if (key == "Environment") {
      for (const auto& assignment : SplitUnitValue(value, false)) {
        std::size_t e = assignment.find('=');
        if (e != std::string::npos && e > 0)
          unit.Environment[assignment.substr(0, e)] = assignment.substr(e + 1);
      }
    } else if (key == "User") {
      unit.User = value;
    } else if (key == "Group") {
      unit.Group = value;
    } else if (key == "AmbientCapabilities") {
      // As in systemd, the lines add up and an empty one starts again.
      if (value.empty()) unit.AmbientCapabilities.clear();
      for (const auto& name : SplitWords(value)) unit.AmbientCapabilities.push_back(name);
    } else if (key == "CapabilityBoundingSet") {
      if (value.empty()) unit.CapabilityBoundingSet.clear();
      unit.HasCapabilityBoundingSet = true;
      for (const auto& name : SplitWords(value)) unit.CapabilityBoundingSet.push_back(name);
    } else if (key == "NoNewPrivileges") {
      unit.NoNewPrivileges = UnitBoolean(value);
    } else if (key == "LimitNOFILE") {
      unit.LimitNOFILE = value;
    }
  }
  return !unit.ExecStart.empty();
}

std::string ServiceUnitText(const TUnitSettings& settings) {
  std::string unit = "# Written by tovksrv /I; the Debian package installs the same text.\n";
  unit += "[Unit]\nDescription=" + settings.Description + "\nAfter=network.target\n\n";
  unit += "[Service]\nType=notify\n";
  unit += "ExecStart=" + QuoteUnitValue(settings.Program, true) + "\n";
  // A hangup is the server's restart: the configuration is read again.
  unit += "ExecReload=/bin/kill -HUP $MAINPID\n";
  unit += "Restart=on-failure\n";
  unit += "LimitNOFILE=" + std::to_string(kServiceFileLimit) + "\n";
  if (!settings.User.empty()) {
    unit += "User=" + settings.User + "\n";
    unit += "AmbientCapabilities=CAP_NET_BIND_SERVICE\n";
    unit += "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n";
    unit += "NoNewPrivileges=yes\n";
    unit += "ProtectSystem=full\n";
    unit += "PrivateTmp=yes\n";
  }
  for (const auto& assignment : settings.Environment)
    unit += "Environment=" + QuoteUnitValue(assignment, false) + "\n";
  unit += "\n[Install]\nWantedBy=multi-user.target\n";
  return unit;
}

std::string ServiceAccount() {
  const char* chosen = std::getenv("TOVK_SERVICE_USER");
  const char* registry = std::getenv("TOVK_REGISTRY");
  bool systemRegistry = !registry || !*registry;
  std::string name = chosen ? chosen : systemRegistry ? "tovk" : "";
  if (name.empty() || !getpwnam(name.c_str())) return {};
  return name;
}

bool WriteSupervisorPid(const std::string& serviceName) {
  int pid = getpid();
  return WriteFileAtomically(PidFilePath(serviceName),
                             std::to_string(pid) + " " + ProcessStartTime(pid) + "\n");
}

void RemoveSupervisorPid(const std::string& serviceName) {
  ::unlink(PidFilePath(serviceName).c_str());
}

int LiveSupervisorPid(const std::string& serviceName) {
  std::ifstream in(PidFilePath(serviceName));
  int pid = 0;
  std::string startTime;
  if (!(in >> pid >> startTime) || pid <= 0) return 0;
  if (::kill(pid, 0) != 0 && errno != EPERM) return 0;
  // A pid of a supervisor that died may belong to another process by now.
  if (ProcessStartTime(pid) != startTime) return 0;
  return pid;
}

const char* ServiceStateName(uint32_t state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
  }
  return "UNKNOWN";
}

uint32_t ServiceStateFromName(const std::string& name) {
  for (uint32_t s : {SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_STOP_PENDING, SERVICE_RUNNING})
    if (name == ServiceStateName(s)) return s;
  return 0;
}

bool WriteSupervisedState(const std::string& serviceName, const TSupervisedState& state) {
  std::string text = std::string("STATE=") + ServiceStateName(state.State) + "\n" +
                     "MAINPID=" + std::to_string(state.MainPid) + "\n" +
                     "EXIT=" + std::to_string(state.ExitCode) + "\n";
  std::string status = state.StatusText;
  for (char& c : status)
    if (c == '\n' || c == '\r') c = ' ';
  text += "STATUS=" + status + "\n";
  return WriteFileAtomically(StatusFilePath(serviceName), text);
}

bool ReadSupervisedState(const std::string& serviceName, TSupervisedState& state) {
  std::ifstream in(StatusFilePath(serviceName));
  if (!in) return false;
  state = TSupervisedState{};
  std::string line;
  while (std::getline(in, line)) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "STATE") state.State = ServiceStateFromName(value);
    else if (key == "MAINPID") state.MainPid = std::atoi(value.c_str());
    else if (key == "EXIT") state.ExitCode = std::atoi(value.c_str());
    else if (key == "STATUS") state.StatusText = value;
  }
  return state.State != 0;
}

// --- the manager side ------------------------------------------------------

SC_HANDLE OpenSCManager(const char* machine, const char* /*database*/, uint32_t /*access*/) {
  if (machine && *machine) {
    errno = EINVAL;  // no remote managers
    return nullptr;
  }
  std::string dir = UnitDirectory();
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return nullptr;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return nullptr;
  }
  if (::access(dir.c_str(), W_OK) != 0) return nullptr;
  return new TServiceHandle{true, "", ""};
}

SC_HANDLE CreateService(SC_HANDLE manager, const std::string& serviceName,
                        const std::string& displayName, uint32_t /*access*/,
                        uint32_t /*serviceType*/, uint32_t /*startType*/,
                        uint32_t /*errorControl*/, const std::string& binaryPathName) {
  if (!manager || !manager->IsManager || serviceName.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  std::string path = UnitPath(serviceName);
  TUnitSettings settings;
  settings.Description = displayName;
  settings.Program = ToLinuxPath(binaryPathName);
  settings.User = ServiceAccount();
  // The service must find the same registry and drives as the installer.
  for (char** e = environ; *e; ++e) {
    std::string assignment = *e;
    std::string name = assignment.substr(0, assignment.find('='));
    if (name == "TOVK_REGISTRY") {
      std::string value = assignment.substr(name.size() + 1);
      if (value.empty()) continue;  // empty is unset: the system registry
      std::error_code ignored;
      std::string absolute = std::filesystem::absolute(value, ignored).string();
      assignment = name + "=" + (absolute.empty() ? value : absolute);
    } else if (name.rfind("TOVK_DRIVE_", 0) != 0) {
      continue;
    }
    settings.Environment.push_back(assignment);
  }
  std::string unit = ServiceUnitText(settings);

  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  bool ok = WriteAllFd(fd, unit);
  int saved = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    errno = saved;
    return nullptr;
  }
  SystemdReload();
  return new TServiceHandle{false, serviceName, path};
}

SC_HANDLE OpenService(SC_HANDLE manager, const std::string& serviceName, uint32_t /*access*/) {
  if (!manager || !manager->IsManager) {
    errno = EINVAL;
    return nullptr;
  }
  std::string path = UnitPath(serviceName);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return nullptr;
  return new TServiceHandle{false, serviceName, path};
}

bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  if (!service || service->IsManager || !status) {
    errno = EINVAL;
    return false;
  }
  *status = SERVICE_STATUS{};
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status->dwCurrentState = SERVICE_STOPPED;
  if (LiveSupervisorPid(service->Name) > 0) {
    TSupervisedState state;
    status->dwCurrentState =
        ReadSupervisedState(service->Name, state) ? state.State : SERVICE_START_PENDING;
  } else if (SystemdRuns()) {
    std::string out;
    RunProgram({"systemctl", "show", "-p", "ActiveState", "--value", service->Name + ".service"},
               &out);
    out = Trim(out.substr(0, out.find('\n')));
    if (out == "active" || out == "reloading") status->dwCurrentState = SERVICE_RUNNING;
    else if (out == "activating") status->dwCurrentState = SERVICE_START_PENDING;
    else if (out == "deactivating") status->dwCurrentState = SERVICE_STOP_PENDING;
  }
  if (status->dwCurrentState != SERVICE_START_PENDING &&
      status->dwCurrentState != SERVICE_STOPPED)
    status->dwControlsAccepted = SERVICE_ACCEPT_STOP;
  return true;
}

bool ControlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status) {
  if (!service || service->IsManager) {
    errno = EINVAL;
    return false;
  }
  SERVICE_STATUS ignored;
  if (!status) status = &ignored;
  if (control == SERVICE_CONTROL_INTERROGATE) return QueryServiceStatus(service, status);
  if (control != SERVICE_CONTROL_STOP) {
    errno = EINVAL;
    return false;
  }
  bool sent = false;
  if (int supervisor = LiveSupervisorPid(service->Name); supervisor > 0) {
    // The supervisor forwards the stop and kills a service that hangs.
    sent = ::kill(supervisor, SIGTERM) == 0;
  } else if (SystemdRuns() &&
             RunProgram({"systemctl", "is-active", "--quiet", service->Name + ".service"},
                        nullptr) == 0) {
    sent = RunProgram({"systemctl", "stop", "--no-block", service->Name + ".service"},
                      nullptr) == 0;
  }
  if (!sent) {
    errno = ESRCH;  // the service is not running
    return false;
  }
  QueryServiceStatus(service, status);
  return true;
}

bool DeleteService(SC_HANDLE service) {
  if (!service || service->IsManager) {
    errno = EINVAL;
    return false;
  }
  if (::unlink(service->UnitPath.c_str()) != 0) return false;
  if (LiveSupervisorPid(service->Name) == 0) ::unlink(StatusFilePath(service->Name).c_str());
  SystemdReload();
  return true;
}

bool CloseServiceHandle(SC_HANDLE handle) {
  if (!handle) {
    errno = EINVAL;
    return false;
  }
  delete handle;
  return true;
}

// --- the service side ------------------------------------------------------

bool StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table) {
  if (!table || !table->lpServiceName || !table->lpServiceProc) {
    errno = EINVAL;
    return false;
  }
  const char* socketPath = std::getenv("NOTIFY_SOCKET");
  if (!socketPath || !*socketPath) {
    errno = ENOTCONN;
    return false;
  }
  TDispatcher& d = Dispatcher();
  std::string path = socketPath;
  if (path.size() >= sizeof d.NotifyAddress.sun_path || (path[0] != '/' && path[0] != '@')) {
    errno = EINVAL;
    return false;
  }
  d.NotifyAddress.sun_family = AF_UNIX;
  std::memcpy(d.NotifyAddress.sun_path, path.data(), path.size());
  if (path[0] == '@') d.NotifyAddress.sun_path[0] = '\0';  // abstract namespace
  d.NotifyAddressLength =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (path[0] == '/'));
  d.NotifyFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (d.NotifyFd < 0) return false;
  // Programs the service starts (CGI) must not speak to its manager.
  unsetenv("NOTIFY_SOCKET");
  d.ServiceName = table->lpServiceName;

  sigset_t controls, all;
  sigemptyset(&controls);
  sigaddset(&controls, SIGTERM);
  sigaddset(&controls, SIGINT);
  all = controls;
  for (TMenuCommand command :
       {TMenuCommand::Restart, TMenuCommand::SwitchOn, TMenuCommand::SwitchOff})
    sigaddset(&all, MenuCommandSignal(command));
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  signal(SIGPIPE, SIG_IGN);
  int signalFd = signalfd(-1, &controls, SFD_CLOEXEC | SFD_NONBLOCK);
  d.WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (signalFd < 0 || d.WakeFd < 0) return false;

  std::atomic<bool> serviceEnded{false};
  std::string name = d.ServiceName;
  std::thread service([&serviceEnded, table, name]() mutable {
    char* argv[] = {name.data(), nullptr};
    table->lpServiceProc(1, argv);
    serviceEnded = true;
    Wake(Dispatcher().WakeFd);
  });

  bool stopRequested = false, stopDelivered = false;
  while (!serviceEnded) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {d.WakeFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    signalfd_siginfo info;
    while (::read(signalFd, &info, sizeof info) == sizeof info) stopRequested = true;
    uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(d.WakeFd, &count, sizeof count);
    LPHANDLER_FUNCTION handler = nullptr;
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      // A stop that comes while the service does not accept one yet (it is
      // starting) waits until it does.
      if (stopRequested && !stopDelivered && (d.ControlsAccepted & SERVICE_ACCEPT_STOP))
        handler = d.Handler;
    }
    if (handler) {
      stopDelivered = true;
      handler(SERVICE_CONTROL_STOP);
    }
  }
  service.join();
  ::close(signalFd);
  return true;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const std::string& serviceName,
                                                 LPHANDLER_FUNCTION handler) {
  TDispatcher& d = Dispatcher();
  if (d.NotifyFd < 0 || serviceName != d.ServiceName || !handler) {
    errno = EINVAL;
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(d.Lock);
  d.Handler = handler;
  d.StatusHandle.Name = serviceName;
  return &d.StatusHandle;
}

bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
  TDispatcher& d = Dispatcher();
  if (!handle || handle != &d.StatusHandle || !status) {
    errno = EINVAL;
    return false;
  }
  std::string message;
  switch (status->dwCurrentState) {
    case SERVICE_RUNNING: message += "READY=1\n"; break;
    case SERVICE_STOP_PENDING: message += "STOPPING=1\n"; break;
    case SERVICE_STOPPED:
      if (status->dwWin32ExitCode) message += "ERRNO=" + std::to_string(status->dwWin32ExitCode) + "\n";
      break;
  }
  bool pending = status->dwCurrentState == SERVICE_START_PENDING ||
                 status->dwCurrentState == SERVICE_STOP_PENDING;
  if (pending && status->dwWaitHint)
    message += "EXTEND_TIMEOUT_USEC=" + std::to_string(uint64_t{status->dwWaitHint} * 1000) + "\n";
  message += std::string("X_SERVICE_STATE=") + ServiceStateName(status->dwCurrentState) + "\n";
  message += "X_CHECKPOINT=" + std::to_string(status->dwCheckPoint);
  bool sent = SendNotify(message);
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.ControlsAccepted = status->dwControlsAccepted;
  }
  Wake(d.WakeFd);
  return sent;
}

bool SetServiceStatusText(const std::string& text) {
  std::string oneLine = text;
  for (char& c : oneLine)
    if (c == '\n' || c == '\r') c = ' ';
  return SendNotify("STATUS=" + Cp1250ToUtf8(oneLine));
}

int ServiceLastError() { return errno; }

int MenuCommandSignal(TMenuCommand command) {
  switch (command) {
    case TMenuCommand::Restart:
      return SIGHUP;
    case TMenuCommand::SwitchOn:
      return SIGUSR1;
    case TMenuCommand::SwitchOff:
      return SIGUSR2;
  }
  return SIGHUP;  // not reached: every command is listed above
}

std::string SystemErrorMessage(int code, std::size_t bufferSize) {
  char buffer[512];
  std::string text = strerror_r(code, buffer, sizeof buffer);  // the GNU form returns the text
  if (bufferSize > 0 && text.size() > bufferSize - 1) text.resize(bufferSize - 1);
  return text;
}
