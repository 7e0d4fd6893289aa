// The demo site through the real server: the configuration the build
// writes, with only its port and log directory moved, so that every page
// the demo offers is asked for as a browser would.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/ServerProcess.h"

namespace {

using tovktest::ServerProcess;

// The demo's configuration with this server's port and log directory: the
// lines of those two values replaced, the rest as the build wrote it.
std::string DemoConfig(const ServerProcess& server) {
  const std::string text = tovktest::ReadFile(TOVK_DEMO_REG);
  char port[16];
  std::snprintf(port, sizeof port, "%08x", static_cast<unsigned>(server.Port()));
  std::string result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.rfind("\"Port\"=", 0) == 0)
      line = "\"Port\"=dword:" + std::string(port);
    else if (line.rfind("\"ProtFile\"=", 0) == 0)
      line = "\"ProtFile\"=\"" +
             ServerProcess::RegEscape(ServerProcess::SystemPath(server.LogDir()) + "\\") + "\"";
    result += line + "\n";
  }
  return result;
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

std::string Body(const std::string& answer) {
  std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// The value of one header of the answer, empty when it has none.
std::string HeaderValue(const std::string& answer, const std::string& name) {
  std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
  std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return head.substr(at, head.find("\r\n", at) - at);
}

// Every gateway failure the include directive can put into a page.
void ExpectNoIncludeFailure(const std::string& body) {
  EXPECT_EQ(body.find("Chyba SSI"), std::string::npos) << body;
  EXPECT_EQ(body.find("[SSI:"), std::string::npos) << body;
  EXPECT_EQ(body.find("kořenový adresář"), std::string::npos) << body;
}

class DemoSite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Server = new ServerProcess;
    ASSERT_FALSE(tovktest::ReadFile(TOVK_DEMO_REG).empty()) << TOVK_DEMO_REG;
    std::string config = DemoConfig(*Server);
    ASSERT_NE(config.find(ServerProcess::RegEscape(ServerProcess::SystemPath(Server->LogDir()))),
              std::string::npos)
        << config;
    ASSERT_TRUE(Server->ImportReg(config)) << Server->LastToolOutput;
    ASSERT_TRUE(Server->Start()) << Server->Output();
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(0, Server->Stop()) << Server->Output();
    delete Server;
    Server = nullptr;
  }
  void SetUp() override {
    if (!Server || !Server->Running()) GTEST_SKIP() << "the demo server did not start";
  }

  static std::string Get(const std::string& url, const std::string& headers = "") {
    return tovktest::HttpExchange(Server->Port(),
                                  "GET " + url + " HTTP/1.0\r\n" + headers + "\r\n");
  }
  static std::string Post(const std::string& url, const std::string& data) {
    return tovktest::HttpExchange(
        Server->Port(), "POST " + url +
                            " HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                            "Content-Length: " +
                            std::to_string(data.size()) + "\r\n\r\n" + data);
  }

  static ServerProcess* Server;
};

ServerProcess* DemoSite::Server = nullptr;

TEST_F(DemoSite, IndexPageLinksEveryPart) {
  std::string answer = Get("/");
  ASSERT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << answer;
  EXPECT_EQ(HeaderValue(answer, "Content-Type"), "text/html");
  std::string body = Body(answer);
  EXPECT_EQ(HeaderValue(answer, "Content-Length"), std::to_string(body.size()));
  for (const char* link : {"/list/", "/private/", "/cgi/formular.sh", "/cgi/formular.pl",
                           "/cgi/formular.py", "/ext/promenne.dll", "/ssi/", "/ssi/vlozeni.shtml",
                           "/iswd/info", "/admin/"})
    EXPECT_NE(body.find(std::string("HREF=\"") + link + "\""), std::string::npos) << link;
}

TEST_F(DemoSite, DirectoryWithoutSlashIsRedirectedAndListed) {
  std::string moved = Get("/list");
  EXPECT_EQ(StatusLine(moved).substr(0, 13), "HTTP/1.0 301 ") << moved;
  const std::string location = HeaderValue(moved, "Location");
  EXPECT_TRUE(location == "/list/" ||
              (location.size() > 6 && location.compare(location.size() - 6, 6, "/list/") == 0))
      << moved;

  std::string listing = Get("/list/");
  ASSERT_EQ(StatusLine(listing), "HTTP/1.0 200 OK") << listing;
  std::string body = Body(listing);
  for (const char* name : {"cteni.txt", "logo.gif", "podadresar", "poznamky.html"})
    EXPECT_NE(body.find(name), std::string::npos) << name << "\n" << body;
  EXPECT_NE(body.find("/iswd/bigdir_gif"), std::string::npos) << body;
  EXPECT_NE(body.find("/iswd/dir_gif"), std::string::npos) << body;
  EXPECT_NE(body.find("/iswd/else_gif"), std::string::npos) << body;
  // The icons the listing names are served.
  std::string icon = Get("/iswd/dir_gif");
  EXPECT_EQ(StatusLine(icon), "HTTP/1.0 200 OK");
  EXPECT_EQ(Body(icon).substr(0, 4), "GIF8");
}

