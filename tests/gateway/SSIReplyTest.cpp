// THTTPSSIReply: the line scan with its deleted counts, the directives,
// nested includes of every kind, and the bound on nesting.

#include <gtest/gtest.h>

#include "server/gateway/SvrHttpSSIReply.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/MainWin.h"
#include "server/shell/MsgCat.h"
#include "tests/gateway/GatewayFixture.h"

namespace {

class SSIReply : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerSoftware = "1.0.7.0/tovksrv";
    gwtest::AllowExecution(Root.Path());
    Settings().AliasTable = {"*,/," + Root.Path() + "/"};
    Settings().AppTable = {"cgi,TOVK/EXEC", "shtml,TOVK/SSI", "xyz,/usr/bin/no-such-program",
                           "abc,TOVK/NOTHING"};
  }

  // Processes a document written into the root; the page status comes back too.
  std::string Page(const std::string& text, int16_t* code = nullptr,
                   const std::string& name = "page.shtml", const std::string& headers = "") {
    tovktest::WriteFile(Root / name, text);
    gwtest::TRequestContext c;
    c.Request("GET /" + name + "?q=1 HTTP/1.0", headers);
    THTTPSSIReply reply(c.Context(), gwtest::Sys(Root / name));
    reply.Prepare();
    int16_t status = 0;
    std::string statusText;
    reply.GetStatus(status, statusText);
    if (code) *code = status;
    auto copy = reply.GetBodyCopy();
    return copy ? copy->Bytes() : "<nil>";
  }

  gwtest::TSettingsScope Scope;
  tovktest::TempDir Root;
};

TEST_F(SSIReply, TwoDirectivesOnALineExpandInOrder) {
  EXPECT_EQ(Page("A<!--#echo var=\"DOCUMENT_NAME\" -->B<!--#echo var=\"$SERVER_PROTOCOL\" -->C"),
            "Apage.shtmlBHTTP/1.0C\r\n");
}

TEST_F(SSIReply, DeletedCountDependsOnTheBlanksAroundTheDirective) {
  // No blank before "-->" swallows the next character; an extra blank
  // leaves one character of "-->" behind.
  EXPECT_EQ(Page("<!--#echo var=\"DOCUMENT_NAME\"-->x|"), "page.shtml|\r\n");
  EXPECT_EQ(Page("<!-- #echo var=\"DOCUMENT_NAME\" -->|"), "page.shtml>|\r\n");
}

