// The database output of the log library. See LogDatabase.h.
//
// Tables (created with the database when missing):
//
//   access  id, at, host, client, user, request, status, bytes, referer, agent
//   error   id, at, message
//
// `at` is the record's time stamp as the local date and time written in it,
// not converted to UTC: the server writes the zone offset the way its
// Windows origin did (standard bias plus daylight bias in every season), so
// for half of the year the offset would shift the converted time by an hour,
// while the local time itself is always right. It is NULL for a stamp that
// cannot be read. `bytes` is NULL where the file has "-". Texts are stored
// as the Windows-1250 texts they are: the connection, the database and the
// tables all use cp1250, so the bytes pass unconverted.

#include "companion/tovklog/LogDatabase.h"

#include <mysql.h>
#include <mysqld_error.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/TimeZone.h"

namespace {

constexpr const char* kDatabase = "tovk";
// A restarting database is usually back within a second; an absent one is
// asked no more often than every few seconds.
constexpr std::chrono::milliseconds kFirstRetry{250};
constexpr std::chrono::milliseconds kLongestRetry{5000};
// A connection attempt cannot be cut short, so it bounds how much longer
// than its flush time Stop may take.
constexpr unsigned kConnectTimeoutSeconds = 2;
// A database that stops answering is treated as gone.
constexpr unsigned kIoTimeoutSeconds = 3;
// One commit per batch: a commit per record would cost the database a disk
// flush per record.
constexpr std::size_t kBatchRows = 500;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS `access` ("
    " `id` BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,"
    " `at` DATETIME NULL,"
    " `host` VARCHAR(255) NOT NULL,"
    " `client` VARCHAR(255) NOT NULL,"
    " `user` VARCHAR(255) NOT NULL,"
    " `request` VARCHAR(255) NOT NULL,"
    " `status` INT UNSIGNED NOT NULL,"
    " `bytes` INT NULL,"
    " `referer` VARCHAR(255) NOT NULL,"
    " `agent` VARCHAR(255) NOT NULL,"
    " KEY (`at`)"
    ") ENGINE=InnoDB CHARACTER SET cp1250",
    "CREATE TABLE IF NOT EXISTS `error` ("
    " `id` BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,"
    " `at` DATETIME NULL,"
    " `message` VARCHAR(255) NOT NULL,"
    " KEY (`at`)"
    ") ENGINE=InnoDB CHARACTER SET cp1250",
};

const char* const kInsertAccess =
    "INSERT INTO `access` (`at`, `host`, `client`, `user`, `request`, `status`, `bytes`,"
    " `referer`, `agent`) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";
const char* const kInsertError = "INSERT INTO `error` (`at`, `message`) VALUES (?, ?)";

// Errors that belong to one record rather than to the connection. Such a
// record is set aside (and reported): retried, it would stop every record
// behind it for good.
bool IsRecordError(unsigned code) {
  switch (code) {
    case ER_BAD_NULL_ERROR:
    case ER_WARN_DATA_OUT_OF_RANGE:
    case ER_TRUNCATED_WRONG_VALUE:
    case ER_INVALID_CHARACTER_STRING:
    case ER_TRUNCATED_WRONG_VALUE_FOR_FIELD:
    case ER_DATA_TOO_LONG:
    case ER_WRONG_VALUE_FOR_TYPE:
      return true;
    default:
      return false;
  }
}

bool IsDigits(const std::string& text, std::size_t from, std::size_t count) {
  if (from + count > text.size()) return false;
  for (std::size_t i = from; i < from + count; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

int Number(const std::string& text, std::size_t from, std::size_t count) {
  int value = 0;
  for (std::size_t i = from; i < from + count; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// The parameters of one statement, kept together so that the bound
// pointers stay valid until it has run.
struct TParams {
  MYSQL_BIND Bind[9];
  unsigned long Length[9];
  my_bool Null[9];
  MYSQL_TIME Time;

  TParams() { std::memset(this, 0, sizeof *this); }

  void Stamp(int i, const std::string& stamp) {
    TLogTime t;
    Null[i] = !ParseLogTime(stamp, t);
    Time.year = static_cast<unsigned>(t.Year);
    Time.month = static_cast<unsigned>(t.Month);
    Time.day = static_cast<unsigned>(t.Day);
    Time.hour = static_cast<unsigned>(t.Hour);
    Time.minute = static_cast<unsigned>(t.Minute);
    Time.second = static_cast<unsigned>(t.Second);
    Time.time_type = MYSQL_TIMESTAMP_DATETIME;
    Bind[i].buffer_type = MYSQL_TYPE_DATETIME;
    Bind[i].buffer = &Time;
    Bind[i].is_null = &Null[i];
  }
  void Text(int i, const std::string& text) {
    Length[i] = text.size();
    Bind[i].buffer_type = MYSQL_TYPE_STRING;
    Bind[i].buffer = const_cast<char*>(text.data());
    Bind[i].buffer_length = Length[i];
    Bind[i].length = &Length[i];
  }
  void Unsigned(int i, const uint32_t& value) {
    Bind[i].buffer_type = MYSQL_TYPE_LONG;
    Bind[i].buffer = const_cast<uint32_t*>(&value);
    Bind[i].is_unsigned = 1;
  }
  void Signed(int i, const int32_t& value, bool isNull) {
    Null[i] = isNull;
    Bind[i].buffer_type = MYSQL_TYPE_LONG;
    Bind[i].buffer = const_cast<int32_t*>(&value);
    Bind[i].is_null = &Null[i];
  }
};

std::string Count(std::size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

bool ParseDatabaseHost(const std::string& setting, std::string& host, unsigned& port) {
  std::size_t first = setting.find_first_not_of(" \t");
  std::size_t last = setting.find_last_not_of(" \t");
  std::string text = first == std::string::npos ? "" : setting.substr(first, last - first + 1);
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      portText = rest.substr(1);
      if (portText.empty()) return false;
    }
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (portText.empty()) return false;
  } else {
    host = text;  // a name, an IPv4 address or a bare IPv6 address
  }
  if (host.empty()) return false;
  port = 3306;
  if (!portText.empty()) {
    if (portText.size() > 5 || !IsDigits(portText, 0, portText.size())) return false;
    int value = Number(portText, 0, portText.size());
    if (value < 1 || value > 65535) return false;
    port = static_cast<unsigned>(value);
  }
  return true;
}

bool ParseLogTime(const std::string& stamp, TLogTime& time) {
  std::string s = stamp;
  if (!s.empty() && s.front() == '[') {
    if (s.back() != ']') return false;
    s = s.substr(1, s.size() - 2);
  }
  // 06/Dec/2026:17:05:09 +0100
  if (s.size() != 26 || s[2] != '/' || s[6] != '/' || s[11] != ':' || s[14] != ':' ||
      s[17] != ':' || s[20] != ' ' || (s[21] != '+' && s[21] != '-'))
    return false;
  if (!IsDigits(s, 0, 2) || !IsDigits(s, 7, 4) || !IsDigits(s, 12, 2) || !IsDigits(s, 15, 2) ||
      !IsDigits(s, 18, 2) || !IsDigits(s, 22, 4))
    return false;
  int month = 0;
  for (int m = 1; m <= 12; ++m)
    if (s.compare(3, 3, MonthAbbreviation(m)) == 0) month = m;
  TLogTime t;
  t.Year = Number(s, 7, 4);
  t.Month = month;
  t.Day = Number(s, 0, 2);
  t.Hour = Number(s, 12, 2);
  t.Minute = Number(s, 15, 2);
  t.Second = Number(s, 18, 2);
  if (month == 0 || t.Year < 1000 || t.Day < 1 || t.Day > DaysInMonth(t.Year, month) ||
      t.Hour > 23 || t.Minute > 59 || t.Second > 59 || Number(s, 24, 2) > 59)
    return false;
  time = t;
  return true;
}

struct TLogDatabase::TConnection {
  MYSQL* Db = nullptr;
  MYSQL_STMT* Access = nullptr;
  MYSQL_STMT* Error = nullptr;
};

TLogDatabase::TLogDatabase(const TLogDatabaseLogin& login, TReport report, std::size_t maxQueued)
    : Login(login), Report(std::move(report)), MaxQueued(std::max<std::size_t>(maxQueued, 1)) {
  // The client library's global set-up is not safe to race; the first
  // mysql_init would do it on the writer thread otherwise.
  static std::once_flag setUp;
  std::call_once(setUp, [] { mysql_library_init(0, nullptr, nullptr); });
  NextAttempt = TClock::now();
  Writer = std::thread(&TLogDatabase::Run, this);
}

TLogDatabase::~TLogDatabase() { Stop(); }

std::string TLogDatabase::Where() const {
  std::string host = Login.Host.find(':') != std::string::npos ? "[" + Login.Host + "]" : Login.Host;
  return host + ":" + std::to_string(Login.Port) + "/" + kDatabase;
}

void TLogDatabase::Add(TLogRow row) {
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Stopping) return;
    if (Queue.size() >= MaxQueued) Drop(1);
    Queue.push_back(std::move(row));
  }
  Wake.notify_all();
}

void TLogDatabase::Drop(std::size_t count) {
  count = std::min(count, Queue.size());
  Queue.erase(Queue.begin(), Queue.begin() + static_cast<std::ptrdiff_t>(count));
  Dropped += count;
}

void TLogDatabase::Requeue(std::deque<TLogRow>& rows) {
  Queue.insert(Queue.begin(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  if (Queue.size() > MaxQueued) Drop(Queue.size() - MaxQueued);
}

void TLogDatabase::Stop(std::chrono::milliseconds flushTime) {
  std::unique_lock<std::mutex> lock(Lock);
  if (!Writer.joinable()) return;
  if (!Stopping) {
    Stopping = true;
    Deadline = TClock::now() + flushTime;
    NextAttempt = TClock::now();  // one more try at once for what is queued
  }
  Wake.notify_all();
  if (!Ended.wait_until(lock, Deadline, [this] { return Finished; })) {
    Abort = true;
    // Cuts a statement that waits for a database that does not answer.
    if (Socket >= 0) ::shutdown(Socket, SHUT_RDWR);
    Wake.notify_all();
  }
  lock.unlock();
  Writer.join();
  lock.lock();
  std::size_t left = Queue.size();
  std::size_t dropped = Dropped;
  Queue.clear();
  Dropped = 0;
  lock.unlock();
  if (left == 0 && dropped == 0) return;
  std::string text = "tovklog: database " + Where() + ": " + Count(left, "record") +
                     " not written at shutdown";
  if (dropped > 0) text += ", " + Count(dropped, "record") + " dropped before (queue full)";
  Report(text);
}

bool TLogDatabase::Connect(TConnection& c, std::string& error) {
  c.Db = mysql_init(nullptr);
  if (!c.Db) {
    error = "out of memory";
    return false;
  }
  unsigned connectTimeout = kConnectTimeoutSeconds;
  unsigned ioTimeout = kIoTimeoutSeconds;
  mysql_options(c.Db, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
  mysql_options(c.Db, MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
  mysql_options(c.Db, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
  mysql_options(c.Db, MYSQL_SET_CHARSET_NAME, "cp1250");
  if (!mysql_real_connect(c.Db, Login.Host.c_str(), Login.User.c_str(), Login.Password.c_str(),
                          nullptr, Login.Port, nullptr, 0)) {
    error = mysql_error(c.Db);
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(Lock);
    Socket = static_cast<int>(mysql_get_socket(c.Db));
    if (Abort) {
      error = "stopped";
      return false;
    }
  }
  // The connection speaks Windows-1250 both ways: the bytes of the records
  // are stored as the texts they are and read back unchanged.
  std::string create = std::string("CREATE DATABASE IF NOT EXISTS `") + kDatabase +
                       "` CHARACTER SET cp1250";
  if (mysql_query(c.Db, "SET NAMES cp1250") || mysql_query(c.Db, create.c_str()) ||
      mysql_select_db(c.Db, kDatabase)) {
    error = mysql_error(c.Db);
    return false;
  }
  for (const char* statement : kSchema)
    if (mysql_query(c.Db, statement)) {
      error = mysql_error(c.Db);
      return false;
    }
  if (mysql_autocommit(c.Db, 0)) {
    error = mysql_error(c.Db);
    return false;
  }
  c.Access = mysql_stmt_init(c.Db);
  c.Error = mysql_stmt_init(c.Db);
  if (!c.Access || !c.Error) {
    error = "out of memory";
    return false;
  }
  for (auto [stmt, sql] : {std::pair{c.Access, kInsertAccess}, std::pair{c.Error, kInsertError}})
    if (mysql_stmt_prepare(stmt, sql, std::strlen(sql))) {
      error = mysql_stmt_error(stmt);
      return false;
    }
  return true;
}

void TLogDatabase::Disconnect(TConnection& c) {
  {
    std::lock_guard<std::mutex> guard(Lock);
    Socket = -1;  // before the close: Stop must never cut a reused descriptor
  }
  if (c.Access) mysql_stmt_close(c.Access);
  if (c.Error) mysql_stmt_close(c.Error);
  if (c.Db) mysql_close(c.Db);
  c = TConnection{};
  IsConnected = false;
}

bool TLogDatabase::WriteBatch(TConnection& c, std::string& error) {
  std::deque<TLogRow> batch;
  {
    std::lock_guard<std::mutex> guard(Lock);
    std::size_t n = std::min(Queue.size(), kBatchRows);
    batch.assign(std::make_move_iterator(Queue.begin()),
                 std::make_move_iterator(Queue.begin() + static_cast<std::ptrdiff_t>(n)));
    Queue.erase(Queue.begin(), Queue.begin() + static_cast<std::ptrdiff_t>(n));
  }
  std::vector<bool> refused(batch.size(), false);
  std::size_t refusedCount = 0;
  std::string refusedError;
  bool ok = true;
  for (std::size_t i = 0; i < batch.size() && ok; ++i) {
    const TLogRow& row = batch[i];
    TParams p;
    MYSQL_STMT* stmt;
    if (row.IsAccess) {
      stmt = c.Access;
      p.Stamp(0, row.Stamp);
      p.Text(1, row.Host);
      p.Text(2, row.Client);
      p.Text(3, row.User);
      p.Text(4, row.Request);
      p.Unsigned(5, row.Status);
      p.Signed(6, row.Bytes, row.Bytes < 0);
      p.Text(7, row.Referer);
      p.Text(8, row.Agent);
    } else {
      stmt = c.Error;
      p.Stamp(0, row.Stamp);
      p.Text(1, row.Message);
    }
    if (mysql_stmt_bind_param(stmt, p.Bind) == 0 && mysql_stmt_execute(stmt) == 0) continue;
    if (IsRecordError(mysql_stmt_errno(stmt))) {
      refused[i] = true;
      ++refusedCount;
      refusedError = mysql_stmt_error(stmt);
      continue;
    }
    error = mysql_stmt_error(stmt);
    ok = false;
  }
  if (ok && mysql_commit(c.Db)) {
    error = mysql_error(c.Db);
    ok = false;
  }
  if (!ok) {
    mysql_rollback(c.Db);
    std::deque<TLogRow> again;
    for (std::size_t i = 0; i < batch.size(); ++i)
      if (!refused[i]) again.push_back(std::move(batch[i]));
    std::lock_guard<std::mutex> guard(Lock);
    Requeue(again);
    return false;
  }
  std::size_t dropped;
  {
    std::lock_guard<std::mutex> guard(Lock);
    dropped = Dropped;
    Dropped = 0;
  }
  if (refusedCount > 0)
    Report("tovklog: database " + Where() + " refused " + Count(refusedCount, "record") + ": " +
           refusedError);
  if (dropped > 0)
    Report("tovklog: database " + Where() + ": " + Count(dropped, "record") +
           " dropped while it was away (queue full)");
  return true;
}

void TLogDatabase::Run() {
  // A write to a database that has just gone must fail on this thread, not
  // end the whole server with SIGPIPE.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  mysql_thread_init();
  TConnection c;
  bool outage = false;  // reported once per outage, not at every attempt
  std::chrono::milliseconds retry = kFirstRetry;
  std::unique_lock<std::mutex> lock(Lock);
  for (;;) {
    if (Abort) break;
    if (Stopping && (Queue.empty() || TClock::now() >= Deadline)) break;
    std::string error;
    if (!c.Db) {
      if (TClock::now() < NextAttempt) {
        Wake.wait_until(lock, Stopping ? std::min(NextAttempt, Deadline) : NextAttempt);
        continue;
      }
      lock.unlock();
      bool ok = Connect(c, error);
      if (ok) {
        IsConnected = true;
        retry = kFirstRetry;
        if (outage) Report("tovklog: database " + Where() + " connected again");
        outage = false;
      } else {
        Disconnect(c);
        if (!outage) Report("tovklog: database " + Where() + " not reachable (" + error +
                            "); records wait for it");
        outage = true;
      }
      lock.lock();
      // A database that is away when the library stops is not waited for:
      // that would only hold up the server's stop by the whole flush time.
      if (!ok && Stopping) break;
      if (!ok) {
        NextAttempt = TClock::now() + retry;
        retry = std::min(retry * 2, kLongestRetry);
      }
      continue;
    }
    if (Queue.empty()) {
      Wake.wait(lock);
      continue;
    }
    lock.unlock();
    bool ok = WriteBatch(c, error);
    if (!ok) {
      Disconnect(c);
      Report("tovklog: database " + Where() + " lost (" + error + "); records wait for it");
      outage = true;
    }
    lock.lock();
    if (!ok) {
      // The first attempt comes soon: most losses are a restart.
      retry = kFirstRetry;
      NextAttempt = TClock::now() + retry;
    }
  }
  lock.unlock();
  Disconnect(c);
  lock.lock();
  Finished = true;
  lock.unlock();
  Ended.notify_all();
  mysql_thread_end();
}
