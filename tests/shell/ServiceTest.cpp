// tovksrv as a program: its console actions, and the service under a
// manager played by the test.

#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "server/net/Misc.h"
#include "server/shell/MsgCat.h"
#include "tests/support/ServerProcess.h"

namespace {

using namespace std::chrono_literals;
using tovktest::ReadFile;
using tovktest::RunResult;
using tovktest::ServerProcess;
using tovktest::TempDir;

std::string Program() { return tovktest::BinDir() + "/tovksrv"; }

// Without a manager: NOTIFY_SOCKET empty counts as unset.
RunResult RunSrv(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
  std::vector<std::string> argv{Program()};
  argv.insert(argv.end(), args.begin(), args.end());
  env.emplace("NOTIFY_SOCKET", "");
  return tovktest::Run(argv, env, "", 60s);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(TovksrvConsole, HelpPrintsTheTitleBetweenDashedLinesThenThreeLines) {
  RunResult r = RunSrv({"/?"});
  EXPECT_EQ(0, r.ExitCode);
  std::string dashes(40, '-');
  EXPECT_EQ((std::vector<std::string>{dashes, GetMsg(2), dashes, GetMsg(3), GetMsg(4), GetMsg(5)}),
            Lines(r.Out));
}

TEST(TovksrvConsole, UnknownOptionsAreNamedInMessageOne) {
  for (std::string option : {"/x", "/?x", "-i", "?"}) {
    RunResult r = RunSrv({option});
    EXPECT_NE(0, r.ExitCode) << option;
    EXPECT_EQ(SubstituteArgument(GetMsg(1), option) + "\n", r.Out) << option;
  }
}

TEST(TovksrvConsole, WithoutAManagerTheDispatcherFailsIntoTheEventLog) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"/?", "/I"}}) {
    RunResult r = RunSrv(args);
    EXPECT_NE(0, r.ExitCode);
    EXPECT_EQ("", r.Out) << "two parameters must not be examined";
    EXPECT_NE(std::string::npos, r.Err.find("tovk error: 0")) << r.Err;
    EXPECT_NE(std::string::npos, r.Err.find("StartServiceCtrlDispatcher Error!")) << r.Err;
  }
}

class TovksrvInstall : public ::testing::Test {
 protected:
  std::map<std::string, std::string> Env() {
    return {{"TOVK_UNIT_DIR", Units.Path()}, {"TOVK_RUN_DIR", Dir / "run"},
            {"TOVK_REGISTRY", Dir / "registry.db"}, {"TOVK_DRIVE_Q", Dir / "q"}};
  }
  std::string Unit() { return ReadFile(Units / "tovk.service"); }
  TempDir Dir, Units;
};

TEST_F(TovksrvInstall, InstallWritesTheUnitOnceInEitherCase) {
  auto env = Env();
  env["TOVK_DRIVE_N"] = "/srv\nUser=root";  // a value must not add a line
  RunResult first = RunSrv({"/i"}, env);
  EXPECT_EQ("Install Ok.\n", first.Out);
  EXPECT_EQ(0, first.ExitCode);
  std::string unit = Unit();
  EXPECT_NE(std::string::npos, unit.find("\nType=notify\n")) << unit;
  EXPECT_NE(std::string::npos, unit.find("\nDescription=Quillon Web Server\n")) << unit;
  EXPECT_NE(std::string::npos, unit.find("\nExecStart=\"" + Program() + "\"\n")) << unit;
  EXPECT_NE(std::string::npos, unit.find("Environment=\"TOVK_REGISTRY=" + Dir / "registry.db" + "\""))
      << unit;
  EXPECT_NE(std::string::npos, unit.find("Environment=\"TOVK_DRIVE_Q=" + Dir / "q" + "\"")) << unit;
  EXPECT_NE(std::string::npos, unit.find("Environment=\"TOVK_DRIVE_N=/srv\\nUser=root\"")) << unit;
  EXPECT_EQ(std::string::npos, unit.find("\nUser=")) << unit;

  RunResult second = RunSrv({"/INSTALL"}, Env());
  EXPECT_EQ("Unable to install tovk, CreateService Fail.\n", second.Out);
  EXPECT_NE(0, second.ExitCode);
  EXPECT_EQ(unit, Unit()) << "the existing unit must stay as it was";
}

bool Has(const std::string& unit, const std::string& line) {
  return unit.find("\n" + line + "\n") != std::string::npos;
}

