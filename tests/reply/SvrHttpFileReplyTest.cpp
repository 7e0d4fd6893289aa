#include "server/reply/SvrHttpFileReply.h"

#include <fstream>
#include <functional>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "server/net/MD5.h"
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

constexpr const char* kCredentials = "ZGVtbzpkZW1v";  // demo:demo

// 5 March 1999, 14:07:09 UTC (the tests run with TZ=UTC).
constexpr time_t kStampTime = 920642829;

void SetModified(const std::string& linuxPath, time_t when) {
  utimbuf times{when, when};
  ASSERT_EQ(utime(linuxPath.c_str(), &times), 0);
}

int16_t StatusOf(const THTTPReply& reply, std::string* text = nullptr) {
  int16_t code = 0;
  std::string t;
  reply.GetStatus(code, t);
  if (text) *text = t;
  return code;
}

}  // namespace

TEST(FileStamp, DayMonthYearTimeAndLength) {
  TempDir dir;
  WriteFile(dir / "a.txt", "1234");
  SetModified(dir / "a.txt", kStampTime);
  EXPECT_EQ(FileStamp(Sys(dir / "a.txt")), "05-MAR-99 14:07:09 GMT; length=4");
  EXPECT_EQ(FileStamp(Sys(dir / "none.txt")), "");
}

TEST(FileReply, RightsAreTheUpperCaseDigestOfTheCredentials) {
  TempDir dir;
  WriteFile(dir / "a.html", "secret");
  std::string digest = MD5HexString(kCredentials);
  WriteFile(dir / "http.aut", "[prava]\n*.*=" + digest + "\n");

  TConnection good("GET /p/a.html HTTP/1.0");
  good.Header.Values[rqAuthorization] = std::string("Basic ") + kCredentials;
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(good.Context(), Sys(dir / "a.html"))),
            200);

  TConnection none("GET /p/a.html?x HTTP/1.0");
  std::string text;
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(none.Context(), Sys(dir / "a.html")),
                     &text),
            401);
  EXPECT_EQ(text, "/p/a.html");

  std::string lower = digest;
  for (char& c : lower)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  WriteFile(dir / "http.aut", "[prava]\n*.*=" + lower + "\n");
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(good.Context(), Sys(dir / "a.html"))),
            401)
      << "rights in lower case never match";
}

TEST(FileReply, AccessFileItselfAndTlsMismatchAreRefused) {
  TempDir dir;
  WriteFile(dir / "a.html", "x");
  WriteFile(dir / "http.aut", "[prava]\n*.*=" + MD5HexString(kCredentials) + "\n");
  TConnection connection("GET /p/http.aut HTTP/1.0");
  connection.Header.Values[rqAuthorization] = std::string("Basic ") + kCredentials;
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(connection.Context(), Sys(dir / "http.aut"))),
            403);
  tovktest::MakeDirs(dir / "sub");
  WriteFile(dir / "sub/a.html", "x");
  ASSERT_EQ(::symlink((dir / "sub/gone").c_str(), (dir / "sub/Http.Aut").c_str()), 0);
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(connection.Context(), Sys(dir / "sub/a.html"))),
            403)
      << "an access file that is there but cannot be read";
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(connection.Context(true), Sys(dir / "a.html"))),
            403)
      << "a TLS request into a directory without isSSL";

  TempDir plain;
  WriteFile(plain / "a.html", "x");
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(connection.Context(true),
                                                    Sys(plain / "a.html"))),
            403)
      << "a TLS request into a directory without access file";
}

TEST(FileReply, MatchingStampGives304EvenForAProtectedFile) {
  TempDir dir;
  WriteFile(dir / "a.html", "1234");
  SetModified(dir / "a.html", kStampTime);
  WriteFile(dir / "http.aut", "[prava]\n*.*=" + MD5HexString(kCredentials) + "\n");

  TConnection stamped("GET /a.html HTTP/1.0");
  stamped.Header.Values[rqIfModifiedSince] = "Friday, 05-mar-99 14:07:09 GMT; length=4";
  std::string text;
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(stamped.Context(), Sys(dir / "a.html")),
                     &text),
            304);
  EXPECT_EQ(text, "Friday, 05-mar-99 14:07:09 GMT; length=4");

  TConnection dated("GET /a.html HTTP/1.0");
  dated.Header.Values[rqIfModifiedSince] = "Fri, 05 Mar 1999 14:07:09 GMT";
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(dated.Context(), Sys(dir / "a.html"))),
            401)
      << "the common date form never matches";

  TConnection changed("GET /a.html HTTP/1.0");
  changed.Header.Values[rqIfModifiedSince] = "05-MAR-99 14:07:09 GMT; length=5";
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPFileReply>(changed.Context(), Sys(dir / "a.html"))),
            401);
}

