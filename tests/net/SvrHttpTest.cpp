#include <sys/socket.h>
#include <sys/time.h>
#include "server/net/SvrHttp.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "server/net/SvrMain.h"
#include "server/reply/SvrSetupHolder.h"
#include "tests/net/NetTestPair.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

// A document root served through the settings the connection thread sees
// when no configuration is loaded (the holder's idle values).
class ConnectionThread : public ::testing::Test {
 protected:
  void SetUp() override {
    Www = Dir / "www";
    tovktest::MakeDirs(Www + "/sub");
    tovktest::MakeDirs(Www + "/listed");
    tovktest::MakeDirs(Www + "/docs");
    tovktest::WriteFile(Www + "/a.txt", "hello");
    tovktest::WriteFile(Www + "/sub/index.html", "<p>index</p>");
    tovktest::WriteFile(Www + "/secret.txt", "outside docs");
    tovktest::WriteFile(Dir / "secret.txt", "outside the root");
    TSvrSetupHolder& s = Settings();
    s.AliasTable = {"* (HTTP),/," + ToSystemPath(Www) + "\\",
                    "* (HTTP),/docs," + ToSystemPath(Www + "/docs") + "\\"};
    s.AppTable.clear();
    s.VirtTable.clear();
    s.MimeTable.clear();
    s.DefaultDocuments = {"index.html"};
    s.KeepAlive = false;
  }
  void TearDown() override {
    Settings().AliasTable.clear();
    Settings().KeepAlive = false;
    RequestBodyBudgetBytes = kRequestBodyBudgetBytes;
  }

  struct TResult {
    std::string Answer;
    std::string Body;  // what the thread read as the request body
    std::string UserName;
  };

  // Serves one connection: the client sends the bytes (in pieces, with a
  // pause between them) and reads until the server closes.
  TResult Serve(const std::vector<std::string>& pieces,
                const std::function<void(TSvrHttpThread&)>& tune = {}) {
    nettest::TLoopbackPair pair;
    const uint16_t before = ActiveConnections.load();
    auto connection = std::make_unique<TSvrHttpThread>(pair.Server, false, 7);
    EXPECT_EQ(ActiveConnections.load(), before + 1);
    connection->LineTimeoutSeconds = 1;
    connection->BodyIdleSeconds = 1;
    if (tune) tune(*connection);
    std::thread runner([&] { connection->Execute(); });
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(50ms);
      tovktest::SendAll(pair.Client, pieces[i]);
    }
    TResult result;
    result.Answer = tovktest::ReceiveAll(pair.Client, 10s);
    // Done with the reply, the client closes, as a browser does; a server
    // draining what it left unread sees that end at once.
    ::shutdown(pair.Client, SHUT_WR);
    runner.join();
    EXPECT_EQ(ActiveConnections.load(), before) << "the count goes back when the connection ends";
    EXPECT_FALSE(connection->Socket) << "the socket is closed and freed";
    result.Body = connection->Body.Bytes();
    result.UserName = connection->Header.UserName;
    return result;
  }
  std::string Get(const std::string& request) { return Serve({request}).Answer; }

  static std::string StatusLine(const std::string& answer) {
    return answer.substr(0, answer.find("\r\n"));
  }

  tovktest::TempDir Dir;
  std::string Www;
};

TEST_F(ConnectionThread, ServesAFileAndHeadWithoutBody) {
  std::string answer = Get("GET /a.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.0 200 OK");
  EXPECT_EQ(answer.substr(answer.size() - 5), "hello");
  answer = Get("HEAD /a.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.0 200 OK");
  EXPECT_EQ(answer.find("hello"), std::string::npos) << answer;
}

TEST_F(ConnectionThread, ParentSegmentsAndBackslashesCannotClimb) {
  EXPECT_EQ(StatusLine(Get("GET /../secret.txt HTTP/1.0\r\n\r\n")).substr(0, 12), "HTTP/1.0 403");
  EXPECT_EQ(StatusLine(Get("GET /sub/../a.txt HTTP/1.0\r\n\r\n")), "HTTP/1.0 200 OK")
      << "a climb inside the root is served";
  for (const char* url : {"/sub\\..\\..\\secret.txt", "/sub%5C..%5C..%5Csecret.txt",
                          "\\..\\secret.txt", "/docs../secret.txt", "/docs..\\secret.txt"}) {
    std::string answer = Get(std::string("GET ") + url + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusLine(answer).substr(0, 12), "HTTP/1.0 403") << url << ": " << answer;
    EXPECT_EQ(answer.find("outside"), std::string::npos) << url;
  }
}

