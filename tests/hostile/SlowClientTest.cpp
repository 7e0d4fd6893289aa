// Clients that are slow on purpose: silent after connecting, stopping in
// the middle of the request line, stalling in a body, or sending one byte
// at a time. The server cuts each of them off, and while hundreds of them
// hold connections a normal client is still answered at once.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/hostile/HostileServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using hostile::HostileServer;
using hostile::StatusOf;

// The server gives a header line 15 s and an idle body 15 s.
constexpr auto kCutOffBound = 45s;

// Waits until every socket has been closed by the server (read end of
// file or a reset); the number still open when the time ran out.
int OpenAfter(std::vector<int>& fds, std::chrono::seconds bound) {
  std::vector<bool> closed(fds.size(), false);
  std::size_t left = fds.size();
  auto deadline = Clock::now() + bound;
  while (left > 0 && Clock::now() < deadline) {
    std::vector<pollfd> waiting;
    std::vector<std::size_t> index;
    for (std::size_t i = 0; i < fds.size(); ++i)
      if (!closed[i]) {
        waiting.push_back({fds[i], POLLIN, 0});
        index.push_back(i);
      }
    if (poll(waiting.data(), waiting.size(), 200) <= 0) continue;
    for (std::size_t k = 0; k < waiting.size(); ++k) {
      if (!waiting[k].revents) continue;
      char buffer[4096];
      ssize_t n = read(waiting[k].fd, buffer, sizeof buffer);
      if (n <= 0) {
        closed[index[k]] = true;
        --left;
      }
    }
  }
  return static_cast<int>(left);
}

TEST(SlowClients, AreCutOffWithoutStarvingOthers) {
  constexpr int kSlowClients = 500;
  ASSERT_GE(hostile::RaiseOpenFileLimit(4 * kSlowClients), 3 * kSlowClients)
      << "the open-file limit is too low for this test";
  HostileServer site;
  ASSERT_TRUE(site.Start()) << site.Process().Output();

  // Four kinds, mixed: silent, half a request line, a header without its
  // end, and a POST whose body stops after 10 of 1000 bytes.
  const char* openings[] = {
      "", "GET /index.ht", "GET /index.html HTTP/1.0\r\nUser-Agent: slow",
      "POST /index.html HTTP/1.0\r\nContent-Length: 1000\r\n\r\n0123456789"};
  std::vector<int> slow;
  for (int i = 0; i < kSlowClients; ++i) {
    int fd = tovktest::ConnectLoopback(site.Port());
    ASSERT_GE(fd, 0) << "connection " << i;
    ASSERT_TRUE(tovktest::SendAll(fd, openings[i % 4]));
    slow.push_back(fd);
  }
  // And a few that send one byte every 50 ms of a line that never ends.
  std::atomic<bool> stop{false};
  std::vector<int> dribblers;
  for (int i = 0; i < 4; ++i) dribblers.push_back(tovktest::ConnectLoopback(site.Port()));
  std::atomic<int> dribblersCut{0};
  std::thread dribble([&] {
    std::vector<bool> cut(dribblers.size(), false);
    auto deadline = Clock::now() + kCutOffBound;
    const std::string line = "GET /" + std::string(1 << 16, 'a');
    for (std::size_t pos = 0; !stop && Clock::now() < deadline && pos < line.size(); ++pos) {
      for (std::size_t i = 0; i < dribblers.size(); ++i) {
        if (cut[i]) continue;
        if (send(dribblers[i], &line[pos], 1, MSG_NOSIGNAL) != 1) {
          cut[i] = true;
          ++dribblersCut;
        }
      }
      if (dribblersCut == static_cast<int>(dribblers.size())) break;
      std::this_thread::sleep_for(50ms);
    }
  });

  // A normal client keeps getting answers while all of them wait.
  std::chrono::milliseconds slowest{0};
  for (int i = 0; i < 10; ++i) {
    auto started = Clock::now();
    std::string answer = site.Get("GET /index.html HTTP/1.0\r\n\r\n", 10s);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    EXPECT_EQ(StatusOf(answer), 200) << "request " << i << ": " << answer;
    slowest = std::max(slowest, took);
    std::this_thread::sleep_for(200ms);
  }
  // A correctness bound on starvation (the answer is ~1 ms when idle); the
  // margin allows for sanitizer builds on a loaded machine.
  EXPECT_LT(slowest.count(), 3000) << "a normal client waited " << slowest.count() << " ms";
  std::printf("[ measure ] slowest normal answer beside %d slow clients: %lld ms\n",
              kSlowClients, static_cast<long long>(slowest.count()));

  // Then every slow client is cut off, and none got a page.
  EXPECT_EQ(OpenAfter(slow, kCutOffBound), 0) << "slow clients still connected";
  dribble.join();
  EXPECT_EQ(dribblersCut.load(), static_cast<int>(dribblers.size()))
      << "a client sending a byte every 50 ms was never cut off";
  for (int fd : slow) close(fd);
  for (int fd : dribblers) close(fd);
  EXPECT_TRUE(site.Healthy());
  EXPECT_EQ(site.Process().Stop(), 0) << site.Process().Output();
}

}  // namespace
