#pragma once
// The log layer: binds libtovklog, adds the time stamp, serialises records
// under the log lock and keeps the tray window's status-text mailbox.

#include <cstdint>
#include <string>

bool LogInit(const std::string& protFile, bool newLogFile);
void LogDone();
void LogError(const std::string& text);
void LogAccess(const std::string& client, const std::string& host, const std::string& user,
               const std::string& requestLine, uint16_t status,
               const std::string& contentLength, const std::string& referer,
               const std::string& userAgent);
void LogTimer();
std::string LogAbout();
void SetStatusText(const std::string& text);
std::string TakeStatusText();
