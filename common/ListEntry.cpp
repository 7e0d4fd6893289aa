#include "common/ListEntry.h"

#include "common/NTRegistry.h"
#include "common/RegNames.h"

namespace listentry {

namespace {

// What goes from an alias server's " (" on: the blank, the parentheses and
// the longest kind fit, and a longer tail keeps what lies beyond.
constexpr std::size_t kAliasKindCut = 10;
// Counts are taken in their low 16 bits.
constexpr uint32_t kCountMask = 0xFFFF;

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool HasComma(const std::string& field) { return field.find(',') != std::string::npos; }

}  // namespace

void SplitFirstComma(const std::string& text, std::string& head, std::string& rest) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) {
    head.clear();
    rest = text;
  } else {
    head = text.substr(0, comma);
    rest = text.substr(comma + 1);
  }
}

TPair ParsePair(const std::string& text) {
  TPair pair;
  SplitFirstComma(text, pair.First, pair.Second);
  return pair;
}

TAlias ParseAlias(const std::string& text) {
  TAlias alias;
  std::string rest;
  SplitFirstComma(text, alias.Server, rest);
  SplitFirstComma(rest, alias.Prefix, alias.Directory);
  return alias;
}

bool FormatPair(const TPair& pair, std::string& text) {
  if (HasComma(pair.First)) return false;
  text = pair.First + "," + pair.Second;
  return true;
}

bool FormatAlias(const TAlias& alias, std::string& text) {
  if (HasComma(alias.Server) || HasComma(alias.Prefix)) return false;
  text = alias.Server + "," + alias.Prefix + "," + alias.Directory;
  return true;
}

std::string AliasServer(const std::string& name, const std::string& kind) {
  return name + " (" + kind + ")";
}

bool VirtualIsTLS(const std::string& text) {
  return Upper(text).find(std::string(",") + kKindHttps) != std::string::npos;
}

TAliasServer ParseAliasServer(const std::string& server) {
  TAliasServer parsed;
  parsed.Name = Upper(server);
  parsed.IsTLS = parsed.Name.find(std::string("(") + kKindHttps + ")") != std::string::npos;
  const std::size_t kind = parsed.Name.find(" (");
  if (kind != std::string::npos) parsed.Name.erase(kind, kAliasKindCut);
  return parsed;
}

int32_t ListCount(int32_t stored) {
  if (stored < 1) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(stored) & kCountMask);
}

int32_t ReadCount(TNTRegistry& registry, const char* word) {
  return ListCount(registry.ReadInteger(reg::CountName(word)));
}

void ForEachEntry(TNTRegistry& registry, const char* word,
                  const std::function<void(const std::string&)>& each) {
  const int32_t count = ReadCount(registry, word);
  for (int32_t n = 1; n <= count; ++n) each(registry.ReadString(reg::EntryName(word, n)));
}

std::vector<std::string> ReadList(TNTRegistry& registry, const char* word) {
  std::vector<std::string> entries;
  ForEachEntry(registry, word, [&entries](const std::string& text) { entries.push_back(text); });
  return entries;
}

void WriteCount(TNTRegistry& registry, const char* word, int32_t count) {
  registry.WriteInteger(reg::CountName(word), count);
}

void WriteList(TNTRegistry& registry, const char* word, const std::vector<std::string>& entries) {
  WriteCount(registry, word, static_cast<int32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i)
    registry.WriteString(reg::EntryName(word, static_cast<int>(i) + 1), entries[i]);
}

}  // namespace listentry
