// The tray window in this process: its components through start, stop,
// close and the posts of other threads.

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include "server/net/SvrMain.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/Loging.h"
#include "server/shell/MainWin.h"
#include "server/shell/MsgCat.h"
#include "tests/support/ServerProcess.h"

namespace {

using namespace std::chrono_literals;

class TrayWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Config.ImportReg(Config.BaseConfig())) << Config.LastToolOutput;
    setenv("TOVK_REGISTRY", Config.RegistryPath().c_str(), 1);
    setenv("TOVK_DRIVE_C", Config.Env["TOVK_DRIVE_C"].c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TOVK_REGISTRY");
    unsetenv("TOVK_DRIVE_C");
  }
  // Runs the loop until `done` holds or the time is up.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      Loop.ProcessMessages();
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }
  // A menu command as the service gets it: a signal for the loop's thread.
  void Command(int signalNumber) {
    pthread_kill(pthread_self(), signalNumber);
    Loop.ProcessMessages();
  }
  // Runs the loop through a restart that the restart timer has begun.
  bool RunRestart(TSvrWin& form) {
    return RunUntil([&] { return !form.RestartTimer.Enabled(); }) &&
           RunUntil([&] { return form.ServerRunning(); });
  }
  static std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++count;
    return count;
  }
  tovktest::ServerProcess Config;  // only its directories and registry
  TEventLoop Loop;
};

TEST_F(TrayWindow, CreationLeavesTheServerOffWithTheStartArmed) {
  TSvrWin form(Loop);
  EXPECT_EQ("WWW Server (vypnut)", form.TrayIcon.Hint);
  EXPECT_TRUE(form.Zapniserver1.Enabled);
  EXPECT_FALSE(form.Vypniserver1.Enabled);
  EXPECT_TRUE(form.AutoStart.Enabled());
  EXPECT_EQ(1000u, form.AutoStart.Interval());
  EXPECT_TRUE(form.Obnovovani.Enabled());
  EXPECT_FALSE(form.RestartTimer.Enabled());
  EXPECT_EQ("0", form.Bar.Panels[0].Text);
  EXPECT_EQ("1.0.7.0/tovksrv", ServerSoftware);
  EXPECT_FALSE(form.ServerRunning());
  form.Close();
}

TEST_F(TrayWindow, AutoStartStartsTheListenerAndTheMenuSwaps) {
  TSvrWin form(Loop);
  ASSERT_TRUE(RunUntil([&] { return form.ServerRunning(); }));
  EXPECT_FALSE(form.AutoStart.Enabled());
  EXPECT_FALSE(form.Zapniserver1.Enabled);
  EXPECT_TRUE(form.Vypniserver1.Enabled);
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port()));
  // The listener replaces caption and hint once it listens.
  EXPECT_TRUE(RunUntil([&] { return form.Caption.rfind("Quillon Web Server - ", 0) == 0; }))
      << form.Caption;
  EXPECT_EQ(form.Caption, form.TrayIcon.Hint);

  form.Vypniserver1.Click();
  EXPECT_FALSE(form.ServerRunning());
  EXPECT_EQ(GetMsg(8), form.TrayIcon.Hint);
  EXPECT_TRUE(form.Zapniserver1.Enabled);
  EXPECT_FALSE(form.Vypniserver1.Enabled);
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port(), false));
  form.Vypniserver1.Click();  // disabled now: nothing happens
  EXPECT_FALSE(form.ServerRunning());

  ActiveConnections = 7;
  form.Zapniserver1.Click();
  EXPECT_EQ(0, ActiveConnections.load());
  EXPECT_EQ("Quillon web server", form.TrayIcon.Hint);
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port()));
  EXPECT_TRUE(ListenersAreRunning()) << "the listener stopped before must not clear the flag";
  form.Close();
  EXPECT_TRUE(tovktest::WaitForPort(Config.Port(), false)) << Config.ErrorLog();
}

