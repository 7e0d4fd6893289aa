// tovksc: the service manager where systemd does not run. It starts the
// program of an installed unit with the unit's environment and a
// NOTIFY_SOCKET of its own, follows the sd_notify reports, and records the
// state in the run directory so that query and stop work from any process.
// The account, capabilities and limits the unit names are set up as systemd
// would (ServiceProcess.h).
//
//   tovksc start NAME   run in the background; returns once it runs
//   tovksc stop NAME    stop the service and wait until it has ended
//   tovksc query NAME   state, pid and the last STATUS= text
//   tovksc reload NAME  SIGHUP to the service (its ExecReload=)
//   tovksc run NAME     run in the foreground; Ctrl-C or SIGTERM stops it

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "platform/ServiceManager.h"
#include "platform/tovksc/ServiceProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

// systemd's own defaults for a start and a stop to complete.
constexpr auto kStartTimeout = std::chrono::seconds(90);
constexpr auto kStopTimeout = std::chrono::seconds(90);
// How long start and stop wait for the supervisor beyond those timeouts.
constexpr auto kCommandSlack = std::chrono::seconds(10);
constexpr auto kPollStep = std::chrono::milliseconds(50);
// The exit status of a service process that could not be set up as its unit
// asks (account, capabilities, limits): it never ran its program.
constexpr int kSetupFailedStatus = 126;
// What `reload` sends the supervisor, which passes it on as the service's
// SIGHUP; the supervisor's own SIGHUP is the hangup of a terminal.
constexpr int kReloadSignal = SIGUSR1;

void Usage() {
  std::cerr << "usage: tovksc start|stop|query|reload|run NAME\n"
               "  the unit NAME.service is read from $TOVK_UNIT_DIR (else /etc/systemd/system,\n"
               "  then /lib/systemd/system);\n"
               "  state is kept in $TOVK_RUN_DIR (else /run/tovk)\n";
}

void PrintState(const std::string& name, const TSupervisedState& state) {
  std::cout << "SERVICE_NAME: " << name << "\n"
            << "        STATE              : " << state.State << "  "
            << ServiceStateName(state.State) << "\n"
            << "        PID                : " << state.MainPid << "\n"
            << "        EXIT_CODE          : " << state.ExitCode << "\n"
            << "        STATUS             : " << state.StatusText << "\n";
}

TSupervisedState CurrentState(const std::string& name) {
  TSupervisedState state;
  bool known = ReadSupervisedState(name, state);
  if (LiveSupervisorPid(name) == 0) {
    state.State = SERVICE_STOPPED;
    state.MainPid = 0;
  } else if (!known) {
    state.State = SERVICE_START_PENDING;
  }
  return state;
}

class TSupervisor {
 public:
  TSupervisor(std::string name, TUnitFile unit, TServiceProcess process, bool foreground)
      : Name(std::move(name)), Unit(std::move(unit)), Process(std::move(process)),
        Foreground(foreground) {}
  int Run();  // the service's exit status (128 + signal when killed)

 private:
  bool OpenNotifySocket();
  bool StartChild();
  void ReadNotifications();
  void Apply(const std::string& message);
  void RequestStop(bool force);
  void Save();
  void Say(const std::string& text);

  std::string Name;
  TUnitFile Unit;
  TServiceProcess Process;
  bool Foreground;
  std::string NotifyAddress;
  int NotifyFd = -1;
  pid_t Child = -1;
  TSupervisedState State;
  bool StopSent = false;
  std::optional<Clock::time_point> Deadline;
};

bool TSupervisor::OpenNotifySocket() {
  NotifyFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (NotifyFd < 0) return false;
  // An abstract address: nothing to clean up, and no path-length limit from
  // a deep run directory.
  NotifyAddress = "@tovksc/" + std::to_string(getpid()) + "/" + Name;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::size_t length = std::min(NotifyAddress.size(), sizeof addr.sun_path - 1);
  std::memcpy(addr.sun_path, NotifyAddress.data(), length);
  addr.sun_path[0] = '\0';
  if (bind(NotifyFd, reinterpret_cast<sockaddr*>(&addr),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length)) != 0)
    return false;
  int on = 1;
  setsockopt(NotifyFd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  return true;
}

