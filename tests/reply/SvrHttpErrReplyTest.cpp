#include "server/reply/SvrHttpErrReply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "server/net/Misc.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/MainWin.h"
#include "server/shell/MsgCat.h"
#include "tests/reply/ReplyTestSupport.h"

using replytest::BodyOf;
using replytest::HeadOf;
using replytest::Sys;
using replytest::TConnection;
using tovktest::TempDir;
using tovktest::WriteFile;

namespace {

std::string Send(const std::string& requestLine, uint16_t status, const std::string& text,
                 bool isTLS = false) {
  TConnection connection(requestLine);
  THTTPErrReply reply(connection.Context(isTLS), text, status);
  reply.Prepare();
  reply.SendHeader();
  reply.SendBody();
  return connection.Sent();
}

// Settings whose error page directory is a directory of the test's own.
class CustomPages : public ::testing::Test {
 protected:
  void SetUp() override {
    replytest::DeleteConfig();
    CreateSettings();
    CurrentSettings()->ErrorPageDir = Sys(Pages.Path()) + "\\";
  }
  void TearDown() override { FreeSettings(); }
  void Rescan() { CurrentSettings()->ScanErrorPages(); }
  TempDir Pages;
};

}  // namespace

TEST(ErrReply, UnauthorisedAsksForTheUrlAsRealm) {
  std::string head = HeadOf(Send("GET /private/a.html?x=1 HTTP/1.0", 401, "/private/a.html"));
  std::string title, description;
  GetErrTexts(401, title, description);
  EXPECT_EQ(head.rfind("HTTP/1.0 401 " + title + "\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nWWW-Authenticate: Basic realm=\"/private/a.html\"\r\n"),
            std::string::npos)
      << head;
  EXPECT_NE(head.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("Content-Length"), std::string::npos) << head;
}

TEST(ErrReply, RedirectGetsItsLeadingSlash) {
  std::string sent = Send("GET /dir HTTP/1.0", 301, "dir/");
  EXPECT_NE(HeadOf(sent).find("\r\nLocation: /dir/\r\n"), std::string::npos) << sent;
  sent = Send("GET /dir HTTP/1.0", 302, "/dir/");
  EXPECT_NE(HeadOf(sent).find("\r\nLocation: /dir/\r\n"), std::string::npos) << sent;
  std::string title, description;
  GetErrTexts(302, title, description);
  // After the header the page speaks of the requested URL.
  EXPECT_NE(BodyOf(sent).find("<P>" + SubstituteArgument(description, "/dir") + "</P>"),
            std::string::npos)
      << sent;
}

TEST(ErrReply, BuiltInPagePieceByPiece) {
  std::string title, description;
  GetErrTexts(404, title, description);
  ASSERT_NE(description.find("%s"), std::string::npos);
  std::string body = BodyOf(Send("GET /x HTTP/1.0", 404, "/x %s"));
  std::string expected =
      "<HEAD><TITLE>404 " + title + "</TITLE></HEAD>\r\n"
      "<BODY BKCOLOR=#FFFFFF BACKGROUND=\"/iswd/pozadi2_gif\">\r\n"
      "<FONT COLOR=#FF0000><H1><IMG SRC=\"/iswd/pavouk_gif\" WIDTH=49 HEIGHT=40>\r\n"
      "404 " + title + "</H1></FONT>\r\n"
      "<P>" + SubstituteArgument(description, "/x %s") + "</P>\r\n"
      "<CENTER><ADDRESS><HR NOSHADE WIDTH=\"80%\"><FONT SIZE=-1>";
  EXPECT_EQ(body.substr(0, expected.size()), expected) << body;
  // One pass: the "%s" that came with the message text stays as it is.
  EXPECT_NE(body.find("/x %s"), std::string::npos) << body;
  EXPECT_EQ(body.find("/x /x"), std::string::npos) << body;
  EXPECT_NE(body.find("\r\n" + GetMsg(18) + "\r\n"), std::string::npos) << body;
  EXPECT_NE(body.find(ServerSoftware + "</A></FONT></ADDRESS></CENTER></BODY>\r\n"),
            std::string::npos)
      << body;
  // Four footer pieces: the page has nine lines.
  EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 9) << body;
}

TEST(ErrReply, RequestTextIsEscapedButTheServersBreakStays) {
  std::string body = BodyOf(Send("GET /x HTTP/1.0", 404, "/<b>\"x\"&<P>c:\\www\\<i>"));
  EXPECT_NE(body.find("/&lt;b&gt;&quot;x&quot;&amp;<P>c:\\www\\&lt;i&gt;"), std::string::npos)
      << body;
  EXPECT_EQ(body.find("<b>"), std::string::npos) << body;
}

TEST(ErrReply, ScriptOutputShowsInItsBlockWithOnlyTheServersTagsKept) {
  std::string body = BodyOf(
      Send("GET /x.cgi HTTP/1.0", 500, "bad<BR><PRE><script>alert(1)</script></PRE>"));
  EXPECT_NE(body.find("bad<BR><PRE>&lt;script&gt;alert(1)&lt;/script&gt;</PRE>"),
            std::string::npos)
      << body;
}

TEST(ErrReply, StatusOutsideTheTableHasEmptyTexts) {
  std::string sent = Send("GET / HTTP/1.0", 299, "text");
  EXPECT_EQ(sent.rfind("HTTP/1.0 299 \r\n", 0), 0u) << sent;
  EXPECT_NE(sent.find("<P></P>"), std::string::npos) << sent;
}

TEST_F(CustomPages, PlainConnectionGetsTheFileTlsTheBuiltInPage) {
  WriteFile(Pages / "err404.html", "<html>own page</html>");
  Rescan();
  std::string sent = Send("GET /missing HTTP/1.0", 404, "/missing");
  EXPECT_EQ(BodyOf(sent), "<html>own page</html>");
  EXPECT_EQ(sent.rfind("HTTP/1.0 404 ", 0), 0u) << sent;
  EXPECT_NE(HeadOf(sent).find("Content-Type: text/html\r\n"), std::string::npos) << sent;

  sent = Send("GET /missing HTTP/1.0", 404, "/missing", true);
  EXPECT_NE(BodyOf(sent).find("<HEAD><TITLE>404 "), std::string::npos) << sent;
}

TEST_F(CustomPages, GatewayPageWithoutExecuteRightFallsBackToBuiltIn) {
  WriteFile(Pages / "err404.sh", "echo Content-Type: text/html; echo; echo own");
  CurrentSettings()->AppTable = {"sh,/bin/sh"};
  Rescan();
  std::string body = BodyOf(Send("GET /missing HTTP/1.0", 404, "/missing"));
  EXPECT_EQ(body.rfind("<HEAD><TITLE>404 ", 0), 0u) << body;

  WriteFile(Pages / "http.aut", "[ostatni]\nspoustet=1\n");
  std::string sent = Send("GET /missing HTTP/1.0", 404, "/missing");
  EXPECT_EQ(sent.rfind("HTTP/1.0 404 ", 0), 0u) << sent;
  EXPECT_NE(BodyOf(sent).find("own"), std::string::npos) << sent;
  EXPECT_EQ(BodyOf(sent).find("<HEAD><TITLE>"), std::string::npos) << sent;
}

TEST_F(CustomPages, PageThatVanishedFallsBackToBuiltIn) {
  WriteFile(Pages / "err403.html", "x");
  Rescan();
  std::remove((Pages / "err403.html").c_str());
  std::string body = BodyOf(Send("GET /x HTTP/1.0", 403, "/x"));
  EXPECT_EQ(body.rfind("<HEAD><TITLE>403 ", 0), 0u) << body;
}