TEST(FileReply, HeaderAndBody) {
  TempDir dir;
  WriteFile(dir / "a.html", "<p>hello</p>");
  WriteFile(dir / "http.aut", "[charset]\n*.*=windows-1250\n[zivotnost]\n*.*=1.2.2030\n");
  TConnection connection("GET /a.html HTTP/1.0");
  THTTPFileReply reply(connection.Context(), Sys(dir / "a.html"));
  reply.Prepare();
  ASSERT_EQ(StatusOf(reply), 200);
  reply.SendHeader();
  reply.SendBody();
  std::string sent = connection.Sent();
  std::string head = HeadOf(sent);
  EXPECT_EQ(head.substr(0, 17), "HTTP/1.0 200 OK\r\n") << head;
  EXPECT_NE(head.find("MIME-version: 1.0\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Content-Type: text/html; charset=\"windows-1250\"\r\n"), std::string::npos)
      << head;
  EXPECT_NE(head.find("Content-Length: 12\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("Expires: Fri, 01 Feb 2030 00:00:00 GMT\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("Last-Modified"), std::string::npos) << head;
  EXPECT_EQ(head.find("Connection:"), std::string::npos) << head;
  EXPECT_EQ(BodyOf(sent), "<p>hello</p>");
}

TEST(FileReply, BodyIsExactlyTheAnnouncedLengthWhateverHappensToTheFile) {
  TempDir dir;
  const std::string original(2048, 'o');  // a multiple of the block size
  auto sendChanged = [&](const std::function<void()>& change, bool& stillConnected) {
    WriteFile(dir / "f.bin", original);
    TConnection connection("GET /f.bin HTTP/1.0");
    THTTPFileReply reply(connection.Context(), Sys(dir / "f.bin"));
    reply.Prepare();
    reply.SendHeader();
    change();
    reply.SendBody();
    stillConnected = connection.Socket.Connected;
    return connection.Sent();
  };
  bool connected = false;
  // Grown, or replaced by a longer file: the bytes announced, no more, and
  // the connection can go on to its next reply.
  std::string sent = sendChanged([&] {
    std::ofstream(dir / "f.bin", std::ios::binary | std::ios::app) << "tail";
  }, connected);
  EXPECT_NE(HeadOf(sent).find("Content-Length: 2048\r\n"), std::string::npos) << HeadOf(sent);
  EXPECT_EQ(BodyOf(sent), original);
  EXPECT_TRUE(connected);
  sent = sendChanged([&] { WriteFile(dir / "f.bin", original + "longer"); }, connected);
  EXPECT_EQ(BodyOf(sent), original) << "the file opened for the header is the one sent";
  EXPECT_TRUE(connected);
  // Cut short: what there is, then the connection ends, so that no later
  // reply is read as the rest of this body.
  sent = sendChanged([&] { ::truncate((dir / "f.bin").c_str(), 1000); }, connected);
  EXPECT_EQ(BodyOf(sent), original.substr(0, 1000));
  EXPECT_FALSE(connected);

  // Gone before the header: the length of a missing file, no body, closed.
  TConnection gone("GET /gone.bin HTTP/1.0");
  THTTPFileReply missing(gone.Context(), Sys(dir / "gone.bin"));
  missing.Prepare();
  missing.SendHeader();
  missing.SendBody();
  EXPECT_FALSE(gone.Socket.Connected);
  sent = gone.Sent();
  EXPECT_NE(HeadOf(sent).find("Content-Length: 1024\r\n"), std::string::npos) << HeadOf(sent);
  EXPECT_EQ(BodyOf(sent), "");

  // Without a header (a custom error page) the file goes whole.
  WriteFile(dir / "page.html", original);
  TConnection page("GET /x HTTP/1.0");
  THTTPFileReply nested(page.Context(), Sys(dir / "page.html"));
  nested.Prepare();
  nested.SendBody();
  EXPECT_EQ(page.Sent(), original);
}

TEST(FileReply, BodyCopyHoldsTheWholeFile) {
  TempDir dir;
  std::string bytes(3000, 'x');
  bytes[0] = '\0';
  WriteFile(dir / "big.bin", bytes);
  TConnection connection("GET /big.bin HTTP/1.0");
  THTTPFileReply reply(connection.Context(), Sys(dir / "big.bin"));
  reply.Prepare();
  auto copy = reply.GetBodyCopy();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Bytes(), bytes);

  THTTPFileReply missing(connection.Context(), Sys(dir / "none.bin"));
  missing.Prepare();
  EXPECT_EQ(missing.GetBodyCopy(), nullptr);
}

