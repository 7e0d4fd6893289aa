#include "server/net/SvrMain.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ResourceLimits.h"
#include "server/net/ShellLink.h"
#include "server/net/SvrSock.h"
#include "server/reply/SvrSetupHolder.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

TEST(ListenerNumbering, RunsFrom1To999ThenStartsAgain) {
  uint32_t counter = 0;
  uint32_t number = 0;
  EXPECT_EQ(NextConnectionNumber(counter), 1u);
  for (int n = 2; n <= 999; ++n) number = NextConnectionNumber(counter);
  EXPECT_EQ(number, 999u) << "the 999th connection";
  EXPECT_EQ(NextConnectionNumber(counter), 1u) << "the 1000th connection";
  EXPECT_EQ(NextConnectionNumber(counter), 2u);
}

// Connects until the listener thread is up, within a bounded time.
int ConnectWhenListening(int port) {
  for (int i = 0; i < 200; ++i) {
    int fd = tovktest::ConnectLoopback(port);
    if (fd >= 0) return fd;
    std::this_thread::sleep_for(10ms);
  }
  return -1;
}

bool WaitUntilStopped() {
  for (int i = 0; i < 300 && ListenersAreRunning(); ++i) std::this_thread::sleep_for(10ms);
  return !ListenersAreRunning();
}

