// tovksc with the real tovksrv: run in the foreground, start, query, stop,
// and the removal of a running service.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include "tests/support/ServerProcess.h"

namespace {

using namespace std::chrono_literals;
using tovktest::ReadFile;
using tovktest::RunResult;
using tovktest::ServerProcess;

class Tovksc : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Config.ImportReg(Config.BaseConfig())) << Config.LastToolOutput;
    RunResult install = Srv({"/I"});
    ASSERT_EQ("Install Ok.\n", install.Out) << install.Err;
  }
  void TearDown() override {
    Tool({"stop", "tovk"});
    if (Foreground > 0) {
      ::kill(Foreground, SIGKILL);
      waitpid(Foreground, nullptr, 0);
    }
  }
  std::map<std::string, std::string> Env() {
    return {{"TOVK_UNIT_DIR", Config.Dir() / "units"},
            {"TOVK_RUN_DIR", Config.Dir() / "run"},
            {"TOVK_REGISTRY", Config.RegistryPath()},
            {"NOTIFY_SOCKET", ""}};
  }
  RunResult Srv(const std::vector<std::string>& args) {
    tovktest::MakeDirs(Config.Dir() / "units");
    std::vector<std::string> argv{tovktest::BinDir() + "/tovksrv"};
    argv.insert(argv.end(), args.begin(), args.end());
    return tovktest::Run(argv, Env(), "", 60s);
  }
  RunResult Tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{tovktest::BinDir() + "/tovksc"};
    argv.insert(argv.end(), args.begin(), args.end());
    return tovktest::Run(argv, Env(), "", 120s);
  }
  // tovksc run in a child of ours, its output in a file.
  void RunInForeground() {
    std::string out = Config.Dir() / "foreground.out";
    std::string program = tovktest::BinDir() + "/tovksc";
    tovktest::ChildEnvironment environment(Env());
    char run[] = "run", name[] = "tovk";
    char* argv[] = {program.data(), run, name, nullptr};
    Foreground = fork();
    ASSERT_GE(Foreground, 0);
    if (Foreground == 0) {
      int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      execve(program.c_str(), argv, environment.Envp());
      _exit(127);
    }
  }
  int WaitForeground(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status;
      if (waitpid(Foreground, &status, WNOHANG) == Foreground) {
        Foreground = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }
  bool WaitForQuery(const std::string& text, std::chrono::milliseconds timeout = 20s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Tool({"query", "tovk"}).Out.find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  ServerProcess Config;  // directories and registry only
  pid_t Foreground = -1;
};

TEST_F(Tovksc, RunInTheForegroundStopsCleanlyOnTerm) {
  RunInForeground();
  ASSERT_TRUE(WaitForQuery("4  RUNNING")) << ReadFile(Config.Dir() / "foreground.out");
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port()));
  EXPECT_TRUE(WaitForQuery("STATUS             : Quillon Web Server - "));
  ::kill(Foreground, SIGTERM);
  EXPECT_EQ(0, WaitForeground(30s));
  std::string out = ReadFile(Config.Dir() / "foreground.out");
  EXPECT_NE(std::string::npos, out.find("tovk: STOP_PENDING")) << out;
  EXPECT_NE(std::string::npos, out.find("tovk: STOPPED, exit status 0")) << out;
  RunResult query = Tool({"query", "tovk"});
  EXPECT_NE(std::string::npos, query.Out.find("1  STOPPED")) << query.Out;
  EXPECT_NE(std::string::npos, query.Out.find("EXIT_CODE          : 0")) << query.Out;
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port(), false));
}

TEST_F(Tovksc, CtrlCAtTheTerminalStopsTheServiceToo) {
  RunInForeground();
  ASSERT_TRUE(WaitForQuery("4  RUNNING"));
  ::kill(Foreground, SIGINT);
  EXPECT_EQ(0, WaitForeground(30s));
}