TEST_F(ConnectionThread, ControlBytesInTheUrlAreRefused) {
  for (const char* url : {"/a%0D%0ALocation:%20http://x/", "/a.txt%00.html", "/a%7F", "/a\x01"}) {
    std::string answer = Get(std::string("GET ") + url + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(StatusLine(answer).substr(0, 12), "HTTP/1.0 400") << url << ": " << answer;
  }
  // The same escape in a directory redirection would have split the header.
  tovktest::MakeDirs(Www + "/d\r\nX-Injected: 1");
  std::string answer = Get("GET /d%0D%0AX-Injected:%201 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.find("\r\nX-Injected"), std::string::npos) << answer;
}

TEST_F(ConnectionThread, ReplyChoiceRows) {
  Settings().AliasTable.push_back("other.example (HTTP),/,\\nowhere\\");
  EXPECT_EQ(StatusLine(Get("BREW /a.txt HTTP/1.0\r\n\r\n")).substr(0, 12), "HTTP/1.0 501");
  EXPECT_EQ(StatusLine(Get("GET /missing.txt HTTP/1.0\r\n\r\n")).substr(0, 12), "HTTP/1.0 404");

  std::string answer = Get("GET /sub HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(answer).substr(0, 12), "HTTP/1.0 301") << "default document, no slash";
  EXPECT_NE(answer.find("Location: /sub/\r\n"), std::string::npos) << answer;
  answer = Get("GET /sub/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(answer), "HTTP/1.0 200 OK");
  EXPECT_NE(answer.find("<p>index</p>"), std::string::npos);

  answer = Get("GET /listed HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(answer).substr(0, 12), "HTTP/1.0 301") << "listing, no slash";
  EXPECT_NE(answer.find("Location: /listed/\r\n"), std::string::npos) << answer;
  EXPECT_EQ(StatusLine(Get("GET /listed/ HTTP/1.0\r\n\r\n")), "HTTP/1.0 200 OK");

  Settings().AliasTable.clear();
  EXPECT_EQ(StatusLine(Get("GET /a.txt HTTP/1.0\r\n\r\n")).substr(0, 12), "HTTP/1.0 404")
      << "nothing maps";
}

TEST_F(ConnectionThread, InterpreterThatIsMissingGives500) {
  Settings().AppTable = {"zz,/no/such/interpreter"};
  tovktest::WriteFile(Www + "/x.zz", "script");
  std::string answer = Get("GET /x.zz HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(answer).substr(0, 12), "HTTP/1.0 500") << answer;
  Settings().AppTable = {"zz,tovk/nothing"};
  answer = Get("GET /x.zz HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(answer).substr(0, 12), "HTTP/1.0 404") << answer;
  Settings().AppTable.clear();
}

TEST_F(ConnectionThread, BodyIsReadForPostOnly) {
  TResult r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: 5\r\n\r\n", "abcde"});
  EXPECT_EQ(r.Body, "abcde");
  EXPECT_NE(StatusLine(r.Answer), "");
  // The GET in the URL does not make it a GET.
  r = Serve({"POST /GET/a.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nxyz"});
  EXPECT_EQ(r.Body, "xyz");
  r = Serve({"GET /a.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nxyz"});
  EXPECT_EQ(r.Body, "") << "a GET body is not read";
}

TEST_F(ConnectionThread, BadContentLengthAndTooManyLinesGet400) {
  TResult r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: 12abc\r\n\r\nbody"});
  EXPECT_EQ(StatusLine(r.Answer).substr(0, 12), "HTTP/1.0 400") << r.Answer;
  EXPECT_EQ(r.Body, "");

  std::string request = "GET /a.txt HTTP/1.0\r\n";
  for (int i = 0; i < 300; ++i) request += "X-Filler-" + std::to_string(i) + ": x\r\n";
  r = Serve({request + "\r\n"});
  EXPECT_EQ(StatusLine(r.Answer).substr(0, 12), "HTTP/1.0 400") << r.Answer;

  request = "GET /a.txt HTTP/1.0\r\n";
  for (int i = 0; i < 250; ++i) request += "X-Filler-" + std::to_string(i) + ": x\r\n";
  EXPECT_EQ(StatusLine(Get(request + "\r\n")), "HTTP/1.0 200 OK") << "251 lines are fine";
}

TEST_F(ConnectionThread, OversizedBodyGets413WithoutBeingRead) {
  TResult r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: " +
                     std::to_string(kMaxRequestBodyBytes + 1) + "\r\n\r\nstart"});
  EXPECT_EQ(StatusLine(r.Answer).substr(0, 12), "HTTP/1.0 413") << r.Answer;
  EXPECT_EQ(r.Body, "");
  r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: 99999999999999999999999\r\n\r\n"});
  EXPECT_EQ(StatusLine(r.Answer).substr(0, 12), "HTTP/1.0 413") << r.Answer;
}

TEST_F(ConnectionThread, StalledBodyEndsTheConnectionWithoutReply) {
  TResult r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc"});
  EXPECT_EQ(r.Answer, "");
}

TEST_F(ConnectionThread, BodyBehindItsPaceIsCutWithoutReply) {
  // Grace 1 s, then at least 100 bytes a second on average.
  auto paced = [](nettest::TLoopbackPair& pair) {
    auto connection = std::make_unique<TSvrHttpThread>(pair.Server, false, 11);
    connection->BodyIdleSeconds = 5;  // longer than any pause below
    connection->BodyGraceSeconds = 1;
    connection->BodyMinBytesPerSecond = 100;
    return connection;
  };
  {
    // A byte every 200 ms: never idle, but far behind.
    nettest::TLoopbackPair pair;
    auto connection = paced(pair);
    std::thread runner([&] { connection->Execute(); });
    tovktest::SendAll(pair.Client, "POST /a.txt HTTP/1.0\r\nContent-Length: 100\r\n\r\n");
    constexpr int kBytes = 40;  // 8 s at this pace, eight times the grace
    int sent = 0;
    bool closed = false;
    for (; sent < kBytes && !closed; ++sent) {
      closed = pair.ServerClosed(200);
      if (!closed) tovktest::SendAll(pair.Client, "b");
    }
    runner.join();
    EXPECT_TRUE(closed) << "still connected after " << sent << " bytes";
    EXPECT_LT(sent, kBytes / 2);
    EXPECT_EQ(tovktest::ReceiveAll(pair.Client, 1s), "") << "a cut body gets no reply";
  }
  {
    // A body that keeps its pace is read whole...
    nettest::TLoopbackPair pair;
    auto connection = paced(pair);
    std::thread runner([&] { connection->Execute(); });
    tovktest::SendAll(pair.Client, "POST /a.txt HTTP/1.0\r\nContent-Length: 210\r\n\r\n");
    for (int part = 0; part < 7; ++part) {
      tovktest::SendAll(pair.Client, std::string(30, 'a'));
      std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(StatusLine(tovktest::ReceiveAll(pair.Client, 10s)), "HTTP/1.0 200 OK");
    ::shutdown(pair.Client, SHUT_WR);
    runner.join();
    EXPECT_EQ(connection->Body.Size(), 210u);
  }
  {
    // ...but bytes sent ahead buy no more than the grace: 2000 bytes at
    // once would be 20 s at this pace, and a pause of 3 s still cuts it.
    nettest::TLoopbackPair pair;
    auto connection = paced(pair);
    std::thread runner([&] { connection->Execute(); });
    tovktest::SendAll(pair.Client, "POST /a.txt HTTP/1.0\r\nContent-Length: 2010\r\n\r\n" +
                                       std::string(2000, 'a'));
    const bool closed = pair.ServerClosed(3000);
    runner.join();
    EXPECT_TRUE(closed) << "a body that stopped after a burst kept its connection";
    EXPECT_EQ(tovktest::ReceiveAll(pair.Client, 1s), "") << "a cut body gets no reply";
  }
}

TEST_F(ConnectionThread, RefusalReachesAClientThatSentMoreAndEndsWithoutReset) {
  nettest::TLoopbackPair pair;
  auto connection = std::make_unique<TSvrHttpThread>(pair.Server, false, 12);
  connection->LingerSeconds = 10;  // the client below closes long before
  std::thread runner([&] { connection->Execute(); });
  // The control byte is refused at the first line; the rest is never read.
  tovktest::SendAll(pair.Client, "GET /a.txt\x01 HTTP/1.0\r\nX-Pad: " + std::string(16384, 'x'));
  std::this_thread::sleep_for(100ms);
  tovktest::SendAll(pair.Client, std::string(4096, 'y') + "\r\n\r\n");
  std::this_thread::sleep_for(300ms);
  // Read to the end by hand, to see how the connection ends: a reset (the
  // server closing on unread bytes) can destroy a reply not yet read. Here
  // the reply waits unread until the server has ended its side.
  const timeval patience{10, 0};
  ::setsockopt(pair.Client, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  std::string answer;
  int endError = -1;
  char piece[4096];
  for (int reads = 0; reads < 1000; ++reads) {
    const ssize_t got = ::recv(pair.Client, piece, sizeof piece, 0);
    if (got <= 0) {
      endError = got == 0 ? 0 : errno;
      break;
    }
    answer.append(piece, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(StatusLine(answer).substr(0, 12), "HTTP/1.0 400") << answer;
  EXPECT_NE(answer.find("</BODY>"), std::string::npos) << "the page came whole: " << answer;
  EXPECT_EQ(endError, 0) << std::strerror(endError);
  // After a reset a send fails at once; the server is still taking input.
  EXPECT_EQ(::send(pair.Client, "late", 4, MSG_NOSIGNAL), 4)
      << "the connection was reset: " << std::strerror(errno);
  ::shutdown(pair.Client, SHUT_WR);
  runner.join();
}

TEST_F(ConnectionThread, BodyCutShortByThePeerGetsNoReply) {
  nettest::TLoopbackPair pair;
  auto connection = std::make_unique<TSvrHttpThread>(pair.Server, false, 8);
  connection->LineTimeoutSeconds = 1;
  connection->BodyIdleSeconds = 5;
  std::thread runner([&] { connection->Execute(); });
  tovktest::SendAll(pair.Client, "POST /a.txt HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc");
  ::shutdown(pair.Client, SHUT_WR);  // the client gives up half-way through its body
  std::string answer = tovktest::ReceiveAll(pair.Client, 10s);
  runner.join();
  EXPECT_EQ(answer, "") << "a reply was built on 3 of the 10 announced bytes";
}

TEST_F(ConnectionThread, RequestsThatAreNotReadGetNoReply) {
  EXPECT_EQ(Get("\r\nGET /a.txt HTTP/1.0\r\n\r\n"), "") << "an empty line first";
  EXPECT_EQ(Get("GET /a.txt HTTP/1.0\r\n"), "") << "no empty line within the time-out";
  EXPECT_EQ(Get("GET /" + std::string(400, 'a') + " HTTP/1.0\r\n\r\n"), "")
      << "a line too long for the 10 attempts of a 1 s time-out";
}

TEST_F(ConnectionThread, ConnectionCloseIsAnsweredThenClosed) {
  Settings().KeepAlive = true;
  TResult r = Serve({"GET /a.txt HTTP/1.0\r\nConnection: close\r\n\r\n",
                     "GET /a.txt HTTP/1.0\r\n\r\n"});
  EXPECT_EQ(StatusLine(r.Answer), "HTTP/1.0 200 OK");
  EXPECT_EQ(r.Answer.find("HTTP/1.0", 1), std::string::npos) << "only one reply: " << r.Answer;
}

TEST_F(ConnectionThread, KeepAliveServesSeveralRequestsWhenSwitchedOn) {
  const std::string keep = "GET /a.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n";
  auto count = [](const std::string& answer) {
    int n = 0;
    for (std::size_t at = answer.find("HTTP/1.0 200"); at != std::string::npos;
         at = answer.find("HTTP/1.0 200", at + 1))
      ++n;
    return n;
  };
  Settings().KeepAlive = true;
  EXPECT_EQ(count(Serve({keep, keep, "GET /a.txt HTTP/1.0\r\n\r\n", keep}).Answer), 3)
      << "the third request did not ask to be kept alive";
  TResult r = Serve({"GET /a.txt HTTP/1.0\r\nAuthorization: Basic Ym9iOnB3\r\n"
                     "Connection: Keep-Alive\r\n\r\n",
                     "GET /a.txt HTTP/1.0\r\n\r\n"});
  EXPECT_EQ(count(r.Answer), 2);
  EXPECT_EQ(r.UserName, "") << "the second request named no user";
  EXPECT_EQ(count(Serve({"GET /a.txt HTTP/1.0\r\nUser-Agent: Connection: close\r\n"
                         "Connection: Keep-Alive\r\n\r\n",
                         keep})
                      .Answer),
            2)
      << "only the Connection header closes";
  Settings().KeepAlive = false;
  EXPECT_EQ(count(Serve({keep, keep}).Answer), 1) << "keep-alive switched off";
}

TEST_F(ConnectionThread, ControlBytesInHeadLinesGet400AndEndTheConnection) {
  Settings().KeepAlive = true;
  const std::string nul(1, '\0');
  const std::string next = "GET /a.txt HTTP/1.0\r\n\r\n";
  for (const std::string& bad : std::vector<std::string>{
           "GET /a.txt HTTP/1.0\r\nUser-Agent: x" + nul + "PERL5OPT=-d\r\n",
        "GET /a.txt HTTP/1.0\r\nX-A: lone\rcarriage\r\n", "GET /a.txt HTTP/1.0\r\nX-A: \x7f\r\n",
        "GET /a.txt\x01 HTTP/1.0\r\n", "GET /a.txt HTTP/1.0\r\nX-A: a\nb\r\n"}) {
    TResult r = Serve({bad + "Connection: Keep-Alive\r\n\r\n" + next});
    EXPECT_EQ(StatusLine(r.Answer).substr(0, 12), "HTTP/1.0 400") << r.Answer;
    EXPECT_EQ(r.Answer.find("HTTP/1.0", 1), std::string::npos) << "answered after the refusal";
  }
  // Tabs and the letters of Windows-1250 are text.
  EXPECT_EQ(StatusLine(Get("GET /a.txt HTTP/1.0\r\nUser-Agent:\tP\xf8\xedli\x9a\r\n\r\n")),
            "HTTP/1.0 200 OK");
}

TEST_F(ConnectionThread, OnlyTheContentLengthHeaderFramesTheBody) {
  TResult r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: 2\r\nX-Content-Length: 200\r\n"
                     "User-Agent: Content-Length: 9\r\n\r\nab"});
  EXPECT_EQ(r.Body, "ab");
  EXPECT_EQ(StatusLine(r.Answer), "HTTP/1.0 200 OK") << r.Answer;
  r = Serve({"POST /a.txt HTTP/1.0\r\ncontent-length:3\r\nContent-Length: 3\r\n\r\nxyz"});
  EXPECT_EQ(r.Body, "xyz") << "any letter case, and the same length twice";

  auto status = [&](const std::string& head) {
    TResult refused = Serve({head + "\r\nbody"});
    EXPECT_EQ(refused.Body, "") << head;
    return StatusLine(refused.Answer).substr(0, 12);
  };
  EXPECT_EQ(status("POST /a.txt HTTP/1.0\r\nContent-Length: 4\r\nContent-Length: 40\r\n"),
            "HTTP/1.0 400");
  EXPECT_EQ(status("POST /a.txt HTTP/1.0\r\nContent-Length : 4\r\n"), "HTTP/1.0 400");
  EXPECT_EQ(status("POST /a.txt HTTP/1.0\r\nTransfer-Encoding: chunked\r\nContent-Length: 4\r\n"),
            "HTTP/1.0 501");
  EXPECT_EQ(status("GET /a.txt HTTP/1.0\r\ntransfer-encoding: identity\r\n"), "HTTP/1.0 501");
}

TEST_F(ConnectionThread, KeptAliveConnectionsNeverReadABodyAsARequest) {
  Settings().KeepAlive = true;
  const std::string keep = "Connection: Keep-Alive\r\n";
  const std::string second = "GET /sub/ HTTP/1.0\r\n\r\n";
  // A GET body is not read, so the connection ends after its reply.
  TResult r = Serve({"GET /a.txt HTTP/1.0\r\n" + keep + "Content-Length: 23\r\n\r\n" + second});
  EXPECT_EQ(r.Answer.find("HTTP/1.0", 1), std::string::npos) << r.Answer;
  EXPECT_EQ(r.Answer.find("<p>index</p>"), std::string::npos) << "the body was served as a request";
  // A POST body is read to its announced end, and not a byte further.
  r = Serve({"POST /a.txt HTTP/1.0\r\n" + keep + "Content-Length: 5\r\n\r\nabcde" + second});
  EXPECT_NE(r.Answer.find("<p>index</p>"), std::string::npos) << r.Answer;
  // An error page has no length: only the connection's end tells where it ends.
  r = Serve({"GET /missing.txt HTTP/1.0\r\n" + keep + "\r\n" + second});
  EXPECT_EQ(StatusLine(r.Answer).substr(0, 12), "HTTP/1.0 404");
  EXPECT_EQ(r.Answer.find("<p>index</p>"), std::string::npos) << r.Answer;
}

TEST_F(ConnectionThread, HeadDribbledALineAtATimeIsCutAtTheHeadBound) {
  nettest::TLoopbackPair pair;
  auto connection = std::make_unique<TSvrHttpThread>(pair.Server, false, 9);
  connection->LineTimeoutSeconds = 2;  // every line below comes well within it
  connection->HeadTimeoutSeconds = 3;
  std::thread runner([&] { connection->Execute(); });
  constexpr int kLines = 12;  // a line a second: four times the head bound
  int sent = 0;
  bool closed = false;
  tovktest::SendAll(pair.Client, "GET /a.txt HTTP/1.0\r\n");
  for (; sent < kLines && !closed; ++sent) {
    closed = pair.ServerClosed(1000);
    if (!closed) tovktest::SendAll(pair.Client, "X-Slow: " + std::to_string(sent) + "\r\n");
  }
  runner.join();
  EXPECT_TRUE(closed) << "still connected after " << sent << " lines";
  EXPECT_LT(sent, kLines / 2);
}

TEST_F(ConnectionThread, BodiesOfAllConnectionsShareOneBudgetOfBytesReceived) {
  RequestBodyBudgetBytes = 10;
  const long long heldBefore = RequestBodyBytesHeld.load();
  auto waitHeld = [&](long long wanted) {
    for (int i = 0; i < 200 && RequestBodyBytesHeld.load() != heldBefore + wanted; ++i)
      std::this_thread::sleep_for(10ms);
    return RequestBodyBytesHeld.load() - heldBefore;
  };
  // Two bodies on their way: announced 8 and 7, of which 3 and 4 came.
  struct THolder {
    nettest::TLoopbackPair Pair;
    std::unique_ptr<TSvrHttpThread> Connection;
    std::thread Runner;
  };
  THolder a, b;
  for (THolder* h : {&a, &b}) {
    h->Connection = std::make_unique<TSvrHttpThread>(h->Pair.Server, false, 10);
    h->Connection->BodyIdleSeconds = 10;
    h->Runner = std::thread([h] { h->Connection->Execute(); });
  }
  tovktest::SendAll(a.Pair.Client, "POST /a.txt HTTP/1.0\r\nContent-Length: 8\r\n\r\nabc");
  EXPECT_EQ(waitHeld(3), 3) << "only the bytes received are held";
  tovktest::SendAll(b.Pair.Client, "POST /a.txt HTTP/1.0\r\nContent-Length: 7\r\n\r\n1234");
  EXPECT_EQ(waitHeld(7), 7);

  // A body that could not be held whole beside them is refused unread; one
  // that could is served, however much the others announced.
  TResult r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: 4\r\n\r\nwxyz"});
  EXPECT_EQ(StatusLine(r.Answer).substr(0, 12), "HTTP/1.0 503") << r.Answer;
  EXPECT_EQ(r.Body, "") << "a refused body is not read";
  r = Serve({"POST /a.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nxyz"});
  EXPECT_EQ(StatusLine(r.Answer), "HTTP/1.0 200 OK") << "what is left of the budget is used";
  EXPECT_EQ(waitHeld(7), 7) << "a finished request gives its share back";

  // B's next bytes fill the budget, so A finds it spent part of the way.
  tovktest::SendAll(b.Pair.Client, "56");
  EXPECT_EQ(waitHeld(9), 9);
  tovktest::SendAll(a.Pair.Client, "defgh");
  EXPECT_EQ(StatusLine(tovktest::ReceiveAll(a.Pair.Client, 10s)).substr(0, 12), "HTTP/1.0 503");
  ::shutdown(a.Pair.Client, SHUT_WR);
  a.Runner.join();
  EXPECT_EQ(waitHeld(6), 6) << "the refused body's share goes back at once";
  tovktest::SendAll(b.Pair.Client, "7");
  EXPECT_EQ(StatusLine(tovktest::ReceiveAll(b.Pair.Client, 10s)), "HTTP/1.0 200 OK");
  b.Runner.join();
  EXPECT_EQ(b.Connection->Body.Bytes(), "1234567");
  EXPECT_EQ(RequestBodyBytesHeld.load(), heldBefore) << "the shares go back with the connections";
}

TEST(ConnectionSpawn, ThreadServesAndFreesItself) {
  nettest::TLoopbackPair pair;
  const uint16_t before = ActiveConnections.load();
  ASSERT_TRUE(TSvrHttpThread::Spawn(pair.Server, false, 1));
  tovktest::SendAll(pair.Client, "\r\n");  // no request: the thread ends at once
  EXPECT_TRUE(pair.ServerClosed(5000));
  for (int i = 0; i < 200 && ActiveConnections.load() != before; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(ActiveConnections.load(), before);
}

}  // namespace

namespace {

// The chunk reader of TLS connections works on any socket; here it reads
// from a plain one, which shows how it splits what arrives.
struct TChunkReader {
  nettest::TLoopbackPair Pair;
  TSvrHttpThread Connection{Pair.Server, true, 3};
  TChunkReader() {
    Connection.Socket = std::make_unique<TSvrSocket>();
    Connection.Socket->Attach(Pair.Server, true);
  }
  ~TChunkReader() {
    Connection.Socket->Close();
    --ActiveConnections;  // Execute, which would lower it, does not run here
  }
};

TEST(ChunkReader, SplitsLinesAndTakesTheAnnouncedBody) {
  TChunkReader r;
  tovktest::SendAll(r.Pair.Client, "POST /f HTTP/1.0\r\nContent-Length: 4\r\nHost: h\r\n\r\nbody");
  ASSERT_TRUE(r.Connection.ReadRequestTLS());
  ASSERT_EQ(r.Connection.Lines.size(), 3u);
  EXPECT_EQ(r.Connection.Lines[0], "POST /f HTTP/1.0");
  EXPECT_EQ(r.Connection.Lines[2], "Host: h");
  EXPECT_EQ(r.Connection.Body.Bytes(), "body");
}

TEST(ChunkReader, BodyArrivingLaterIsCollectedAndGetEndsAtTheEmptyLine) {
  TChunkReader r;
  tovktest::SendAll(r.Pair.Client, "POST /f HTTP/1.0\r\nContent-Length: 6\r\n\r\n");
  std::thread later([&] {
    std::this_thread::sleep_for(50ms);
    tovktest::SendAll(r.Pair.Client, "abcdef");
  });
  ASSERT_TRUE(r.Connection.ReadRequestTLS());
  later.join();
  EXPECT_EQ(r.Connection.Body.Bytes(), "abcdef");

  TChunkReader g;
  tovktest::SendAll(g.Pair.Client, "GET / HTTP/1.0\r\nAccept: */*\r\n\r\n");
  ASSERT_TRUE(g.Connection.ReadRequestTLS());
  EXPECT_EQ(g.Connection.Lines.size(), 2u);
  EXPECT_EQ(g.Connection.Body.Bytes(), "");
}

TEST(ChunkReader, OversizedAndBadLengthsAreRefused) {
  TChunkReader r;
  tovktest::SendAll(r.Pair.Client, "POST /f HTTP/1.0\r\nContent-Length: 999999999999\r\n\r\nxx");
  ASSERT_TRUE(r.Connection.ReadRequestTLS());
  EXPECT_EQ(r.Connection.ReaderStatus, 413);
  EXPECT_TRUE(r.Connection.CloseAfterReply);
  EXPECT_EQ(r.Connection.Body.Bytes(), "");

  TChunkReader b;
  tovktest::SendAll(b.Pair.Client, "POST /f HTTP/1.0\r\nContent-Length: -1\r\n\r\n");
  ASSERT_TRUE(b.Connection.ReadRequestTLS());
  EXPECT_EQ(b.Connection.ReaderStatus, 400);
}

}  // namespace