TEST_F(SSIReply, PlainCommentsAndLineEndsAreKept) {
  EXPECT_EQ(Page("a<!-- text -->b"), "a<!-- text -->b\r\n");
  EXPECT_EQ(Page("<!---->"), "<!---->\r\n");
  EXPECT_EQ(Page("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(Page("last\n\n"), "last\r\n\r\n");
  EXPECT_EQ(Page(""), "");
}

TEST_F(SSIReply, EchoNeedsTheDollarForRequestValues) {
  const std::string agent = "User-Agent: agent/9\n";
  EXPECT_EQ(Page("<!--#echo var=\"HTTP_USER_AGENT\" -->", nullptr, "page.shtml", agent),
            GetMsg(25) + "\r\n");
  EXPECT_EQ(Page("<!--#echo var=\"$HTTP_USER_AGENT\" -->", nullptr, "page.shtml", agent),
            "agent/9\r\n");
  EXPECT_EQ(Page("<!--#echo var=\"$NOPE\" -->"), "(unknown)\r\n");
  EXPECT_EQ(Page("<!--#echo value=\"x\" -->"), GetMsg(25) + "\r\n");
  EXPECT_EQ(Page("<!--#unknown -->"), GetMsg(25) + "\r\n");
  EXPECT_EQ(Page("<!--#echo VAR=\"$query_string\" -->|<!--#echo var=\"DOCUMENT_URI\" -->"),
            "q=1|/page.shtml\r\n");
}

TEST_F(SSIReply, EchoedValuesAreTextInThePage) {
  const std::string headers = "User-Agent: <script>a&b</script>\nCookie: c=\"<i>\"'\n";
  EXPECT_EQ(Page("<!--#echo var=\"$HTTP_USER_AGENT\" -->|<!--#echo var=\"$HTTP_COOKIE\" -->",
                 nullptr, "page.shtml", headers),
            "&lt;script&gt;a&amp;b&lt;/script&gt;|c=&quot;&lt;i&gt;&quot;&#39;\r\n");
  tovktest::WriteFile(Root / "page.shtml", "<!--#echo var=\"$QUERY_STRING\" -->");
  gwtest::TRequestContext c;
  c.Request("GET /page.shtml?<script>alert(1)</script> HTTP/1.0");
  THTTPSSIReply reply(c.Context(), gwtest::Sys(Root / "page.shtml"));
  reply.Prepare();
  EXPECT_EQ(reply.GetBodyCopy()->Bytes(), "&lt;script&gt;alert(1)&lt;/script&gt;\r\n");
}

TEST_F(SSIReply, FileSizeAndModificationTime) {
  tovktest::WriteFile(Root / "five.txt", "12345");
  std::string missing = gwtest::Sys(Root / "missing.txt");
  EXPECT_EQ(Page("<!--#fsize file=\"" + missing + "\" -->"), "1024\r\n");
  EXPECT_EQ(Page("<!--#fsize virtual=\"/five.txt\" -->"), "5\r\n");
  EXPECT_EQ(Page("<!--#fsize -->"), GetMsg(25) + "\r\n");
  // A missing file forms no date: the rest of that line is lost.
  EXPECT_EQ(Page("before<!--#flastmod file=\"" + missing + "\" -->after\nnext"),
            "beforenext\r\n");
  std::string stamp = Page("<!--#flastmod virtual=\"/five.txt\" -->");
  EXPECT_NE(stamp.find(':'), std::string::npos) << stamp;
  EXPECT_NE(stamp.find('.'), std::string::npos) << stamp;
  EXPECT_EQ(Page("<!--#fsize file=\"five.txt\" -->"), "5\r\n") << "beside the page";
}

TEST_F(SSIReply, FileSizeAndTimeKeepToWhatAnIncludeCouldShow) {
  tovktest::TempDir outside;
  tovktest::WriteFile(outside / "secret.txt", "12345");
  tovktest::WriteFile(Root / "locked/five.txt", "12345");
  tovktest::WriteFile(Root / "locked/http.aut", "[prava]\n*.*=0123456789ABCDEF0123456789ABCDEF\n");
  const std::string secret = gwtest::Sys(outside / "secret.txt");
  for (const std::string directive : {"fsize", "flastmod"}) {
    for (const std::string& target : std::vector<std::string>{
             "file=\"" + secret + "\"", "file=\"../" + secret.substr(1) + "\"",
          "file=\"" + gwtest::Sys(Root / "x/../..") + secret + "\"", "virtual=\"/../x.txt\""})
      EXPECT_EQ(Page("<!--#" + directive + " " + target + " -->"), GetMsg(26) + "\r\n") << target;
    EXPECT_EQ(Page("<!--#" + directive + " virtual=\"/locked/five.txt\" -->"),
              "[" + GetMsg(25) + " 401 \"/locked/five.txt\"]\r\n");
    EXPECT_EQ(Page("<!--#" + directive + " file=\"locked\\http.aut\" -->"),
              "[" + GetMsg(25) + " 403 \"locked\\http.aut\"]\r\n");
  }
}

TEST_F(SSIReply, IncludesAnswerWithTheReplyTheServerWouldChoose) {
  tovktest::WriteFile(Root / "inc.txt", "included text");
  tovktest::WriteFile(Root / "inner.shtml", "[<!--#echo var=\"DOCUMENT_NAME\" -->]");
  gwtest::CopyInto(gwtest::ScriptDir() + "/fail.sh", Root.Path(), "fail.cgi");
  int16_t code = 0;
  EXPECT_EQ(Page("<!--#include virtual=\"/inc.txt\" -->"), "included text\r\n");
  EXPECT_EQ(Page("<!--#include file=\"/inner%2Eshtml\" -->"), "[inner.shtml]\r\n\r\n");
  std::string failed = Page("x<!--#include virtual=\"/fail.cgi\" -->y", &code);
  EXPECT_EQ(code, 200);
  EXPECT_EQ(failed.rfind("x[" + GetMsg(25) + " 500 \"Skript nevrátil platnou hlavičku.", 0), 0u)
      << failed;
  EXPECT_NE(failed.find("<PRE>broken script</PRE>\"]y\r\n"), std::string::npos) << failed;
}

TEST_F(SSIReply, IncludeFailuresGiveTheirMarkers) {
  EXPECT_EQ(Page("<!--#include virtual=\"/nothing.html\" -->"),
            GetMsg(27) + "/nothing.html\"]\r\n");
  tovktest::WriteFile(Root / "a.xyz", "x");
  EXPECT_EQ(Page("<!--#include virtual=\"/a.xyz\" -->"),
            GetMsg(27) + "/usr/bin/no-such-program\"]\r\n");
  EXPECT_EQ(Page("<!--#include virtual=\"/a.abc\" -->"), GetMsg(27) + "/a.abc\"]\r\n");
  EXPECT_EQ(Page("<!--#include virtual=\"/../etc/passwd\" -->"), GetMsg(26) + "\r\n");
  // A backslash climbs as well once the URL is mapped.
  EXPECT_EQ(Page("<!--#include virtual=\"\\..\\etc\\passwd\" -->"), GetMsg(26) + "\r\n");
  // So does an alias whose prefix has no trailing "/": "/docs../x" maps to
  // the directory above the alias's.
  tovktest::WriteFile(Root / "docs/in.txt", "in");
  tovktest::WriteFile(Root / "above.txt", "above");
  Settings().AliasTable.push_back("*,/docs," + Root.Path() + "/docs/");
  for (const std::string directive : {"include", "fsize", "flastmod"})
    EXPECT_EQ(Page("<!--#" + directive + " virtual=\"/docs../above.txt\" -->"),
              GetMsg(26) + "\r\n")
        << directive;
}

TEST_F(SSIReply, SelfIncludingPageEndsAtTheBound) {
  std::string page = Page("S<!--#include virtual=\"/page.shtml\" -->E");
  std::string expected = std::string(kMaxIncludeDepth, 'S') + "[" + GetMsg(25) +
                         " 500 \"/page.shtml\"]";
  for (int i = 0; i < kMaxIncludeDepth; ++i) expected += "E\r\n";
  EXPECT_EQ(page, expected);
}

TEST_F(SSIReply, IncludeRewritesTheRequestLineForItsTargetOnly) {
  tovktest::WriteFile(Root / "inc.txt", "i");
  tovktest::WriteFile(Root / "page.shtml",
                      "<!--#include virtual=\"/inc.txt?x=2\" --> <!--#echo var=\"DOCUMENT_URI\" -->"
                      " <!--#echo var=\"$QUERY_STRING\" -->");
  gwtest::TRequestContext c;
  c.Request("POST /page.shtml?q=1 HTTP/1.0");
  THTTPSSIReply reply(c.Context(), gwtest::Sys(Root / "page.shtml"));
  reply.Prepare();
  EXPECT_EQ(reply.GetBodyCopy()->Bytes(), "i /page.shtml q=1\r\n");
  // The client's line is back for the access log.
  EXPECT_EQ(c.Header.RequestLine, "POST /page.shtml?q=1 HTTP/1.0");
}

TEST_F(SSIReply, AccessAndFileErrors) {
  gwtest::TRequestContext c;
  c.Request("GET /gone.shtml HTTP/1.0");
  THTTPSSIReply gone(c.Context(), gwtest::Sys(Root / "gone.shtml"));
  gone.Prepare();
  int16_t code = 0;
  std::string text;
  EXPECT_TRUE(gone.GetStatus(code, text));
  EXPECT_EQ(std::to_string(code) + " " + text, "500 File error: 2");

  THTTPSSIReply tls(c.Context(true), gwtest::Sys(Root / "gone.shtml"));
  tls.Prepare();
  tls.GetStatus(code, text);
  EXPECT_EQ(std::to_string(code) + " " + text, "403 /gone.shtml");

  c.Request("GET /http.aut HTTP/1.0");
  THTTPSSIReply access(c.Context(), gwtest::Sys(Root / "http.aut"));
  access.Prepare();
  access.GetStatus(code, text);
  EXPECT_EQ(std::to_string(code) + " " + text, "403 /http.aut");
}

TEST_F(SSIReply, SendsTextHtmlWithTheLength) {
  tovktest::WriteFile(Root / "page.shtml", "<!--#echo var=\"DOCUMENT_NAME\" -->");
  gwtest::TRequestContext c;
  c.Request("GET /page.shtml HTTP/1.0");
  THTTPSSIReply reply(c.Context(), gwtest::Sys(Root / "page.shtml"));
  reply.Prepare();
  reply.SendHeader();
  reply.SendBody();
  std::string answer = c.Received();
  EXPECT_NE(answer.find("Content-Type: text/html\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("Content-Length: 12\r\n"), std::string::npos) << answer;
  EXPECT_EQ(gwtest::ResponseBody(answer), "page.shtml\r\n");
}

}  // namespace