TEST_F(Tovksc, StartReturnsOnceRunningAndStopWaitsForTheEnd) {
  RunResult start = Tool({"start", "tovk"});
  ASSERT_EQ(0, start.ExitCode) << start.Out << start.Err;
  EXPECT_NE(std::string::npos, start.Out.find("4  RUNNING")) << start.Out;
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port()));
  RunResult twice = Tool({"start", "tovk"});
  EXPECT_NE(0, twice.ExitCode);
  RunResult stop = Tool({"stop", "tovk"});
  EXPECT_EQ(0, stop.ExitCode) << stop.Err;
  EXPECT_NE(std::string::npos, stop.Out.find("1  STOPPED")) << stop.Out;
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port(), false, 2s));
  EXPECT_NE(0, Tool({"stop", "tovk"}).ExitCode) << "a stopped service cannot be stopped";
}

TEST_F(Tovksc, RemovingARunningServiceStopsItFirst) {
  ASSERT_EQ(0, Tool({"start", "tovk"}).ExitCode);
  RunResult remove = Srv({"/R"});
  EXPECT_EQ(0, remove.ExitCode);
  EXPECT_EQ(0u, remove.Out.find("Stopping Service ")) << remove.Out;
  EXPECT_NE(std::string::npos, remove.Out.find("\nService Stop Now\nService Uninstall Ok.\n"))
      << remove.Out;
  EXPECT_FALSE(tovktest::PathExists(Config.Dir() / "units/tovk.service"));
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port(), false, 2s));
  EXPECT_NE(0, Tool({"query", "tovk"}).ExitCode) << "no longer installed";
}

TEST_F(Tovksc, AServiceThatDoesNotStopStaysInstalled) {
  // A stand-in service that answers a stop by reporting that it runs on.
  std::string script = Config.Dir() / "stubborn.py";
  tovktest::WriteFile(script,
                      "import os, signal, socket, time\n"
                      "addr = os.environ['NOTIFY_SOCKET']\n"
                      "addr = '\\0' + addr[1:] if addr.startswith('@') else addr\n"
                      "s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)\n"
                      "def send(m): s.sendto(m.encode(), addr)\n"
                      "signal.signal(signal.SIGTERM, lambda *a: send('READY=1'))\n"
                      "send('READY=1')\n"
                      "for _ in range(600): time.sleep(0.1)\n");
  tovktest::WriteFile(Config.Dir() / "units/tovk.service",
                      "[Unit]\nDescription=stubborn\n[Service]\nType=notify\n"
                      "ExecStart=/usr/bin/python3 \"" + script + "\"\n");
  ASSERT_EQ(0, Tool({"start", "tovk"}).ExitCode);
  RunResult remove = Srv({"/R"});
  EXPECT_NE(0, remove.ExitCode);
  EXPECT_EQ("Stopping Service \nService Stop Fail\n", remove.Out);
  EXPECT_TRUE(tovktest::PathExists(Config.Dir() / "units/tovk.service"));
  // Clean up without waiting for the supervisor's stop timeout.
  std::string status = ReadFile(Config.Dir() / "run/tovk.status");
  std::size_t at = status.find("MAINPID=");
  ASSERT_NE(std::string::npos, at) << status;
  ::kill(std::atoi(status.c_str() + at + 8), SIGKILL);
  EXPECT_TRUE(WaitForQuery("1  STOPPED"));
}

