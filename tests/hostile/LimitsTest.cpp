// Requests beyond the limits, clients that leave in the middle of a reply,
// and CGI programs that misbehave: each is answered or dropped cleanly, and
// the server goes on serving.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/hostile/HostileServer.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using hostile::HostileServer;
using hostile::StatusOf;

std::string BodyOf(const std::string& answer) {
  std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

long ContentLength(const std::string& answer) {
  std::size_t at = answer.find("Content-Length: ");
  if (at == std::string::npos || at > answer.find("\r\n\r\n")) return -1;
  return std::atol(answer.c_str() + at + 16);
}

void WriteScript(const std::string& path, const std::string& text) {
  tovktest::WriteFile(path, text);
  chmod(path.c_str(), 0755);
}

// The CGI time bound the servers of these tests run with.
constexpr std::chrono::milliseconds kTestCgiLimit = 4s;

class Limits : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteScript(Site.CgiDir() + "/dies.cgi",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\npartial\\n'\n"
                "kill -9 $$\nprintf 'never\\n'\n");
    WriteScript(Site.CgiDir() + "/silent.cgi", "#!/bin/sh\nkill -9 $$\n");
    WriteScript(Site.CgiDir() + "/flood.cgi",
                "#!/bin/sh\nprintf 'Content-Type: application/octet-stream\\r\\n\\r\\n'\n"
                "exec head -c $QUERY_STRING /dev/zero\n");
    WriteScript(Site.CgiDir() + "/noread.cgi",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nignored the body\\n'\n");
    WriteScript(Site.CgiDir() + "/ok.cgi",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\ncgi works\\n'\n");
    // Never ends, and leaves a grandchild in its group; its id (the
    // group's) goes to runaway.pid beside it.
    WriteScript(Site.CgiDir() + "/runaway.cgi",
                "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nstarted\\n'\n"
                "echo $$ > runaway.pid\nsleep 1000 &\nwait\n");
    // Shorter than the service's bound, long enough for the 50 MB flood.
    Site.Process().Env["TOVK_CGI_TIME_LIMIT_MS"] = std::to_string(kTestCgiLimit.count());
    ASSERT_TRUE(Site.Start()) << Site.Process().Output();
  }
  void TearDown() override {
    EXPECT_TRUE(Site.Healthy());
    EXPECT_EQ(Site.Process().Stop(), 0) << Site.Process().Output();
  }

  HostileServer Site;
};

TEST_F(Limits, OversizedRequestsAreRefusedOrDropped) {
  // A request line of 1 MiB: read only as far as the line limit allows,
  // then the connection ends; never a page.
  std::string longLine = Site.Get("GET /" + std::string(1 << 20, 'a') + " HTTP/1.0\r\n\r\n", 30s);
  EXPECT_TRUE(longLine.empty() || StatusOf(longLine) >= 400) << longLine.substr(0, 200);
  EXPECT_TRUE(Site.Healthy());

  // A body announced above the limit is refused before it is read.
  std::string big = Site.Get(
      "POST /index.html HTTP/1.0\r\nContent-Length: 1000000000\r\n\r\nonly this much", 30s);
  EXPECT_EQ(StatusOf(big), 413) << big;
  std::string huge = Site.Get(
      "POST /index.html HTTP/1.0\r\nContent-Length: 99999999999999999999999\r\n\r\n", 30s);
  EXPECT_GE(StatusOf(huge), 400) << huge;
  std::string negative =
      Site.Get("POST /index.html HTTP/1.0\r\nContent-Length: -5\r\n\r\n", 30s);
  EXPECT_TRUE(negative.empty() || StatusOf(negative) >= 400 || StatusOf(negative) == 200)
      << negative;

  // Too many header lines: 400.
  std::string many = "GET /index.html HTTP/1.0\r\n";
  for (int i = 0; i < 300; ++i) many += "X-Filler-" + std::to_string(i) + ": x\r\n";
  std::string answer = Site.Get(many + "\r\n", 30s);
  EXPECT_EQ(StatusOf(answer), 400) << answer.substr(0, 300);

  // Long header lines within the count: answered, or dropped, never a crash.
  std::string wide = "GET /index.html HTTP/1.0\r\n";
  for (int i = 0; i < 200; ++i) wide += "X-Wide: " + std::string(8000, 'w') + "\r\n";
  std::string wideAnswer = Site.Get(wide + "\r\n", 30s);
  EXPECT_TRUE(wideAnswer.empty() || StatusOf(wideAnswer) > 0) << wideAnswer.substr(0, 200);
  // Bytes that are no request at all.
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131) & 0xff);
  Site.Get(binary + "\r\n\r\n", 30s);
  EXPECT_TRUE(Site.Process().Running());
}

