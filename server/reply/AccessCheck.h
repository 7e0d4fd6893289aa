#pragma once
// The per-directory access file http.aut and the one check every reply asks
// before it serves anything: allowed, 401 with its realm, or 403.

#include <cstdint>
#include <string>

#include "server/net/Request.h"

constexpr std::size_t kAccessRightsMax = 35;
constexpr std::size_t kAccessTextMax = 30;  // expiry and charset suffix

struct TAccessRecord {
  std::string Expiry;         // an HttpDate, or empty
  std::string CharsetSuffix;  // "; charset=\"...\"", or empty
  std::string Rights;         // the MD5 digest the credentials must have, or empty
  bool IsSSL = false;
  bool Vypis = false;
  bool Spoustet = false;
  // Whether the directory has an access file at all, and whether one that
  // is there could not be read. An unreadable one refuses everything: its
  // rights can match no digest and nothing may run.
  bool Present = false;
  bool Unreadable = false;
};

// The record of the access file in the directory of a file or directory
// path ("...\" names its own directory).
TAccessRecord ReadAccessRecord(const std::string& path);

// How the file is about to be used; each use has its own rule.
enum class TAccessUse {
  Read,      // sent as it is (files, custom pages, included files)
  List,      // a directory listing
  Run,       // a CGI program or an extension; needs spoustet
  Parse,     // a document with server-side includes
  Peek,      // the size or date of a file named by an include directive
  Builtin,   // a built-in name, guarded by the file of this scheme's /iswd/
  BuiltinOtherScheme,  // the same, by the other scheme's file: rights only
};

struct TAccessAnswer {
  uint16_t Code = 0;  // 0 allowed, else 401 or 403
  std::string Realm;  // the URL path the credentials are asked for (401)
  // A 403 given because the file is an access file itself, not for its
  // directory: a file's 304 still replaces it, and a document with includes
  // is still processed, though never sent.
  bool ByName = false;
  bool Allowed() const { return Code == 0; }
};

// The answer for a request to use the file (its name part is enough) under
// the record of its directory.
TAccessAnswer CheckAccess(const TAccessRecord& record, const TRequest& request,
                          const std::string& fileName, TAccessUse use);

// Whether the name (any path) names an access file, in any letter case.
bool IsAccessFileName(const std::string& path);

// Directories whose access-file names are remembered between requests.
// A server has a handful of document directories; this bounds what a client
// that asks for thousands of directories can make it hold.
constexpr std::size_t kAccessFileCacheDirectories = 1024;
