// THTTPCGIReply driven directly: access checks, the CGI variables, the
// command line, the header block and the answer it sends.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "server/gateway/SvrHttpCGIReply.h"
#include "server/net/MD5.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/MainWin.h"
#include "tests/gateway/GatewayFixture.h"

namespace {

class CGIReply : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerSoftware = "1.0.7.0/tovksrv";
    gwtest::AllowExecution(Root.Path());
    for (const char* name : {"env.sh", "reply.pl", "stdin.py", "stderr.sh", "fail.sh", "slowid.py"})
      gwtest::CopyInto(gwtest::ScriptDir() + "/" + name, Root.Path());
  }

  std::string Doc(const std::string& name) const { return gwtest::Sys(Root / name); }

  std::unique_ptr<THTTPCGIReply> Interpreted(gwtest::TRequestContext& c, const std::string& program,
                                             const std::string& script, bool tls = false) {
    return PreparedReply<THTTPCGIReply>(c.Context(tls), program, Doc(script));
  }

  static std::string Status(const THTTPReply& reply, int16_t& code) {
    std::string text;
    reply.GetStatus(code, text);
    return text;
  }

  gwtest::TSettingsScope Scope;
  tovktest::TempDir Root;
};

TEST_F(CGIReply, PassesTheCGIVariablesInOrder) {
  gwtest::TRequestContext c;
  c.Request("GET /cgi/env.sh?a=b&c HTTP/1.0",
            "User-Agent: tester/1\nReferer: http://r/\nAccept: text/*\nAccept-Charset: utf-8\n"
            "Accept-Encoding: gzip\nAccept-Language: cs\nHost: example:8080\nCookie: k=v\n"
            "Content-Type: text/x-test\n");
  auto reply = Interpreted(c, "/bin/sh", "env.sh");
  int16_t code = 0;
  ASSERT_EQ(Status(*reply, code), "");
  ASSERT_EQ(code, 200);
  std::string expected =
      "CONTENT_LENGTH=0\nCONTENT_TYPE=text/x-test\nQUERY_STRING=a=b&c\n"
      "GATEWAY_INTERFACE=CGI/1.1\nSERVER_PROTOCOL=HTTP/1.0\nSERVER_SOFTWARE=1.0.7.0/tovksrv\n"
      "SERVER_PORT=8080\nSCRIPT_NAME=/cgi/env.sh\nREQUEST_METHOD=GET\n"
      "HTTP_USER_AGENT=tester/1\nHTTP_REFERER=http://r/\nHTTP_ACCEPT=text/*\n"
      "HTTP_ACCEPT_CHARSET=utf-8\nHTTP_ACCEPT_ENCODING=gzip\nHTTP_ACCEPT_LANGUAGE=cs\n"
      "HTTP_HOST=example:8080\nHTTP_COOKIE=k=v\n";
  std::string body = reply->GetBodyCopy()->Bytes();
  EXPECT_EQ(body.substr(0, expected.size()), expected);
  EXPECT_NE(body.find("\nPATH_TRANSLATED=" + Doc("env.sh") + "\n"), std::string::npos) << body;
  // The interpreter runs in the script's directory with the file name only.
  EXPECT_NE(body.find("ARG0=env.sh\nARGC=0\nARG1=\nPWD=" + Root.Path() + "\n"), std::string::npos)
      << body;
}

TEST_F(CGIReply, SendsTheProgramsContentTypeAndTheBodyLength) {
  gwtest::TRequestContext c;
  c.Request("GET /cgi/reply.pl HTTP/1.0");
  auto reply = Interpreted(c, "/usr/bin/perl", "reply.pl");
  reply->SendHeader();
  reply->SendBody();
  std::string answer = c.Received();
  std::string head = gwtest::ResponseHead(answer);
  EXPECT_EQ(head.substr(0, 17), "HTTP/1.0 200 OK\r\n");
  EXPECT_NE(head.find("Content-Type: text/html\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Content-Length: 16\r\n"), std::string::npos) << head;
  EXPECT_EQ(gwtest::ResponseBody(answer), "<p>crlf body</p>");
}