bool TSupervisor::StartChild() {
  Child = fork();
  if (Child < 0) return false;
  if (Child > 0) return true;
  // The service gets its own process group: Ctrl-C at the terminal reaches
  // only the supervisor, which stops the service the way a manager does.
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (const auto& [name, value] : Process.AccountEnvironment())
    setenv(name.c_str(), value.c_str(), 1);
  for (const auto& [name, value] : Unit.Environment) setenv(name.c_str(), value.c_str(), 1);
  // An abstract address: the service reaches it whatever account it runs as.
  setenv("NOTIFY_SOCKET", NotifyAddress.c_str(), 1);
  if (const char* step = nullptr; !Process.Apply(step)) {
    std::fprintf(stderr, "tovksc: %s: cannot %s: %s\n", Name.c_str(), step, std::strerror(errno));
    _exit(kSetupFailedStatus);
  }
  std::vector<char*> args;
  for (auto& a : Unit.ExecStart) args.push_back(a.data());
  args.push_back(nullptr);
  execv(args[0], args.data());
  std::fprintf(stderr, "tovksc: cannot run %s: %s\n", args[0], std::strerror(errno));
  _exit(127);
}

void TSupervisor::Say(const std::string& text) {
  if (Foreground) std::cout << "tovksc: " << Name << ": " << text << std::endl;
}

void TSupervisor::Save() { WriteSupervisedState(Name, State); }

void TSupervisor::Apply(const std::string& message) {
  uint32_t before = State.State;
  std::string statusBefore = State.StatusText;
  bool reported = false;  // the message reports a state, changed or not
  std::size_t start = 0;
  while (start <= message.size()) {
    std::size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    std::string line = message.substr(start, end - start);
    start = end + 1;
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "READY" && value == "1") {
      State.State = SERVICE_RUNNING;
      reported = true;
    } else if (key == "STOPPING" && value == "1") {
      State.State = SERVICE_STOP_PENDING;
      reported = true;
    } else if (key == "X_SERVICE_STATE") {
      if (uint32_t s = ServiceStateFromName(value)) State.State = s;
      reported = true;
    } else if (key == "STATUS") {
      State.StatusText = value;
    } else if (key == "EXTEND_TIMEOUT_USEC" && Deadline) {
      auto extended = Clock::now() + std::chrono::microseconds(std::strtoull(value.c_str(), nullptr, 10));
      if (extended > *Deadline) Deadline = extended;
    }
  }
  if (State.State != before) {
    if (State.State == SERVICE_RUNNING && !StopSent) Deadline.reset();
    if (State.State == SERVICE_STOP_PENDING && !StopSent) {
      // The service stops on its own: the stop timeout runs from now.
      StopSent = true;
      Deadline = Clock::now() + kStopTimeout;
    }
  }
  if (reported) Say(ServiceStateName(State.State));
  if (State.StatusText != statusBefore) Say(State.StatusText);
  Save();
}

void TSupervisor::ReadNotifications() {
  for (;;) {
    char buffer[4096];
    iovec iov{buffer, sizeof buffer};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(NotifyFd, &msg, MSG_DONTWAIT);
    if (n < 0) return;
    // Only the service's main process may report (systemd's NotifyAccess=main).
    bool fromChild = true;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
        ucred cred;
        std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
        fromChild = cred.pid == Child;
      }
    }
    if (fromChild) Apply(std::string(buffer, static_cast<std::size_t>(n)));
  }
}

void TSupervisor::RequestStop(bool force) {
  if (force) {
    Say("killing");
    ::kill(Child, SIGKILL);
    return;
  }
  if (StopSent) return;
  StopSent = true;
  Say("stopping (SIGTERM)");
  ::kill(Child, SIGTERM);
  Deadline = Clock::now() + kStopTimeout;
  if (State.State != SERVICE_STOPPED) {
    State.State = SERVICE_STOP_PENDING;
    Save();
  }
}

