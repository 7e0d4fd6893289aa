// CGI, SSI and ISAPI through the running server: a real registry, a
// document root, requests over loopback sockets.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
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

TEST_F(GatewayServer, AScriptsHeadersCannotBreakTheFramingOrTheConnection) {
  const std::string script = Server.DocRoot() + "/smuggle.cgi";
  tovktest::WriteFile(script,
                      "#!/bin/sh\nprintf 'Content-Type: text/html\\r\\rSet-Cookie: evil=1\\r\\n"
                      "Transfer-Encoding: chunked\\r\\nConnection: keep-alive\\r\\n"
                      "Pragma: a\\033b\\r\\n\\r\\nbody'\n");
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  std::string answer = Get("GET /smuggle.cgi HTTP/1.0\r\n\r\n");
  std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
  ASSERT_EQ(head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(head.find("Content-Type: text/htmlSet-Cookie: evil=1\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("\r\nSet-Cookie"), std::string::npos) << head;
  EXPECT_NE(head.find("Pragma: ab\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("Transfer-Encoding"), std::string::npos) << head;
  EXPECT_EQ(head.find("Connection"), std::string::npos) << head;
  for (std::size_t at = head.find('\r'); at != std::string::npos; at = head.find('\r', at + 1))
    EXPECT_EQ(head[at + 1], '\n') << "a lone CR at " << at << ": " << head;
  EXPECT_NE(head.find("Content-Length: 4\r\n"), std::string::npos) << head;
  EXPECT_EQ(gwtest::ResponseBody(answer), "body");
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

// A library named by an interpreter entry is loaded with the configuration,
// listed on the status page, shared by concurrent requests, and unloaded and
// loaded again by a restart.
TEST(PreloadedExtension, ListedSharedAndReloadedByARestart) {
  ServerProcess server;
  tovktest::MakeDirs(server.DocRoot());
  gwtest::AllowExecution(server.DocRoot());
  tovktest::MakeDirs(server.Dir() / "lib");
  // Capitals in the configured name: the gateway choice upper-cases the
  // name only to compare it, and the library is found as configured.
  const std::string library =
      gwtest::CopyInto(gwtest::ExtensionDir() + "/versioned.dll", server.Dir() / "lib",
                       "Versioned.DLL");
  const std::string events = library + ".events";
  tovktest::WriteFile(server.DocRoot() + "/a.vsx", "script");
  std::string config = server.BaseConfig() + "\"App num\"=dword:00000001\n\"App 1\"=\"" +
                       ServerProcess::RegEscape("vsx," + ServerProcess::SystemPath(library)) +
                       "\"\n";
  ASSERT_TRUE(server.ImportReg(config)) << server.LastToolOutput;
  ASSERT_TRUE(server.Start()) << server.Output();
  EXPECT_EQ(tovktest::ReadFile(events), "version\n");

  std::string info = tovktest::HttpExchange(server.Port(), "GET /iswd/info HTTP/1.0\r\n\r\n");
  EXPECT_NE(info.find("<tr><td>Zkusebni rozsireni</td><td>4.2</td><td>" +
                      ServerProcess::SystemPath(library) + "</td></tr>"),
            std::string::npos)
      << info;

  constexpr int kClients = 8;
  std::vector<std::string> answers(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] {
      answers[i] = tovktest::HttpExchange(
          server.Port(), "GET /a.vsx?" + std::to_string(i) + " HTTP/1.0\r\n\r\n");
    });
  for (std::thread& t : clients) t.join();
  int mostTogether = 0;
  for (int i = 0; i < kClients; ++i) {
    std::size_t at = answers[i].find(" together=");
    if (at != std::string::npos)
      mostTogether = std::max(mostTogether, std::atoi(answers[i].c_str() + at + 10));
    EXPECT_EQ(answers[i].rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answers[i];
    EXPECT_NE(answers[i].find("Content-Type: text/plain\r\n"), std::string::npos);
    EXPECT_NE(answers[i].find(" query=" + std::to_string(i)), std::string::npos) << answers[i];
  }

  EXPECT_GE(mostTogether, 2) << "the requests were served one after another";

  server.Signal(SIGHUP);
  EXPECT_TRUE(ServerProcess::WaitForText(events, "version\nterminate 2\nversion\n",
                                         std::chrono::seconds(30)))
      << tovktest::ReadFile(events);
  ASSERT_TRUE(tovktest::WaitForPort(server.Port()));
  std::string again = tovktest::HttpExchange(server.Port(), "GET /a.vsx HTTP/1.0\r\n\r\n");
  EXPECT_EQ(again.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << again;
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(tovktest::ReadFile(events), "version\nterminate 2\nversion\nterminate 2\n");
}

// A document root whose name holds an interpreter's extension
// ("www.shop.cz" holds ".sh"): its scripts run rather than show their
// source, an extension in a directory's name makes nothing of the files in
// it, and a script name with a blank is one argument.
TEST(GatewayExtensions, FoundByTheEndOfTheFileNameOnly) {
  ServerProcess server;
  const std::string root = server.Dir() / "srv/www.shop.cz";
  for (const char* dir : {"/cgi", "/a.shtml", "/lib.dll.d"}) tovktest::MakeDirs(root + dir);
  gwtest::AllowExecution(root + "/cgi");
  const std::string script =
      "#!/bin/sh\nprintf 'Content-Type: text/plain\\r\\n\\r\\nARG0=%s\\n' \"$0\"\nenv\n";
  tovktest::WriteFile(root + "/cgi/formular.sh", script);
  tovktest::WriteFile(root + "/cgi/a b.sh", script);
  const std::string page = "<!--#echo var=\"DOCUMENT_NAME\" --> as written";
  tovktest::WriteFile(root + "/a.shtml/page.txt", page);
  tovktest::WriteFile(root + "/lib.dll.d/readme.txt", "readme");
  const std::string apps[] = {"sh,/bin/sh", "shtml,TOVK/SSI", "dll,TOVK/ISAPI"};
  std::string config = server.BaseConfig() + "\"Alias 1\"=\"" +
                       ServerProcess::RegEscape("*,/," + ServerProcess::SystemPath(root) + "\\") +
                       "\"\n\"App num\"=dword:00000003\n";
  for (int i = 0; i < 3; ++i)
    config += "\"App " + std::to_string(i + 1) + "\"=\"" + ServerProcess::RegEscape(apps[i]) + "\"\n";
  ASSERT_TRUE(server.ImportReg(config)) << server.LastToolOutput;
  ASSERT_TRUE(server.Start()) << server.Output();
  auto get = [&](const std::string& request) {
    return tovktest::HttpExchange(server.Port(), request);
  };

  std::string form = get("GET /cgi/formular.sh HTTP/1.0\r\n\r\n");
  EXPECT_EQ(gwtest::ResponseBody(form).rfind("ARG0=formular.sh\n", 0), 0u) << form;
  EXPECT_EQ(form.find("#!/bin/sh"), std::string::npos) << "the source was served";
  std::string blank = get("GET /cgi/a%20b.sh HTTP/1.0\r\n\r\n");
  EXPECT_EQ(gwtest::ResponseBody(blank).rfind("ARG0=a b.sh\n", 0), 0u) << blank;
  EXPECT_EQ(gwtest::ResponseBody(get("GET /a.shtml/page.txt HTTP/1.0\r\n\r\n")), page);
  EXPECT_EQ(gwtest::ResponseBody(get("GET /lib.dll.d/readme.txt HTTP/1.0\r\n\r\n")), "readme");

  // A header value cannot add a variable, whether the reader refuses it or
  // passes it on.
  std::string smuggled = get(std::string("GET /cgi/formular.sh HTTP/1.0\r\nUser-Agent: x") +
                             '\0' + "PERL5OPT=-d\r\n\r\n");
  EXPECT_TRUE(smuggled.rfind("HTTP/1.0 400", 0) == 0 || smuggled.rfind("HTTP/1.0 200", 0) == 0)
      << smuggled;
  EXPECT_EQ(smuggled.find("PERL5OPT"), std::string::npos) << smuggled;
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