TEST_F(CGIReply, TakesALineFeedOnlyHeaderBlockAndIgnoresStatusAndLocation) {
  {
    gwtest::TRequestContext c;
    c.Request("GET /cgi/reply.pl?lf HTTP/1.0");
    auto reply = Interpreted(c, "/usr/bin/perl", "reply.pl");
    EXPECT_EQ(reply->GetBodyCopy()->Bytes(), "lf body");
    EXPECT_EQ(reply->Response().Get(rsContentType), "text/html");
  }
  {
    // The first empty line ends the block, however far off a CR LF CR LF is.
    gwtest::TRequestContext c;
    c.Request("GET /cgi/reply.pl?lfecho HTTP/1.0");
    auto reply = Interpreted(c, "/usr/bin/perl", "reply.pl");
    EXPECT_EQ(reply->GetBodyCopy()->Bytes(), "name\nSet-Cookie: x=1\r\n\r\nrest");
    EXPECT_EQ(reply->Response().Get(rsSetCookie), "");
  }
  {
    gwtest::TRequestContext c;
    c.Request("GET /cgi/reply.pl?redirect HTTP/1.0");
    auto reply = Interpreted(c, "/usr/bin/perl", "reply.pl");
    int16_t code = 0;
    Status(*reply, code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(reply->Response().Get(rsLocation), "");
    EXPECT_EQ(reply->GetBodyCopy()->Bytes(), "moved");
  }
  {
    // The second cookie wins; the program's length gives way to the real one.
    gwtest::TRequestContext c;
    c.Request("GET /cgi/reply.pl?cookies HTTP/1.0");
    auto reply = Interpreted(c, "/usr/bin/perl", "reply.pl");
    reply->SendHeader();
    std::string head = c.Received();
    EXPECT_NE(head.find("Set-Cookie: b=2\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("a=1"), std::string::npos) << head;
    EXPECT_NE(head.find("Content-Length: 11\r\n"), std::string::npos) << head;
  }
}

TEST_F(CGIReply, OutputWithoutAHeaderBlockGivesThe500Page) {
  for (const char* mode : {"none", "big"}) {
    gwtest::TRequestContext c;
    c.Request(std::string("GET /cgi/reply.pl?") + mode + " HTTP/1.0");
    auto reply = Interpreted(c, "/usr/bin/perl", "reply.pl");
    int16_t code = 0;
    std::string text = Status(*reply, code);
    EXPECT_EQ(code, 500) << mode;
    EXPECT_EQ(text.rfind("Skript nevrátil platnou hlavičku.<BR>Vrátil toto:<BR><PRE>", 0), 0u)
        << text;
    EXPECT_EQ(text.substr(text.size() - 6), "</PRE>");
    if (std::string(mode) == "none") {
      EXPECT_NE(text.find("<PRE>just text, no header</PRE>"), std::string::npos) << text;
    }
  }
}

TEST_F(CGIReply, StandardErrorGives500WithItsTextInThePage) {
  gwtest::TRequestContext c;
  c.Request("GET /cgi/stderr.sh HTTP/1.0");
  auto reply = Interpreted(c, "/bin/sh", "stderr.sh");
  int16_t code = 0;
  EXPECT_EQ(Status(*reply, code), "something went wrong");
  EXPECT_EQ(code, 500);

  gwtest::TRequestContext d;
  d.Request("GET /cgi/fail.sh HTTP/1.0");
  auto failed = Interpreted(d, "/bin/sh", "fail.sh");
  std::string text = Status(*failed, code);
  EXPECT_EQ(code, 500);
  EXPECT_NE(text.find("<PRE>broken script</PRE>"), std::string::npos) << text;
}

TEST_F(CGIReply, MissingProgramEndsInThe500PageNamingIt) {
  gwtest::TRequestContext c;
  c.Request("GET /cgi/env.sh HTTP/1.0");
  auto reply = Interpreted(c, "/usr/bin/no-such-interpreter", "env.sh");
  int16_t code = 0;
  std::string text = Status(*reply, code);
  EXPECT_EQ(code, 500);
  EXPECT_NE(text.find("<PRE>/usr/bin/no-such-interpreter</PRE>"), std::string::npos) << text;
}

TEST_F(CGIReply, StandAloneProgramGetsAnEmptyArgument) {
  gwtest::TRequestContext c;
  c.Request("GET /cgi/env.sh HTTP/1.0");
  THTTPCGIReply reply(c.Context(), Doc("env.sh"), "");
  reply.Prepare();
  std::string body = reply.GetBodyCopy()->Bytes();
  EXPECT_NE(body.find("ARG0=" + Root.Path() + "/env.sh\nARGC=0\nARG1=\nPWD="), std::string::npos)
      << body;
  EXPECT_NE(body.find("PATH_TRANSLATED=" + Doc("env.sh") + "\n"), std::string::npos) << body;
}

TEST_F(CGIReply, PostBodyGoesToStandardInputOnlyWithContentLength) {
  std::string payload(100000, 'p');
  for (std::size_t i = 0; i < payload.size(); i += 97) payload[i] = 'q';
  {
    gwtest::TRequestContext c;
    c.Request("POST /cgi/stdin.py HTTP/1.0", "Content-Length: 100000\n");
    c.Body.Write(payload);
    c.Body.Seek(1234);
    auto reply = Interpreted(c, "/usr/bin/python3", "stdin.py");
    EXPECT_EQ(reply->GetBodyCopy()->Bytes(),
              "LEN=100000\nMD5=" + MD5Hex(payload.data(), payload.size()) + "\n");
    EXPECT_EQ(c.Body.GetPosition(), 1234u);  // put back where it stood
  }
  {
    gwtest::TRequestContext c;
    c.Request("POST /cgi/env.sh HTTP/1.0");
    c.Body.Write(payload);
    auto reply = Interpreted(c, "/bin/sh", "env.sh");
    std::string body = reply->GetBodyCopy()->Bytes();
    EXPECT_EQ(body.rfind("CONTENT_LENGTH=0\n", 0), 0u) << body;
    EXPECT_NE(body.find("REQUEST_METHOD=POST\n"), std::string::npos);
  }
}

TEST_F(CGIReply, AccessFileDecidesWhetherTheProgramRuns) {
  auto statusOf = [&](bool tls, const std::string& authorization) {
    gwtest::TRequestContext c;
    c.Request("GET /cgi/env.sh?q HTTP/1.0",
              authorization.empty() ? "" : "Authorization: Basic " + authorization + "\n");
    auto reply = Interpreted(c, "/bin/sh", "env.sh", tls);
    int16_t code = 0;
    std::string text = Status(*reply, code);
    return std::to_string(code) + " " + text;
  };
  EXPECT_EQ(statusOf(true, ""), "403 /cgi/env.sh");  // a plain directory refuses TLS
  gwtest::AllowExecution(Root.Path(), true);
  EXPECT_EQ(statusOf(false, ""), "403 /cgi/env.sh");
  EXPECT_EQ(statusOf(true, ""), "200 ");

  tovktest::WriteFile(Root / "http.aut", "[ostatni]\r\nspoustet=0\r\n");
  EXPECT_EQ(statusOf(false, ""), "403 /cgi/env.sh");
  std::remove((Root / "http.aut").c_str());
  EXPECT_EQ(statusOf(false, ""), "403 /cgi/env.sh");

  gwtest::AllowExecution(Root.Path(), false, MD5HexString("dXNlcjpwdw=="));
  EXPECT_EQ(statusOf(false, ""), "401 /cgi/env.sh");
  EXPECT_EQ(statusOf(false, "d3Jvbmc6cHc="), "401 /cgi/env.sh");
  EXPECT_EQ(statusOf(false, "dXNlcjpwdw=="), "200 ");
}

TEST_F(CGIReply, ConcurrentRequestsEachGetTheirOwnOutput) {
  constexpr int kRequests = 20;
  std::vector<std::string> bodies(kRequests);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRequests; ++i) {
    threads.emplace_back([&, i] {
      gwtest::TRequestContext c;
      c.Request("GET /cgi/slowid.py?" + std::to_string(i) + " HTTP/1.0");
      THTTPCGIReply reply(c.Context(), "/usr/bin/python3", Doc("slowid.py"));
      reply.Prepare();
      auto copy = reply.GetBodyCopy();
      bodies[i] = copy ? copy->Bytes() : "";
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kRequests; ++i) {
    std::string expected;
    for (int k = 0; k < 200; ++k) expected += "id=" + std::to_string(i) + ";";
    EXPECT_EQ(bodies[i], expected) << "request " << i;
  }
}

TEST_F(CGIReply, ValuesAndFileNamesReachTheProgramWhole) {
  const std::string script =
      "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nARG0=%s\\n' \"$0\"\nenv\n";
  tovktest::WriteFile(Root / "a b.sh", script);
  tovktest::WriteFile(Root / "-x.sh", script);
  gwtest::TRequestContext c;
  // The reader refuses such bytes; the gateway must not depend on that.
  c.Request("GET /cgi/a%20b.sh HTTP/1.0",
            std::string("User-Agent: x") + '\0' + "PERL5OPT=-d" + '\0' +
                "PERL5DB=BEGIN{system(\"id\")}\nCookie: k=v=w\n");
  auto reply = Interpreted(c, "/bin/sh", "a b.sh");
  std::string body = reply->GetBodyCopy()->Bytes();
  EXPECT_EQ(body.rfind("ARG0=a b.sh\n", 0), 0u) << body;
  EXPECT_NE(body.find("\nHTTP_USER_AGENT=x\n"), std::string::npos) << body;
  EXPECT_NE(body.find("\nHTTP_COOKIE=k=v=w\n"), std::string::npos) << body;
  EXPECT_EQ(body.find("PERL5"), std::string::npos) << body;

  // A name that would read as an option is named through its directory.
  gwtest::TRequestContext d;
  d.Request("GET /cgi/-x.sh HTTP/1.0");
  EXPECT_EQ(Interpreted(d, "/bin/sh", "-x.sh")->GetBodyCopy()->Bytes().rfind("ARG0=./-x.sh\n", 0),
            0u);
}

}  // namespace
