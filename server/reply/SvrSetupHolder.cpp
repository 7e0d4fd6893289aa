#include "server/reply/SvrSetupHolder.h"

#include <cstring>

#include "common/ListEntry.h"
#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "common/ShortString.h"
#include "platform/FileSearch.h"
#include "platform/Module.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "server/net/Misc.h"

namespace {

constexpr std::size_t kExtensionMax = 10;     // extension field, and "." + extension
constexpr std::size_t kAppLimit = 256;        // interpreter entries are counted in 8 bits

struct TAliasEntry {
  std::string Server;  // upper-cased, kind removed
  bool IsTLS = false;
  std::string Prefix;
  std::string Directory;
};

TAliasEntry ParseAlias(const std::string& text) {
  const listentry::TAlias fields = listentry::ParseAlias(text);
  const listentry::TAliasServer server = listentry::ParseAliasServer(fields.Server);
  return {server.Name, server.IsTLS, fields.Prefix, fields.Directory};
}

// "." and the extension of a MIME or interpreter entry, as the look-ups
// compare it; the rest of the entry goes to `value`.
std::string EntryKey(const std::string& text, std::string& value) {
  listentry::TPair pair = listentry::ParsePair(text);
  value = std::move(pair.Second);
  return ("." + pair.First.substr(0, kExtensionMax)).substr(0, kExtensionMax);
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool EndsWithText(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

void ReplaceAll(std::string& text, char from, char to) {
  for (char& c : text)
    if (c == from) c = to;
}

// The host name as it stands for aliases: the HOST value when a virtual
// server of that name and kind is listed, else "*".
std::string FindVirtualServer(const std::vector<std::string>& virtTable, const std::string& host,
                              bool isTLS) {
  for (const std::string& text : virtTable) {
    if (SameText(listentry::ParsePair(text).First, host) &&
        listentry::VirtualIsTLS(text) == isTLS)
      return host;
  }
  return "*";
}

// A failed read keeps the entries read before it in the table.
void ReadTable(TNTRegistry& registry, const char* word, std::vector<std::string>& table) {
  listentry::ForEachEntry(registry, word, [&table](const std::string& text) { table.push_back(text); });
}

// Records of libraries that some holder still has. A holder built while an
// older one is still pinned by a running connection shares the older one's
// record instead of initialising the library a second time, so the library
// is terminated and unloaded once, when the last holder that has it goes.
std::mutex LiveModulesLock;
std::vector<std::weak_ptr<TModuleRecord>> LiveModules;

std::shared_ptr<TModuleRecord> FindLiveModule(const std::string& fileName) {
  std::lock_guard<std::mutex> guard(LiveModulesLock);
  std::shared_ptr<TModuleRecord> found;
  for (auto it = LiveModules.begin(); it != LiveModules.end();) {
    std::shared_ptr<TModuleRecord> record = it->lock();
    if (!record) {
      it = LiveModules.erase(it);
      continue;
    }
    if (!found && SameText(record->FileName, fileName)) found = record;
    ++it;
  }
  return found;
}

void RememberLiveModule(const std::shared_ptr<TModuleRecord>& record) {
  std::lock_guard<std::mutex> guard(LiveModulesLock);
  LiveModules.push_back(record);
}

// Where the file name that the key ends stops: just after the first
// occurrence of the key that is followed by the end of the path or by "/"
// (extra path after the file name); npos when none is. An occurrence inside
// a directory name ("\www.shop.cz\" for ".sh") or followed by more of a
// name ("x.pl.d") ends no file name. Both texts upper-cased.
std::size_t ExtensionEnd(const std::string& upperPath, const std::string& upperKey) {
  if (upperKey.empty()) return std::string::npos;
  for (std::size_t at = upperPath.find(upperKey); at != std::string::npos;
       at = upperPath.find(upperKey, at + 1)) {
    std::size_t end = at + upperKey.size();
    if (end == upperPath.size() || upperPath[end] == '/') return end;
  }
  return std::string::npos;
}

}  // namespace

int StatusIndex(uint16_t status) {
  for (int i = 0; i < kStatusCount; ++i)
    if (kStatusTable[i] == status) return i;
  return -1;
}

TModuleRecord::~TModuleRecord() {
  // Each step on its own: a failing extension must not keep the library
  // loaded or stop the other records from going.
  try {
    if (TerminateProc) TerminateProc(HSE_TERM_MUST_UNLOAD);
  } catch (...) {
  }
  try {
    if (Library) FreeLibrary(Library);
  } catch (...) {
  }
}

void TSvrSetupHolder::LoadSettings() {
  MimeTable.clear();
  AliasTable.clear();
  AppTable.clear();
  VirtTable.clear();
  DefaultDocuments.clear();
  Modules.clear();  // records without another holder unload here

  std::string defaultHTML;
  TNTRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  if (registry.OpenKey(reg::kServerKey, false)) {
    try {
      ReadTable(registry, reg::kMime, MimeTable);
      ReadTable(registry, reg::kAlias, AliasTable);
      ReadTable(registry, reg::kApp, AppTable);
      ReadTable(registry, reg::kVirt, VirtTable);
      defaultHTML = registry.ReadString(reg::kDefaultHTML);
      Port = registry.ReadInteger(reg::kPort);
      ProtFile = registry.ReadString(reg::kProtFile);
      SSLon = registry.ReadInteger(reg::kSSLon) == 1;
      NewLogFile = registry.ReadInteger(reg::kNewLogFile) == 1;
      KeepAlive = registry.ReadInteger(reg::kKeepAlive) == 1;
    } catch (...) {
      registry.CloseKey();
      throw;
    }
    registry.CloseKey();
  }

  // No trimming: "a, b" gives "a" and " b"; an empty text one empty name.
  defaultHTML += ",";
  for (std::size_t comma; (comma = defaultHTML.find(',')) != std::string::npos;) {
    DefaultDocuments.push_back(defaultHTML.substr(0, comma));
    defaultHTML.erase(0, comma + 1);
  }

  ErrorPageDir = ProgramDirectory() + "errfiles\\";
  ScanErrorPages();
  LoadModules();
}

void TSvrSetupHolder::ScanErrorPages() {
  for (int i = 0; i < kStatusCount; ++i) {
    ErrorPageNames[i].clear();
    TFileSearch search;
    TSearchRec found;
    if (search.FindFirst(ErrorPageDir + "err" + std::to_string(kStatusTable[i]) + ".*", found))
      ErrorPageNames[i] = found.Name;
    search.Close();
  }
}

void TSvrSetupHolder::LoadModules() {
  for (std::string& entry : AppTable) {
    std::string program;
    std::string key = EntryKey(entry, program);
    try {
      // Only a program whose name ends in ".DLL" is ever served as an
      // extension library (the gateway choice), so only such a one loads.
      if (!EndsWithText(program, ".DLL") || !FileExists(program)) continue;
      bool loaded = false;
      for (const auto& module : Modules)
        if (SameText(module->FileName, program)) loaded = true;
      if (loaded) continue;

      if (std::shared_ptr<TModuleRecord> live = FindLiveModule(program)) {
        Modules.push_back(live);
        continue;
      }

      auto record = std::make_shared<TModuleRecord>();
      record->FileName = program;
      record->Library = LoadLibrary(program);
      try {
        if (record->Library) {
          record->ExtensionProc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(
              GetProcAddress(record->Library, "HttpExtensionProc"));
          record->VersionProc = reinterpret_cast<PFN_GETEXTENSIONVERSION>(
              GetProcAddress(record->Library, "GetExtensionVersion"));
          record->TerminateProc = reinterpret_cast<PFN_TERMINATEEXTENSION>(
              GetProcAddress(record->Library, "TerminateExtension"));
        }
        if (record->VersionProc) record->VersionProc(&record->Version);
      } catch (...) {
        // The library is unloaded without being told to terminate: it never
        // finished starting.
        record->TerminateProc = nullptr;
        continue;  // the record's destructor frees the library
      }
      record->Version.lpszExtensionDesc[sizeof(record->Version.lpszExtensionDesc) - 1] = '\0';
      Modules.push_back(record);
      RememberLiveModule(record);
    } catch (...) {
      // Documents of this extension are then refused by the connection thread.
      listentry::FormatPair({key.substr(1), "tovk/send"}, entry);
    }
  }
}

void TSvrSetupHolder::MapUrlToPath(std::string& path, const std::string& host,
                                   bool isTLS) const {
  std::string server = FindVirtualServer(VirtTable, host, isTLS);
  ReplaceAll(path, '\\', '/');

  TAliasEntry best;
  for (const std::string& entry : AliasTable) {
    TAliasEntry alias = ParseAlias(entry);
    if (StartsWithText(path, alias.Prefix) && best.Prefix.size() < alias.Prefix.size() &&
        alias.IsTLS == isTLS && SameText(alias.Server, server))
      best = alias;
  }
  if (best.Prefix.empty() || best.Directory.empty()) {
    if (!StartsWithText(path, "/ISWD/")) {
      path.clear();
      return;
    }
    best.Prefix = "/iswd/";
    best.Directory = "\\iswd\\";
  }
  path = best.Directory + path.substr(best.Prefix.size());
  ReplaceAll(path, '/', '\\');
}

std::string TSvrSetupHolder::FindMimeType(const std::string& path) const {
  for (const std::string& entry : MimeTable) {
    std::string contentType;
    std::string key = EntryKey(entry, contentType);
    if (EndsWithText(path, key)) return contentType.substr(0, listentry::kContentTypeChars);
  }
  return "text/html";
}

bool TSvrSetupHolder::FindApplication(std::string& path, std::string& program,
                                      std::string& extraPath) const {
  program = "tovk/send";
  extraPath.clear();
  const std::string upperPath = UpperCase(path);
  std::size_t count = AppTable.size() % kAppLimit;
  for (std::size_t i = 0; i < count; ++i) {
    std::string entryProgram;
    std::string key = EntryKey(AppTable[i], entryProgram);
    std::size_t end = ExtensionEnd(upperPath, UpperCase(key));
    if (end == std::string::npos) continue;
    program = entryProgram;
    if (end < path.size()) {
      extraPath = path.substr(end);
      path.erase(end);
    }
    return true;
  }
  return false;
}

bool TSvrSetupHolder::FindDefaultDocument(std::string& directory, std::string& filePath,
                                          bool& alreadyEnded) const {
  alreadyEnded = directory.empty() || directory.back() == '\\';
  if (!alreadyEnded) directory += '\\';
  for (const std::string& name : DefaultDocuments) {
    if (FileExists(directory + name)) {
      filePath = directory + name;
      return true;
    }
  }
  return false;
}

std::string TSvrSetupHolder::ModuleTableHtml() const {
  std::string html =
      "<table border=1><tr><th bgcolor=#FFCC00>Název modulu</th><th bgcolor=#FFCC00>Verze "
      "ISAPI</th><th bgcolor=#FFCC00>Soubor s modulem</th></tr>\r\n";
  for (const auto& module : Modules) {
    const char* desc = module->Version.lpszExtensionDesc;
    std::string description(desc, strnlen(desc, sizeof(module->Version.lpszExtensionDesc)));
    uint32_t version = module->Version.dwExtensionVersion;
    html += "<tr><td>" + description + "</td><td>" + std::to_string(version >> 16) + "." +
            std::to_string(version & 0xFFFF) + "</td><td>" + module->FileName +
            "</td></tr>\r\n";
  }
  return html + "</table>";
}

PFN_HTTPEXTENSIONPROC TSvrSetupHolder::FindModuleProc(const std::string& libraryFileName) const {
  for (const auto& module : Modules)
    if (SameText(module->FileName, libraryFileName)) return module->ExtensionProc;
  return nullptr;
}

TVirtualServerNode* TSvrSetupHolder::VirtualServerChain() const {
  TVirtualServerNode* chain = nullptr;
  for (const std::string& text : VirtTable) {
    auto* node = new TVirtualServerNode;
    ToShortString(UpperCase(listentry::ParsePair(text).First), node->Name);
    node->Next = chain;
    chain = node;
  }
  return chain;
}

std::string TSvrSetupHolder::ErrorPagePath(uint16_t status) const {
  int index = StatusIndex(status);
  if (index < 0 || ErrorPageNames[index].empty()) return "";
  return ErrorPageDir + ErrorPageNames[index];
}

std::string GetFileSizeText(const std::string& path) {
  if (!FileExists(path)) return "1024";
  int64_t size = FileSize(path);
  // A file that exists but cannot be read sends nothing (SendFile), so its
  // length is announced as what will come.
  return std::to_string(size < 0 ? 0 : size);
}

void FreeVirtualServerChain(TVirtualServerNode* chain) {
  while (chain) {
    TVirtualServerNode* next = chain->Next;
    delete chain;
    chain = next;
  }
}

// ---- the process-wide holder ----

namespace {

std::mutex CurrentLock;
std::shared_ptr<TSvrSetupHolder> Current;
// Keeps the single values while no holder exists (before the first load,
// between FreeSettings and CreateSettings) and answers Settings() then.
TSvrSetupHolder Idle;
thread_local std::shared_ptr<TSvrSetupHolder> ThreadPin;

void CopySingleValues(const TSvrSetupHolder& from, TSvrSetupHolder& to) {
  to.Port = from.Port;
  to.ProtFile = from.ProtFile;
  to.SSLon = from.SSLon;
  to.NewLogFile = from.NewLogFile;
  to.KeepAlive = from.KeepAlive;
  to.ErrorPageDir = from.ErrorPageDir;
  to.ErrorPageNames = from.ErrorPageNames;
}

}  // namespace

void SetSettingDefaults() {
  TSvrSetupHolder& holder = Settings();
  holder.Port = 80;
  holder.SSLon = false;
  holder.NewLogFile = false;
  holder.ProtFile = "c:\\";
}

void CreateSettings() {
  auto holder = std::make_shared<TSvrSetupHolder>();
  {
    std::lock_guard<std::mutex> guard(CurrentLock);
    CopySingleValues(Current ? *Current : Idle, *holder);
  }
  // The holder becomes current also when the load fails half-way: what was
  // read stays in use, as the single values not read keep their old contents.
  auto publish = [&holder] {
    std::lock_guard<std::mutex> guard(CurrentLock);
    Current = holder;
  };
  try {
    holder->LoadSettings();
  } catch (...) {
    publish();
    throw;
  }
  publish();
}

void FreeSettings() {
  std::shared_ptr<TSvrSetupHolder> dropped;
  {
    std::lock_guard<std::mutex> guard(CurrentLock);
    if (!Current) return;
    CopySingleValues(*Current, Idle);
    dropped = std::move(Current);
  }
  // Destroyed here unless a connection still has it pinned.
  dropped.reset();
}

std::shared_ptr<TSvrSetupHolder> CurrentSettings() {
  std::lock_guard<std::mutex> guard(CurrentLock);
  return Current;
}

TSvrSetupHolder& Settings() {
  if (ThreadPin) return *ThreadPin;
  std::lock_guard<std::mutex> guard(CurrentLock);
  return Current ? *Current : Idle;
}

TSettingsPin::TSettingsPin() : Pinned(CurrentSettings()), Previous(ThreadPin) {
  if (Pinned) ThreadPin = Pinned;
}

TSettingsPin::TSettingsPin(std::shared_ptr<TSvrSetupHolder> holder)
    : Pinned(holder ? std::move(holder) : CurrentSettings()), Previous(ThreadPin) {
  if (Pinned) ThreadPin = Pinned;
}

TSettingsPin::~TSettingsPin() { ThreadPin = Previous; }
