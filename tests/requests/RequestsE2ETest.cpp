// Requests over real connections to the real server: several replies on one
// keep-alive connection, and one access record per request.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/ServerProcess.h"

namespace {

using tovktest::ServerProcess;
using namespace std::chrono_literals;

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

class RequestsServer : public ::testing::Test {
 protected:
  void StartWith(bool keepAlive) {
    tovktest::WriteFile(Server.DocRoot() + "/a.txt", "hello");
    // demo:demo, as a browser sends it: ZGVtbzpkZW1v; its MD5 in upper case.
    tovktest::WriteFile(Server.DocRoot() + "/private/index.html", "<p>secret</p>");
    tovktest::WriteFile(Server.DocRoot() + "/private/http.aut",
                        "[prava]\n*.*=28C6A03C7F2AF2F70660E4177861B72D\n");
    std::string config = Server.BaseConfig() + "\"KeepAlive\"=dword:0000000" +
                         (keepAlive ? "1" : "0") + "\n";
    ASSERT_TRUE(Server.ImportReg(config)) << Server.LastToolOutput;
    ASSERT_TRUE(Server.Start()) << Server.Output();
  }

  // Three requests written at once on one connection, the last without
  // keep-alive so that the server closes after it; what comes back.
  std::string ThreeOnOneConnection() {
    const std::string again = "GET /a.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n";
    const std::string last = "GET /a.txt HTTP/1.0\r\n\r\n";
    return tovktest::HttpExchange(Server.Port(), again + again + last, 20s);
  }

  ServerProcess Server;
};

TEST_F(RequestsServer, KeepAliveServesSeveralRepliesWhenSwitchedOn) {
  StartWith(true);
  std::string answers = ThreeOnOneConnection();
  EXPECT_EQ(CountOf(answers, "HTTP/1.0 200 OK\r\n"), 3) << answers;
  EXPECT_EQ(CountOf(answers, "Connection: Keep-Alive\r\n"), 2) << answers;

  // Bytes the server does not read as a body are never read as a request.
  const std::string hidden = "GET /private/ HTTP/1.0\r\n\r\n";
  answers = tovktest::HttpExchange(
      Server.Port(),
      "GET /a.txt HTTP/1.0\r\nConnection: keep-alive\r\nContent-Length: " +
          std::to_string(hidden.size()) + "\r\n\r\n" + hidden,
      20s);
  EXPECT_EQ(CountOf(answers, "HTTP/1.0 "), 1) << answers;
  answers = tovktest::HttpExchange(
      Server.Port(),
      "POST /a.txt HTTP/1.0\r\nConnection: keep-alive\r\nX-Content-Length: 99\r\n"
      "Transfer-Encoding: chunked\r\n\r\n1a\r\n" + hidden + "\r\n0\r\n\r\n",
      20s);
  EXPECT_EQ(answers.rfind("HTTP/1.0 501", 0), 0u) << answers;
  EXPECT_EQ(CountOf(answers, "HTTP/1.0 "), 1) << answers;
  answers = tovktest::HttpExchange(
      Server.Port(), std::string("GET /a.txt HTTP/1.0\r\nUser-Agent: a\0b\r\n\r\n", 40), 20s);
  EXPECT_EQ(answers.rfind("HTTP/1.0 400", 0), 0u) << answers;
}

TEST_F(RequestsServer, KeepAliveOffGivesOneReplyAConnection) {
  StartWith(false);
  std::string answers = ThreeOnOneConnection();
  EXPECT_EQ(CountOf(answers, "HTTP/1.0 200 OK\r\n"), 1) << answers;
}

TEST_F(RequestsServer, AccessLogHasOneRecordARequestWithStatusBytesAndUser) {
  StartWith(false);
  tovktest::HttpExchange(Server.Port(),
                         "GET /a.txt HTTP/1.0\r\nHost: example:8\r\nUser-Agent: e2e-agent\r\n"
                         "Referer: http://r/\r\n\r\n");
  tovktest::HttpExchange(Server.Port(), "GET /private/ HTTP/1.0\r\n\r\n");
  tovktest::HttpExchange(Server.Port(),
                         "GET /private/ HTTP/1.0\r\nAuthorization: Basic ZGVtbzpkZW1v\r\n\r\n");
  std::string log;
  for (int i = 0; i < 50 && CountOf(log = Server.AccessLog(), "\n") < 3; ++i)
    std::this_thread::sleep_for(100ms);
  ASSERT_EQ(CountOf(log, "\n"), 3) << log;
  EXPECT_NE(log.find("example:8 127.0.0.1 - - ["), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /a.txt HTTP/1.0\" 200 5 \"http://r/\" \"e2e-agent\""),
            std::string::npos)
      << log;
  // The error reply sends no Content-Length: its bytes are logged as "-".
  EXPECT_NE(log.find("- 127.0.0.1 - - ["), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /private/ HTTP/1.0\" 401 - \"-\" \"-\""), std::string::npos) << log;
  EXPECT_NE(log.find("- 127.0.0.1 - demo ["), std::string::npos) << log;
  EXPECT_NE(log.find("\"GET /private/ HTTP/1.0\" 200"), std::string::npos) << log;
}

}  // namespace
