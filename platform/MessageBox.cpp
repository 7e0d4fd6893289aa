#include "platform/MessageBox.h"

#include "platform/EventLog.h"

void ShowServerMessage(const std::string& sourceName, const std::string& text) {
  // ReportEvent writes the line to standard error as well.
  HANDLE_EVENTSOURCE source = RegisterEventSource(nullptr, sourceName);
  if (!source) source = RegisterEventSource(nullptr, "tovksrv");
  ReportEvent(source, EVENTLOG_ERROR_TYPE, 0, 0, {text});
  DeregisterEventSource(source);
}
