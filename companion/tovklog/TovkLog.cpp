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

#include "companion/tovklog/TovkLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "common/ShortString.h"
#include "platform/Paths.h"

namespace {

struct TLogFile {
  const char* Name;
  int Fd = -1;
};

struct TLogState {
  std::mutex Lock;
  std::string Directory;  // Linux path, with a trailing "/"
  TLogFile Access{"access.log"};
  TLogFile Error{"error.log"};
  std::vector<std::string> VirtualServers;
};

TLogState& State() {
  // Never destroyed: a record may still come from a thread while the
  // process ends.
  static auto* state = new TLogState;
  return *state;
}

void CloseFile(TLogFile& file) {
  if (file.Fd >= 0) ::close(file.Fd);
  file.Fd = -1;
}

bool OpenFile(const std::string& directory, TLogFile& file) {
  CloseFile(file);
  std::string path = directory + file.Name;
  file.Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
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
  std::tm local{};
  localtime_r(&now, &local);
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

void AppendEscaped(std::string& out, const std::string& text, bool quoted) {
  static const char* hex = "0123456789abcdef";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else if (quoted && (c == '"' || c == '\\')) {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(c);
    }
  }
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
  if (text.empty()) out += '-';
  else AppendEscaped(out, text, false);
}

void AppendQuoted(std::string& out, const std::string& text) {
  out += '"';
  if (text.empty()) out += '-';
  else AppendEscaped(out, text, true);
  out += '"';
}

}  // namespace

extern "C" {

uint8_t LogDllInit(const unsigned char* protFile, void* /*area*/, const TLogVirtNode* servers,
                   uint8_t newLogFile) {
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  CloseFile(s.Access);
  CloseFile(s.Error);
  std::string directory = ToLinuxPath(Field(protFile));
  if (directory.empty()) directory = ".";
  if (directory.back() != '/') directory += '/';
  std::error_code error;
  std::filesystem::create_directories(directory, error);
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
  return 1;
}

void LogDllAddAccess(const unsigned char* host, const unsigned char* client,
                     const unsigned char* user, const unsigned char* timeStamp,
                     const unsigned char* requestLine, const unsigned char* referer,
                     const unsigned char* userAgent, uint32_t status, int32_t bytes) {
  std::string record;
  AppendUnquoted(record, Field(host));
  record += ' ';
  AppendUnquoted(record, Field(client));
  record += " - ";
  AppendUnquoted(record, Field(user));
  record += ' ';
  AppendEscaped(record, Bracketed(Field(timeStamp)), false);
  record += ' ';
  AppendQuoted(record, Field(requestLine));
  record += ' ' + std::to_string(status) + ' ';
  record += bytes < 0 ? std::string("-") : std::to_string(bytes);
  record += ' ';
  AppendQuoted(record, Field(referer));
  record += ' ';
  AppendQuoted(record, Field(userAgent));
  record += '\n';
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  AppendRecord(s.Access, record);
}

void LogDllAddError(const unsigned char* message, const unsigned char* timeStamp) {
  std::string record;
  AppendEscaped(record, Bracketed(Field(timeStamp)), false);
  record += ' ';
  AppendEscaped(record, Field(message), false);
  record += '\n';
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  AppendRecord(s.Error, record);
}

// Follows a log rotation done from outside: when a file was moved away or
// removed, the next tick opens a new one under the old name.
void LogDllTimer() {
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  for (TLogFile* file : {&s.Access, &s.Error}) {
    if (file->Fd < 0) continue;
    struct stat open, named;
    std::string path = s.Directory + file->Name;
    if (::fstat(file->Fd, &open) != 0) continue;
    if (::stat(path.c_str(), &named) == 0 && named.st_ino == open.st_ino &&
        named.st_dev == open.st_dev)
      continue;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) continue;  // keep writing to the old one rather than lose records
    ::close(file->Fd);
    file->Fd = fd;
  }
}

void LogDllDone() {
  TLogState& s = State();
  std::lock_guard<std::mutex> guard(s.Lock);
  CloseFile(s.Access);
  CloseFile(s.Error);
}

void LogDllAbout(unsigned char* text) {
  if (!text) return;
  TLogState& s = State();
  std::string about;
  {
    std::lock_guard<std::mutex> guard(s.Lock);
    about = "tovklog 1.0: access.log (host, then the combined log format) and error.log";
    if (s.Access.Fd >= 0) about += " in " + s.Directory;
    else about += " (closed)";
    about += "; " + std::to_string(s.VirtualServers.size()) + " virtual servers";
  }
  ToShortString(about, text);
}

}  // extern "C"
