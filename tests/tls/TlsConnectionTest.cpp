// Connections of the TLS listener, served by the connection thread over a
// loopback pair with an OpenSSL client at the other end.

#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "server/net/SvrHttp.h"
#include "server/net/SvrMain.h"
#include "server/net/XSSL.h"
#include "server/reply/SvrSetupHolder.h"
#include "tests/support/TestSupport.h"
#include "tests/tls/TlsTestSupport.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kTlsOnly = "[ostatni]\r\nisSSL=1\r\n";

class TlsConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);  // as the service does
    ASSERT_TRUE(tlstest::MakeKeyFiles(Keys.Path()));
    ASSERT_EQ(SetUpTLS(ToSystemPath(Keys.Path()) + "\\"), "");
    Www = Dir / "www";
    tovktest::MakeDirs(Www + "/open");
    tovktest::WriteFile(Www + "/http.aut", kTlsOnly);
    tovktest::WriteFile(Www + "/a.txt", "hello");
    tovktest::WriteFile(Www + "/open/b.txt", "plain only");
    TSvrSetupHolder& s = Settings();
    s.AliasTable = {"* (HTTPS),/," + ToSystemPath(Www) + "\\"};
    s.AppTable.clear();
    s.VirtTable.clear();
    s.MimeTable = {"txt,text/plain"};
    s.DefaultDocuments = {"index.html"};
    s.KeepAlive = true;  // a TLS connection must not be kept even so
  }
  void TearDown() override {
    Settings().AliasTable.clear();
    Settings().MimeTable.clear();
    Settings().KeepAlive = false;
    TlsReadTimeoutSeconds = kTlsReadTimeoutSeconds;
    TlsWriteTimeoutSeconds = kTlsWriteTimeoutSeconds;
    TlsHandshakeTimeoutSeconds = kTlsHandshakeTimeoutSeconds;
  }

  // Serves one TLS connection in a thread while `client` talks to it, and
  // checks that the thread ends, its count goes back and the socket closes.
  struct TServed {
    std::string Answer;
    std::string Body;
    std::string RequestLine;
    std::string UserAgent;
  };
  TServed Serve(const std::function<std::string(tlstest::TTlsClient&, int fd)>& client,
                tlstest::TSocketPair& pair, int headTimeoutSeconds = kRequestHeadTimeoutSeconds,
                const std::function<void(TSvrHttpThread&)>& tune = {}) {
    const uint16_t before = ActiveConnections.load();
    auto connection = std::make_unique<TSvrHttpThread>(pair.Server, true, 4);
    connection->HeadTimeoutSeconds = headTimeoutSeconds;
    if (tune) tune(*connection);
    auto done = std::async(std::launch::async, [&] { connection->Execute(); });
    TServed served;
    {
      tlstest::TTlsClient tls(pair.Client);
      served.Answer = client(tls, pair.Client);
    }
    if (done.wait_for(30s) != std::future_status::ready) {
      ::shutdown(pair.Client, SHUT_RDWR);  // lets the thread end before failing
      done.wait();
      ADD_FAILURE() << "the connection thread did not end";
    }
    EXPECT_EQ(ActiveConnections.load(), before);
    EXPECT_FALSE(connection->Socket);
    EXPECT_TRUE(pair.ServerClosed(5s));
    served.Body = connection->Body.Bytes();
    served.RequestLine = connection->Header.RequestLine;
    served.UserAgent = connection->Header.Get(rqUserAgent);
    return served;
  }
  TServed Exchange(const std::vector<std::string>& records) {
    tlstest::TSocketPair pair;
    return Serve(
        [&](tlstest::TTlsClient& tls, int) {
          if (!tls.Handshake()) return std::string("no handshake");
          for (const std::string& record : records) {
            tls.Send(record);
            std::this_thread::sleep_for(20ms);
          }
          return tls.ReceiveAll(10s);
        },
        pair);
  }

  static int Count(const std::string& text, const std::string& part) {
    int found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++found;
    return found;
  }

  tovktest::TempDir Keys;
  tovktest::TempDir Dir;
  std::string Www;
};

