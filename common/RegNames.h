#pragma once
// The configuration key and its value names, as stored in the registry.

namespace reg {

// The server spells the vendor word with a capital; the two editors write it
// in lower case. Key paths compare without regard to case, so both name the
// same key.
inline constexpr const char* kServerKey = "software\\Kestrane\\WWW Server";
inline constexpr const char* kEditorKey = "software\\kestrane\\WWW Server";

inline constexpr const char* kPort = "Port";
inline constexpr const char* kDefaultHTML = "DefaultHTML";
inline constexpr const char* kProtFile = "ProtFile";
inline constexpr const char* kDoProt = "DoProt";
inline constexpr const char* kSSLon = "SSLon";
inline constexpr const char* kNewLogFile = "NewLogFile";
inline constexpr const char* kKeepAlive = "KeepAlive";
inline constexpr const char* kLogMySQLHost = "LogMySQL_host";
inline constexpr const char* kLogMySQLUser = "LogMySQL_user";
inline constexpr const char* kLogMySQLPasswd = "LogMySQL_passwd";

// Numbered lists: "<word> num" holds the count, "<word> <n>" entry n (1-based).
inline constexpr const char* kMime = "MIME";
inline constexpr const char* kAlias = "Alias";
inline constexpr const char* kApp = "App";
inline constexpr const char* kVirt = "Virt";

}  // namespace reg

#include <string>

namespace reg {
inline std::string CountName(const char* word) { return std::string(word) + " num"; }
inline std::string EntryName(const char* word, int n) {
  return std::string(word) + " " + std::to_string(n);
}
}  // namespace reg
