// Test extension: reports GetServerVariable for the names in its query
// (separated by "+"), one line each: NAME=ok:<size>:<value> or NAME=false:<errno>:<size>.
// A name written as small:NAME asks with a 4-byte buffer followed by guard bytes.
#include <cerrno>
#include <cstring>
#include <string>

#include "common/Isapi.h"

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string query = ecb->lpszQueryString;
  std::string report = "\r\n\r\n";  // an empty header block
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('+', start);
    std::string name = query.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? query.size() + 1 : end + 1;
    if (name.empty()) continue;
    char buffer[300];
    std::memset(buffer, '#', sizeof buffer);
    DWORD size = 256;
    std::string shown = name;
    if (name.rfind("small:", 0) == 0) {
      name = name.substr(6);
      size = 4;
    }
    errno = 0;
    BOOL ok = ecb->GetServerVariable(ecb->ConnID, name.data(), buffer, &size);
    if (ok) {
      report += shown + "=ok:" + std::to_string(size) + ":" + buffer + "\n";
    } else {
      int error = errno;
      bool guarded = true;
      for (char c : buffer) guarded = guarded && c == '#';
      report += shown + "=false:" + std::to_string(error) + ":" + std::to_string(size) +
                (guarded ? ":untouched" : ":written") + "\n";
    }
  }
  DWORD size = static_cast<DWORD>(report.size());
  ecb->WriteClient(ecb->ConnID, report.data(), &size, 0);
  return HSE_STATUS_SUCCESS;
}
