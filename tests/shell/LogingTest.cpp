// The log layer over the real library: cutting, byte counts, the time
// stamp, and calls at any moment of the log's life.

// g++ 12 warns falsely inside <regex> when built with sanitizers.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <thread>

#include "server/shell/Loging.h"
#include "tests/support/TestSupport.h"

namespace {

using tovktest::ReadFile;
using tovktest::TempDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The record without its time stamp.
std::string AfterStamp(const std::string& line) {
  std::size_t end = line.find("] ");
  return end == std::string::npos ? line : line.substr(end + 2);
}

class Loging : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LogInit(Dir.Path() + "/", false)); }
  void TearDown() override { LogDone(); }
  std::string AccessBytesField(const std::string& contentLength) {
    LogAccess("127.0.0.1", "host", "", "GET / HTTP/1.0", 200, contentLength, "", "");
    auto lines = Lines(ReadFile(Dir / "access.log"));
    if (lines.empty()) return "<none>";
    std::smatch m;
    std::regex form(R"re(" 200 (\S+) ")re");
    return std::regex_search(lines.back(), m, form) ? m[1].str() : "<bad line: " + lines.back() + ">";
  }
  TempDir Dir;
};

TEST_F(Loging, ErrorRecordCarriesTheCommonLogTimeStamp) {
  LogError("something failed");
  auto lines = Lines(ReadFile(Dir / "error.log"));
  ASSERT_EQ(1u, lines.size());
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(R"(\[\d\d/[A-Z][a-z][a-z]/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] something failed)")))
      << lines[0];
}

TEST_F(Loging, MessagesLongerThan255BytesReachTheLibraryCut) {
  std::string text(250, 'a');
  text += "BCDEFGHIJK";
  LogError(text);
  auto lines = Lines(ReadFile(Dir / "error.log"));
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(std::string(250, 'a') + "BCDEF", AfterStamp(lines[0]));
}

TEST_F(Loging, ContentLengthThatIsNotADecimalNumberLogsMinusOne) {
  EXPECT_EQ("512", AccessBytesField("512"));
  EXPECT_EQ("0", AccessBytesField("0"));
  EXPECT_EQ("-", AccessBytesField(""));
  EXPECT_EQ("-", AccessBytesField("-"));
  EXPECT_EQ("-", AccessBytesField("12a"));
  EXPECT_EQ("-", AccessBytesField(" 12"));
  EXPECT_EQ("-", AccessBytesField("99999999999"));
}

TEST_F(Loging, AccessRecordTakesTheParametersInTheLibrarysOrder) {
  LogAccess("10.0.0.7", "www.a.cz", "bob", "GET /x HTTP/1.0", 404, "17", "http://r/", "UA/2");
  auto lines = Lines(ReadFile(Dir / "access.log"));
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find("www.a.cz 10.0.0.7 - bob [")) << lines[0];
  EXPECT_EQ("\"GET /x HTTP/1.0\" 404 17 \"http://r/\" \"UA/2\"", AfterStamp(lines[0]));
}

TEST_F(Loging, StatusTextIsTakenOnce) {
  EXPECT_EQ("", TakeStatusText());
  SetStatusText("first");
  SetStatusText("second");
  EXPECT_EQ("second", TakeStatusText());
  EXPECT_EQ("", TakeStatusText());
}

TEST_F(Loging, CallsAfterLogDoneNeitherCrashNorReachTheFiles) {
  LogError("open");
  LogDone();
  LogDone();
  testing::internal::CaptureStderr();
  LogError("while closed");
  std::string stderrText = testing::internal::GetCapturedStderr();
  LogAccess("1.2.3.4", "h", "", "GET / HTTP/1.0", 200, "1", "", "");
  LogTimer();
  SetStatusText("still works");
  EXPECT_EQ("still works", TakeStatusText());
  EXPECT_EQ(1u, Lines(ReadFile(Dir / "error.log")).size());
  EXPECT_EQ("", ReadFile(Dir / "access.log"));
  EXPECT_NE(std::string::npos, stderrText.find("while closed")) << stderrText;
  ASSERT_TRUE(LogInit(Dir.Path(), false));
}

TEST_F(Loging, AFailedReinitialisationLeavesTheLayerClosedButUsable) {
  LogDone();
  tovktest::WriteFile(Dir / "plain", "x");
  EXPECT_FALSE(LogInit(Dir / "plain/sub", false));
  testing::internal::CaptureStderr();
  LogError("after a failed init");
  testing::internal::GetCapturedStderr();
  LogAccess("1.2.3.4", "h", "", "GET / HTTP/1.0", 200, "1", "", "");
  EXPECT_EQ("", ReadFile(Dir / "error.log"));
  ASSERT_TRUE(LogInit(Dir.Path(), false));
  LogError("open again");
  EXPECT_EQ(1u, Lines(ReadFile(Dir / "error.log")).size());
}

TEST_F(Loging, RecordsStayWholeWhileTheLogIsReopenedUnderThem) {
  constexpr int kThreads = 4;
  constexpr int kRecords = 300;
  std::atomic<bool> go{false};
  std::vector<std::thread> writers;
  testing::internal::CaptureStderr();
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t, &go] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kRecords; ++i) {
        LogError("writer " + std::to_string(t) + " record " + std::to_string(i));
        LogAccess("127.0.0.1", "h", "u", "GET /" + std::to_string(i) + " HTTP/1.0", 200, "5", "", "");
      }
    });
  }
  go = true;
  for (int i = 0; i < 50; ++i) {  // a reload, again and again
    LogDone();
    LogInit(Dir.Path(), false);
  }
  for (auto& w : writers) w.join();
  testing::internal::GetCapturedStderr();
  std::regex errorForm(R"(\[[^\]]+\] writer \d record \d+)");
  for (const auto& line : Lines(ReadFile(Dir / "error.log")))
    ASSERT_TRUE(std::regex_match(line, errorForm)) << line;
  std::regex accessForm(R"(h 127\.0\.0\.1 - u \[[^\]]+\] "GET /\d+ HTTP/1\.0" 200 5 "-" "-")");
  for (const auto& line : Lines(ReadFile(Dir / "access.log")))
    ASSERT_TRUE(std::regex_match(line, accessForm)) << line;
}

TEST_F(Loging, AboutComesFromTheLibrary) {
  EXPECT_NE(std::string::npos, LogAbout().find("tovklog"));
}

}  // namespace