TEST(Listeners, AcceptServeAndStopFreesThePortAtOnce) {
  tovktest::TempDir root;
  Settings().AliasTable = {"* (HTTP),/," + std::string("\\") + "nonexistent-root\\"};
  const int port = tovktest::FreePort();
  const uint32_t acceptedBefore = AcceptedConnections.load();

  StartListeners(port, false);
  EXPECT_TRUE(ListenersAreRunning());
  StartListeners(port, false);  // already running: nothing happens

  int fd = ConnectWhenListening(port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(tovktest::SendAll(fd, "GET /x HTTP/1.0\r\n\r\n"));
  std::string answer = tovktest::ReceiveAll(fd, 10s);
  ::close(fd);
  EXPECT_EQ(answer.substr(0, 12), "HTTP/1.0 404") << answer;
  EXPECT_EQ(AcceptedConnections.load(), acceptedBefore + 1);

  StopListeners();
  EXPECT_FALSE(ListenersAreRunning());
  // The accept was woken and the socket closed: the port binds again now.
  TSvrSocket again;
  again.Listen(port);
  EXPECT_TRUE(again.Connected) << again.ErrorText();
  again.Close();
  Settings().AliasTable.clear();
}

TEST(Listeners, ListenerOnAPortInUseEndsOnItsOwn) {
  const int port = tovktest::FreePort();
  TSvrSocket holder;
  holder.Listen(port);
  ASSERT_TRUE(holder.Connected);
  StartListeners(port, false);
  EXPECT_TRUE(WaitUntilStopped()) << "the failed listener clears the running flag";
  StopListeners();  // closes nothing: no listener is running
  holder.Close();
}

// The shell's side of the seam, without the window: the listener's report
// and the restart command.
TEST(ShellSeam, ListenersReportTheirHostAndRestartsReachOnlyARegisteredShell) {
  // Shared with the report, which the listener module keeps after the test.
  struct TReports {
    std::mutex Lock;
    std::vector<std::string> Hosts;
  };
  auto reports = std::make_shared<TReports>();
  auto report = [reports](const std::string& host) {
    std::lock_guard<std::mutex> guard(reports->Lock);
    reports->Hosts.push_back(host);
  };
  auto reported = [reports] {
    std::lock_guard<std::mutex> guard(reports->Lock);
    return reports->Hosts;
  };
  const int port = tovktest::FreePort();
  StartListeners(port, false, report);
  for (int i = 0; i < 300 && reported().empty(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(reported().size(), 1u);
  TSvrSocket probe;
  THostEntry entry;
  EXPECT_EQ(reported()[0], probe.GetHostEntry(entry) ? entry.OfficialName : "");
  // A listener kept by a restart reports again when it accepts again.
  PauseListeners();
  StartListeners(port, false, report);
  EXPECT_EQ(reported().size(), 2u);
  StopListeners();

  struct TFakeShell : TShellLink {
    std::vector<uint32_t> Delays;
    void ArmRestartFromAnyThread(uint32_t delayMs) override { Delays.push_back(delayMs); }
  } shell;
  RequestRestart(true);  // no shell yet: nothing happens
  RegisterShell(&shell);
  RequestRestart(true);
  RequestRestart(false);
  UnregisterShell(&shell);
  RequestRestart(true);
  EXPECT_EQ(shell.Delays, (std::vector<uint32_t>{20000, 3000}));
}

// Lowers this process's soft descriptor limit for the life of the object.
class LoweredDescriptorLimit {
 public:
  explicit LoweredDescriptorLimit(rlim_t soft) {
    getrlimit(RLIMIT_NOFILE, &Saved);
    rlimit lowered = Saved;
    lowered.rlim_cur = soft;
    Ok = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~LoweredDescriptorLimit() { setrlimit(RLIMIT_NOFILE, &Saved); }
  bool Ok = false;

 private:
  rlimit Saved{};
};

TEST(Listeners, DescriptorLimitIsRaisedAsFarAsItIsUseful) {
  rlimit now{};
  getrlimit(RLIMIT_NOFILE, &now);
  ASSERT_GE(now.rlim_max, 300u) << "the test needs a hard limit of 300";
  LoweredDescriptorLimit limit(200);
  ASSERT_TRUE(limit.Ok);
  EXPECT_EQ(RaiseDescriptorLimit(300), 300);
  EXPECT_EQ(DescriptorLimit(), 300);
  EXPECT_EQ(RaiseDescriptorLimit(250), 300) << "never lowered";
}

bool WaitForLiveConnections(uint32_t count) {
  for (int i = 0; i < 3000 && LiveConnections() != count; ++i) std::this_thread::sleep_for(10ms);
  return LiveConnections() == count;
}

TEST(Listeners, ConnectionsAboveTheBoundGet503UntilTheCrowdThins) {
  // Connection threads of earlier tests end within their read time-out.
  ASSERT_TRUE(WaitForLiveConnections(0)) << LiveConnections() << " connections still live";
  Settings().AliasTable = {"* (HTTP),/," + std::string("\\") + "nonexistent-root\\"};
  constexpr uint32_t kBound = 6;
  const int port = tovktest::FreePort();
  {
    LoweredDescriptorLimit limit(kReservedDescriptors + kBound * kDescriptorsPerConnection);
    ASSERT_TRUE(limit.Ok);
    StartListeners(port, false);
  }
  ASSERT_EQ(ConnectionBound(), kBound);
  EXPECT_EQ(ConnectionBoundFor(10), 1u) << "a tiny limit still serves one";
  EXPECT_EQ(ConnectionBoundFor(1L << 30), kMaxCountableConnections) << "the count is 16-bit";

  // Clients that connect and say nothing hold their connections.
  std::vector<int> idle;
  for (uint32_t n = 0; n < kBound; ++n) {
    int fd = ConnectWhenListening(port);
    ASSERT_GE(fd, 0);
    idle.push_back(fd);
  }
  ASSERT_TRUE(WaitForLiveConnections(kBound));
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string answer = tovktest::HttpExchange(port, "GET /x HTTP/1.0\r\n\r\n", 10s);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.0 503") << answer;
    EXPECT_NE(answer.find("<H1>"), std::string::npos) << "the built-in page: " << answer;
  }
  EXPECT_EQ(LiveConnections(), kBound) << "a refused connection gets no thread";

  ::close(idle.back());
  idle.pop_back();
  ASSERT_TRUE(WaitForLiveConnections(kBound - 1));
  std::string served = tovktest::HttpExchange(port, "GET /x HTTP/1.0\r\n\r\n", 10s);
  EXPECT_EQ(served.substr(0, 12), "HTTP/1.0 404") << served;

  for (int fd : idle) ::close(fd);
  StopListeners();
  Settings().AliasTable.clear();
}

}  // namespace
