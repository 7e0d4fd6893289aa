#include "server/reply/SvrHttpReply.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/reply/ReplyTestSupport.h"

using replytest::Sys;
using replytest::TConnection;
using tovktest::TempDir;
using tovktest::WriteFile;

namespace {

std::pair<int, std::string> Parse(const std::string& line) {
  uint8_t method = 99;
  std::string url;
  ParseRequestLine(line, method, url);
  return {method, url};
}

TAccessRecord RecordFor(const std::string& path) { return ReadAccessRecord(path); }

}  // namespace

TEST(ParseRequestLine, MethodIsTheExactFirstWord) {
  EXPECT_EQ(Parse("GET /HEAD.html HTTP/1.0"), std::make_pair(int(mtGet), std::string("/HEAD.html")));
  EXPECT_EQ(Parse("POST /cgi/GET.pl HTTP/1.0"), std::make_pair(int(mtPost), std::string("/cgi/GET.pl")));
  EXPECT_EQ(Parse("HEAD / HTTP/1.0").first, mtHead);
  EXPECT_EQ(Parse("get / HTTP/1.0").first, mtUnknown);
  EXPECT_EQ(Parse("PUT / HTTP/1.0").first, mtUnknown);
}

TEST(ParseRequestLine, AbsoluteUrlLosesSchemeAndHost) {
  EXPECT_EQ(Parse("GET http://www.example:8080/a/b.html HTTP/1.0").second, "/a/b.html");
  EXPECT_EQ(Parse("GET HTTP://hostonly HTTP/1.0").second, "hostonly");
  EXPECT_EQ(Parse("GET /a?u=http://b.example/c HTTP/1.0").second, "/a?u=http://b.example/c");
}

TEST(ParseRequestLine, SimpleRequestsAndLinesWithoutBlank) {
  EXPECT_EQ(Parse("GET /simple").second, "/simple");
  EXPECT_EQ(Parse("GET /two words").second, "/two words");
  EXPECT_EQ(Parse("GET").second, "");
}

TEST(ReplyBase, UrlPathAndQueryComeFromTheRawRequestLine) {
  TConnection connection("GET /a%20b?x=1&y=/c HTTP/1.0");
  THTTPReply reply(connection.Context());
  reply.Prepare();
  EXPECT_EQ(reply.GetUrlPath(), "/a%20b");
  EXPECT_EQ(reply.GetQueryString(), "x=1&y=/c");
  int16_t code = 0;
  std::string text = "x";
  EXPECT_FALSE(reply.GetStatus(code, text));
  EXPECT_EQ(code, 200);
  EXPECT_EQ(text, "");

  TConnection plain("POST /form");
  THTTPReply noQuery(plain.Context());
  noQuery.Prepare();
  EXPECT_EQ(noQuery.GetQueryString(), "");
  EXPECT_EQ(noQuery.GetUrlPath(), "/form");
}

