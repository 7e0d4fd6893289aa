#include "server/shell/Loging.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <shared_mutex>

#include "common/ShortString.h"
#include "companion/tovklog/TovkLog.h"
#include "server/net/Misc.h"
#include "server/reply/SvrSetupHolder.h"

namespace {

// One lock for the whole life of the process, never destroyed: connection
// threads may log at any time, also after LogDone, after a reload whose
// LogInit failed, or while the process ends. Whether the library may be
// called is the Open flag, read and written under this lock. Records are
// added under a shared hold, so that connection threads do not queue
// behind each other's writes (the library keeps concurrent records whole);
// opening, closing and the status text take it whole.
std::shared_mutex& LogLock() {
  static auto* lock = new std::shared_mutex;
  return *lock;
}

bool Open = false;
// LogTimer runs without the lock, so it reads its own copy of the flag.
std::atomic<bool> OpenForTimer{false};

std::string& StatusText() {
  static auto* text = new std::string;
  return *text;
}

// Digits only, and small enough for the library's 32-bit field; anything
// else ("", "-", "12a", a sign) is logged as -1.
int32_t ContentLengthBytes(const std::string& text) {
  if (text.empty()) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return -1;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

bool LogInit(const std::string& protFile, bool newLogFile) {
  TVirtualServerNode* chain = nullptr;
  if (auto settings = CurrentSettings()) chain = settings->VirtualServerChain();
  static_assert(sizeof(TVirtualServerNode) == sizeof(TLogVirtNode));
  TShortString file{};
  ToShortString(protFile, file);
  unsigned char area[256] = {};  // the library's scratch; nothing is read back
  bool ok;
  {
    std::lock_guard<std::shared_mutex> guard(LogLock());
    ok = LogDllInit(file, area, reinterpret_cast<const TLogVirtNode*>(chain),
                    newLogFile ? 1 : 0) != 0;
    Open = ok;
    OpenForTimer = ok;
    if (ok) StatusText().clear();
  }
  // The library copies the names it wants; the chain is ours to free.
  FreeVirtualServerChain(chain);
  return ok;
}

void LogDone() {
  std::lock_guard<std::shared_mutex> guard(LogLock());
  if (Open) LogDllDone();
  Open = false;
  OpenForTimer = false;
}

void LogError(const std::string& text) {
  std::string stamp = LogTimeStamp();
  std::shared_lock<std::shared_mutex> guard(LogLock());
  if (!Open) {
    // While the logs are closed (between LogDone and the next LogInit, or
    // after a reload whose LogInit failed) error records go to standard
    // error, which the service manager keeps, rather than being lost.
    std::fprintf(stderr, "%s %s\n", stamp.c_str(), text.substr(0, kShortStringMax).c_str());
    return;
  }
  TShortString message{}, timeStamp{};
  ToShortString(text, message);
  ToShortString(stamp, timeStamp);
  LogDllAddError(message, timeStamp);
}

void LogAccess(const std::string& client, const std::string& host, const std::string& user,
               const std::string& requestLine, uint16_t status,
               const std::string& contentLength, const std::string& referer,
               const std::string& userAgent) {
  std::string stamp = LogTimeStamp();
  int32_t bytes = ContentLengthBytes(contentLength);
  std::shared_lock<std::shared_mutex> guard(LogLock());
  if (!Open) return;  // access records while the logs are closed are dropped
  TShortString h{}, c{}, u{}, t{}, r{}, ref{}, ua{};
  ToShortString(host, h);
  ToShortString(client, c);
  ToShortString(user, u);
  ToShortString(stamp, t);
  ToShortString(requestLine, r);
  ToShortString(referer, ref);
  ToShortString(userAgent, ua);
  LogDllAddAccess(h, c, u, t, r, ref, ua, status, bytes);
}

void LogTimer() {
  if (OpenForTimer) LogDllTimer();
}

std::string LogAbout() {
  TShortString text{};
  LogDllAbout(text);
  return FromShortString(text);
}

void SetStatusText(const std::string& text) {
  std::lock_guard<std::shared_mutex> guard(LogLock());
  StatusText() = text;
}

std::string TakeStatusText() {
  std::lock_guard<std::shared_mutex> guard(LogLock());
  std::string text;
  text.swap(StatusText());
  return text;
}