// Lines of the service's output (tovksc start keeps it in the run directory).
bool WaitForText(const std::string& path, const std::string& text) {
  for (int tries = 0; tries < 200; ++tries) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

TEST_F(Tovksc, TheServiceGetsTheUnitsAccountCapabilitiesLimitsAndReload) {
  if (geteuid() != 0) GTEST_SKIP() << "switching the account needs root";
  passwd* daemon = getpwnam("daemon");
  group* nogroup = getgrnam("nogroup");
  ASSERT_TRUE(daemon && nogroup);
  uid_t uid = daemon->pw_uid;
  gid_t gid = nogroup->gr_gid;
  // A stand-in service that tells what it was given, and answers a hangup.
  std::string script = Config.Dir() / "tell.py";
  tovktest::WriteFile(script,
                      "import os, resource, signal, socket, sys, time\n"
                      "def say(t): print(t, flush=True)\n"
                      "signal.signal(signal.SIGHUP, lambda *a: say('hangup'))\n"
                      "signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))\n"
                      "st = dict(l.split(':', 1) for l in open('/proc/self/status') if ':' in l)\n"
                      "say('ids %d %d' % (os.getuid(), os.getgid()))\n"
                      "say('caps ' + ' '.join(st[k].strip() for k in "
                      "('CapAmb', 'CapEff', 'CapBnd', 'NoNewPrivs')))\n"
                      "say('files %d %d' % resource.getrlimit(resource.RLIMIT_NOFILE))\n"
                      "say('env %s|%s' % (os.environ.get('TOVK_TEST'), os.environ.get('USER')))\n"
                      "addr = os.environ['NOTIFY_SOCKET']\n"
                      "addr = '\\0' + addr[1:] if addr.startswith('@') else addr\n"
                      "socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).sendto(b'READY=1', addr)\n"
                      "for _ in range(600): time.sleep(0.1)\n");
  ASSERT_EQ(0, chmod(Config.Dir().Path().c_str(), 0755));  // the account must reach the script
  std::string unit = "[Unit]\nDescription=tell\n[Service]\nType=notify\n"
                     "ExecStart=/usr/bin/python3 \"" + script + "\"\n"
                     "User=daemon\nGroup=nogroup\n"
                     "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
                     "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\nNoNewPrivileges=yes\n"
                     "LimitNOFILE=4096:8192\nEnvironment=\"TOVK_TEST=a b\"\n";
  tovktest::WriteFile(Config.Dir() / "units/tovk.service", unit);
  RunResult start = Tool({"start", "tovk"});
  ASSERT_EQ(0, start.ExitCode) << start.Out << start.Err;
  std::string log = Config.Dir() / "run/tovk.log";
  std::string told = ReadFile(log);
  EXPECT_NE(std::string::npos,
            told.find("ids " + std::to_string(uid) + " " + std::to_string(gid) + "\n"))
      << told;
  // Bit 10 is CAP_NET_BIND_SERVICE: kept across the switch, and alone.
  EXPECT_NE(std::string::npos,
            told.find("caps 0000000000000400 0000000000000400 0000000000000400 1\n"))
      << told;
  EXPECT_NE(std::string::npos, told.find("files 4096 8192\n")) << told;
  EXPECT_NE(std::string::npos, told.find("env a b|daemon\n")) << told;
  RunResult reload = Tool({"reload", "tovk"});
  EXPECT_EQ(0, reload.ExitCode) << reload.Err;
  EXPECT_TRUE(WaitForText(log, "hangup\n")) << ReadFile(log);
  EXPECT_EQ(0, Tool({"stop", "tovk"}).ExitCode);
  EXPECT_NE(0, Tool({"reload", "tovk"}).ExitCode) << "a stopped service cannot be reloaded";

  // What cannot be carried out is refused before anything runs.
  for (std::string bad : {"User=tovk-no-such-user", "AmbientCapabilities=CAP_NO_SUCH",
                          "LimitNOFILE=9:8"}) {
    tovktest::WriteFile(Config.Dir() / "units/tovk.service", unit + bad + "\n");
    RunResult refused = Tool({"start", "tovk"});
    EXPECT_NE(0, refused.ExitCode) << bad;
    EXPECT_NE(std::string::npos, refused.Err.find(bad.substr(bad.find('=') + 1)))
        << bad << ": " << refused.Err;
  }
}

TEST_F(Tovksc, UnknownServicesAndCommandsAreRefused) {
  EXPECT_NE(0, Tool({"query", "nosuch"}).ExitCode);
  EXPECT_NE(0, Tool({"run", "nosuch"}).ExitCode);
  EXPECT_NE(0, Tool({"restart", "tovk"}).ExitCode);
  RunResult query = Tool({"query", "tovk"});
  EXPECT_EQ(0, query.ExitCode);
  EXPECT_NE(std::string::npos, query.Out.find("1  STOPPED")) << query.Out;
}

}  // namespace
