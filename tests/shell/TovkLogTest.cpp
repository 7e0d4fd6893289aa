// The log library on its own: record formats, files and directories.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/ShortString.h"
#include "companion/tovklog/TovkLog.h"
#include "tests/support/TestSupport.h"

namespace {

using tovktest::ReadFile;
using tovktest::TempDir;

struct Short {
  TShortString Bytes{};
  explicit Short(const std::string& text) { ToShortString(text, Bytes); }
  operator const unsigned char*() const { return Bytes; }
};

const std::string kStamp = "[08/Dec/2026:01:02:03 +0100]";

bool Init(const std::string& dir, bool newLogFile = false, const TLogVirtNode* servers = nullptr) {
  unsigned char area[16] = {};
  return LogDllInit(Short(dir), area, servers, newLogFile ? 1 : 0) != 0;
}

void Access(const std::string& host, const std::string& client, const std::string& user,
            const std::string& request, const std::string& referer, const std::string& agent,
            uint32_t status, int32_t bytes) {
  LogDllAddAccess(Short(host), Short(client), Short(user), Short(kStamp), Short(request),
                  Short(referer), Short(agent), status, bytes);
}

std::vector<std::string> KeptFiles(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.rfind(prefix + "-", 0) == 0) names.push_back(name);
  }
  return names;
}

class TovkLog : public ::testing::Test {
 protected:
  void TearDown() override { LogDllDone(); }
  TempDir Dir;
};

TEST_F(TovkLog, AccessRecordHasHostThenCombinedFormat) {
  ASSERT_TRUE(Init(Dir.Path()));
  Access("www.a.cz", "127.0.0.1", "bob", "GET /a.htm HTTP/1.0", "http://b/", "Agent/1.0", 200, 1234);
  EXPECT_EQ("www.a.cz 127.0.0.1 - bob " + kStamp +
                " \"GET /a.htm HTTP/1.0\" 200 1234 \"http://b/\" \"Agent/1.0\"\n",
            ReadFile(Dir / "access.log"));
}

TEST_F(TovkLog, EmptyHostUserAndUnknownBytesAreDashes) {
  ASSERT_TRUE(Init(Dir.Path()));
  Access("", "10.1.2.3", "", "HEAD / HTTP/1.0", "", "", 404, -1);
  EXPECT_EQ("- 10.1.2.3 - - " + kStamp + " \"HEAD / HTTP/1.0\" 404 - \"-\" \"-\"\n",
            ReadFile(Dir / "access.log"));
}

TEST_F(TovkLog, BytesThatWouldSplitARecordAreEscaped) {
  ASSERT_TRUE(Init(Dir.Path()));
  Access("h", "c", "u", "GET /\"x\\ HTTP/1.0", "", "a\r\nb", 200, 0);
  LogDllAddError(Short("one\ntwo"), Short(kStamp));
  EXPECT_EQ("h c - u " + kStamp + " \"GET /\\\"x\\\\ HTTP/1.0\" 200 0 \"-\" \"a\\x0d\\x0ab\"\n",
            ReadFile(Dir / "access.log"));
  EXPECT_EQ(kStamp + " one\\x0atwo\n", ReadFile(Dir / "error.log"));
}

TEST_F(TovkLog, ClientChosenBareFieldsStayOneField) {
  // A Host or a user name written as it came could put a whole forged
  // record in front of the real one.
  ASSERT_TRUE(Init(Dir.Path()));
  Access("203.0.113.7 - root [01/Jan/2020:00:00:00 +0000] \"GET /admin/ HTTP/1.0\" 200 5 #",
         "10.0.0.1", "a b\"c\\", "GET / HTTP/1.0", "", "", 200, 1);
  Access("-", "10.0.0.1", "-", "GET / HTTP/1.0", "", "", 200, 1);
  std::string log = ReadFile(Dir / "access.log");
  std::string first = log.substr(0, log.find('\n'));
  EXPECT_EQ(first.substr(0, first.find(' ')),
            "203.0.113.7\\x20-\\x20root\\x20[01/Jan/2020:00:00:00\\x20+0000]\\x20\\x22GET"
            "\\x20/admin/\\x20HTTP/1.0\\x22\\x20200\\x205\\x20#");
  EXPECT_NE(first.find(" 10.0.0.1 - a\\x20b\\x22c\\x5c " + kStamp + " \"GET / HTTP/1.0\" 200 1 "),
            std::string::npos)
      << first;
  EXPECT_EQ(log.substr(log.find('\n') + 1, 22), "\\x2d 10.0.0.1 - \\x2d [")
      << "a value of just \"-\" is not taken for an empty one";
}

