#pragma once
// The registry stand-in. HKEY_LOCAL_MACHINE (and HKEY_CURRENT_USER) live in
// one SQLite database ($TOVK_REGISTRY, else /var/lib/tovk/registry.db);
// HKEY_CLASSES_ROOT is a read-only view of /etc/mime.types. The calls follow
// the Win32 registry functions, with byte strings for names and data.

#include <cstdint>
#include <string>
#include <vector>

struct HKEY__;
using HKEY = HKEY__*;

// The predefined root keys (pseudo-handles; closing them does nothing).
extern HKEY const HKEY_CLASSES_ROOT;
extern HKEY const HKEY_CURRENT_USER;
extern HKEY const HKEY_LOCAL_MACHINE;

// Value types keep their Windows numbers.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

// Access rights, as Windows numbers them.
constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// Result codes, as Windows numbers them.
constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_INVALID_FUNCTION = 1;
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_ACCESS_DENIED = 5;
constexpr int32_t ERROR_INVALID_HANDLE = 6;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_MORE_DATA = 234;
constexpr int32_t ERROR_NO_MORE_ITEMS = 259;
constexpr int32_t ERROR_CANTWRITE = 1013;
constexpr int32_t ERROR_REGISTRY_IO_FAILED = 1016;  // the database cannot be opened or read
constexpr int32_t ERROR_KEY_DELETED = 1018;         // the key of an open handle is gone

struct RegValue {
  std::string Name;
  uint32_t Type = REG_NONE;
  std::string Data;  // the stored bytes, exactly as written
};

// Where HKEY_LOCAL_MACHINE is stored: $TOVK_REGISTRY or the default path.
std::string RegistryDatabasePath();

int32_t RegOpenKeyEx(HKEY base, const std::string& subKey, uint32_t access, HKEY* result);
// Creates the key and any missing keys above it (non-volatile).
int32_t RegCreateKeyEx(HKEY base, const std::string& subKey, uint32_t access, HKEY* result);
int32_t RegCloseKey(HKEY key);
int32_t RegFlushKey(HKEY key);
// The full path of an open key below its root, in the letter case of creation.
std::string RegKeyPath(HKEY key);

int32_t RegQueryValueEx(HKEY key, const std::string& name, uint32_t* type, std::string* data);
int32_t RegSetValueEx(HKEY key, const std::string& name, uint32_t type, const std::string& data);
int32_t RegDeleteValue(HKEY key, const std::string& name);
// Deletes the subkey with everything below it; with an empty subkey, the
// values and subkeys of `base` itself (the key stays).
int32_t RegDeleteTree(HKEY base, const std::string& subKey);

// Subkey names in the registry's order (ignoring case); values in the order
// of their creation.
int32_t RegEnumKeys(HKEY key, std::vector<std::string>* names);
int32_t RegEnumValues(HKEY key, std::vector<RegValue>* values);

// Groups the writes of the calling thread into one transaction: nothing of
// them is seen by others, or kept after a crash, before the commit. Writes
// outside such a group are each a transaction of their own.
int32_t RegBeginTransaction();
int32_t RegCommitTransaction();
int32_t RegRollbackTransaction();

// The scoped form: begins at construction and rolls back at destruction
// unless Commit() succeeded. A writer of a whole numbered list uses it so
// that the count and the entries are seen, and survive a crash, together.
class RegTransaction {
 public:
  RegTransaction() : Result(RegBeginTransaction()) {}
  ~RegTransaction() {
    if (Result == ERROR_SUCCESS && !Committed) RegRollbackTransaction();
  }
  RegTransaction(const RegTransaction&) = delete;
  RegTransaction& operator=(const RegTransaction&) = delete;

  // Whether the transaction began (the store could be opened for writing).
  bool Active() const { return Result == ERROR_SUCCESS && !Committed; }
  int32_t Commit() {
    if (!Active()) return Result == ERROR_SUCCESS ? ERROR_INVALID_FUNCTION : Result;
    Committed = true;
    return RegCommitTransaction();
  }

 private:
  int32_t Result;
  bool Committed = false;
};
