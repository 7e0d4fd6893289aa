#include "server/net/SvrMain.h"

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

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

}  // namespace
