#include "common/NTRegistry.h"


namespace {

// Read, set value and create subkey; never full access, which an ordinary
// user does not get on HKEY_LOCAL_MACHINE.
constexpr uint32_t kKeyAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
static_assert(kKeyAccess == 0x2001F);

[[noreturn]] void Raise(const char* text, const std::string& name) {
  std::string message = text;
  std::size_t at = message.find("%s");
  message.replace(at, 2, name);
  throw ERegistryException(message);
}

const char* const kInvalidType = "Invalid data type for '%s'";
const char* const kGetFailed = "Failed to get data for '%s'";
const char* const kSetFailed = "Failed to set data for '%s'";

}  // namespace

TNTRegistry::TNTRegistry() : RootKey(HKEY_CURRENT_USER) {}

TNTRegistry::~TNTRegistry() {
  CloseKey();
  if (CloseRootKey) RegCloseKey(RootKey);
}

void TNTRegistry::SetRootKey(HKEY root) {
  if (root == RootKey) return;
  if (CloseRootKey) {
    RegCloseKey(RootKey);
    CloseRootKey = false;
  }
  RootKey = root;
  CloseKey();
}

bool TNTRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::string path = key;
  bool relative = path.empty() || path[0] != '\\';
  if (!relative) path.erase(0, 1);
  HKEY base = relative && CurrentKey ? CurrentKey : RootKey;
  HKEY opened = nullptr;
  int32_t rc = canCreate && !path.empty() ? RegCreateKeyEx(base, path, kKeyAccess, &opened)
                                          : RegOpenKeyEx(base, path, kKeyAccess, &opened);
  if (rc != ERROR_SUCCESS) return false;
  if (CurrentKey && relative) path = CurrentPath + "\\" + path;
  CloseKey();
  CurrentKey = opened;
  CurrentPath = path;
  return true;
}

void TNTRegistry::CloseKey() {
  if (!CurrentKey) return;
  if (!LazyWrite) RegFlushKey(CurrentKey);
  RegCloseKey(CurrentKey);
  CurrentKey = nullptr;
  CurrentPath.clear();
}

std::string TNTRegistry::ReadString(const std::string& name) {
  uint32_t type = REG_NONE;
  std::string data;
  if (RegQueryValueEx(CurrentKey, name, &type, &data) != ERROR_SUCCESS || data.empty()) return "";
  if (type != REG_SZ && type != REG_EXPAND_SZ) Raise(kInvalidType, name);
  std::size_t nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  return data;
}

int32_t TNTRegistry::ReadInteger(const std::string& name) {
  uint32_t type = REG_NONE;
  std::string data;
  if (RegQueryValueEx(CurrentKey, name, &type, &data) != ERROR_SUCCESS || data.size() > sizeof(int32_t))
    Raise(kGetFailed, name);
  if (type != REG_DWORD) Raise(kInvalidType, name);
  // A DWORD stored shorter than four bytes reads with the missing high bytes
  // as zero.
  uint32_t value = 0;
  for (std::size_t i = 0; i < data.size(); ++i)
    value |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
  return static_cast<int32_t>(value);
}

void TNTRegistry::WriteString(const std::string& name, const std::string& value) {
  // Stored with its terminating NUL, as the registry keeps strings.
  std::string data = value;
  data.push_back('\0');
  if (RegSetValueEx(CurrentKey, name, REG_SZ, data) != ERROR_SUCCESS) Raise(kSetFailed, name);
}

void TNTRegistry::WriteInteger(const std::string& name, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  std::string data(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
  if (RegSetValueEx(CurrentKey, name, REG_DWORD, data) != ERROR_SUCCESS) Raise(kSetFailed, name);
}

bool TNTRegistry::ValueExists(const std::string& name) {
  return RegQueryValueEx(CurrentKey, name, nullptr, nullptr) == ERROR_SUCCESS;
}

void TNTRegistry::GetKeyNames(std::vector<std::string>& names) {
  names.clear();
  RegEnumKeys(CurrentKey, &names);
}
