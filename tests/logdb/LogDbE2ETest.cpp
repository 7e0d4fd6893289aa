// The log database against a real MariaDB server: the library's rows and
// their values, the queue across a database outage, and the real tovksrv
// logging requests into it while the database goes away and comes back.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "common/ShortString.h"
#include "companion/tovklog/LogDatabase.h"
#include "companion/tovklog/TovkLog.h"
#include "tests/logdb/LogDllCalls.h"
#include "tests/logdb/MariaDbServer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;
using tovktest::About;
using tovktest::Short;
using tovktest::MariaDbServer;
using tovktest::ReadFile;
using tovktest::SqlRow;
using tovktest::TempDir;

#define REQUIRE_MARIADB()                                                                   \
  if (MariaDbServer::ServerProgram().empty())                                               \
  GTEST_SKIP() << "mariadbd is not installed (Debian: apt-get install mariadb-server); "    \
                  "the log database tests need a real server"

std::string Text(const SqlRow& row, std::size_t i) { return row.at(i).value_or("NULL"); }

std::string Joined(const std::vector<SqlRow>& rows) {
  std::string all;
  for (const auto& row : rows) {
    for (const auto& value : row) all += value.value_or("NULL") + " | ";
    all += "\n";
  }
  return all;
}

class LogDbLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_MARIADB();
    ASSERT_TRUE(Db.Start()) << Db.Problem();
    setenv("TOVK_REGISTRY", (Dir / "registry.db").c_str(), 1);
    TNTRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(reg::kServerKey, true));
    registry.WriteString(reg::kLogMySQLHost, "127.0.0.1:" + std::to_string(Db.Port()));
    registry.WriteString(reg::kLogMySQLUser, MariaDbServer::kUser);
    registry.WriteString(reg::kLogMySQLPasswd, MariaDbServer::kPassword);
  }
  void TearDown() override {
    LogDllDone();
    unsetenv("TOVK_REGISTRY");
  }
  bool WaitConnected() {
    for (int i = 0; i < 200; ++i) {
      if (About().find(" connected") != std::string::npos &&
          About().find("not connected") == std::string::npos)
        return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  TempDir Dir;
  MariaDbServer Db;
};

TEST_F(LogDbLibrary, EveryRecordBecomesARowWithItsValues) {
  unsigned char area[16] = {};
  ASSERT_EQ(1, LogDllInit(Short(Dir / "logs"), area, nullptr, 0));
  ASSERT_TRUE(WaitConnected()) << About();
  EXPECT_NE(std::string::npos,
            About().find("database 127.0.0.1:" + std::to_string(Db.Port()) + "/tovk connected"))
      << About();
  // Bytes that would break an SQL text apart, Windows-1250 letters, an
  // unknown length and a stamp that is no time.
  LogDllAddAccess(Short("www.a.cz"), Short("127.0.0.1"), Short("jan"),
                  Short("[08/Dec/2026:01:02:03 +0100]"), Short("GET /a'b\"c\\d;--.htm HTTP/1.0"),
                  Short("http://b/"), Short("Prohlížeč/1.0"), 200, 1234);
  LogDllAddAccess(Short(""), Short("10.0.0.2"), Short(""), Short("[29/Feb/2028:23:59:59 -0500]"),
                  Short("HEAD / HTTP/1.0"), Short(""), Short(""), 404, -1);
  LogDllAddError(Short("Nelze mít duplicitní záznamy"), Short("[08/Dec/2026:01:02:04 +0100]"));
  LogDllAddError(Short("bad stamp"), Short("yesterday"));
  LogDllDone();  // flushes

  auto access = Db.Query(
      "SELECT `at`, `host`, `client`, `user`, `request`, `status`, `bytes`, `referer`, `agent`"
      " FROM tovk.access ORDER BY id");
  ASSERT_EQ(2u, access.size()) << Db.Problem() << Joined(access);
  EXPECT_EQ((SqlRow{"2026-12-08 01:02:03", "www.a.cz", "127.0.0.1", "jan",
                    "GET /a'b\"c\\d;--.htm HTTP/1.0", "200", "1234", "http://b/", "Prohlížeč/1.0"}),
            access[0])
      << Joined(access);
  EXPECT_EQ((SqlRow{"2028-02-29 23:59:59", "", "10.0.0.2", "", "HEAD / HTTP/1.0", "404", std::nullopt,
                    "", ""}),
            access[1])
      << Joined(access);

  auto errors = Db.Query("SELECT `at`, `message` FROM tovk.error ORDER BY id");
  ASSERT_EQ(2u, errors.size()) << Db.Problem() << Joined(errors);
  EXPECT_EQ((SqlRow{"2026-12-08 01:02:04", "Nelze mít duplicitní záznamy"}), errors[0]);
  EXPECT_EQ((SqlRow{std::nullopt, "bad stamp"}), errors[1]);

  // Stored as the text it is: in Unicode the í is U+00ED (UTF-8 C3 AD), not
  // the byte ED taken for some other code page's letter.
  auto unicode = Db.Query("SELECT HEX(CONVERT(`message` USING utf8mb4)) FROM tovk.error ORDER BY id");
  ASSERT_FALSE(unicode.empty());
  EXPECT_NE(std::string::npos, Text(unicode[0], 0).find("6DC3AD74")) << Text(unicode[0], 0);  // "mít"
  auto charset = Db.Query(
      "SELECT DEFAULT_CHARACTER_SET_NAME FROM information_schema.SCHEMATA WHERE SCHEMA_NAME = 'tovk'");
  ASSERT_EQ(1u, charset.size());
  EXPECT_EQ("cp1250", Text(charset[0], 0));

  // The files have the same records.
  EXPECT_NE(std::string::npos, ReadFile(Dir / "logs/access.log").find("\"Prohlížeč/1.0\""));
  EXPECT_NE(std::string::npos, ReadFile(Dir / "logs/error.log").find("Nelze mít duplicitní záznamy"));
}

TEST_F(LogDbLibrary, ExistingTablesAreUsedAgain) {
  unsigned char area[16] = {};
  ASSERT_EQ(1, LogDllInit(Short(Dir / "logs"), area, nullptr, 0));
  LogDllAddError(Short("first"), Short("[08/Dec/2026:01:02:04 +0100]"));
  LogDllDone();
  ASSERT_EQ(1, LogDllInit(Short(Dir / "logs"), area, nullptr, 1));
  LogDllAddError(Short("second"), Short("[08/Dec/2026:01:02:05 +0100]"));
  LogDllDone();
  auto errors = Db.Query("SELECT `message` FROM tovk.error ORDER BY id");
  EXPECT_EQ((std::vector<SqlRow>{{"first"}, {"second"}}), errors) << Db.Problem() << Joined(errors);
}

// The queue itself across an outage, with a bound small enough to reach.
TEST(LogDbQueue, AfterAnOutageTheNewestRowsArriveAndTheDroppedAreCounted) {
  REQUIRE_MARIADB();
  MariaDbServer db;
  ASSERT_TRUE(db.Start()) << db.Problem();
  std::mutex lock;
  std::vector<std::string> reports;
  TLogDatabaseLogin login{"127.0.0.1", static_cast<unsigned>(db.Port()), MariaDbServer::kUser,
                          MariaDbServer::kPassword};
  TLogDatabase database(login, [&](const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    reports.push_back(text);
  }, 5);
  auto row = [](int n) {
    TLogRow r;
    r.IsAccess = false;
    r.Stamp = "[08/Dec/2026:01:02:03 +0100]";
    r.Message = "r" + std::to_string(n);
    return r;
  };
  database.Add(row(0));
  ASSERT_EQ(1, db.WaitForCount("SELECT COUNT(*) FROM tovk.error", 1)) << db.Problem();
  ASSERT_TRUE(db.Stop());
  for (int n = 1; n <= 8; ++n) database.Add(row(n));
  ASSERT_TRUE(db.Start()) << db.Problem();
  EXPECT_EQ(6, db.WaitForCount("SELECT COUNT(*) FROM tovk.error", 6)) << db.Problem();
  auto rows = db.Query("SELECT `message` FROM tovk.error ORDER BY id");
  EXPECT_EQ((std::vector<SqlRow>{{"r0"}, {"r4"}, {"r5"}, {"r6"}, {"r7"}, {"r8"}}), rows) << Joined(rows);
  database.Stop();
  std::lock_guard<std::mutex> guard(lock);
  std::string all;
  for (const auto& r : reports) all += r + "\n";
  EXPECT_NE(std::string::npos, all.find("3 records dropped while it was away (queue full)")) << all;
  EXPECT_NE(std::string::npos, all.find("connected again")) << all;
  EXPECT_EQ(std::string::npos, all.find("not written at shutdown")) << all;
}

// One line of access.log, for requests without quotes in their fields.
struct AccessLine {
  std::string Host, Client, User, Stamp, Request, Status, Bytes, Referer, Agent;
};

std::vector<AccessLine> AccessLines(const std::string& log) {
  static const std::regex line(
      R"re(^(\S+) (\S+) - (\S+) \[(\d\d)/(\w\w\w)/(\d{4}):(\d\d:\d\d:\d\d) [-+]\d{4}\] "([^"]*)" (\d+) (\S+) "([^"]*)" "([^"]*)"$)re");
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<AccessLine> lines;
  std::istringstream in(log);
  std::string text;
  while (std::getline(in, text)) {
    std::smatch m;
    if (!std::regex_match(text, m, line)) {
      ADD_FAILURE() << "not an access record: " << text;
      continue;
    }
    int month = 0;
    for (int i = 0; i < 12; ++i)
      if (m[5] == months[i]) month = i + 1;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%s-%02d-%s %s", m[6].str().c_str(), month, m[4].str().c_str(),
                  m[7].str().c_str());
    auto dash = [](const std::string& v) { return v == "-" ? std::string() : v; };
    lines.push_back({dash(m[1]), m[2], dash(m[3]), stamp, m[8], m[9], m[10],
                     dash(m[11]), dash(m[12])});
  }
  return lines;
}

class LogDbServer : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_MARIADB();
    ASSERT_TRUE(Db.Start()) << Db.Problem();
    tovktest::WriteFile(Server.DocRoot() + "/index.html", "<p>ahoj</p>\n");
    ASSERT_TRUE(Server.ImportReg(
        Server.BaseConfig() + "\"LogMySQL_host\"=\"127.0.0.1:" + std::to_string(Db.Port()) + "\"\n" +
        "\"LogMySQL_user\"=\"" + tovktest::ServerProcess::RegEscape(MariaDbServer::kUser) + "\"\n" +
        "\"LogMySQL_passwd\"=\"" + tovktest::ServerProcess::RegEscape(MariaDbServer::kPassword) +
        "\"\n"))
        << Server.LastToolOutput;
    ASSERT_TRUE(Server.Start()) << Server.Output();
  }
  // Request number n, each a little different.
  void Request(int n) {
    std::string request = "GET " + std::string(n % 3 == 2 ? "/missing" : "/index.html") + "?n=" +
                          std::to_string(n) + " HTTP/1.0\r\n";
    request += "Host: www" + std::to_string(n) + ".example\r\n";
    if (n % 2 == 0) request += "Authorization: Basic amFuOmhlc2xv\r\n";  // jan:heslo
    request += "Referer: http://from/" + std::to_string(n) + "\r\n";
    request += "User-Agent: Agent " + std::to_string(n) + "\r\n\r\n";
    std::string answer = tovktest::HttpExchange(Server.Port(), request);
    ASSERT_EQ(0u, answer.rfind("HTTP/1.0 ", 0)) << answer;
  }
  std::vector<SqlRow> Rows() {
    return Db.Query(
        "SELECT `host`, `client`, `user`, `at`, `request`, `status`, `bytes`, `referer`, `agent`"
        " FROM tovk.access ORDER BY id");
  }
  // Every line of access.log has its row, in the same order.
  void ExpectRowsMatchTheFile() {
    auto lines = AccessLines(Server.AccessLog());
    auto rows = Rows();
    ASSERT_EQ(lines.size(), rows.size()) << Server.AccessLog() << Joined(rows);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const AccessLine& l = lines[i];
      std::optional<std::string> bytes;  // "-" in the file, NULL in the table
      if (l.Bytes != "-") bytes = l.Bytes;
      EXPECT_EQ((SqlRow{l.Host, l.Client, l.User, l.Stamp, l.Request, l.Status, bytes, l.Referer,
                        l.Agent}),
                rows[i])
          << "record " << i << "\n" << Server.AccessLog() << Joined(rows);
    }
  }
  MariaDbServer Db;
  tovktest::ServerProcess Server;
};