TEST(DirReply, ListsEntriesEscapedAndLeavesOutTheAccessFile) {
  TempDir dir;
  WriteFile(dir / "a b&c%\"<i>.txt", "12345");
  WriteFile(dir / "<img src=x onerror=alert(1)>", "x");
  WriteFile(dir / "HTTP.AUT", "hidden");
  tovktest::MakeDirs(dir / "sub");
  TConnection connection("GET /list HTTP/1.0");
  THTTPDirReply reply(connection.Context(), Sys(dir.Path()) + "\\");
  reply.Prepare();
  ASSERT_EQ(StatusOf(reply), 200);
  reply.SendHeader();
  reply.SendBody();
  std::string sent = connection.Sent();
  std::string body = BodyOf(sent);

  EXPECT_EQ(body.rfind("<html><head><title>" + GetMsg(19) + " /list/</title></head>", 0), 0u)
      << body;
  EXPECT_NE(body.find("<h2> <img src=\"/iswd/bigdir_gif\"> " + GetMsg(20) + " /list/</h2><hr>"
                      "<table>" + GetMsg(21)),
            std::string::npos)
      << body;
  // Names as text in the page, percent-encoded in their links.
  EXPECT_NE(body.find("<tr><td><img src=\"/iswd/else_gif\"></td><td>"
                      "<a href=\"/list/a%20b%26c%25%22%3Ci%3E.txt\">"
                      "a b&amp;c%&quot;&lt;i&gt;.txt</a></td><td>5</td><td>"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find(">&lt;img src=x onerror=alert(1)&gt;</a>"), std::string::npos) << body;
  EXPECT_EQ(body.find("<img src=x"), std::string::npos) << body;
  EXPECT_NE(body.find("<tr><td><img src=\"/iswd/dir_gif\"></td><td><a href=\"/list/sub\">sub"
                      "</a></td><td>0</td><td>"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("<a href=\"/list/..\">..</a>"), std::string::npos) << body;
  EXPECT_EQ(body.find("<a href=\"/list/.\">"), std::string::npos) << body;
  EXPECT_EQ(body.find("HTTP.AUT"), std::string::npos) << body;
  EXPECT_NE(body.find("</table><hr><font size=-1><center><address>" + ServerSoftware),
            std::string::npos)
      << body;
  EXPECT_EQ(body.substr(body.size() - 14), "</body></html>");
  EXPECT_NE(HeadOf(sent).find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
}

TEST(DirReply, RequestTextIsEscapedInTitleHeadingAndLinks) {
  TempDir dir;
  WriteFile(dir / "f.txt", "x");
  TConnection connection("GET /<script>/../d/ HTTP/1.0");
  THTTPDirReply reply(connection.Context(), Sys(dir.Path()) + "\\");
  reply.Prepare();
  reply.SendBody();
  std::string body = connection.Sent();
  EXPECT_EQ(body.find("<script>"), std::string::npos) << body;
  EXPECT_NE(body.find("&lt;script&gt;/../d/f.txt"), std::string::npos) << body;
}

TEST(DirReply, TlsNeedsAnAccessFileThatSaysSo) {
  TempDir dir;
  TConnection connection("GET /d/ HTTP/1.0");
  std::string text;
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPDirReply>(connection.Context(true),
                                                   Sys(dir.Path()) + "\\"),
                     &text),
            403);
  EXPECT_EQ(text, "/d/");
  WriteFile(dir / "http.aut", "[ostatni]\nisSSL=1\n");
  EXPECT_EQ(StatusOf(*PreparedReply<THTTPDirReply>(connection.Context(true),
                                                   Sys(dir.Path()) + "\\")),
            200);
}

TEST(DirReply, RootHasNoParentRow) {
  TConnection connection("GET / HTTP/1.0");
  THTTPDirReply reply(connection.Context(), "\\");
  reply.Prepare();
  reply.SendBody();
  std::string body = connection.Sent();
  EXPECT_NE(body.find("<a href=\"/"), std::string::npos) << "the root has entries";
  EXPECT_EQ(body.find("<a href=\"/..\">"), std::string::npos);
}

TEST(DirReply, AccessFileRightsAndListingFlag) {
  TempDir dir;
  WriteFile(dir / "f.txt", "x");
  WriteFile(dir / "HTTP.AUT", "[prava]\n*.*=" + MD5HexString(kCredentials) + "\n");
  auto statusWith = [&dir](const std::string& authorization, std::string* text = nullptr) {
    TConnection connection("GET /d/ HTTP/1.0");
    if (!authorization.empty()) connection.Header.Values[rqAuthorization] = authorization;
    return StatusOf(*PreparedReply<THTTPDirReply>(connection.Context(), Sys(dir.Path()) + "\\"),
                    text);
  };
  std::string text;
  EXPECT_EQ(statusWith("", &text), 401) << "an access file in upper case protects the listing";
  EXPECT_EQ(text, "/d/");
  EXPECT_EQ(statusWith("Basic ZGVtbzp4"), 401);
  EXPECT_EQ(statusWith(std::string("Basic ") + kCredentials), 200);

  WriteFile(dir / "HTTP.AUT", "[ostatni]\nvypis=0\n");
  EXPECT_EQ(statusWith(std::string("Basic ") + kCredentials), 403);
  WriteFile(dir / "HTTP.AUT", "[ostatni]\nvypis=1\n");
  EXPECT_EQ(statusWith(""), 200);

  ::unlink((dir / "HTTP.AUT").c_str());
  tovktest::MakeDirs(dir / "http.aut");
  EXPECT_EQ(statusWith(std::string("Basic ") + kCredentials), 403)
      << "an access file that cannot be read";
}