TEST_F(TlsConnection, ServesTheTlsDirectoryAndRefusesTheOthers) {
  TServed served = Exchange({"GET /a.txt HTTP/1.0\r\nHost: localhost\r\n\r\n"});
  EXPECT_EQ(served.Answer.rfind("HTTP/1.0 200", 0), 0u) << served.Answer;
  EXPECT_EQ(served.Answer.substr(served.Answer.size() - 5), "hello");

  // A directory without the TLS mark is for plain connections only.
  served = Exchange({"GET /open/b.txt HTTP/1.0\r\n\r\n"});
  EXPECT_EQ(served.Answer.rfind("HTTP/1.0 403", 0), 0u) << served.Answer;
}

TEST_F(TlsConnection, ASecondRequestOnTheConnectionIsNeverAnswered) {
  TServed served = Exchange({"GET /a.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"
                             "GET /a.txt HTTP/1.0\r\n\r\n"});
  EXPECT_EQ(Count(served.Answer, "HTTP/1.0 "), 1) << served.Answer;
  EXPECT_EQ(served.Body, "") << "a GET has no body, whatever follows it";

  // The same when the second request comes in a later record.
  served = Exchange({"GET /a.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n",
                     "GET /open/b.txt HTTP/1.0\r\n\r\n"});
  EXPECT_EQ(Count(served.Answer, "HTTP/1.0 "), 1) << served.Answer;
}

TEST_F(TlsConnection, TheBodyIsTheAnnouncedLengthAndNoMore) {
  TServed served = Exchange(
      {"POST /a.txt HTTP/1.0\r\nContent-Length: 4\r\n\r\nbodyGET /a.txt HTTP/1.0\r\n\r\n"});
  EXPECT_EQ(served.Body, "body");
  EXPECT_EQ(Count(served.Answer, "HTTP/1.0 "), 1) << served.Answer;

  // The body after the empty line's CR LF, however the records split them.
  served = Exchange({"POST /a.txt HTTP/1.0\r\nContent-Length: 6\r\n\r", "\n\nbody\n"});
  EXPECT_EQ(served.Body, "\nbody\n") << "only the LF of the split CR LF is dropped";
}

TEST_F(TlsConnection, LinesSplitAcrossRecordsAreJoined) {
  TServed served = Exchange({"GET /a.t", "xt HTTP/1.0\r\nUser-Ag", "ent: split\r", "\n\r", "\n"});
  EXPECT_EQ(served.RequestLine, "GET /a.txt HTTP/1.0");
  EXPECT_EQ(served.UserAgent, "split");
  EXPECT_EQ(served.Answer.rfind("HTTP/1.0 200", 0), 0u) << served.Answer;

  // A POST whose request line came in a record of its own still has its
  // body read.
  served = Exchange({"POST /a.txt HTTP/1.0", "\r\nContent-Length: 3\r\n\r\nxyz"});
  EXPECT_EQ(served.Body, "xyz");
}

TEST_F(TlsConnection, AnEndlessLineEndsTheConnectionWithoutAReply) {
  TServed served = Exchange({"GET /" + std::string(20000, 'a')});
  EXPECT_EQ(served.Answer, "");
}

TEST_F(TlsConnection, ASilentClientIsDisconnectedWithoutAReply) {
  TlsReadTimeoutSeconds = 1;
  // Before the handshake, after it, within the header and within the body.
  const std::vector<std::string> cases = {"", "GET /a.txt HTTP/1.0\r\n",
                                          "POST /a.txt HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc"};
  {
    tlstest::TSocketPair pair;
    TServed served = Serve([](tlstest::TTlsClient&, int) { return std::string(); }, pair);
  }
  for (const std::string& sent : cases) {
    tlstest::TSocketPair pair;
    TServed served = Serve(
        [&](tlstest::TTlsClient& tls, int) {
          if (!tls.Handshake()) return std::string("no handshake");
          tls.Send(sent);
          return tls.ReceiveAll(20s);
        },
        pair);
    EXPECT_EQ(served.Answer, "") << "sent: " << sent;
  }
}