int TSupervisor::Run() {
  sigset_t mask;
  sigemptyset(&mask);
  for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, kReloadSignal}) sigaddset(&mask, s);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  int signalFd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signalFd < 0 || !OpenNotifySocket()) {
    std::cerr << "tovksc: cannot set up the notify socket: " << std::strerror(errno) << "\n";
    return 1;
  }
  WriteSupervisorPid(Name);
  State = TSupervisedState{};
  State.State = SERVICE_START_PENDING;
  Save();
  if (!StartChild()) {
    std::cerr << "tovksc: cannot start " << Name << ": " << std::strerror(errno) << "\n";
    State.State = SERVICE_STOPPED;
    Save();
    RemoveSupervisorPid(Name);
    return 1;
  }
  State.MainPid = Child;
  Save();
  Say(ServiceStateName(State.State));
  Deadline = Clock::now() + kStartTimeout;

  int exitStatus = 1;
  bool ended = false;
  while (!ended) {
    int timeout = -1;
    if (Deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*Deadline - Clock::now());
      timeout = static_cast<int>(std::max<long long>(0, left.count()));
    }
    pollfd fds[2] = {{NotifyFd, POLLIN, 0}, {signalFd, POLLIN, 0}};
    if (poll(fds, 2, timeout) < 0 && errno != EINTR) break;
    ReadNotifications();
    signalfd_siginfo info;
    while (::read(signalFd, &info, sizeof info) == sizeof info) {
      int sig = static_cast<int>(info.ssi_signo);
      if (sig == SIGCHLD) {
        int status = 0;
        if (waitpid(Child, &status, WNOHANG) == Child) {
          ReadNotifications();  // what it said just before it ended
          exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
          ended = true;
        }
      } else if (sig == kReloadSignal || (sig == SIGHUP && !Foreground)) {
        Say("reloading (SIGHUP)");
        ::kill(Child, SIGHUP);  // a reload is the service's own business
      } else {
        // SIGTERM, SIGINT, or the hangup of the terminal `run` was started from.
        // A second Ctrl-C at the terminal does not wait for the stop timeout.
        RequestStop(StopSent && sig == SIGINT && Foreground);
      }
    }
    if (!ended && Deadline && Clock::now() >= *Deadline) {
      if (StopSent) {
        RequestStop(true);
        Deadline.reset();
      } else {
        Say("did not start in time");
        RequestStop(false);
      }
    }
  }
  State.State = SERVICE_STOPPED;
  State.MainPid = 0;
  State.ExitCode = exitStatus;
  Save();
  Say(std::string("STOPPED, exit status ") + std::to_string(exitStatus));
  RemoveSupervisorPid(Name);
  ::close(signalFd);
  return exitStatus;
}

bool ReadUnitOrSay(const std::string& name, TUnitFile& unit) {
  if (ReadUnitFile(name, unit)) return true;
  std::cerr << "tovksc: " << name << " is not installed (no " << name
            << ".service with an ExecStart= in";
  for (const auto& dir : UnitSearchPath()) std::cerr << " " << dir;
  std::cerr << ")\n";
  return false;
}

bool PrepareProcessOrSay(const std::string& name, const TUnitFile& unit,
                         TServiceProcess& process) {
  std::string error;
  if (process.Prepare(unit, error)) return true;
  std::cerr << "tovksc: " << name << ": " << unit.Path << ": " << error << "\n";
  return false;
}

bool PrepareRunDirectory() {
  std::error_code error;
  std::filesystem::create_directories(RunDirectory(), error);
  if (error) {
    std::cerr << "tovksc: cannot create " << RunDirectory() << ": " << error.message() << "\n";
    return false;
  }
  return true;
}

