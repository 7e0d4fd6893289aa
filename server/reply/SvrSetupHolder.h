#pragma once
// The settings holder: the server's in-memory copy of the configuration and
// the place every configuration question is answered while it runs.
//
// Each load builds a new holder. Connection threads pin the holder that was
// current when they started (PinSettingsForThisThread), so a restart never
// frees tables or extension libraries that a running connection still uses:
// the old holder, and the libraries it loaded, go when its last user ends.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Isapi.h"

constexpr int kStatusCount = 17;
// The statuses the error reply knows; this order also indexes the error
// page names and the catalogue's error texts.
inline constexpr std::array<uint16_t, kStatusCount> kStatusTable = {
    200, 301, 302, 304, 400, 401, 402, 403, 404, 405, 408, 413, 414, 500, 501, 503, 505};
int StatusIndex(uint16_t status);  // 0-based index in kStatusTable, -1 when not there

// One loaded ISAPI library. Destroying the record calls TerminateExtension
// with HSE_TERM_MUST_UNLOAD and unloads the library.
struct TModuleRecord {
  HSE_VERSION_INFO Version{};  // laid out first: GetExtensionVersion fills it
  std::string FileName;
  PFN_HTTPEXTENSIONPROC ExtensionProc = nullptr;
  PFN_GETEXTENSIONVERSION VersionProc = nullptr;
  PFN_TERMINATEEXTENSION TerminateProc = nullptr;
  void* Library = nullptr;
  ~TModuleRecord();
};

// One node of the virtual-server chain handed to the log library.
struct TVirtualServerNode {
  unsigned char Name[256];  // short string: upper-cased host name
  TVirtualServerNode* Next;
};

class TSvrSetupHolder {
 public:
  // Single values; a new holder starts from the previous holder's values.
  int32_t Port = 80;
  std::string ProtFile = "c:\\";
  bool SSLon = false;
  bool NewLogFile = false;
  bool KeepAlive = false;
  std::string ErrorPageDir;
  std::array<std::string, kStatusCount> ErrorPageNames;

  // Raw entry texts, parsed at every look-up.
  std::vector<std::string> MimeTable, AliasTable, AppTable, VirtTable;
  std::vector<std::string> DefaultDocuments;
  std::vector<std::shared_ptr<TModuleRecord>> Modules;

  // Reads the registry; a registry error propagates (ERegistryException)
  // after the tables read so far are filled.
  void LoadSettings();
  // Fills ErrorPageNames from the files "err<status>.*" in ErrorPageDir.
  void ScanErrorPages();
  void LoadModules();

  // Maps a URL path to a file-system path in place; empty when nothing maps.
  void MapUrlToPath(std::string& path, const std::string& host, bool isTLS) const;
  std::string FindMimeType(const std::string& path) const;
  // The interpreter of the first App entry whose extension ends the file
  // name (ignoring case): at the end of the path, or before a "/" that
  // starts extra path, which is then cut off into extraPath.
  bool FindApplication(std::string& path, std::string& program, std::string& extraPath) const;
  bool FindDefaultDocument(std::string& directory, std::string& filePath,
                           bool& alreadyEnded) const;
  std::string ModuleTableHtml() const;
  PFN_HTTPEXTENSIONPROC FindModuleProc(const std::string& libraryFileName) const;
  // The chain runs from the last Virt entry to the first; the caller owns it
  // (free it with FreeVirtualServerChain).
  TVirtualServerNode* VirtualServerChain() const;
  std::string ErrorPagePath(uint16_t status) const;  // empty when the status has no page

  // The look-ups take no lock: a holder is filled by LoadSettings before
  // CreateSettings publishes it, and no table changes after that (a reload
  // builds a new holder), so any number of connections may read it at once.
};

std::string GetFileSizeText(const std::string& path);
void FreeVirtualServerChain(TVirtualServerNode* chain);

// The process-wide holder.
void SetSettingDefaults();  // Port 80, SSLon off, NewLogFile off, ProtFile "c:\"
void CreateSettings();      // new holder from the previous one's values, then LoadSettings
void FreeSettings();        // drops the current holder (its users keep theirs)
std::shared_ptr<TSvrSetupHolder> CurrentSettings();
// The holder a connection thread works with: the one it pinned, else the current one.
TSvrSetupHolder& Settings();
class TSettingsPin {
 public:
  TSettingsPin();   // pins CurrentSettings() for this thread
  // Pins a holder taken earlier (none: the same as the default).
  explicit TSettingsPin(std::shared_ptr<TSvrSetupHolder> holder);
  ~TSettingsPin();
 private:
  std::shared_ptr<TSvrSetupHolder> Pinned;
  std::shared_ptr<TSvrSetupHolder> Previous;
};