TEST_F(TlsConnection, ControlBytesInAHeadLineGet400) {
  TServed served =
      Exchange({"GET /a.txt HTTP/1.0\r\nUser-Agent: x" + std::string(1, '\0') + "y\r\n\r\n"});
  EXPECT_EQ(served.Answer.rfind("HTTP/1.0 400", 0), 0u) << served.Answer;
  EXPECT_EQ(served.UserAgent, "");
}

TEST_F(TlsConnection, HandshakeHeadAndBodyTrickledInAreCutAtTheirBounds) {
  TlsHandshakeTimeoutSeconds = 2;
  constexpr int kHeadSeconds = 2;
  constexpr int kPieces = 40;  // one every 300 ms: six times either bound
  // Sends a piece at a time until a send fails, the server having closed;
  // the number sent.
  auto trickle = [](const std::function<bool(const std::string&)>& send,
                    const std::string& piece) {
    int sent = 0;
    for (; sent < kPieces && send(piece); ++sent) std::this_thread::sleep_for(300ms);
    return sent;
  };
  int sent = 0;
  {
    // A record header announcing a large handshake record, then its bytes
    // one at a time, each well within the read time-out.
    tlstest::TSocketPair pair;
    Serve(
        [&](tlstest::TTlsClient&, int fd) {
          tovktest::SendAll(fd, std::string("\x16\x03\x01\x40\x00", 5));
          sent = trickle([fd](const std::string& b) { return tovktest::SendAll(fd, b); }, "A");
          return std::string();
        },
        pair);
    EXPECT_LT(sent, kPieces / 2) << "the handshake was not cut";
  }
  {
    tlstest::TSocketPair pair;
    TServed served = Serve(
        [&](tlstest::TTlsClient& tls, int) {
          if (!tls.Handshake()) return std::string("no handshake");
          tls.Send("GET /a.txt HTTP/1.0\r\n");
          sent = trickle([&tls](const std::string& b) { return tls.Send(b); }, "X-Slow: 1\r\n");
          return tls.ReceiveAll(1s);
        },
        pair, kHeadSeconds);
    EXPECT_LT(sent, kPieces / 2) << "the head was not cut";
    EXPECT_EQ(served.Answer, "");
  }
  {
    // A byte every 300 ms falls behind 20 bytes a second once the grace of
    // 1 s is over, though each comes well within the read time-out.
    tlstest::TSocketPair pair;
    TServed served = Serve(
        [&](tlstest::TTlsClient& tls, int) {
          if (!tls.Handshake()) return std::string("no handshake");
          tls.Send("POST /a.txt HTTP/1.0\r\nContent-Length: 100\r\n\r\n");
          sent = trickle([&tls](const std::string& b) { return tls.Send(b); }, "b");
          return tls.ReceiveAll(1s);
        },
        pair, kRequestHeadTimeoutSeconds, [](TSvrHttpThread& connection) {
          connection.BodyGraceSeconds = 1;
          connection.BodyMinBytesPerSecond = 20;
        });
    EXPECT_LT(sent, kPieces / 2) << "the body was not cut";
    EXPECT_EQ(served.Answer, "");
  }
}

TEST_F(TlsConnection, AClientThatStopsReadingAFileLosesTheConnection) {
  TlsWriteTimeoutSeconds = 1;
  tovktest::WriteFile(Www + "/big.txt", std::string(8 << 20, 'f'));
  tlstest::TSocketPair pair(4096, 4096);
  TServed served = Serve(
      [](tlstest::TTlsClient& tls, int) {
        if (!tls.Handshake()) return std::string("no handshake");
        tls.Send("GET /big.txt HTTP/1.0\r\n\r\n");
        return std::string();  // and reads nothing until the thread has ended
      },
      pair);
  EXPECT_EQ(served.Answer, "");
}

}  // namespace