int CommandRun(const std::string& name) {
  TUnitFile unit;
  TServiceProcess process;
  if (!ReadUnitOrSay(name, unit) || !PrepareProcessOrSay(name, unit, process) ||
      !PrepareRunDirectory())
    return 1;
  if (LiveSupervisorPid(name)) {
    std::cerr << "tovksc: " << name << " is already running\n";
    return 1;
  }
  return TSupervisor(name, unit, process, true).Run();
}

int CommandStart(const std::string& name) {
  TUnitFile unit;
  TServiceProcess process;
  if (!ReadUnitOrSay(name, unit) || !PrepareProcessOrSay(name, unit, process) ||
      !PrepareRunDirectory())
    return 1;
  if (LiveSupervisorPid(name)) {
    std::cerr << "tovksc: " << name << " is already running\n";
    return 1;
  }
  std::filesystem::remove(RunDirectory() + "/" + name + ".status");
  std::cout.flush();
  pid_t supervisor = fork();
  if (supervisor < 0) {
    std::cerr << "tovksc: fork: " << std::strerror(errno) << "\n";
    return 1;
  }
  if (supervisor == 0) {
    setsid();
    int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::string logPath = RunDirectory() + "/" + name + ".log";
    int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (devNull >= 0) dup2(devNull, 0);
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    // Whatever the caller left open (a package manager's status pipe) must
    // not be held for as long as the service runs.
    close_range(3, ~0U, 0);
    _exit(TSupervisor(name, unit, process, false).Run());
  }
  auto deadline = Clock::now() + kStartTimeout + kCommandSlack;
  while (Clock::now() < deadline) {
    std::this_thread::sleep_for(kPollStep);
    int status;
    bool supervisorEnded = waitpid(supervisor, &status, WNOHANG) == supervisor;
    TSupervisedState state;
    bool known = ReadSupervisedState(name, state);
    if (known && state.State == SERVICE_RUNNING) {
      PrintState(name, state);
      return 0;
    }
    if (supervisorEnded || (known && state.State == SERVICE_STOPPED)) {
      PrintState(name, CurrentState(name));
      std::cerr << "tovksc: " << name << " did not start (see " << RunDirectory() << "/" << name
                << ".log)\n";
      return 1;
    }
  }
  std::cerr << "tovksc: " << name << " is still starting\n";
  return 1;
}

int CommandStop(const std::string& name) {
  int supervisor = LiveSupervisorPid(name);
  if (!supervisor) {
    std::cerr << "tovksc: " << name << " is not running\n";
    return 1;
  }
  ::kill(supervisor, SIGTERM);
  auto deadline = Clock::now() + kStopTimeout + kCommandSlack;
  while (LiveSupervisorPid(name) && Clock::now() < deadline) std::this_thread::sleep_for(kPollStep);
  TSupervisedState state = CurrentState(name);
  PrintState(name, state);
  if (state.State != SERVICE_STOPPED) {
    std::cerr << "tovksc: " << name << " did not stop\n";
    return 1;
  }
  return 0;
}

int CommandReload(const std::string& name) {
  int supervisor = LiveSupervisorPid(name);
  if (!supervisor || CurrentState(name).State != SERVICE_RUNNING) {
    std::cerr << "tovksc: " << name << " is not running\n";
    return 1;
  }
  if (::kill(supervisor, kReloadSignal) != 0) {
    std::cerr << "tovksc: " << name << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  return 0;
}

int CommandQuery(const std::string& name) {
  TUnitFile unit;
  if (!LiveSupervisorPid(name) && !ReadUnitOrSay(name, unit)) return 1;
  PrintState(name, CurrentState(name));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    Usage();
    return 2;
  }
  std::string command = argv[1], name = argv[2];
  if (command == "run") return CommandRun(name);
  if (command == "start") return CommandStart(name);
  if (command == "stop") return CommandStop(name);
  if (command == "query") return CommandQuery(name);
  if (command == "reload") return CommandReload(name);
  Usage();
  return 2;
}