TEST_F(DemoSite, MissingPageGetsTheDemosOwn404Page) {
  std::string answer = Get("/neni-tu.html");
  EXPECT_EQ(StatusLine(answer).substr(0, 13), "HTTP/1.0 404 ") << answer;
  EXPECT_NE(Body(answer).find("errfiles/err404.html"), std::string::npos) << answer;
}

TEST_F(DemoSite, PrivateDirectoryAsksForTheDemoUser) {
  std::string refused = Get("/private/");
  EXPECT_EQ(StatusLine(refused).substr(0, 13), "HTTP/1.0 401 ") << refused;
  EXPECT_EQ(HeaderValue(refused, "WWW-Authenticate").rfind("Basic realm=", 0), 0u) << refused;

  std::string wrong = Get("/private/", "Authorization: Basic ZGVtbzp4\r\n");  // demo:x
  EXPECT_EQ(StatusLine(wrong).substr(0, 13), "HTTP/1.0 401 ") << wrong;

  std::string page = Get("/private/", "Authorization: Basic ZGVtbzpkZW1v\r\n");  // demo:demo
  EXPECT_EQ(StatusLine(page), "HTTP/1.0 200 OK") << page;
  EXPECT_NE(Body(page).find("demo/demo"), std::string::npos) << page;
}

TEST_F(DemoSite, FormScriptsAnswerGetAndPostAndEscapeWhatTheyEcho) {
  for (const char* script : {"/cgi/formular.sh", "/cgi/formular.pl", "/cgi/formular.py"}) {
    SCOPED_TRACE(script);
    std::string got = Get(std::string(script) + "?jmeno=Jan+%3Cb%3E&vzkaz=a%26b%22c");
    ASSERT_EQ(StatusLine(got), "HTTP/1.0 200 OK") << got;
    EXPECT_EQ(HeaderValue(got, "Content-Type"), "text/html");
    std::string body = Body(got);
    EXPECT_EQ(HeaderValue(got, "Content-Length"), std::to_string(body.size()));
    EXPECT_NE(body.find("<B>GET</B>"), std::string::npos) << body;
    EXPECT_NE(body.find("<B>Jan &lt;b&gt;</B>"), std::string::npos) << body;
    EXPECT_NE(body.find("<B>a&amp;b&quot;c</B>"), std::string::npos) << body;
    EXPECT_EQ(body.find("<b>"), std::string::npos) << body;
    // The form keeps the value, escaped inside its attribute.
    EXPECT_NE(body.find("VALUE=\"a&amp;b&quot;c\""), std::string::npos) << body;

    std::string posted = Post(script, "jmeno=Eva&vzkaz=%3Cscript%3E+ahoj");
    ASSERT_EQ(StatusLine(posted), "HTTP/1.0 200 OK") << posted;
    body = Body(posted);
    EXPECT_NE(body.find("<B>POST</B>"), std::string::npos) << body;
    EXPECT_NE(body.find("<B>Eva</B>"), std::string::npos) << body;
    EXPECT_NE(body.find("<B>&lt;script&gt; ahoj</B>"), std::string::npos) << body;
    EXPECT_EQ(body.find("<script>"), std::string::npos) << body;

    // A POST reads the body only: the query of its URL is not the form.
    std::string both = Post(std::string(script) + "?jmeno=Url", "jmeno=Telo");
    EXPECT_NE(Body(both).find("<B>Telo</B>"), std::string::npos) << both;
    EXPECT_EQ(Body(both).find("<B>Url</B>"), std::string::npos) << both;
  }
}

