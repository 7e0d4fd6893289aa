// The log library: access.log and error.log in the log directory.
//
//   access.log  HOST CLIENT - USER [TIME] "REQUEST LINE" STATUS BYTES "REFERER" "USER-AGENT"
//   error.log   [TIME] TEXT
//
// Each record is one write() on a descriptor opened with O_APPEND, so it
// reaches the file whole before the call returns, even with other writers
// on the same file. Bytes that could break a record apart (control
// characters, and the quote and backslash inside quoted fields) are written
// as \xHH, \" and \\; all other bytes, Windows-1250 letters among them, are
// written as they are.
//
// With the registry value LogMySQL_host set, every record also goes to a
// database (LogDatabase.h), from a queue on a thread of its own; the files
// do not wait for it. Without it nothing connects anywhere and no thread is
// started.

#include "companion/tovklog/TovkLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "common/ShortString.h"
#include "companion/tovklog/LogDatabase.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/TimeZone.h"

namespace {

// Access records name clients, users and the URLs they asked for: the log
// files are for the server's own user and its group (an operator's log
// readers), never for everyone on the machine. The same for the
// directories made for them.
constexpr mode_t kLogFileMode = 0640;
constexpr mode_t kLogDirectoryMode = 0750;

struct TLogFile {
  const char* Name;
  int Fd = -1;
};

struct TLogState {
  // Shared by the threads adding records: each record is one write to a
  // file opened for appending, which the kernel keeps whole and in one
  // piece however many threads write at once. Taken whole to open, close,
  // follow a rotation or replace the database, which no write may overlap.
  std::shared_mutex Lock;
  std::string Directory;  // Linux path, with a trailing "/"
  TLogFile Access{"access.log"};
  TLogFile Error{"error.log"};
  std::vector<std::string> VirtualServers;
  // Only started, stopped and replaced with Lock released: its thread
  // writes its reports to the error file under Lock.
  std::unique_ptr<TLogDatabase> Database;
};

TLogState& State() {
  // Never destroyed: a record may still come from a thread while the
  // process ends.
  static auto* state = new TLogState;
  return *state;
}

// Every missing directory on the way, as mkdir -p makes them; one that
// cannot be made shows when the files are opened. `directory` ends in "/".
void MakeLogDirectories(const std::string& directory) {
  for (std::size_t slash = directory.find('/', 1); slash != std::string::npos;
       slash = directory.find('/', slash + 1))
    ::mkdir(directory.substr(0, slash).c_str(), kLogDirectoryMode);
}

void CloseFile(TLogFile& file) {
  if (file.Fd >= 0) ::close(file.Fd);
  file.Fd = -1;
}

bool OpenFile(const std::string& directory, TLogFile& file) {
  CloseFile(file);
  std::string path = directory + file.Name;
  file.Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kLogFileMode);
  return file.Fd >= 0;
}

// access.log becomes access-20261208-170509.log (with -2, -3... when that
// name is taken by an earlier initialisation in the same second).
void KeepOldFile(const std::string& directory, const char* name) {
  std::string path = directory + name;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;
  std::string stem(name);
  stem.resize(stem.size() - 4);  // without ".log"
  std::time_t now = std::time(nullptr);
  const std::tm local = UtcToLocalTm(now);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  constexpr int kMaxSameSecond = 1000;  // more renames than this in a second is a loop
  for (int n = 1; n <= kMaxSameSecond; ++n) {
    std::string kept = directory + stem + "-" + stamp + (n > 1 ? "-" + std::to_string(n) : "") + ".log";
    if (::stat(kept.c_str(), &st) == 0) continue;
    ::rename(path.c_str(), kept.c_str());
    return;
  }
}

