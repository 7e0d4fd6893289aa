#include "platform/EventLog.h"

#include <syslog.h>
#include <unistd.h>

#include <mutex>

struct TEventSource {
  std::string Name;
};

namespace {

// syslog keeps a pointer to its ident, so the text must outlive every entry;
// one process-wide copy, changed only under this lock.
std::mutex& SyslogLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::string& SyslogIdent() {
  static auto* ident = new std::string;
  return *ident;
}

int Priority(uint16_t type) {
  if (type & EVENTLOG_ERROR_TYPE) return LOG_ERR;
  if (type & EVENTLOG_WARNING_TYPE) return LOG_WARNING;
  return LOG_INFO;
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

HANDLE_EVENTSOURCE RegisterEventSource(const char* server, const std::string& sourceName) {
  if (server && *server) return nullptr;  // no remote event logs here
  if (sourceName.empty()) return nullptr;
  return new TEventSource{sourceName};
}

bool ReportEvent(HANDLE_EVENTSOURCE source, uint16_t type, uint16_t /*category*/,
                 uint32_t /*eventId*/, const std::vector<std::string>& strings) {
  if (!source) return false;
  std::string line;
  for (const auto& s : strings) {
    if (!line.empty()) line += ": ";
    line += s;
  }
  {
    std::lock_guard<std::mutex> guard(SyslogLock());
    if (SyslogIdent() != source->Name) {
      closelog();
      SyslogIdent() = source->Name;
      openlog(SyslogIdent().c_str(), LOG_PID, LOG_DAEMON);
    }
    syslog(Priority(type), "%s", line.c_str());
  }
  WriteAll(STDERR_FILENO, line + "\n");
  return true;
}

bool DeregisterEventSource(HANDLE_EVENTSOURCE source) {
  if (!source) return false;
  delete source;
  return true;
}
