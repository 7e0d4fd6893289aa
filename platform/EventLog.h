#pragma once
// The event log over syslog: each entry goes to syslog (ident: the source
// name, priority error) and, so that a person or a supervisor sees it too,
// to standard error.

#include <cstdint>
#include <string>
#include <vector>

struct TEventSource;
using HANDLE_EVENTSOURCE = TEventSource*;

constexpr uint16_t EVENTLOG_ERROR_TYPE = 0x0001;
constexpr uint16_t EVENTLOG_WARNING_TYPE = 0x0002;
constexpr uint16_t EVENTLOG_INFORMATION_TYPE = 0x0004;

// server: null or empty for the local machine (the only one there is).
HANDLE_EVENTSOURCE RegisterEventSource(const char* server, const std::string& sourceName);
// The strings of one entry are joined with ": " into one line.
bool ReportEvent(HANDLE_EVENTSOURCE source, uint16_t type, uint16_t category, uint32_t eventId,
                 const std::vector<std::string>& strings);
bool DeregisterEventSource(HANDLE_EVENTSOURCE source);
