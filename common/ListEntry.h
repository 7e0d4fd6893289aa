#pragma once
// The entries of the four numbered configuration lists, written once for the
// server, the applet and the administration pages:
//
//   MIME   extension,content type
//   App    extension,program
//   Virt   host name,kind                 kind "HTTP" or "HTTPS"; "*" is the default server
//   Alias  server,URL prefix,directory    server: host name " (" kind ")"
//
// Fields are split at commas and the last field takes the rest of the text,
// commas included (a directory may hold one). A text without a comma has an
// empty first field and the whole text as its rest; an alias with one comma
// has an empty prefix. Nothing is trimmed and nothing changes case: the
// fields come back byte for byte as they are stored.
//
// A list is "<word> num", its count, and the entries "<word> 1" to
// "<word> <count>" (see RegNames.h).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TNTRegistry;

namespace listentry {

// Counts are kept in 16 bits by the editors, so no list can hold more.
inline constexpr int32_t kMaxListEntries = 65535;
// The server uses at most this many characters of a content type.
inline constexpr std::size_t kContentTypeChars = 100;

inline constexpr const char* kKindHttp = "HTTP";
inline constexpr const char* kKindHttps = "HTTPS";

// The two fields of a MIME, App or Virt entry.
struct TPair {
  std::string First;   // extension, or host name
  std::string Second;  // content type, program, or kind
};

struct TAlias {
  std::string Server;  // as stored: host name " (" kind ")"
  std::string Prefix;
  std::string Directory;
};

// Splits at the first comma; without one, `head` is empty and `rest` is the
// whole text.
void SplitFirstComma(const std::string& text, std::string& head, std::string& rest);

TPair ParsePair(const std::string& text);
TAlias ParseAlias(const std::string& text);

// Joins fields into an entry that parses back into the same fields. A comma
// in any field but the last would move the field boundary when the entry is
// read again; such fields give false and leave `text` as it was.
bool FormatPair(const TPair& pair, std::string& text);
bool FormatAlias(const TAlias& alias, std::string& text);

// The server field of an alias for a virtual server: name " (" kind ")".
std::string AliasServer(const std::string& name, const std::string& kind);

// How the server reads the kind of a Virt entry: TLS when the entry,
// upper-cased, contains ",HTTPS".
bool VirtualIsTLS(const std::string& text);

// How the server reads an alias's server field: the name upper-cased, TLS
// when it contains "(HTTPS)", and the kind cut off from the first " (" on.
struct TAliasServer {
  std::string Name;
  bool IsTLS = false;
};
TAliasServer ParseAliasServer(const std::string& server);

// The number of entries a stored count stands for: a count below 1 stands
// for none; otherwise its low 16 bits count, as the editors have always
// written it.
int32_t ListCount(int32_t stored);

// Reads the count of the list `word` as ListCount takes it
// (ERegistryException when it is missing or not an integer).
int32_t ReadCount(TNTRegistry& registry, const char* word);
// Reads the count of the list `word` and its entries 1 to count (a
// missing entry reads as ""), handing each on as it is read: when a read
// fails, the entries before it have been handed on.
void ForEachEntry(TNTRegistry& registry, const char* word,
                  const std::function<void(const std::string&)>& each);
// Reads the count of the list `word` (ERegistryException when it is missing
// or not an integer) and its entries 1 to count; a missing entry reads as "".
std::vector<std::string> ReadList(TNTRegistry& registry, const char* word);
// Writes the count of the list `word`. The caller keeps it within
// kMaxListEntries, so that it reads back whole.
void WriteCount(TNTRegistry& registry, const char* word, int32_t count);
// Writes the count, then `entries` as entries 1 to n.
void WriteList(TNTRegistry& registry, const char* word, const std::vector<std::string>& entries);

}  // namespace listentry
