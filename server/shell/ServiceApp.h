#pragma once
// The program entry and the service control: the three console actions
// (help, install, remove) and the service itself under the service manager.

#include <cstdint>
#include <string>

// The entry: handles one option or runs the service; returns the exit
// status (0 when the action succeeded).
int RunService(int argc, char** argv, const std::string& serviceName,
               const std::string& displayName);
bool InstallService();
bool RemoveService();
void ServiceMain(uint32_t argc, char** argv);
void ServiceCtrlHandler(uint32_t control);
bool ReportServiceStatus(uint32_t currentState, uint32_t exitCode, uint32_t waitHint);
void LogServiceError(const std::string& text);
std::string SystemErrorText();
void RunServerApplication();

// The names stored by RunService ("tovk", "Quillon Web Server").
const std::string& ServiceName();
const std::string& DisplayName();