TEST_F(DemoSite, ExtensionShowsEveryServerVariable) {
  std::string answer = Get("/ext/promenne.dll?a=1&b=%3C",
                           "User-Agent: demo-test\r\nReferer: http://example.test/\r\n"
                           "Cookie: chut=vanilka\r\n");
  ASSERT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << answer;
  EXPECT_EQ(HeaderValue(answer, "Content-Type"), "text/html");
  std::string body = Body(answer);
  auto row = [](const std::string& name, const std::string& value) {
    return "<TR><TD><TT>" + name + "</TT></TD><TD><TT>" + value + "</TT></TD></TR>";
  };
  EXPECT_NE(body.find(row("SERVER_PROTOCOL", "HTTP/1.0")), std::string::npos) << body;
  EXPECT_NE(body.find(row("SERVER_PORT", std::to_string(Server->Port()))), std::string::npos);
  EXPECT_NE(body.find(row("SCRIPT_NAME", "/ext/promenne.dll")), std::string::npos) << body;
  EXPECT_NE(body.find(row("REQUEST_METHOD", "GET")), std::string::npos) << body;
  EXPECT_NE(body.find(row("HTTP_USER_AGENT", "demo-test")), std::string::npos) << body;
  EXPECT_NE(body.find(row("HTTP_REFERER", "http://example.test/")), std::string::npos) << body;
  EXPECT_NE(body.find(row("REMOTE_ADDR", "127.0.0.1")), std::string::npos) << body;
  EXPECT_NE(body.find(row("GATEWAY_INTERFACE", "ISAPI")), std::string::npos) << body;
  EXPECT_NE(body.find(row("HTTP_COOKIE", "chut=vanilka")), std::string::npos) << body;
  EXPECT_NE(body.find(row("QUERY_STRING", "a=1&amp;b=%3C")), std::string::npos) << body;
  EXPECT_NE(body.find(row("lpszMethod", "GET")), std::string::npos) << body;
  EXPECT_NE(body.find(row("lpszQueryString", "a=1&amp;b=%3C")), std::string::npos) << body;
  EXPECT_NE(body.find("<TT>PATH_TRANSLATED</TT></TD><TD><TT>"), std::string::npos) << body;
  EXPECT_NE(body.find("promenne.dll</TT>"), std::string::npos) << body;
  for (const char* name : {"CONTENT_LENGTH", "CONTENT_TYPE", "SERVER_SOFTWARE", "PATH_INFO"})
    EXPECT_NE(body.find(std::string("<TT>") + name + "</TT>"), std::string::npos) << name;
}

TEST_F(DemoSite, ExtensionCountsABodyLargerThanTheControlBlock) {
  std::string answer = Post("/ext/promenne.dll", std::string(100000, 'x'));
  ASSERT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << answer;
  std::string body = Body(answer);
  EXPECT_NE(body.find("<TT>REQUEST_METHOD</TT></TD><TD><TT>POST</TT>"), std::string::npos);
  EXPECT_NE(body.find("<TT>CONTENT_LENGTH</TT></TD><TD><TT>100000</TT>"), std::string::npos);
  EXPECT_NE(body.find("<TT>cbTotalBytes</TT></TD><TD>100000<"), std::string::npos) << body;
  EXPECT_NE(body.find("<TT>cbAvailable</TT></TD><TD>49152<"), std::string::npos) << body;
  EXPECT_NE(body.find("<TT>ReadClient</TT></TD><TD>50848<"), std::string::npos) << body;
}

TEST_F(DemoSite, IncludePageExpandsItsVariablesAndFiles) {
  std::string answer = Get("/ssi/", "User-Agent: demo-ssi\r\n");
  ASSERT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << answer;
  std::string body = Body(answer);
  ExpectNoIncludeFailure(body);
  EXPECT_EQ(body.find("<!--#"), std::string::npos) << body;
  EXPECT_NE(body.find("<TD>index.shtml</TD>"), std::string::npos) << body;
  EXPECT_NE(body.find("<TD>/ssi/</TD>"), std::string::npos) << body;
  EXPECT_NE(body.find("<TD>demo-ssi</TD>"), std::string::npos) << body;
  EXPECT_NE(body.find("<TD>127.0.0.1</TD>"), std::string::npos) << body;
  EXPECT_NE(body.find("<TD>CGI/1.1</TD>"), std::string::npos) << body;
  // Local date and time, d.M.yyyy H:mm:ss, and the date in the HTTP form.
  EXPECT_TRUE(std::regex_search(body, std::regex("<TD>\\d{1,2}\\.\\d{1,2}\\.\\d{4} "
                                                 "\\d{1,2}:\\d{2}:\\d{2}</TD>")))
      << body;
  EXPECT_TRUE(std::regex_search(body, std::regex("<TD>\\w{3}, \\d{2} \\w{3} \\d{4} "
                                                 "\\d{2}:\\d{2}:\\d{2} GMT</TD>")))
      << body;
  // The size of /stranka.html as the file has it.
  std::string page = Body(Get("/stranka.html"));
  ASSERT_FALSE(page.empty());
  EXPECT_NE(body.find(std::to_string(page.size()) + " B"), std::string::npos) << body;
  EXPECT_NE(body.find("vlozeny.html.</I></P>"), std::string::npos) << body;
}