TEST_F(TovksrvInstall, TheUnitRunsAsTheServiceAccountOnlyWhenThatUserExists) {
  // "daemon" exists on every Debian system and, unlike "nobody", draws no
  // warning from systemd.
  auto env = Env();
  env["TOVK_REGISTRY"] = "";  // empty is unset: a service of the system registry
  env.erase("TOVK_DRIVE_Q");
  env["TOVK_SERVICE_USER"] = "daemon";
  ASSERT_EQ("Install Ok.\n", RunSrv({"/I"}, env).Out);
  std::string unit = Unit();
  for (std::string line : {"User=daemon", "AmbientCapabilities=CAP_NET_BIND_SERVICE",
                           "CapabilityBoundingSet=CAP_NET_BIND_SERVICE", "NoNewPrivileges=yes",
                           "ProtectSystem=full", "PrivateTmp=yes", "LimitNOFILE=65536",
                           "ExecReload=/bin/kill -HUP $MAINPID", "Restart=on-failure"})
    EXPECT_TRUE(Has(unit, line)) << line << " missing from\n" << unit;
  EXPECT_EQ(std::string::npos, unit.find("Environment=")) << unit;
  // The package is built from tovkunit's text: it must be what /I writes.
  RunResult packaged = tovktest::Run({tovktest::BinDir() + "/tovkunit", Program(), "daemon"});
  EXPECT_EQ(unit, packaged.Out);
  if (tovktest::PathExists("/usr/bin/systemd-analyze")) {
    RunResult verify = tovktest::Run({"/usr/bin/systemd-analyze", "verify", Units / "tovk.service"});
    EXPECT_EQ(0, verify.ExitCode) << verify.Err;
    EXPECT_EQ("", verify.Out + verify.Err) << "systemd must take every line as it stands";
  }

  // A user that does not exist, or a service of a private registry (the
  // default account could not reach it), runs as whoever starts it.
  for (auto [user, registry] : {std::pair<const char*, bool>{"tovk-no-such-user", false},
                                {nullptr, true}}) {
    ASSERT_EQ(0, RunSrv({"/R"}, env).ExitCode);
    auto other = Env();
    if (user) other["TOVK_SERVICE_USER"] = user;
    if (!registry) other["TOVK_REGISTRY"] = "";
    ASSERT_EQ("Install Ok.\n", RunSrv({"/I"}, other).Out);
    unit = Unit();
    EXPECT_EQ(std::string::npos, unit.find("User=")) << unit;
    EXPECT_EQ(std::string::npos, unit.find("Capabilit")) << unit;
    EXPECT_TRUE(Has(unit, "LimitNOFILE=65536")) << unit;
    env = other;
  }
}

TEST_F(TovksrvInstall, InstallWithoutAUnitDirectoryFailsToOpenTheManager) {
  auto env = Env();
  env["TOVK_UNIT_DIR"] = Dir / "missing";
  RunResult r = RunSrv({"/I"}, env);
  EXPECT_EQ("Unable to install tovk, OpenSCManager Fail.\n", r.Out);
  EXPECT_NE(0, r.ExitCode);
}

TEST_F(TovksrvInstall, RemovingAStoppedServiceDeletesItWithoutStopping) {
  ASSERT_EQ(0, RunSrv({"/I"}, Env()).ExitCode);
  RunResult r = RunSrv({"/r"}, Env());
  EXPECT_EQ("Service Uninstall Ok.\n", r.Out);
  EXPECT_EQ(0, r.ExitCode);
  EXPECT_FALSE(tovktest::PathExists(Units / "tovk.service"));

  RunResult again = RunSrv({"/Rx"}, Env());
  EXPECT_EQ(0u, again.Out.find("OpenService fail (")) << again.Out;
  EXPECT_EQ(").\n", again.Out.substr(again.Out.size() - 3));
  EXPECT_NE(0, again.ExitCode);
}

// The states a service reports, one report per datagram.
std::vector<std::string> StateReports(tovktest::NotifySocket& manager) {
  std::vector<std::string> reports;
  for (const auto& message : manager.Messages())
    if (message.find("X_SERVICE_STATE=") != std::string::npos) {
      std::string report;
      for (const auto& line : Lines(message))
        if (line.rfind("X_CHECKPOINT=", 0) != 0) report += (report.empty() ? "" : " ") + line;
      reports.push_back(report);
    }
  return reports;
}

