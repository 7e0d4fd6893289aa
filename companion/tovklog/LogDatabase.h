#pragma once
// The log library's database output: every access and error record also
// goes into the tables `access` and `error` of the database `tovk` on a
// MariaDB/MySQL server.
//
// The files stay the record of truth. Records wait in a queue that one
// thread of its own writes to the database, so a slow or absent database
// never holds up the caller: Add only appends under a mutex and signals.
// What could not be written stays queued and is written when the database
// is back, up to a bound, beyond which the oldest records are dropped and
// counted.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Where the database is and who logs in, from the LogMySQL_ settings.
struct TLogDatabaseLogin {
  std::string Host;
  unsigned Port = 3306;
  std::string User;
  std::string Password;
};

// "host", "host:port", "[v6 address]" or "[v6 address]:port" into host and
// port (3306 when none is given); false for an empty host or a port that is
// not a number from 1 to 65535.
bool ParseDatabaseHost(const std::string& setting, std::string& host, unsigned& port);

// A record's time stamp, "[06/Dec/2026:17:05:09 +0100]" (brackets
// optional), as the local date and time written in it; the zone offset is
// checked but not applied.
struct TLogTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
bool ParseLogTime(const std::string& stamp, TLogTime& time);

// One record as the library received it (texts are Windows-1250 bytes).
struct TLogRow {
  bool IsAccess = true;
  std::string Stamp;
  // access
  std::string Host, Client, User, Request, Referer, Agent;
  uint32_t Status = 0;
  int32_t Bytes = -1;  // -1: unknown, stored as NULL
  // error
  std::string Message;
};

class TLogDatabase {
 public:
  // Texts for the error log file (outages, dropped records); called on the
  // writer thread or in Stop, never with the queue's lock held.
  using TReport = std::function<void(const std::string& text)>;

  // More records than this are not kept waiting for an absent database (a
  // batch the writer is sending comes on top, and is the first to go when
  // it fails and the queue is full, being the oldest): at about
  // 300 bytes a record that is some 30 MB of memory, and a busy server (100
  // requests a second) a quarter of an hour of outage. The files have them
  // all anyway.
  static constexpr std::size_t kMaxQueued = 100000;
  // How long Stop goes on writing what is queued before it gives up.
  static constexpr std::chrono::milliseconds kFlushTime{5000};

  // Starts the writer thread; it connects at once.
  TLogDatabase(const TLogDatabaseLogin& login, TReport report, std::size_t maxQueued = kMaxQueued);
  ~TLogDatabase();  // Stop()
  TLogDatabase(const TLogDatabase&) = delete;
  TLogDatabase& operator=(const TLogDatabase&) = delete;

  // Queues a record; never waits for the database.
  void Add(TLogRow row);
  // Writes what it can within `flushTime` (plus at most one connection
  // attempt already under way; a database that cannot be reached then is
  // given up at once), then ends the thread and reports the records that
  // were dropped or are left unwritten.
  void Stop(std::chrono::milliseconds flushTime = kFlushTime);

  std::string Where() const;  // "host:port/tovk"
  bool Connected() const { return IsConnected; }

 private:
  struct TConnection;
  using TClock = std::chrono::steady_clock;

  void Run();
  bool Connect(TConnection& c, std::string& error);
  void Disconnect(TConnection& c);
  // Writes one batch from the front of the queue; false when the
  // connection failed (the batch is back in the queue then).
  bool WriteBatch(TConnection& c, std::string& error);
  // Puts rows that were not written back in front of the queue, dropping
  // the oldest beyond the bound. Needs Lock.
  void Requeue(std::deque<TLogRow>& rows);
  void Drop(std::size_t count);  // Needs Lock.

  const TLogDatabaseLogin Login;
  const TReport Report;
  const std::size_t MaxQueued;

  mutable std::mutex Lock;  // the fields below up to Writer
  std::condition_variable Wake;   // the writer: records, Stop
  std::condition_variable Ended;  // Stop: the writer has finished
  std::deque<TLogRow> Queue;
  std::size_t Dropped = 0;    // since the last report
  bool Stopping = false;
  bool Abort = false;         // Stop's time is up: leave at once
  bool Finished = false;
  TClock::time_point Deadline;
  TClock::time_point NextAttempt;
  int Socket = -1;            // the open connection's socket, for Stop to cut

  std::atomic<bool> IsConnected{false};
  std::thread Writer;
};