TEST_F(Limits, ListenerOutOfDescriptorsWaitsAndLogsTheBurstOnce) {
  constexpr rlim_t kLowLimit = 64;
  constexpr int kCrowd = 250;
  ASSERT_GE(hostile::RaiseOpenFileLimit(kCrowd + 64), kCrowd + 64);
  // The server derived its bound of connections from the limit it started
  // with; lowered now, its descriptors run out long before the bound.
  rlimit low{kLowLimit, kLowLimit};
  ASSERT_EQ(prlimit(Site.Process().Pid(), RLIMIT_NOFILE, &low, nullptr), 0) << strerror(errno);
  std::vector<int> crowd;
  for (int n = 0; n < kCrowd; ++n) {
    int fd = tovktest::ConnectLoopback(Site.Port());
    if (fd >= 0) crowd.push_back(fd);
  }
  const std::string errorLog = Site.Process().LogDir() + "/error.log";
  EXPECT_TRUE(tovktest::ServerProcess::WaitForText(errorLog, "Too many open files"));
  // Long enough for the listener to try again several times.
  std::this_thread::sleep_for(1s);
  for (int fd : crowd) close(fd);

  bool healthy = false;
  for (int attempt = 0; attempt < 20 && !healthy; ++attempt) healthy = Site.Healthy();
  EXPECT_TRUE(healthy) << "the listener accepts again once descriptors are free";
  const std::string log = Site.Process().ErrorLog();
  std::size_t first = log.find("Too many open files");
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("Too many open files", first + 1), std::string::npos) << log;
}