TEST(TovksrvService, ReportsItsStatesInOrderWithTheirWaitHints) {
  ServerProcess server;
  ASSERT_TRUE(server.ImportReg(server.BaseConfig())) << server.LastToolOutput;
  ASSERT_TRUE(server.Start()) << server.Output();
  EXPECT_EQ(0, server.Stop());
  EXPECT_EQ((std::vector<std::string>{
                "EXTEND_TIMEOUT_USEC=3000000 X_SERVICE_STATE=START_PENDING",
                "EXTEND_TIMEOUT_USEC=3000000 X_SERVICE_STATE=START_PENDING",
                "READY=1 X_SERVICE_STATE=RUNNING",
                "STOPPING=1 X_SERVICE_STATE=STOP_PENDING",
                "X_SERVICE_STATE=STOPPED",
            }),
            StateReports(server.Notify()));
}

TEST(TovksrvService, AStopDuringTheStartIsHeldUntilTheServiceRuns) {
  ServerProcess server;
  ASSERT_TRUE(server.ImportReg(server.BaseConfig()));
  ASSERT_TRUE(server.Launch());
  // Once it reports its start the service owns its signals; a stop now
  // comes before it accepts one.
  ASSERT_TRUE(server.Notify().WaitForLine("X_SERVICE_STATE=START_PENDING"));
  server.Signal(SIGTERM);
  EXPECT_EQ(0, server.Wait(30s)) << server.Output();
  auto reports = StateReports(server.Notify());
  ASSERT_EQ(5u, reports.size()) << server.Output();
  EXPECT_EQ("READY=1 X_SERVICE_STATE=RUNNING", reports[2]);
  EXPECT_EQ("X_SERVICE_STATE=STOPPED", reports[4]);
}

TEST(TovksrvService, PublishesCaptionHintAndPanelsAsItsStatus) {
  ServerProcess server;
  ASSERT_TRUE(server.ImportReg(server.BaseConfig()));
  ASSERT_TRUE(server.Start()) << server.Output();
  EXPECT_TRUE(server.Notify().WaitForStatus("Quillon web server | WWW Server (vypnut) | 0 |"));
  // The manager takes only UTF-8: the Windows-1250 "©" of the notice arrives converted.
  EXPECT_TRUE(server.Notify().WaitForStatus("| \xC2\xA9 Kestrane")) << server.Notify().LastStatus();
  EXPECT_TRUE(server.Notify().WaitForStatus("Quillon Web Server - ")) << server.Notify().LastStatus();
  // The off and on commands arrive as signals.
  server.Signal(SIGUSR2);
  EXPECT_TRUE(tovktest::WaitForPort(server.Port(), false));
  server.Signal(SIGUSR1);
  EXPECT_TRUE(tovktest::WaitForPort(server.Port()));
  EXPECT_EQ(0, server.Stop());
}

TEST(TovksrvService, LogsThatCannotBeOpenedEndTheServiceWithAMessage) {
  ServerProcess server;
  tovktest::WriteFile(server.Dir() / "plain", "x");
  std::string reg = server.BaseConfig() + "\"ProtFile\"=\"" +
                    ServerProcess::RegEscape(ServerProcess::SystemPath(server.Dir() / "plain/logs")) +
                    "\"\n";
  ASSERT_TRUE(server.ImportReg(reg));
  EXPECT_FALSE(server.Start());
  EXPECT_NE(0, server.Wait());
  EXPECT_NE(std::string::npos, server.Output().find("Nepodarilo se inicializovat protokoly"))
      << server.Output();
  EXPECT_FALSE(server.Notify().WaitForLine("READY=1", 0ms));
}

TEST(TovksrvService, HangupRestartsWithTheRegistryReadAgain) {
  ServerProcess server;
  ASSERT_TRUE(server.ImportReg(server.BaseConfig()));
  ASSERT_TRUE(server.Start()) << server.Output();
  int newPort = tovktest::FreePort();
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(newPort));
  ASSERT_TRUE(server.ImportReg("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server]\n"
                               "\"Port\"=dword:" + std::string(hex) + "\n"));
  server.Signal(SIGHUP);
  EXPECT_TRUE(tovktest::WaitForPort(newPort)) << server.ErrorLog();
  EXPECT_TRUE(tovktest::WaitForPort(server.Port(), false));
  EXPECT_TRUE(ServerProcess::WaitForText(server.LogDir() + "/error.log", GetMsg(23) + " (II)"))
      << server.ErrorLog();
  std::string answer = tovktest::HttpExchange(newPort, "GET /iswd/nothing HTTP/1.0\r\n\r\n", 10s);
  EXPECT_EQ(0u, answer.find("HTTP/1.0 ")) << answer;
  EXPECT_EQ(0, server.Stop());
}

}  // namespace