TEST_F(TrayWindow, ClosingAStoppedServerDoesNotStopItAgain) {
  TSvrWin form(Loop);
  form.StartServer();
  form.StopServer();  // its last refresh shows the "switched on" text
  EXPECT_EQ(GetMsg(6), form.Bar.Panels[1].Text);
  form.Close();
  // A second StopServer would have shown the "switched off" text.
  EXPECT_EQ(GetMsg(6), form.Bar.Panels[1].Text);
  EXPECT_TRUE(Loop.Terminated());
}

TEST_F(TrayWindow, OtherThreadsPostCaptionHintAndRestart) {
  TSvrWin form(Loop);
  std::thread([] {
    PostCaptionAndHint("Quillon Web Server - elsewhere");
    PostArmRestartTimer(20000);
  }).join();
  EXPECT_NE("Quillon Web Server - elsewhere", form.Caption);  // not before the loop runs
  Loop.ProcessMessages();
  EXPECT_EQ("Quillon Web Server - elsewhere", form.Caption);
  EXPECT_EQ("WWW Server (vypnut)", form.TrayIcon.Hint);  // the server is off
  EXPECT_TRUE(form.RestartTimer.Enabled());
  EXPECT_EQ(20000u, form.RestartTimer.Interval());
  form.Close();
}

