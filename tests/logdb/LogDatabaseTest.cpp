// The log library's database output without a database: settings, time
// stamps, the queue towards an absent database, and that nothing starts
// without LogMySQL_host.

#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "common/ShortString.h"
#include "companion/tovklog/LogDatabase.h"
#include "companion/tovklog/TovkLog.h"
#include "tests/logdb/LogDllCalls.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;
using tovktest::About;
using tovktest::Short;
using tovktest::ReadFile;
using tovktest::TempDir;

TEST(ParseDatabaseHost, TakesAPortAfterAColonAndDefaultsTo3306) {
  std::string host;
  unsigned port = 0;
  ASSERT_TRUE(ParseDatabaseHost("db.example.cz", host, port));
  EXPECT_EQ("db.example.cz", host);
  EXPECT_EQ(3306u, port);
  ASSERT_TRUE(ParseDatabaseHost(" 127.0.0.1:3307 ", host, port));
  EXPECT_EQ("127.0.0.1", host);
  EXPECT_EQ(3307u, port);
  ASSERT_TRUE(ParseDatabaseHost("[::1]:65535", host, port));
  EXPECT_EQ("::1", host);
  EXPECT_EQ(65535u, port);
  ASSERT_TRUE(ParseDatabaseHost("fe80::2", host, port));  // bare IPv6: no port in it
  EXPECT_EQ("fe80::2", host);
  EXPECT_EQ(3306u, port);
}

TEST(ParseDatabaseHost, RefusesWhatIsNoHostOrNoPort) {
  std::string host;
  unsigned port;
  for (const char* bad : {"", "   ", "host:", "host:0", "host:65536", "host:33x6", "host:-1",
                          ":3306", "[::1", "[::1]x", "[]:3306", "host:1234567"})
    EXPECT_FALSE(ParseDatabaseHost(bad, host, port)) << bad;
}

TEST(ParseLogTime, ReadsTheLocalTimeAsWritten) {
  TLogTime t;
  ASSERT_TRUE(ParseLogTime("[08/Dec/2026:01:02:03 +0100]", t));
  EXPECT_EQ(2026, t.Year);
  EXPECT_EQ(12, t.Month);
  EXPECT_EQ(8, t.Day);
  EXPECT_EQ(1, t.Hour);
  EXPECT_EQ(2, t.Minute);
  EXPECT_EQ(3, t.Second);
  // The offset is not applied: -0500 leaves the hour as it is.
  ASSERT_TRUE(ParseLogTime("29/Feb/2024:23:59:59 -0500", t));
  EXPECT_EQ(2, t.Month);
  EXPECT_EQ(29, t.Day);
  EXPECT_EQ(23, t.Hour);
}

TEST(ParseLogTime, RefusesStampsThatAreNoRealTime) {
  TLogTime t;
  for (const char* bad :
       {"", "[]", "[08/Dec/2026:01:02:03 +0100", "08/Dec/2026:01:02:03", "08/Dek/2026:01:02:03 +0100",
        "29/Feb/2026:01:02:03 +0100", "31/Apr/2026:01:02:03 +0100", "00/Jan/2026:01:02:03 +0100",
        "08/Dec/2026:24:00:00 +0100", "08/Dec/2026:01:60:03 +0100", "08/Dec/2026:01:02:03 0100",
        "8/Dec/2026:01:02:03 +0100x", "08/dec/2026:01:02:03 +0100", "08/Dec/2026:01:02:03 +01x0"})
    EXPECT_FALSE(ParseLogTime(bad, t)) << bad;
}

// Collects what the database output reports for the error file.
struct Reports {
  std::mutex Lock;
  std::condition_variable Came;
  std::vector<std::string> Texts;

  TLogDatabase::TReport Sink() {
    return [this](const std::string& text) {
      std::lock_guard<std::mutex> guard(Lock);
      Texts.push_back(text);
      Came.notify_all();
    };
  }
  std::vector<std::string> All() {
    std::lock_guard<std::mutex> guard(Lock);
    return Texts;
  }
  bool WaitFor(const std::string& part, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock<std::mutex> lock(Lock);
    return Came.wait_for(lock, timeout, [&] {
      return std::any_of(Texts.begin(), Texts.end(),
                         [&](const std::string& t) { return t.find(part) != std::string::npos; });
    });
  }
  std::size_t CountOf(const std::string& part) {
    auto texts = All();
    return std::count_if(texts.begin(), texts.end(),
                         [&](const std::string& t) { return t.find(part) != std::string::npos; });
  }
};

TLogDatabaseLogin Nowhere() {
  TLogDatabaseLogin login;
  login.Host = "127.0.0.1";
  login.Port = static_cast<unsigned>(tovktest::FreePort());  // nothing listens there
  login.User = "nobody";
  return login;
}

TLogRow ErrorRow(const std::string& message) {
  TLogRow row;
  row.IsAccess = false;
  row.Stamp = "[08/Dec/2026:01:02:03 +0100]";
  row.Message = message;
  return row;
}

