#include "tests/logdb/MariaDbServer.h"

#include <mysql.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace tovktest {

namespace {

std::string FindProgram(const std::vector<std::string>& names) {
  std::vector<std::string> dirs{"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"};
  if (const char* path = std::getenv("PATH")) {
    std::string all = path;
    for (std::size_t start = 0; start <= all.size();) {
      std::size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      if (end > start) dirs.push_back(all.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const auto& name : names)
    for (const auto& dir : dirs) {
      std::string candidate = dir + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  return "";
}

bool IsRoot() { return ::geteuid() == 0; }

}  // namespace

std::string MariaDbServer::ServerProgram() { return FindProgram({"mariadbd", "mysqld"}); }

MariaDbServer::MariaDbServer() : TcpPort(FreePort()) {}

MariaDbServer::~MariaDbServer() { Stop(); }

std::string MariaDbServer::Problem() const {
  return LastProblem + "\n--- server log ---\n" + ReadFile(Root / "server.log");
}

bool MariaDbServer::Install() {
  std::string tool = FindProgram({"mariadb-install-db", "mysql_install_db"});
  if (tool.empty()) {
    LastProblem = "mariadb-install-db not found";
    return false;
  }
  // A directory of temporary files of its own: a server starting elsewhere
  // on the machine removes every "#sql" file in the shared /tmp, including
  // the ones this bootstrap is using.
  MakeDirs(Root / "tmp");
  std::vector<std::string> argv{tool, "--no-defaults", "--datadir=" + Root / "data",
                                "--tmpdir=" + Root / "tmp",
                                "--auth-root-authentication-method=normal", "--skip-test-db"};
  // The server refuses to run as root unless told to, and CI runs as root.
  if (IsRoot()) argv.push_back("--user=root");
  RunResult result = Run(argv, {}, "", std::chrono::seconds(60));
  if (result.ExitCode != 0) {
    LastProblem = "mariadb-install-db failed: " + result.Out + result.Err;
    return false;
  }
  return true;
}

bool MariaDbServer::Start(std::chrono::milliseconds timeout) {
  if (Child > 0) return true;
  bool first = !Installed;
  if (first && !(Installed = Install())) return false;
  std::string program = ServerProgram();
  std::vector<std::string> args{program,
                                "--no-defaults",
                                "--datadir=" + Root / "data",
                                "--tmpdir=" + Root / "tmp",
                                "--socket=" + Root / "sock",
                                "--pid-file=" + Root / "server.pid",
                                "--log-error=" + Root / "server.log",
                                "--port=" + std::to_string(TcpPort),
                                "--bind-address=127.0.0.1",
                                "--skip-name-resolve",
                                "--innodb-buffer-pool-size=16M",
                                "--innodb-flush-log-at-trx-commit=2"};
  if (IsRoot()) args.push_back("--user=root");
  std::string out = Root / "server.out";
  Child = SpawnWithOutput(args, {}, out);
  if (Child < 0) {
    LastProblem = "fork failed";
    return false;
  }
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status;
    if (waitpid(Child, &status, WNOHANG) == Child) {
      Child = -1;
      LastProblem = "the server ended at start: " + ReadFile(out);
      return false;
    }
    LastProblem.clear();
    Query("SELECT 1");
    if (LastProblem.empty()) break;
    if (std::chrono::steady_clock::now() > deadline) {
      LastProblem = "the server did not answer in time: " + LastProblem;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (first) {
    std::string who = std::string("'") + kUser + "'@'127.0.0.1'";
    Query("CREATE USER " + who + " IDENTIFIED BY '" + kPassword + "'");
    if (LastProblem.empty()) Query("GRANT ALL ON tovk.* TO " + who);
    if (!LastProblem.empty()) return false;
  }
  return true;
}

bool MariaDbServer::Stop(std::chrono::milliseconds timeout) {
  if (Child <= 0) return true;
  ::kill(Child, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  bool clean = true;
  for (;;) {
    int status;
    if (waitpid(Child, &status, WNOHANG) == Child) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(Child, SIGKILL);
      waitpid(Child, &status, 0);
      clean = false;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Child = -1;
  return clean;
}

std::vector<SqlRow> MariaDbServer::Query(const std::string& sql) {
  std::vector<SqlRow> rows;
  MYSQL* db = mysql_init(nullptr);
  if (!db) {
    LastProblem = "mysql_init failed";
    return rows;
  }
  unsigned timeout = 5;
  mysql_options(db, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
  mysql_options(db, MYSQL_OPT_READ_TIMEOUT, &timeout);
  mysql_options(db, MYSQL_SET_CHARSET_NAME, "cp1250");
  std::string socket = Root / "sock";
  if (!mysql_real_connect(db, nullptr, "root", "", nullptr, 0, socket.c_str(), 0) ||
      mysql_real_query(db, sql.data(), sql.size())) {
    LastProblem = sql + ": " + mysql_error(db);
    mysql_close(db);
    return rows;
  }
  if (MYSQL_RES* result = mysql_store_result(db)) {
    unsigned columns = mysql_num_fields(result);
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
      unsigned long* lengths = mysql_fetch_lengths(result);
      SqlRow values;
      for (unsigned i = 0; i < columns; ++i)
        values.push_back(row[i] ? std::optional<std::string>(std::string(row[i], lengths[i]))
                                : std::nullopt);
      rows.push_back(std::move(values));
    }
    mysql_free_result(result);
  } else if (mysql_field_count(db) != 0) {
    LastProblem = sql + ": " + mysql_error(db);
  }
  mysql_close(db);
  return rows;
}

long MariaDbServer::WaitForCount(const std::string& sql, long count,
                                 std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  long seen = -1;
  for (;;) {
    LastProblem.clear();
    auto rows = Query(sql);
    if (!rows.empty() && !rows[0].empty() && rows[0][0]) seen = std::atol(rows[0][0]->c_str());
    if (seen >= count || std::chrono::steady_clock::now() > deadline) return seen;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace tovktest