TEST_F(LogDbServer, EveryRequestHasItsRowAndAnOutageLosesNone) {
  constexpr int kBefore = 5, kDuring = 4;
  for (int n = 0; n < kBefore; ++n) Request(n);
  ASSERT_EQ(kBefore, Db.WaitForCount("SELECT COUNT(*) FROM tovk.access", kBefore)) << Db.Problem();
  ExpectRowsMatchTheFile();
  auto rows = Rows();
  ASSERT_EQ(static_cast<std::size_t>(kBefore), rows.size());
  EXPECT_EQ((SqlRow{"www0.example", "127.0.0.1", "jan"}), SqlRow(rows[0].begin(), rows[0].begin() + 3));
  EXPECT_EQ("GET /index.html?n=0 HTTP/1.0", Text(rows[0], 4));
  EXPECT_EQ("200", Text(rows[0], 5));
  EXPECT_EQ("12", Text(rows[0], 6));
  EXPECT_EQ("http://from/0", Text(rows[0], 7));
  EXPECT_EQ("Agent 0", Text(rows[0], 8));
  EXPECT_EQ("", Text(rows[1], 2));    // no Authorization: no user
  EXPECT_EQ("404", Text(rows[2], 5));  // /missing

  // The database goes away: the requests are still answered and written
  // to the file.
  ASSERT_TRUE(Db.Stop());
  for (int n = kBefore; n < kBefore + kDuring; ++n) Request(n);
  EXPECT_EQ(static_cast<std::size_t>(kBefore + kDuring), AccessLines(Server.AccessLog()).size())
      << Server.AccessLog();
  ASSERT_TRUE(Db.Start()) << Db.Problem();
  EXPECT_EQ(kBefore + kDuring,
            Db.WaitForCount("SELECT COUNT(*) FROM tovk.access", kBefore + kDuring, 30s))
      << Db.Problem() << Server.ErrorLog();
  ExpectRowsMatchTheFile();
  EXPECT_EQ(0, Server.Stop());
  std::string errors = Server.ErrorLog();
  EXPECT_NE(std::string::npos, errors.find("/tovk lost")) << errors;
  EXPECT_NE(std::string::npos, errors.find("/tovk connected again")) << errors;
  EXPECT_EQ(std::string::npos, errors.find("not written")) << errors;
}

TEST_F(LogDbServer, TheServerStopFlushesWhatIsQueued) {
  for (int n = 0; n < 3; ++n) Request(n);
  EXPECT_EQ(0, Server.Stop());
  // No polling: the rows are there once the server has ended.
  auto rows = Rows();
  EXPECT_EQ(3u, rows.size()) << Db.Problem() << Joined(rows);
}

}  // namespace