TEST(LogDatabase, AnAbsentDatabaseIsReportedOnceAndKeepsTheRecords) {
  Reports reports;
  TLogDatabaseLogin login = Nowhere();
  TLogDatabase database(login, reports.Sink());
  EXPECT_EQ("127.0.0.1:" + std::to_string(login.Port) + "/tovk", database.Where());
  for (int i = 0; i < 3; ++i) database.Add(ErrorRow("r" + std::to_string(i)));
  ASSERT_TRUE(reports.WaitFor("not reachable")) << reports.All().size();
  // Long enough for several more attempts (250, 500, 1000 ms apart).
  std::this_thread::sleep_for(2000ms);
  EXPECT_FALSE(database.Connected());
  EXPECT_EQ(1u, reports.CountOf("not reachable"));
  database.Stop();
  auto texts = reports.All();
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(std::string::npos, texts.back().find(": 3 records not written at shutdown")) << texts.back();
  EXPECT_EQ(std::string::npos, texts.back().find("dropped")) << texts.back();
}

TEST(LogDatabase, BeyondTheBoundTheOldestAreDroppedAndCounted) {
  Reports reports;
  TLogDatabase database(Nowhere(), reports.Sink(), 5);
  for (int i = 1; i <= 8; ++i) database.Add(ErrorRow("r" + std::to_string(i)));
  database.Stop(200ms);
  auto texts = reports.All();
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(std::string::npos,
            texts.back().find("5 records not written at shutdown, 3 records dropped before (queue full)"))
      << texts.back();
  // Stopping twice (the destructor stops too) reports nothing more.
  database.Stop();
  EXPECT_EQ(texts.size(), reports.All().size());
}

// The library itself, with a registry of the test's own.
const std::string kStamp = "[08/Dec/2026:01:02:03 +0100]";

std::size_t ThreadCount() {
  std::size_t n = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') ++n;
    ::closedir(dir);
  }
  return n;
}

class TovkLogDatabase : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TOVK_REGISTRY", RegistryPath().c_str(), 1); }
  void TearDown() override {
    LogDllDone();
    unsetenv("TOVK_REGISTRY");
  }
  std::string RegistryPath() const { return Dir / "registry.db"; }
  void SetValue(const std::string& name, const std::string& value) {
    TNTRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(reg::kServerKey, true));
    registry.WriteString(name, value);
  }
  bool Init() {
    unsigned char area[16] = {};
    return LogDllInit(Short(Dir / "logs"), area, nullptr, 0) != 0;
  }
  void Access(const std::string& request) {
    LogDllAddAccess(Short("h"), Short("127.0.0.1"), Short(""), Short(kStamp), Short(request),
                    Short(""), Short(""), 200, 1);
  }
  TempDir Dir;
};

TEST_F(TovkLogDatabase, WithoutAStoreNothingStartsAndNoStoreIsMade) {
  std::size_t before = ThreadCount();
  ASSERT_TRUE(Init());
  Access("GET / HTTP/1.0");
  EXPECT_EQ(before, ThreadCount());
  EXPECT_NE(std::string::npos, About().find("; no database")) << About();
  EXPECT_FALSE(tovktest::PathExists(RegistryPath()));
  LogDllDone();
  EXPECT_EQ("", ReadFile(Dir / "logs/error.log"));
}

TEST_F(TovkLogDatabase, WithoutAHostNothingStarts) {
  SetValue(reg::kLogMySQLUser, "tovk");
  SetValue(reg::kLogMySQLHost, "  ");
  std::size_t before = ThreadCount();
  ASSERT_TRUE(Init());
  Access("GET / HTTP/1.0");
  LogDllAddError(Short("e"), Short(kStamp));
  EXPECT_EQ(before, ThreadCount());
  EXPECT_NE(std::string::npos, About().find("; no database")) << About();
  LogDllDone();
  EXPECT_EQ(kStamp + " e\n", ReadFile(Dir / "logs/error.log"));
}

TEST_F(TovkLogDatabase, AnUnusableHostIsReportedAndTheFilesGoOn) {
  SetValue(reg::kLogMySQLHost, "db:port");
  std::size_t before = ThreadCount();
  ASSERT_TRUE(Init());
  EXPECT_EQ(before, ThreadCount());
  Access("GET / HTTP/1.0");
  std::string errors = ReadFile(Dir / "logs/error.log");
  EXPECT_NE(std::string::npos, errors.find("LogMySQL_host \"db:port\" is not a host or host:port"))
      << errors;
  EXPECT_NE(std::string::npos, ReadFile(Dir / "logs/access.log").find("GET / HTTP/1.0"));
}

TEST_F(TovkLogDatabase, AHostStartsOneWriterAndRecordsWaitForIt) {
  int port = tovktest::FreePort();
  SetValue(reg::kLogMySQLHost, "127.0.0.1:" + std::to_string(port));
  std::size_t before = ThreadCount();
  ASSERT_TRUE(Init());
  EXPECT_EQ(before + 1, ThreadCount());
  // A second initialisation replaces the writer rather than adding one.
  ASSERT_TRUE(Init());
  EXPECT_EQ(before + 1, ThreadCount());
  Access("GET /a HTTP/1.0");
  Access("GET /b HTTP/1.0");
  EXPECT_NE(std::string::npos,
            About().find("; database 127.0.0.1:" + std::to_string(port) + "/tovk not connected"))
      << About();
  LogDllDone();
  EXPECT_EQ(before, ThreadCount());
  std::string access = ReadFile(Dir / "logs/access.log");
  EXPECT_NE(std::string::npos, access.find("GET /a")) << access;
  EXPECT_NE(std::string::npos, access.find("GET /b")) << access;
  std::string errors = ReadFile(Dir / "logs/error.log");
  EXPECT_NE(std::string::npos, errors.find("/tovk not reachable")) << errors;
  EXPECT_NE(std::string::npos, errors.find(": 2 records not written at shutdown")) << errors;
}

}  // namespace