TEST_F(DemoSite, IncludePageTakesInAFileAScriptAndTheExtension) {
  std::string answer = Get("/ssi/vlozeni.shtml");
  ASSERT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << answer;
  std::string body = Body(answer);
  ExpectNoIncludeFailure(body);
  EXPECT_EQ(body.find("<!--#"), std::string::npos) << body;
  EXPECT_NE(body.find("vlozeny.html.</I></P>"), std::string::npos) << body;
  EXPECT_NE(body.find("odstavec.sh"), std::string::npos) << body;
  EXPECT_NE(body.find("<TT>odkud=ssi</TT>"), std::string::npos) << body;
  EXPECT_NE(body.find("<TT>GATEWAY_INTERFACE</TT></TD><TD><TT>ISAPI</TT>"), std::string::npos)
      << body;
  EXPECT_NE(body.find("<TT>QUERY_STRING</TT></TD><TD><TT>tabulka</TT>"), std::string::npos)
      << body;
  // Included parts bring no headers of their own.
  EXPECT_EQ(body.find("Content-type:"), std::string::npos) << body;
  EXPECT_EQ(HeaderValue(answer, "Content-Length"), std::to_string(body.size()));
}

TEST_F(DemoSite, StatusPageAndRestartAskForTheAdminUser) {
  const std::string admin = "Authorization: Basic YWRtaW46YWRtaW4=\r\n";  // admin:admin
  std::string refused = Get("/iswd/info");
  EXPECT_EQ(StatusLine(refused).substr(0, 13), "HTTP/1.0 401 ") << refused;
  EXPECT_EQ(StatusLine(Get("/iswd/info", "Authorization: Basic ZGVtbzpkZW1v\r\n")).substr(0, 13),
            "HTTP/1.0 401 ")
      << "the demo user is not the administrator";
  std::string answer = Get("/iswd/info", admin);
  ASSERT_EQ(StatusLine(answer), "HTTP/1.0 200 OK") << answer;
  EXPECT_NE(Body(answer).find("Informace o zavedených rozšířeních"), std::string::npos) << answer;

  // The restart is asked for without credentials: refused, and the error
  // log, where an accepted one is written before its answer, has no word of it.
  std::string reload = Get("/iswd/reload");
  EXPECT_EQ(StatusLine(reload).substr(0, 13), "HTTP/1.0 401 ") << reload;
  EXPECT_FALSE(HeaderValue(reload, "WWW-Authenticate").empty()) << reload;
  EXPECT_EQ(Server->ErrorLog().find("adavek na restart"), std::string::npos) << Server->ErrorLog();
  // The images the public pages use need nobody.
  EXPECT_EQ(StatusLine(Get("/iswd/logo_gif")), "HTTP/1.0 200 OK");
}

TEST_F(DemoSite, AdministrationAsksForTheAdminUser) {
  std::string refused = Get("/admin/");
  EXPECT_EQ(StatusLine(refused).substr(0, 13), "HTTP/1.0 401 ") << refused;
  EXPECT_FALSE(HeaderValue(refused, "WWW-Authenticate").empty()) << refused;
  // The demo user is not the administrator.
  EXPECT_EQ(StatusLine(Get("/admin/", "Authorization: Basic ZGVtbzpkZW1v\r\n")).substr(0, 13),
            "HTTP/1.0 401 ");

  const std::string admin = "Authorization: Basic YWRtaW46YWRtaW4=\r\n";  // admin:admin
  std::string frames = Get("/admin/", admin);
  EXPECT_EQ(StatusLine(frames), "HTTP/1.0 200 OK") << frames;
  EXPECT_NE(Body(frames).find("admin.dll"), std::string::npos) << frames;
  std::string menu = Get("/admin/admin.dll", admin);
  EXPECT_EQ(StatusLine(menu), "HTTP/1.0 200 OK") << menu;
  EXPECT_EQ(StatusLine(Get("/admin/admin.dll")).substr(0, 13), "HTTP/1.0 401 ");
}

TEST_F(DemoSite, EveryRequestIsInTheAccessLog) {
  Get("/stranka.html", "User-Agent: demo-log\r\n");
  ASSERT_TRUE(ServerProcess::WaitForText(Server->LogDir() + "/access.log",
                                         "\"GET /stranka.html HTTP/1.0\" 200"))
      << Server->AccessLog();
  EXPECT_NE(Server->AccessLog().find("\"demo-log\""), std::string::npos) << Server->AccessLog();
}

}  // namespace