TEST(ReplyBase, BaseHeaderAddsDateServerAndKeepAlive) {
  TConnection connection("GET / HTTP/1.0");
  connection.Header.Values[rqConnection] = "keep-alive";
  THTTPReply reply(connection.Context());
  reply.Prepare();
  reply.SendHeader();
  std::string sent = connection.Sent();
  EXPECT_NE(sent.find("\r\nDate: "), std::string::npos) << sent;
  EXPECT_NE(sent.find(" GMT\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("\r\nConnection: Keep-Alive\r\n"), std::string::npos) << sent;
  EXPECT_EQ(sent.substr(sent.size() - 4), "\r\n\r\n");
}

TEST(AccessRecord, DefaultsWithAndWithoutAccessFile) {
  TempDir dir;
  TAccessRecord none = RecordFor(Sys(dir / "a.html"));
  EXPECT_EQ(none.Rights, "");
  EXPECT_FALSE(none.IsSSL);
  EXPECT_FALSE(none.Vypis);
  EXPECT_FALSE(none.Spoustet);

  WriteFile(dir / "http.aut", "[ostatni]\n");
  TAccessRecord empty = RecordFor(Sys(dir / "a.html"));
  EXPECT_TRUE(empty.Vypis) << "with an access file listing defaults to on";
  EXPECT_FALSE(empty.Spoustet);
}

TEST(AccessRecord, StarKeyProtectsAllButAnEmptyOwnKey) {
  TempDir dir;
  WriteFile(dir / "http.aut", "[prava]\n*.*=ABCDEF\nfree.html=\nown.html=123\n");
  EXPECT_EQ(RecordFor(Sys(dir / "a.html")).Rights, "ABCDEF");
  EXPECT_EQ(RecordFor(Sys(dir / "free.html")).Rights, "") << "an empty own key overrides *.*";
  EXPECT_EQ(RecordFor(Sys(dir / "own.html")).Rights, "123");
  EXPECT_EQ(RecordFor(Sys(dir.Path()) + "\\").Rights, "ABCDEF") << "a directory uses *.*";
  // Parent directories do not pass their access file on.
  EXPECT_EQ(RecordFor(Sys(dir / "sub") + "\\b.html").Rights, "");
}

TEST(AccessRecord, SentinelsCountAsAbsentAndRightsAreCut) {
  TempDir dir;
  WriteFile(dir / "http.aut",
            "[prava]\na.html=<none>\n*.*=" + std::string(40, 'F') +
                "\n[charset]\na.html=<nic>\n*.*=windows-1250\n");
  TAccessRecord record = RecordFor(Sys(dir / "a.html"));
  EXPECT_EQ(record.Rights, std::string(kAccessRightsMax, 'F'));
  EXPECT_EQ(record.CharsetSuffix, "; charset=\"windows-1250\"");
}

TEST(AccessRecord, CharsetSuffixIsCutTo30) {
  TempDir dir;
  WriteFile(dir / "http.aut", "[charset]\n*.*=" + std::string(40, 'c') + "\n");
  EXPECT_EQ(RecordFor(Sys(dir / "a.html")).CharsetSuffix,
            ("; charset=\"" + std::string(40, 'c')).substr(0, kAccessTextMax));
}

TEST(AccessRecord, FlagsTakeDecimalAndHexAndIgnoreOtherText) {
  TempDir dir;
  WriteFile(dir / "http.aut", "[ostatni]\nisSSL=$1\nspoustet=0x10\nvypis=ano\n");
  TAccessRecord record = RecordFor(Sys(dir / "a.html"));
  EXPECT_TRUE(record.IsSSL);
  EXPECT_TRUE(record.Spoustet);
  EXPECT_TRUE(record.Vypis) << "a value that is no integer gives the default";

  WriteFile(dir / "http.aut", "[ostatni]\nisSSL=0\nspoustet=1x\nvypis=0\n");
  record = RecordFor(Sys(dir / "a.html"));
  EXPECT_FALSE(record.IsSSL);
  EXPECT_FALSE(record.Spoustet);
  EXPECT_FALSE(record.Vypis);
}

TEST(AccessRecord, ExpiryIsAShortDateAtMidnight) {
  TempDir dir;
  WriteFile(dir / "http.aut", "[zivotnost]\n*.*=31.12.2027\nbad.html=zitra\n");
  EXPECT_EQ(RecordFor(Sys(dir / "a.html")).Expiry, "Fri, 31 Dec 2027 00:00:00 GMT");
  EXPECT_EQ(RecordFor(Sys(dir / "bad.html")).Expiry, "")
      << "an own value that is no date gives no expiry, without falling back to *.*";
}

TEST(AccessRecord, FoundInAnyLetterCase) {
  TempDir dir;
  WriteFile(dir / "Http.Aut", "[prava]\n*.*=ABCDEF\n[ostatni]\nvypis=0\n");
  TAccessRecord record = RecordFor(Sys(dir / "a.html"));
  EXPECT_TRUE(record.Present);
  EXPECT_FALSE(record.Unreadable);
  EXPECT_EQ(record.Rights, "ABCDEF");
  EXPECT_FALSE(record.Vypis);
}

TEST(AccessRecord, OneThatIsThereButCannotBeReadRefusesEverything) {
  // Root reads any file, so the unreadable ones are those that are no
  // readable file at all: a directory, a dangling link, two spellings.
  auto expectUnreadable = [](const std::string& dir, const std::string& what) {
    TAccessRecord record = RecordFor(Sys(dir + "/a.html"));
    EXPECT_TRUE(record.Present) << what;
    EXPECT_TRUE(record.Unreadable) << what;
    EXPECT_FALSE(record.Vypis) << what;
    EXPECT_FALSE(record.Spoustet) << what;
    EXPECT_FALSE(record.Rights.empty()) << what << ": rights no credentials match";
  };
  TempDir folder;
  tovktest::MakeDirs(folder / "HTTP.AUT");
  expectUnreadable(folder.Path(), "a directory of that name");

  TempDir dangling;
  ASSERT_EQ(::symlink((dangling / "gone").c_str(), (dangling / "http.aut").c_str()), 0);
  expectUnreadable(dangling.Path(), "a link to nothing");

  TempDir twice;
  WriteFile(twice / "http.aut", "[ostatni]\n");
  WriteFile(twice / "HTTP.aut", "[prava]\n*.*=ABCDEF\n");
  expectUnreadable(twice.Path(), "two spellings side by side");
}

