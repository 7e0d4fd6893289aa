// CGI, SSI and ISAPI through the running server: a real registry, a
// document root, requests over loopback sockets.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/gateway/GatewayFixture.h"
#include "tests/support/ServerProcess.h"

namespace {

using tovktest::ServerProcess;

class GatewayServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string www = Server.DocRoot();
    tovktest::MakeDirs(www);
    gwtest::AllowExecution(www);
    gwtest::CopyInto(gwtest::ScriptDir() + "/env.sh", www, "env.cgi");
    gwtest::CopyInto(gwtest::ScriptDir() + "/stdin.py", www);
    gwtest::CopyInto(gwtest::ScriptDir() + "/slowid.py", www);
    gwtest::CopyInto(gwtest::ScriptDir() + "/reply.pl", www);
    gwtest::CopyInto(gwtest::ScriptDir() + "/fail.sh", www, "fail.cgi");
    for (const char* ext : {"headerbody", "throws"})
      gwtest::CopyInto(gwtest::ExtensionDir() + "/" + ext + ".dll", www);
    // The preloaded library lives outside the document root.
    tovktest::MakeDirs(Server.Dir() / "lib");
    Preloaded = gwtest::CopyInto(gwtest::ExtensionDir() + "/support.dll", Server.Dir() / "lib");
    tovktest::WriteFile(www + "/page.isx", "script");
    tovktest::WriteFile(www + "/part.txt", "static part");
    tovktest::WriteFile(www + "/page.shtml",
                        "<h1><!--#echo var=\"DOCUMENT_NAME\" --></h1>\n"
                        "<!--#include virtual=\"/part.txt\" -->\n"
                        "<!--#include virtual=\"/reply.pl?lf\" -->\n"
                        "<!--#include virtual=\"/fail.cgi\" -->\n");
    std::string apps[] = {"cgi,TOVK/EXEC", "dll,TOVK/ISAPI", "shtml,TOVK/SSI",
                          "py,/usr/bin/python3", "pl,/usr/bin/perl",
                          "isx," + ServerProcess::SystemPath(Preloaded)};
    std::string config = Server.BaseConfig() + "\"App num\"=dword:00000006\n";
    for (int i = 0; i < 6; ++i)
      config += "\"App " + std::to_string(i + 1) + "\"=\"" + ServerProcess::RegEscape(apps[i]) + "\"\n";
    ASSERT_TRUE(Server.ImportReg(config)) << Server.LastToolOutput;
    ASSERT_TRUE(Server.Start()) << Server.Output();
  }

  std::string Get(const std::string& request) {
    return tovktest::HttpExchange(Server.Port(), request);
  }

  ServerProcess Server;
  std::string Preloaded;
};

TEST_F(GatewayServer, ServesCGIWithTheRequestInItsVariables) {
  std::string answer = Get("GET /env.cgi?x=1 HTTP/1.0\r\nUser-Agent: e2e\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("Content-Type: text/plain\r\n"), std::string::npos) << answer;
  std::string body = gwtest::ResponseBody(answer);
  EXPECT_NE(body.find("QUERY_STRING=x=1\n"), std::string::npos) << body;
  EXPECT_NE(body.find("SERVER_PORT=" + std::to_string(Server.Port()) + "\n"), std::string::npos);
  EXPECT_NE(body.find("REMOTE_ADDR=127.0.0.1\n"), std::string::npos) << body;
  EXPECT_NE(body.find("HTTP_USER_AGENT=e2e\n"), std::string::npos) << body;
  EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);

  std::string head = Get("HEAD /env.cgi HTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << head;
  EXPECT_EQ(gwtest::ResponseBody(head), "");
  // The mapped path holds no "/", so extra path after a program finds nothing.
  EXPECT_EQ(Get("GET /env.cgi/more HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 404", 0), 0u);
}

TEST_F(GatewayServer, PostBodyReachesTheInterpreter) {
  std::string payload(100000, 'z');
  std::string answer = Get("POST /stdin.py HTTP/1.0\r\nContent-Length: 100000\r\n\r\n" + payload);
  EXPECT_NE(answer.find("LEN=100000\n"), std::string::npos) << answer.substr(0, 400);
}

TEST_F(GatewayServer, FailingScriptGivesThe500Page) {
  std::string answer = Get("GET /fail.cgi HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 500", 0), 0u) << answer;
  EXPECT_NE(answer.find("broken script"), std::string::npos) << answer;
}

TEST_F(GatewayServer, SSIPageCombinesEveryKindOfInclude) {
  std::string answer = Get("GET /page.shtml HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  std::string body = gwtest::ResponseBody(answer);
  EXPECT_EQ(body.rfind("<h1>page.shtml</h1>\r\nstatic part\r\nlf body\r\n[", 0), 0u) << body;
  EXPECT_NE(body.find(" 500 \""), std::string::npos) << body;
  EXPECT_NE(Server.AccessLog().find("\"GET /page.shtml HTTP/1.0\" 200"), std::string::npos)
      << Server.AccessLog();
}

TEST_F(GatewayServer, ExtensionsRunAndAThrowingOneLeavesTheServerServing) {
  std::string answer = Get("GET /headerbody.dll HTTP/1.0\r\n\r\n");
  EXPECT_NE(answer.find("Content-Type: text/plain\r\n"), std::string::npos) << answer;
  EXPECT_EQ(gwtest::ResponseBody(answer), "hello from extension");

  EXPECT_EQ(Get("GET /throws.dll HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 500", 0), 0u);
  EXPECT_TRUE(Server.Running());
  EXPECT_EQ(gwtest::ResponseBody(Get("GET /headerbody.dll HTTP/1.0\r\n\r\n")),
            "hello from extension");

  std::string mapped = Get("GET /page.isx HTTP/1.0\r\n\r\n");
  EXPECT_EQ(mapped.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << mapped;
  EXPECT_NE(mapped.find("1001=1:" + ServerProcess::SystemPath(Server.DocRoot()) + "\\page.isx\n"),
            std::string::npos)
      << mapped;
}

TEST_F(GatewayServer, ConcurrentCGIRequestsEachGetTheirOwnOutput) {
  constexpr int kRequests = 20;
  std::vector<std::string> answers(kRequests);
  std::vector<std::thread> clients;
  for (int i = 0; i < kRequests; ++i) {
    clients.emplace_back([&, i] {
      answers[i] = Get("GET /slowid.py?" + std::to_string(i) + " HTTP/1.0\r\n\r\n");
    });
  }
  for (std::thread& t : clients) t.join();
  for (int i = 0; i < kRequests; ++i) {
    std::string expected;
    for (int k = 0; k < 200; ++k) expected += "id=" + std::to_string(i) + ";";
    EXPECT_EQ(gwtest::ResponseBody(answers[i]), expected) << "request " << i;
  }
}

}  // namespace