void AppendRecord(TLogFile& file, const std::string& record) {
  if (file.Fd < 0) return;
  std::size_t done = 0;
  while (done < record.size()) {
    ssize_t n = ::write(file.Fd, record.data() + done, record.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// How a text stands in a record, which decides what in it must be escaped.
enum class TFieldKind {
  Text,    // the rest of an error line: only control bytes could break it
  Quoted,  // between quotes: a quote or a backslash would end it early
  Bare,    // unquoted field of an access line: a blank would start a new field
};

void AppendHexByte(std::string& out, unsigned char c) {
  static const char* hex = "0123456789abcdef";
  out += "\\x";
  out += hex[c >> 4];
  out += hex[c & 15];
}

bool NeedsEscape(unsigned char c, TFieldKind kind) {
  if (c < 0x20 || c == 0x7F) return true;
  // A client chooses Host and user name: written as they came, they could
  // shift every later field or forge a whole record in front of this one.
  if (kind == TFieldKind::Bare) return c == ' ' || c == '"' || c == '\\';
  if (kind == TFieldKind::Quoted) return c == '"' || c == '\\';
  return false;
}

void AppendEscaped(std::string& out, const std::string& text, TFieldKind kind) {
  // Runs of bytes that need nothing go in whole.
  std::size_t plainFrom = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!NeedsEscape(c, kind)) continue;
    out.append(text, plainFrom, i - plainFrom);
    plainFrom = i + 1;
    if (kind == TFieldKind::Quoted && c >= 0x20 && c != 0x7F) {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      AppendHexByte(out, c);
    }
  }
  out.append(text, plainFrom, std::string::npos);
}

std::string Field(const unsigned char* shortString) {
  return shortString ? FromShortString(shortString) : std::string();
}

// The stamp comes as "[06/Dec/2026:17:05:09 +0100]"; a bare one gets its
// brackets here.
std::string Bracketed(const std::string& stamp) {
  if (!stamp.empty() && stamp.front() == '[') return stamp;
  return "[" + stamp + "]";
}

void AppendUnquoted(std::string& out, const std::string& text) {
  // "-" stands for an empty field, so a value that is just "-" is escaped.
  if (text.empty()) out += '-';
  else if (text == "-") AppendHexByte(out, '-');
  else AppendEscaped(out, text, TFieldKind::Bare);
}

void AppendQuoted(std::string& out, const std::string& text) {
  out += '"';
  if (text.empty()) out += '-';
  else AppendEscaped(out, text, TFieldKind::Quoted);
  out += '"';
}

// The library's own time stamp for its own error records, in the form the
// server's records have.
std::string NowStamp() {
  std::time_t now = std::time(nullptr);
  const std::tm local = UtcToLocalTm(now);
  int offset = static_cast<int>(local.tm_gmtoff / 60) % (24 * 60);  // zones stay within a day
  char sign = offset < 0 ? '-' : '+';
  offset = std::abs(offset);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "[%02d/%s/%04d:%02d:%02d:%02d %c%02d%02d]", local.tm_mday,
                MonthAbbreviation(local.tm_mon + 1).c_str(), local.tm_year + 1900, local.tm_hour, local.tm_min,
                local.tm_sec, sign, offset / 60, offset % 60);
  return stamp;
}

std::string ErrorRecord(const std::string& stamp, const std::string& message) {
  std::string record;
  AppendEscaped(record, Bracketed(stamp), TFieldKind::Text);
  record += ' ';
  AppendEscaped(record, message, TFieldKind::Text);
  record += '\n';
  return record;
}

// What the database output has to say (outages, dropped records) goes to
// the error file only: queued for the database it would be written to
// the database it reports on.
void ReportToErrorFile(const std::string& text) {
  TLogState& s = State();
  std::string record = ErrorRecord(NowStamp(), text);
  std::shared_lock<std::shared_mutex> guard(s.Lock);
  AppendRecord(s.Error, record);
}

void StopDatabase() {
  TLogState& s = State();
  std::unique_ptr<TLogDatabase> database;
  {
    std::lock_guard<std::shared_mutex> guard(s.Lock);
    database = std::move(s.Database);
  }
  if (database) database->Stop();
}

