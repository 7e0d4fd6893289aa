#pragma once
// A throwaway MariaDB server for the log database tests: its own data
// directory, socket and loopback port, a user for the log library, and a
// client connection (Windows-1250) to look at what arrived.
//
//   MariaDbServer db;                      // data directory made, not running
//   ASSERT_TRUE(db.Start()) << db.Problem();
//   auto rows = db.Query("SELECT host FROM tovk.access");
//   db.Stop();                             // SIGTERM, bounded wait

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace tovktest {

using SqlRow = std::vector<std::optional<std::string>>;  // nullopt: NULL

class MariaDbServer {
 public:
  // The server program; empty when it is not installed.
  static std::string ServerProgram();

  MariaDbServer();
  ~MariaDbServer();  // stops a server still running
  MariaDbServer(const MariaDbServer&) = delete;
  MariaDbServer& operator=(const MariaDbServer&) = delete;

  int Port() const { return TcpPort; }
  static constexpr const char* kUser = "tovklog";
  static constexpr const char* kPassword = "Heslo \"9\"";

  // Starts the server (making the data directory and the user the first
  // time) and waits until it answers.
  bool Start(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // SIGTERM and a wait for the end; false when it had to be killed.
  bool Stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  bool Running() const { return Child > 0; }
  // What went wrong in the last Start or Query, with the server's own log.
  std::string Problem() const;

  // A statement as root; its rows (none for statements without a result).
  std::vector<SqlRow> Query(const std::string& sql);
  // Polls `sql` (a single number) until it is at least `count`; the last
  // value seen.
  long WaitForCount(const std::string& sql, long count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  bool Install();
  TempDir Root;
  int TcpPort;
  pid_t Child = -1;
  bool Installed = false;
  std::string LastProblem;
};

}  // namespace tovktest
