// The access file and the access check every reply asks: the record read
// from http.aut, and the three answers for each use, asked directly.
#include "server/reply/AccessCheck.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/reply/ReplyTestSupport.h"

using replytest::Sys;
using tovktest::TempDir;
using tovktest::WriteFile;

namespace {

TAccessRecord RecordFor(const std::string& path) { return ReadAccessRecord(path); }

TRequest RequestFor(const std::string& line, TMemoryStream& body, bool isTLS = false,
                    const std::string& authorization = "") {
  std::vector<std::string> lines{line};
  if (!authorization.empty()) lines.push_back("Authorization: " + authorization);
  return TRequest::FromLines(lines, body, "127.0.0.1", isTLS, 1);
}

}  // namespace

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

TEST(AccessCheck, AllowsOrAsksForCredentialsOrForbids) {
  TMemoryStream body;
  // The digest of the credentials text "eDp5".
  const std::string rights = "6FB72B498C4FDE69FBCC3F1B8812A318";
  const TRequest none = RequestFor("GET /p/a.html HTTP/1.0", body);
  const TRequest wrong = RequestFor("GET /p/a.html HTTP/1.0", body, false, "Basic eTp4");
  const TRequest tls = RequestFor("GET /p/a.html HTTP/1.0", body, true);

  TAccessRecord open;  // a directory without access file
  EXPECT_TRUE(CheckAccess(open, none, "a.html", TAccessUse::Read).Allowed());
  EXPECT_TRUE(CheckAccess(open, none, "x", TAccessUse::List).Allowed());
  EXPECT_EQ(CheckAccess(open, none, "x.cgi", TAccessUse::Run).Code, 403) << "nothing runs";
  EXPECT_EQ(CheckAccess(open, tls, "a.html", TAccessUse::Read).Code, 403) << "TLS wants isSSL";
  EXPECT_TRUE(CheckAccess(open, tls, "logo_gif", TAccessUse::Builtin).Allowed());
  EXPECT_EQ(CheckAccess(open, none, "HTTP.aut", TAccessUse::Read).Code, 403);

  TAccessRecord guarded;
  guarded.Present = true;
  guarded.Vypis = true;
  guarded.Spoustet = true;
  guarded.Rights = rights;
  TAccessAnswer asked = CheckAccess(guarded, wrong, "a.html", TAccessUse::Read);
  EXPECT_EQ(asked.Code, 401);
  EXPECT_EQ(asked.Realm, "/p/a.html");
  for (TAccessUse use : {TAccessUse::List, TAccessUse::Run, TAccessUse::Parse, TAccessUse::Peek,
                         TAccessUse::Builtin, TAccessUse::BuiltinOtherScheme})
    EXPECT_EQ(CheckAccess(guarded, none, "a.html", use).Code, 401) << static_cast<int>(use);
  TAccessAnswer byName = CheckAccess(guarded, wrong, "http.aut", TAccessUse::Read);
  EXPECT_EQ(byName.Code, 403) << "the name wins over the credentials";
  EXPECT_TRUE(byName.ByName);
  EXPECT_EQ(CheckAccess(guarded, tls, "a.html", TAccessUse::BuiltinOtherScheme).Code, 401)
      << "another scheme's file asks only for its rights";

  TAccessRecord unreadable = guarded;
  unreadable.Unreadable = true;
  EXPECT_EQ(CheckAccess(unreadable, none, "a.html", TAccessUse::Builtin).Code, 403);
  TAccessRecord noListing = guarded;
  noListing.Vypis = false;
  EXPECT_EQ(CheckAccess(noListing, wrong, "", TAccessUse::List).Code, 403);
}

TEST(AccessRecord, RememberedNamesFollowTheDirectory) {
  TempDir dir;
  // A directory that has been still for a while is remembered at once.
  auto settle = [&] {
    std::filesystem::last_write_time(dir.Path(), std::filesystem::file_time_type::clock::now() -
                                                     std::chrono::hours(1));
  };
  settle();
  const std::string file = Sys(dir / "a.html");
  EXPECT_FALSE(ReadAccessRecord(file).Present);
  WriteFile(dir / "http.aut", "[prava]\n*.*=AB\n");
  EXPECT_EQ(ReadAccessRecord(file).Rights, "AB") << "a new file is seen at once";
  settle();
  EXPECT_EQ(ReadAccessRecord(file).Rights, "AB");
  WriteFile(dir / "http.aut", "[prava]\n*.*=CD\n");
  EXPECT_EQ(ReadAccessRecord(file).Rights, "CD") << "the content is read every time";
  settle();
  WriteFile(dir / "HTTP.AUT", "[prava]\n*.*=EF\n");
  EXPECT_TRUE(ReadAccessRecord(file).Unreadable) << "a second spelling is seen at once";
  settle();
  std::filesystem::remove(dir / "http.aut");
  EXPECT_EQ(ReadAccessRecord(file).Rights, "EF") << "a removal is seen at once";
  settle();
  std::filesystem::remove(dir / "HTTP.AUT");
  EXPECT_FALSE(ReadAccessRecord(file).Present);
  // Remembered without an access file, then one added and the directory's
  // modification time set back as it was (touch -r, cp -p, an archive).
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  EXPECT_FALSE(ReadAccessRecord(file).Present);
  const auto before = std::filesystem::last_write_time(dir.Path());
  WriteFile(dir / "http.aut", "[prava]\n*.*=GH\n");
  std::filesystem::last_write_time(dir.Path(), before);
  EXPECT_EQ(ReadAccessRecord(file).Rights, "GH") << "a time stamp set back hides nothing";
}