// The LogMySQL_ values of the configuration key. False, with nothing to
// say, when no host is set; false with a text in `problem` when the values
// cannot be used.
bool ReadDatabaseLogin(TLogDatabaseLogin& login, std::string& problem) {
  // A missing store has no key; opening it would create an empty store as
  // a side effect of logging.
  struct stat st;
  if (::stat(RegistryDatabasePath().c_str(), &st) != 0) return false;
  std::string host;
  try {
    TNTRegistry registry;
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(reg::kServerKey, false)) return false;
    host = registry.ReadString(reg::kLogMySQLHost);
    login.User = registry.ReadString(reg::kLogMySQLUser);
    login.Password = registry.ReadString(reg::kLogMySQLPasswd);
    registry.CloseKey();
  } catch (const ERegistryException& error) {
    problem = std::string("tovklog: no database output: ") + error.what();
    return false;
  }
  if (host.find_first_not_of(" \t") == std::string::npos) return false;
  if (!ParseDatabaseHost(host, login.Host, login.Port)) {
    problem = std::string("tovklog: no database output: ") + reg::kLogMySQLHost + " \"" + host +
              "\" is not a host or host:port";
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

uint8_t LogDllInit(const unsigned char* protFile, void* /*area*/, const TLogVirtNode* servers,
                   uint8_t newLogFile) {
  StopDatabase();  // from an earlier initialisation without LogDllDone
  TLogDatabaseLogin login;
  std::string problem;
  bool useDatabase = ReadDatabaseLogin(login, problem);
  TLogState& s = State();
  std::lock_guard<std::shared_mutex> guard(s.Lock);
  CloseFile(s.Access);
  CloseFile(s.Error);
  std::string directory = ToLinuxPath(Field(protFile));
  if (directory.empty()) directory = ".";
  if (directory.back() != '/') directory += '/';
  MakeLogDirectories(directory);
  if (newLogFile == 1) {
    KeepOldFile(directory, s.Access.Name);
    KeepOldFile(directory, s.Error.Name);
  }
  if (!OpenFile(directory, s.Access) || !OpenFile(directory, s.Error)) {
    CloseFile(s.Access);
    CloseFile(s.Error);
    return 0;
  }
  s.Directory = directory;
  // The caller keeps the list; the names are copied here.
  s.VirtualServers.clear();
  constexpr int kMaxServers = 10000;  // guards against a chain that loops
  for (const TLogVirtNode* n = servers; n && s.VirtualServers.size() < kMaxServers; n = n->Next)
    s.VirtualServers.push_back(FromShortString(n->Name));
  if (!problem.empty()) AppendRecord(s.Error, ErrorRecord(NowStamp(), problem));
  if (useDatabase) s.Database = std::make_unique<TLogDatabase>(login, ReportToErrorFile);
  return 1;
}

void LogDllAddAccess(const unsigned char* host, const unsigned char* client,
                     const unsigned char* user, const unsigned char* timeStamp,
                     const unsigned char* requestLine, const unsigned char* referer,
                     const unsigned char* userAgent, uint32_t status, int32_t bytes) {
  TLogRow row;
  row.Host = Field(host);
  row.Client = Field(client);
  row.User = Field(user);
  row.Stamp = Field(timeStamp);
  row.Request = Field(requestLine);
  row.Referer = Field(referer);
  row.Agent = Field(userAgent);
  row.Status = status;
  row.Bytes = bytes;
  // Room for a usual record at once, so that it grows no more than once.
  constexpr std::size_t kUsualRecordBytes = 512;
  std::string record;
  record.reserve(kUsualRecordBytes);
  AppendUnquoted(record, row.Host);
  record += ' ';
  AppendUnquoted(record, row.Client);
  record += " - ";
  AppendUnquoted(record, row.User);
  record += ' ';
  AppendEscaped(record, Bracketed(row.Stamp), TFieldKind::Text);
  record += ' ';
  AppendQuoted(record, row.Request);
  record += ' ' + std::to_string(status) + ' ';
  record += bytes < 0 ? std::string("-") : std::to_string(bytes);
  record += ' ';
  AppendQuoted(record, row.Referer);
  record += ' ';
  AppendQuoted(record, row.Agent);
  record += '\n';
  TLogState& s = State();
  std::shared_lock<std::shared_mutex> guard(s.Lock);
  AppendRecord(s.Access, record);
  if (s.Database) s.Database->Add(std::move(row));
}

void LogDllAddError(const unsigned char* message, const unsigned char* timeStamp) {
  TLogRow row;
  row.IsAccess = false;
  row.Stamp = Field(timeStamp);
  row.Message = Field(message);
  std::string record = ErrorRecord(row.Stamp, row.Message);
  TLogState& s = State();
  std::shared_lock<std::shared_mutex> guard(s.Lock);
  AppendRecord(s.Error, record);
  if (s.Database) s.Database->Add(std::move(row));
}

// Follows a log rotation done from outside: when a file was moved away or
// removed, the next tick opens a new one under the old name.
void LogDllTimer() {
  TLogState& s = State();
  std::lock_guard<std::shared_mutex> guard(s.Lock);
  for (TLogFile* file : {&s.Access, &s.Error}) {
    if (file->Fd < 0) continue;
    struct stat open, named;
    std::string path = s.Directory + file->Name;
    if (::fstat(file->Fd, &open) != 0) continue;
    if (::stat(path.c_str(), &named) == 0 && named.st_ino == open.st_ino &&
        named.st_dev == open.st_dev)
      continue;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kLogFileMode);
    if (fd < 0) continue;  // keep writing to the old one rather than lose records
    ::close(file->Fd);
    file->Fd = fd;
  }
}

void LogDllDone() {
  // Flushes within its bound and writes what it could not store into the
  // error file, which is still open then.
  StopDatabase();
  TLogState& s = State();
  std::lock_guard<std::shared_mutex> guard(s.Lock);
  CloseFile(s.Access);
  CloseFile(s.Error);
}

void LogDllAbout(unsigned char* text) {
  if (!text) return;
  TLogState& s = State();
  std::string about;
  {
    std::lock_guard<std::shared_mutex> guard(s.Lock);
    about = "tovklog 1.0: files access.log and error.log";
    if (s.Access.Fd >= 0) about += " in " + s.Directory;
    else about += " (closed)";
    if (s.Database)
      about += "; database " + s.Database->Where() +
               (s.Database->Connected() ? " connected" : " not connected");
    else
      about += "; no database";
    about += "; " + std::to_string(s.VirtualServers.size()) + " virtual servers";
  }
  ToShortString(about, text);
}

}  // extern "C"