TEST_F(Limits, ClientsLeavingMidReplyDoNotStopTheServer) {
  const std::size_t size = 48u << 20;
  tovktest::WriteFile(Site.Process().DocRoot() + "/large.txt", std::string(size, 'L'));
  for (int round = 0; round < 12; ++round) {
    int fd = tovktest::ConnectLoopback(Site.Port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(tovktest::SendAll(fd, "GET /large.txt HTTP/1.0\r\n\r\n"));
    char buffer[65536];
    std::size_t got = 0;
    auto deadline = Clock::now() + 20s;
    while (got < 200000 && Clock::now() < deadline) {
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    EXPECT_GT(got, 0u) << "round " << round;
    if (round % 2) {
      // Half of them leave with a reset rather than a close.
      linger hard{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    close(fd);
  }
  // And one that stays reads it whole.
  std::string whole = Site.Get("GET /large.txt HTTP/1.0\r\n\r\n", 60s);
  EXPECT_EQ(StatusOf(whole), 200);
  EXPECT_EQ(BodyOf(whole).size(), size);
}

TEST_F(Limits, MisbehavingCgiProgramsAreContained) {
  EXPECT_NE(Site.Get("GET /cgi/ok.cgi HTTP/1.0\r\n\r\n").find("cgi works"), std::string::npos);
  // The thread that served it goes back to wait for the next connection just
  // after the reply is closed; given that moment, the runaway request takes
  // it again instead of a new one, and the count below compares like with like.
  std::this_thread::sleep_for(500ms);

  // A program that never ends is ended at the bound with its whole group:
  // the 500 page, no process and no thread left behind.
  const int threadsBefore = tovktest::ThreadCount(Site.Process().Pid());
  auto runawayStarted = Clock::now();
  std::string runaway = Site.Get("GET /cgi/runaway.cgi HTTP/1.0\r\n\r\n", 60s);
  EXPECT_EQ(StatusOf(runaway), 500) << runaway;
  EXPECT_NE(runaway.find("Skript neskon"), std::string::npos) << runaway;
  EXPECT_GE(Clock::now() - runawayStarted, kTestCgiLimit);
  const int group = std::atoi(tovktest::ReadFile(Site.CgiDir() + "/runaway.pid").c_str());
  ASSERT_GT(group, 0);
  EXPECT_TRUE(tovktest::ProcessGroupGone(group, Site.Process().Pid()));
  bool threadsEnded = false;
  for (int round = 0; round < 200 && !threadsEnded; ++round) {
    threadsEnded = tovktest::ThreadCount(Site.Process().Pid()) <= threadsBefore;
    if (!threadsEnded) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(threadsEnded) << tovktest::ThreadCount(Site.Process().Pid()) << " threads, "
                            << threadsBefore << " before";
  EXPECT_TRUE(Site.Healthy());

  // Killed after part of its answer: what it wrote, or an error; never a
  // hang, and the next request is served.
  for (const char* script : {"/cgi/dies.cgi", "/cgi/silent.cgi"}) {
    std::string answer = Site.Get(std::string("GET ") + script + " HTTP/1.0\r\n\r\n", 30s);
    int status = StatusOf(answer);
    EXPECT_TRUE(status == 200 || status == 500) << script << "\n" << answer;
    EXPECT_EQ(answer.find("never"), std::string::npos) << answer;
    EXPECT_TRUE(Site.Healthy()) << script;
  }

  // 50 MB of output: buffered and sent whole with its length, or refused
  // with an error; the length sent is the length announced.
  const long flood = 50L * 1000 * 1000;
  std::string big = Site.Get("GET /cgi/flood.cgi?" + std::to_string(flood) + " HTTP/1.0\r\n\r\n",
                             120s);
  int status = StatusOf(big);
  EXPECT_TRUE(status == 200 || status == 500 || status == 503) << big.substr(0, 300);
  if (status == 200) {
    EXPECT_EQ(static_cast<long>(BodyOf(big).size()), flood);
    long announced = ContentLength(big);
    if (announced >= 0) {
      EXPECT_EQ(announced, flood);
    }
  }
  EXPECT_TRUE(Site.Healthy());

  // A program that never reads a POST body far larger than a pipe holds.
  const std::string body(4u << 20, 'b');
  auto started = Clock::now();
  std::string noread = Site.Get("POST /cgi/noread.cgi HTTP/1.0\r\nContent-Length: " +
                                    std::to_string(body.size()) + "\r\n\r\n" + body,
                                60s);
  EXPECT_LT(Clock::now() - started, 60s);
  EXPECT_TRUE(StatusOf(noread) == 200 || StatusOf(noread) == 500) << noread.substr(0, 300);
  if (StatusOf(noread) == 200) {
    EXPECT_NE(noread.find("ignored the body"), std::string::npos);
  }

  // Several at once, each kind twice.
  std::vector<std::thread> clients;
  std::atomic<int> answered{0};
  for (const char* target : {"/cgi/dies.cgi", "/cgi/noread.cgi", "/cgi/flood.cgi?1000000",
                             "/cgi/ok.cgi", "/cgi/dies.cgi", "/cgi/noread.cgi",
                             "/cgi/flood.cgi?1000000", "/cgi/ok.cgi"}) {
    clients.emplace_back([&, target] {
      std::string a = Site.Get(std::string("POST ") + target +
                                   " HTTP/1.0\r\nContent-Length: 100000\r\n\r\n" +
                                   std::string(100000, 'p'),
                               60s);
      if (StatusOf(a) > 0) ++answered;
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(answered.load(), 8);
}

}  // namespace
