#include "cpl/SetupModel.h"

#include <algorithm>
#include <exception>

#include "common/ListEntry.h"
#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "platform/Paths.h"

namespace {

constexpr const char* kContentType = "Content Type";

enum class TEntryShape { Pair, LimitedPair, Alias };

TListItem ParseEntry(const std::string& text, TEntryShape shape, int image) {
  TListItem item;
  item.ImageIndex = image;
  if (shape == TEntryShape::Alias) {
    listentry::TAlias alias = listentry::ParseAlias(text);
    item.Caption = std::move(alias.Server);
    item.SubItems = {std::move(alias.Prefix), std::move(alias.Directory)};
    return item;
  }
  listentry::TPair pair = listentry::ParsePair(text);
  item.Caption = std::move(pair.First);
  if (shape == TEntryShape::LimitedPair) pair.Second = pair.Second.substr(0, TSetupModel::kMimeTypeChars);
  item.SubItems = {std::move(pair.Second)};
  return item;
}

void LoadList(TNTRegistry& registry, const char* word, TEntryShape shape, int image,
              TItemList& list) {
  // Rows read before a failed read stay in the list.
  listentry::ForEachEntry(registry, word, [&](const std::string& text) {
    list.push_back(ParseEntry(text, shape, image));
  });
}

void SaveList(TNTRegistry& registry, const char* word, const TItemList& list) {
  std::vector<std::string> entries;
  entries.reserve(list.size());
  for (const TListItem& item : list) entries.push_back(TSetupModel::EntryText(item));
  listentry::WriteList(registry, word, entries);
}

// Joins a row by the grammar of its list: three parts for an alias, two
// for the others. False when it would not read back as the same parts.
bool FormatItem(const TListItem& item, std::string& text) {
  if (item.SubItems.size() == 2)
    return listentry::FormatAlias({item.Caption, item.SubItems[0], item.SubItems[1]}, text);
  return listentry::FormatPair({item.Caption, item.SubItems.empty() ? "" : item.SubItems[0]}, text);
}

// Appends a row when the list has room and the row can be stored whole.
TSetupModel::TEditResult Append(TItemList& list, TListItem item) {
  std::string text;
  if (static_cast<int32_t>(list.size()) >= TSetupModel::kMaxEntries || !FormatItem(item, text))
    return TSetupModel::TEditResult::Refused;
  list.push_back(std::move(item));
  return TSetupModel::TEditResult::Done;
}

TSetupModel::TEditResult DeleteAt(TItemList& list, int index) {
  if (index < 0 || index >= static_cast<int>(list.size())) return TSetupModel::TEditResult::Ignored;
  list.erase(list.begin() + index);
  return TSetupModel::TEditResult::Done;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

TSetupModel::TSetupModel() {
  VirtualList.push_back({kStandardServer, {kKindHttp}, kImageStandardServer});
}

std::string TSetupModel::Load() {
  TNTRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  if (!registry.OpenKey(reg::kEditorKey, false)) return {};
  std::string error;
  try {
    Index = registry.ReadString(reg::kDefaultHTML);
    Port = ClampPort(registry.ReadInteger(reg::kPort));
    ProtFile = registry.ReadString(reg::kProtFile);
    DoProt = registry.ReadInteger(reg::kDoProt) == 1;
    SSLon = registry.ReadInteger(reg::kSSLon) == 1;
    NewLogFile = registry.ReadInteger(reg::kNewLogFile) == 1;
    LoadList(registry, reg::kMime, TEntryShape::LimitedPair, kImageMime, MimeList);
    LoadList(registry, reg::kAlias, TEntryShape::Alias, kImageAlias, AliasList);
    // Interpreter programs and host names are used whole by the server, so
    // they are not cut like content types (a cut path would be written back).
    LoadList(registry, reg::kApp, TEntryShape::Pair, kImageApp, AppList);
    VirtualList.clear();
    LoadList(registry, reg::kVirt, TEntryShape::Pair, -1, VirtualList);
  } catch (const std::exception& e) {
    error = e.what();
  }
  registry.CloseKey();
  return error;
}

TSetupModel::TSaveResult TSetupModel::Save(std::string& error) const {
  TNTRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  if (!registry.OpenKey(reg::kEditorKey, true)) return TSaveResult::KeyNotOpened;
  // One transaction, so that the server or the other editor never reads a
  // list half written, and a crash keeps the old configuration whole. A
  // failed write keeps what was written before it, which the user is told.
  const bool grouped = RegBeginTransaction() == ERROR_SUCCESS;
  TSaveResult result = TSaveResult::Saved;
  try {
    registry.WriteInteger(reg::kPort, Port);
    registry.WriteString(reg::kDefaultHTML, Index);
    registry.WriteString(reg::kProtFile, ProtFile);
    registry.WriteInteger(reg::kDoProt, 1);
    registry.WriteInteger(reg::kSSLon, SSLon ? 1 : 0);
    registry.WriteInteger(reg::kNewLogFile, NewLogFile ? 1 : 0);
    SaveList(registry, reg::kMime, MimeList);
    SaveList(registry, reg::kAlias, AliasList);
    SaveList(registry, reg::kApp, AppList);
    SaveList(registry, reg::kVirt, VirtualList);
  } catch (const std::exception& e) {
    error = e.what();
    result = TSaveResult::WriteFailed;
  }
  registry.CloseKey();
  if (grouped && RegCommitTransaction() != ERROR_SUCCESS && result == TSaveResult::Saved) {
    error = std::string("Failed to set data for '") + reg::kEditorKey + "'";
    result = TSaveResult::WriteFailed;
  }
  return result;
}

TSetupModel::TEditResult TSetupModel::AddMime(const std::string& ext, const std::string& type) {
  return Append(MimeList, {ext, {type}, kImageMime});
}

TSetupModel::TEditResult TSetupModel::AddVirtual(const std::string& name, int kindIndex) {
  const std::string kind = kindIndex == 1 ? kKindHttps : kKindHttp;
  for (const TListItem& item : VirtualList) {
    if (SameText(item.Caption, name) && !item.SubItems.empty() && item.SubItems[0] == kind)
      return TEditResult::Duplicate;
  }
  return Append(VirtualList, {name, {kind}, -1});
}

TSetupModel::TEditResult TSetupModel::AddAlias(const std::string& server, std::string& prefix,
                                               std::string& directory) {
  if (server.empty() || prefix.empty() || directory.empty()) return TEditResult::Ignored;
  NormaliseAlias(prefix, directory);
  return Append(AliasList, {server, {prefix, directory}, kImageAlias});
}

TSetupModel::TEditResult TSetupModel::AddApp(const std::string& ext, const std::string& appText) {
  for (const TListItem& item : AppList) {
    if (SameText(item.Caption, ext)) return TEditResult::Duplicate;
  }
  return Append(AppList, {ext, {AppFileName(appText)}, kImageApp});
}

TSetupModel::TEditResult TSetupModel::DeleteMime(int index) { return DeleteAt(MimeList, index); }
TSetupModel::TEditResult TSetupModel::DeleteAlias(int index) { return DeleteAt(AliasList, index); }
TSetupModel::TEditResult TSetupModel::DeleteApp(int index) { return DeleteAt(AppList, index); }

TSetupModel::TEditResult TSetupModel::DeleteVirtual(int index) {
  if (index >= 0 && index < static_cast<int>(VirtualList.size()) &&
      VirtualList[index].Caption == kStandardServer)
    return TEditResult::Refused;
  return DeleteAt(VirtualList, index);
}

std::vector<std::string> TSetupModel::ServerChoices() const {
  std::vector<std::string> choices;
  for (const TListItem& item : VirtualList)
    choices.push_back(
        listentry::AliasServer(item.Caption, item.SubItems.empty() ? "" : item.SubItems[0]));
  return choices;
}

int TSetupModel::ImportMime() {
  TNTRegistry registry;
  registry.SetRootKey(HKEY_CLASSES_ROOT);
  std::vector<std::string> names;
  try {
    if (!registry.OpenKey("", false)) return 0;
    registry.GetKeyNames(names);
  } catch (const std::exception&) {
    return 0;
  }
  registry.CloseKey();

  int added = 0;
  try {
    for (const std::string& name : names) {
      if (name.empty() || name[0] != '.') continue;
      std::string type;
      if (registry.OpenKey(name, false)) {
        type = registry.ReadString(kContentType);
        registry.CloseKey();
      }
      if (type.empty()) continue;
      const std::string ext = name.substr(1);
      bool listed = std::any_of(MimeList.begin(), MimeList.end(),
                                [&](const TListItem& item) { return SameText(item.Caption, ext); });
      if (!listed && AddMime(ext, type) == TEditResult::Done) ++added;
    }
  } catch (const std::exception&) {
    // The import ends silently; what it added so far stays.
  }
  return added;
}

int32_t TSetupModel::ClampPort(int64_t port) {
  return static_cast<int32_t>(std::clamp<int64_t>(port, kPortMin, kPortMax));
}

int32_t TSetupModel::PortFromText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::size_t digits = i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    // Past the field's range the exact value no longer matters.
    if (value <= kPortMax) value = value * 10 + (text[i] - '0');
  }
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i == digits || i != text.size()) return kPortMin;
  return ClampPort(negative ? -value : value);
}

void TSetupModel::NormaliseAlias(std::string& prefix, std::string& directory) {
  if (prefix.size() > 1 && prefix.front() != '/') prefix.insert(prefix.begin(), '/');
  if (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (!prefix.empty() && prefix.back() == '/') {
    // Only the prefix "/" itself gets here.
    if (directory.empty() || directory.back() != '\\') directory.push_back('\\');
  } else if (!directory.empty() && directory.back() == '\\') {
    directory.pop_back();
  }
}

std::string TSetupModel::AppFileName(const std::string& text) {
  if (FileExists(text)) return text;
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && text[i] == '"') {
    std::size_t close = text.find('"', i + 1);
    return text.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
  }
  std::size_t end = i;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  return text.substr(i, end - i);
}

std::string TSetupModel::EntryText(const TListItem& item) {
  std::string text;
  FormatItem(item, text);
  return text;
}

bool TSetupModel::SameText(const std::string& a, const std::string& b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}