TEST_F(TrayWindow, RestartKeepsThePortUnlessItMovesAndSwitchingOffClosesIt) {
  tovktest::WriteFile(Config.DocRoot() + "/index.html", "old root");
  const std::string newRoot = Config.Dir() / "newroot";
  tovktest::WriteFile(newRoot + "/index.html", "new root");
  TSvrWin form(Loop);
  ASSERT_TRUE(RunUntil([&] { return form.ServerRunning(); }));
  const int port = Config.Port();
  ASSERT_TRUE(tovktest::WaitForPort(port));

  ASSERT_TRUE(Config.ImportReg(
      Config.BaseConfig() + "\"Alias 1\"=\"" +
      tovktest::ServerProcess::RegEscape("*,/," + tovktest::ServerProcess::SystemPath(newRoot) +
                                         "\\") +
      "\"\n"));
  Command(SIGHUP);
  ASSERT_TRUE(form.RestartTimer.Enabled());
  EXPECT_EQ(3000u, form.RestartTimer.Interval());
  // A second request while the first is pending leaves it as it is.
  PostArmRestartTimer(20000);
  Loop.ProcessMessages();
  EXPECT_EQ(3000u, form.RestartTimer.Interval());

  ASSERT_TRUE(RunUntil([&] { return !form.RestartTimer.Enabled(); }));
  EXPECT_FALSE(form.ServerRunning());
  // Between the restart and the start that follows, a client still gets
  // through; it is answered from the settings the restart read.
  int waiting = tovktest::ConnectLoopback(port);
  ASSERT_GE(waiting, 0) << "the port closed during the restart";
  ASSERT_TRUE(tovktest::SendAll(waiting, "GET /index.html HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(RunUntil([&] { return form.ServerRunning(); }));
  std::string answer = tovktest::ReceiveAll(waiting, 10s);
  ::close(waiting);
  EXPECT_NE(std::string::npos, answer.find("new root")) << answer;

  // A new port: the listener moves.
  const int newPort = tovktest::FreePort();
  char portText[16];
  std::snprintf(portText, sizeof portText, "%08x", static_cast<unsigned>(newPort));
  ASSERT_TRUE(Config.ImportReg(Config.BaseConfig() + "\"Port\"=dword:" + portText + "\n"));
  Command(SIGHUP);
  ASSERT_TRUE(RunRestart(form));
  EXPECT_TRUE(tovktest::WaitForPort(newPort));
  EXPECT_TRUE(tovktest::WaitForPort(port, false));

  Command(SIGUSR2);
  EXPECT_FALSE(form.ServerRunning());
  EXPECT_TRUE(tovktest::WaitForPort(newPort, false));
  form.Close();

  // Each restart logs as before: the listener's end, the restart, and the
  // listener that listens again.
  const std::string log = Config.ErrorLog();
  EXPECT_EQ(2u, Count(log, GetMsg(23) + " (II)")) << log;
  EXPECT_EQ(3u, Count(log, GetMsg(32))) << log;
  EXPECT_EQ(3u, Count(log, "Server: (WSA10022)")) << log;
}

TEST_F(TrayWindow, RestartsUnderLoadRefuseNobodyAndLoseNoReply) {
  constexpr int kRestarts = 20;
  constexpr int kClients = 2;
  constexpr int kMaxRequestsPerClient = 20000;  // bounds the loop should the restarts hang
  tovktest::WriteFile(Config.DocRoot() + "/index.html", "served");
  TSvrWin form(Loop);
  ASSERT_TRUE(RunUntil([&] { return form.ServerRunning(); }));
  ASSERT_TRUE(tovktest::WaitForPort(Config.Port()));
  // The restarts themselves are what is tested, not their delays.
  form.AutoStart.SetInterval(1);

  std::atomic<bool> done{false};
  std::atomic<int> served{0}, refused{0}, lost{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c)
    clients.emplace_back([&] {
      for (int n = 0; n < kMaxRequestsPerClient && !done; ++n) {
        int fd = tovktest::ConnectLoopback(Config.Port());
        if (fd < 0) {
          ++refused;
          continue;
        }
        tovktest::SendAll(fd, "GET /index.html HTTP/1.0\r\n\r\n");
        std::string answer = tovktest::ReceiveAll(fd, 10s);
        ::close(fd);
        if (answer.rfind("HTTP/1.0 200", 0) == 0 && answer.find("served") != std::string::npos)
          ++served;
        else
          ++lost;
      }
    });
  int restarts = 0;
  for (; restarts < kRestarts; ++restarts) {
    Command(SIGHUP);
    form.RestartTimer.SetInterval(1);
    if (!RunRestart(form)) break;
  }
  done = true;
  for (auto& client : clients) client.join();
  EXPECT_EQ(kRestarts, restarts);
  EXPECT_EQ(0, refused.load());
  EXPECT_EQ(0, lost.load());
  EXPECT_GT(served.load(), 0);
  form.Close();
}

TEST_F(TrayWindow, ShowingAndHidingTheWindowSwapsTheItemCaption) {
  TSvrWin form(Loop);
  form.Visible = true;
  form.Ukaprotokol1Click();
  EXPECT_FALSE(form.Visible);
  EXPECT_EQ(GetMsg(14), form.Ukaprotokol1.Caption);
  form.Ukaprotokol1Click();
  EXPECT_TRUE(form.Visible);
  EXPECT_EQ(GetMsg(13), form.Ukaprotokol1.Caption);
  form.Close();
}

TEST_F(TrayWindow, ExceptionsInTheLoopGoToTheErrorLog) {
  TSvrWin form(Loop);
  Loop.Post([] { throw std::runtime_error("unexpected in a handler"); });
  Loop.ProcessMessages();
  LogDone();
  EXPECT_NE(std::string::npos, Config.ErrorLog().find("unexpected in a handler"));
  form.Close();
}

TEST_F(TrayWindow, MissingKeyFilesSwitchTlsOffWithOneErrorRecord) {
  ASSERT_TRUE(Config.ImportReg(Config.BaseConfig() + "\"SSLon\"=dword:00000001\n"));
  // The test program's directory has no key files.
  TSvrWin form(Loop);
  EXPECT_FALSE(CurrentSettings()->SSLon);
  form.Close();
  std::string log = Config.ErrorLog();
  std::size_t first = log.find(GetMsg(12));
  ASSERT_NE(std::string::npos, first) << log;
  EXPECT_EQ(std::string::npos, log.find(GetMsg(12), first + 1));
}

}  // namespace