TEST_F(TovkLog, Windows1250BytesAreWrittenAsTheyAre) {
  ASSERT_TRUE(Init(Dir.Path()));
  LogDllAddError(Short("Nelze mít duplicitní záznamy"), Short(kStamp));
  EXPECT_EQ(kStamp + " Nelze mít duplicitní záznamy\n", ReadFile(Dir / "error.log"));
}

TEST_F(TovkLog, ErrorRecordsAppendAcrossInitialisations) {
  ASSERT_TRUE(Init(Dir.Path()));
  LogDllAddError(Short("first"), Short(kStamp));
  LogDllDone();
  ASSERT_TRUE(Init(Dir.Path()));
  LogDllAddError(Short("second"), Short("08/Dec/2026:01:02:04 +0100"));
  EXPECT_EQ(kStamp + " first\n[08/Dec/2026:01:02:04 +0100] second\n", ReadFile(Dir / "error.log"));
  EXPECT_TRUE(KeptFiles(Dir.Path(), "error").empty());
}

TEST_F(TovkLog, NewLogFileKeepsEveryOldFileUnderATimeStampedName) {
  ASSERT_TRUE(Init(Dir.Path()));
  LogDllAddError(Short("old"), Short(kStamp));
  ASSERT_TRUE(Init(Dir.Path(), true));
  LogDllAddError(Short("newer"), Short(kStamp));
  ASSERT_TRUE(Init(Dir.Path(), true));  // very likely the same second: must not overwrite
  LogDllAddError(Short("newest"), Short(kStamp));
  EXPECT_EQ(kStamp + " newest\n", ReadFile(Dir / "error.log"));
  auto kept = KeptFiles(Dir.Path(), "error");
  ASSERT_EQ(2u, kept.size());
  std::string both = ReadFile(Dir / kept[0]) + ReadFile(Dir / kept[1]);
  EXPECT_NE(std::string::npos, both.find("old"));
  EXPECT_NE(std::string::npos, both.find("newer"));
  EXPECT_EQ(2u, KeptFiles(Dir.Path(), "access").size());
}

TEST_F(TovkLog, CreatesAMissingDirectoryGivenAsWindowsPath) {
  std::string nested = Dir / "a/b/c";
  std::string windows = nested;
  for (char& c : windows)
    if (c == '/') c = '\\';
  const mode_t umaskBefore = ::umask(022);
  const bool initialised = Init(windows + "\\");
  ::umask(umaskBefore);
  ASSERT_TRUE(initialised);
  LogDllAddError(Short("here"), Short(kStamp));
  EXPECT_EQ(kStamp + " here\n", ReadFile(nested + "/error.log"));
  // Nothing of the log is for every user of the machine.
  auto mode = [](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777u;
  };
  for (const std::string& dir : {Dir / "a", Dir / "a/b", nested}) EXPECT_EQ(mode(dir), 0750u) << dir;
  for (const char* file : {"/access.log", "/error.log"}) EXPECT_EQ(mode(nested + file), 0640u) << file;
}

TEST_F(TovkLog, InitFailsWhereItCannotWrite) {
  tovktest::WriteFile(Dir / "file", "x");
  EXPECT_FALSE(Init(Dir / "file/logs"));
  // Records after a failed init go nowhere and do not crash.
  LogDllAddError(Short("lost"), Short(kStamp));
  Access("h", "c", "u", "GET / HTTP/1.0", "", "", 200, 1);
  LogDllTimer();
}

TEST_F(TovkLog, TimerFollowsALogRotatedFromOutside) {
  ASSERT_TRUE(Init(Dir.Path()));
  LogDllAddError(Short("before"), Short(kStamp));
  std::filesystem::rename(Dir / "error.log", Dir / "error.log.1");
  LogDllTimer();
  LogDllAddError(Short("after"), Short(kStamp));
  EXPECT_EQ(kStamp + " before\n", ReadFile(Dir / "error.log.1"));
  EXPECT_EQ(kStamp + " after\n", ReadFile(Dir / "error.log"));
}

TEST_F(TovkLog, AboutNamesTheFilesTheDirectoryAndTheServers) {
  TLogVirtNode second{}, first{};
  ToShortString("B.CZ", second.Name);
  ToShortString("A.CZ", first.Name);
  first.Next = &second;
  ASSERT_TRUE(Init(Dir.Path(), false, &first));
  TShortString about{};
  LogDllAbout(about);
  std::string text = FromShortString(about);
  EXPECT_NE(std::string::npos, text.find("access.log")) << text;
  EXPECT_NE(std::string::npos, text.find(Dir.Path())) << text;
  EXPECT_NE(std::string::npos, text.find("2 virtual servers")) << text;
}

}  // namespace
