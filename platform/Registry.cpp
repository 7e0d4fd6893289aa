#include "platform/Registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

// An open key: which tree, the path below its root in the letter case of
// creation ("" for the root itself) and the rights it was opened with.
struct HKEY__ {
  uint32_t Root;
  std::string Path;
  uint32_t Access;
};

namespace {

enum : uint32_t { kRootClasses = 0, kRootCurrentUser = 1, kRootLocalMachine = 2 };

HKEY__ gClassesRoot{kRootClasses, "", KEY_READ};
HKEY__ gCurrentUser{kRootCurrentUser, "", KEY_ALL_ACCESS};
HKEY__ gLocalMachine{kRootLocalMachine, "", KEY_ALL_ACCESS};

}  // namespace

HKEY const HKEY_CLASSES_ROOT = &gClassesRoot;
HKEY const HKEY_CURRENT_USER = &gCurrentUser;
HKEY const HKEY_LOCAL_MACHINE = &gLocalMachine;

namespace {

const char* const kDefaultDatabasePath = "/var/lib/tovk/registry.db";
const char* const kDefaultMimeTypesPath = "/etc/mime.types";

// A writer holds the lock for one short transaction (an import of a whole
// file at the longest); a wait beyond this means a stuck process, and the
// caller gets an error rather than hanging with it.
constexpr int kBusyTimeoutMs = 10000;
// While other processes open the store or switch it to WAL at the same
// moment, SQLite may answer "busy" without waiting; opening is then tried
// again after this pause, within kBusyTimeoutMs in all.
constexpr auto kOpenRetryPause = std::chrono::milliseconds(20);
// Bumped when the tables change; a store written by a newer build is refused
// rather than misread.
constexpr int kSchemaVersion = 1;
// The limits of the Windows registry, so that every key and value kept here
// can also be written there.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

const char* const kContentType = "Content Type";

std::string Fold(const std::string& text) {
  std::string folded = text;
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

std::string LastComponent(const std::string& path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Splits a subkey path into its names. A trailing "\" is tolerated; an empty
// name anywhere else, a NUL or an over-long name is refused.
bool SplitSubKey(const std::string& subKey, std::vector<std::string>* parts) {
  parts->clear();
  std::string path = subKey;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  if (path.empty()) return subKey.empty();
  std::size_t start = 0;
  for (;;) {
    std::size_t slash = path.find('\\', start);
    std::string name = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (name.empty() || name.size() > kMaxKeyNameLength || name.find('\0') != std::string::npos)
      return false;
    parts->push_back(name);
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::string JoinPath(const std::string& base, const std::string& name) {
  return base.empty() ? name : base + "\\" + name;
}

bool ValidValueName(const std::string& name) {
  return name.size() <= kMaxValueNameLength && name.find('\0') == std::string::npos;
}

// ---- handles -------------------------------------------------------------

std::mutex gHandleLock;
std::unordered_set<const HKEY__*> gHandles;

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

// Copies what a handle says, so that a close on another thread cannot pull
// the object away while a call still works with it.
bool ReadHandle(HKEY key, HKEY__* copy) {
  if (key == nullptr) return false;
  if (IsPredefined(key)) {
    *copy = *key;
    return true;
  }
  std::lock_guard<std::mutex> guard(gHandleLock);
  if (gHandles.count(key) == 0) return false;
  *copy = *key;
  return true;
}

HKEY NewHandle(uint32_t root, const std::string& path, uint32_t access) {
  HKEY key = new HKEY__{root, path, access};
  std::lock_guard<std::mutex> guard(gHandleLock);
  gHandles.insert(key);
  return key;
}

bool MayQuery(const HKEY__& key) { return (key.Access & KEY_QUERY_VALUE) != 0; }
bool MayEnumerate(const HKEY__& key) { return (key.Access & KEY_ENUMERATE_SUB_KEYS) != 0; }
bool MaySetValue(const HKEY__& key) { return (key.Access & KEY_SET_VALUE) != 0; }
bool MayCreateSubKey(const HKEY__& key) { return (key.Access & KEY_CREATE_SUB_KEY) != 0; }

// ---- HKEY_CLASSES_ROOT: the system's MIME table ----------------------------

struct MimeView {
  std::vector<std::pair<std::string, std::string>> Keys;  // ".ext", type; by folded name
  std::unordered_map<std::string, std::size_t> ByFold;
};

struct MimeFileStamp {
  std::string Path;
  bool Exists = false;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  bool operator==(const MimeFileStamp& o) const {
    return Path == o.Path && Exists == o.Exists && Inode == o.Inode && Size == o.Size &&
           Modified.tv_sec == o.Modified.tv_sec && Modified.tv_nsec == o.Modified.tv_nsec;
  }
};

std::string MimeTypesPath() {
  const char* path = std::getenv("TOVK_MIME_TYPES");
  return path && *path ? path : kDefaultMimeTypesPath;
}

MimeFileStamp StampOf(const std::string& path) {
  MimeFileStamp stamp;
  stamp.Path = path;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    stamp.Exists = true;
    stamp.Inode = st.st_ino;
    stamp.Size = st.st_size;
    stamp.Modified = st.st_mtim;
  }
  return stamp;
}

// Lines of "type ext ext ...", "#" comments. An extension listed twice keeps
// its first type, as a key can have only one value of a name.
std::shared_ptr<MimeView> ParseMimeTypes(const std::string& path) {
  auto view = std::make_shared<MimeView>();
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::vector<std::pair<std::string, std::string>> keys;
  std::unordered_set<std::string> seen;
  while (std::getline(in, line)) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
      if (i >= line.size()) break;
      std::size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
      words.push_back(line.substr(start, i - start));
    }
    if (words.empty() || words[0][0] == '#' || words[0].find('/') == std::string::npos) continue;
    for (std::size_t w = 1; w < words.size(); ++w) {
      std::string ext = words[w];
      if (ext[0] == '#') break;
      if (ext[0] == '.') ext.erase(0, 1);
      if (ext.empty() || ext.find('\\') != std::string::npos || ext.size() + 1 > kMaxKeyNameLength)
        continue;
      std::string name = "." + ext;
      if (seen.insert(Fold(name)).second) keys.emplace_back(name, words[0]);
    }
  }
  std::sort(keys.begin(), keys.end(),
            [](const auto& a, const auto& b) { return Fold(a.first) < Fold(b.first); });
  view->Keys = std::move(keys);
  for (std::size_t k = 0; k < view->Keys.size(); ++k) view->ByFold[Fold(view->Keys[k].first)] = k;
  return view;
}

std::shared_ptr<const MimeView> CurrentMimeView() {
  static std::mutex lock;
  static MimeFileStamp cachedStamp;
  static std::shared_ptr<const MimeView> cached;
  MimeFileStamp stamp = StampOf(MimeTypesPath());
  std::lock_guard<std::mutex> guard(lock);
  if (!cached || !(stamp == cachedStamp)) {
    cached = ParseMimeTypes(stamp.Path);
    cachedStamp = stamp;
  }
  return cached;
}

// Finds the HKEY_CLASSES_ROOT key of a full path in one view of the table
// (the file may change between two calls); false when there is none.
bool FindClassesKey(const MimeView& view, const std::string& path, std::string* storedPath, std::size_t* index) {
  if (path.empty()) {
    *storedPath = "";
    return true;
  }
  if (path.find('\\') != std::string::npos) return false;
  auto found = view.ByFold.find(Fold(path));
  if (found == view.ByFold.end()) return false;
  *storedPath = view.Keys[found->second].first;
  if (index) *index = found->second;
  return true;
}

// ---- the database ----------------------------------------------------------

class Connection {
 public:
  ~Connection() {
    for (auto& [sql, stmt] : Statements) sqlite3_finalize(stmt);
    if (Db) sqlite3_close_v2(Db);
  }

  sqlite3_stmt* Prepare(const char* sql) {
    auto found = Statements.find(sql);
    if (found != Statements.end()) return found->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(Db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
      return nullptr;
    Statements.emplace(sql, stmt);
    return stmt;
  }

  bool Exec(const char* sql) { return sqlite3_exec(Db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
  bool InTransaction() const { return sqlite3_get_autocommit(Db) == 0; }

  sqlite3* Db = nullptr;
  std::string Path;
  dev_t Device = 0;
  ino_t Inode = 0;
  std::unordered_map<const char*, sqlite3_stmt*> Statements;  // by the address of the SQL literal
};

// One connection per thread: SQLite then does all the locking, between the
// threads of this process just as between processes.
thread_local std::unique_ptr<Connection> tConnection;

// One use of a prepared statement; resets it when done.
class Query {
 public:
  Query(Connection& connection, const char* sql) : Stmt(connection.Prepare(sql)) {}
  ~Query() {
    if (Stmt) {
      sqlite3_reset(Stmt);
      sqlite3_clear_bindings(Stmt);
    }
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  bool Ok() const { return Stmt != nullptr; }
  Query& Bind(int index, int64_t value) {
    if (Stmt) sqlite3_bind_int64(Stmt, index, value);
    return *this;
  }
  Query& Bind(int index, const std::string& bytes) {
    if (Stmt) sqlite3_bind_blob(Stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return Stmt ? sqlite3_step(Stmt) : SQLITE_ERROR; }
  int64_t Int(int column) { return sqlite3_column_int64(Stmt, column); }
  std::string Blob(int column) {
    const void* bytes = sqlite3_column_blob(Stmt, column);
    int size = sqlite3_column_bytes(Stmt, column);
    return bytes ? std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size)) : std::string();
  }

 private:
  sqlite3_stmt* Stmt;
};

void MakeParentDirectories(const std::string& file) {
  std::size_t slash = file.rfind('/');
  if (slash == std::string::npos || slash == 0) return;
  std::string dir = file.substr(0, slash);
  for (std::size_t next = 1; next <= dir.size(); ++next) {
    if (next == dir.size() || dir[next] == '/') {
      std::string prefix = dir.substr(0, next);
      if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return;
    }
  }
}

// The store holds the log database's password, so a new one is readable
// and writable by its owner only; SQLite gives the -wal and -shm files it
// makes beside the store the store's own mode. An existing store keeps the
// mode its owner gave it.
constexpr mode_t kStoreFileMode = 0600;

void CreateStoreFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kStoreFileMode);
  if (fd >= 0) ::close(fd);  // an empty file is an empty database to SQLite
}

bool StatFile(const std::string& path, dev_t* device, ino_t* inode) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  *device = st.st_dev;
  *inode = st.st_ino;
  return true;
}

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY,"
    "  root INTEGER NOT NULL,"
    "  parent INTEGER,"      // NULL for the root keys themselves
    "  fold BLOB NOT NULL,"  // the full path below the root, ASCII upper case
    "  path BLOB NOT NULL,"  // the same in the letter case of creation
    "  UNIQUE(root, fold));"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  name BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "INSERT OR IGNORE INTO keys(root, parent, fold, path) VALUES(1, NULL, x'', x''), (2, NULL, x'', x'');";

int UserVersion(Connection& c) {
  Query q(c, "PRAGMA user_version");
  return q.Step() == SQLITE_ROW ? static_cast<int>(q.Int(0)) : -1;
}

bool PrepareSchema(Connection& c, bool readOnly) {
  int version = UserVersion(c);
  if (version == kSchemaVersion) return true;
  if (version > kSchemaVersion || version < 0 || readOnly) return false;
  if (!c.Exec("BEGIN IMMEDIATE")) return false;
  // Another process may have set the store up while this one waited.
  version = UserVersion(c);
  bool ok = version == kSchemaVersion ||
            (version == 0 && c.Exec(kSchema) &&
             c.Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str()));
  if (ok && c.Exec("COMMIT")) return true;
  c.Exec("ROLLBACK");
  return false;
}

enum class OpenResult { Opened, Busy, Failed };

bool IsBusy(Connection& c) {
  int code = sqlite3_errcode(c.Db) & 0xff;
  return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

// One attempt at opening the store and preparing the connection.
OpenResult TryOpenDatabase(Connection& c) {
  bool readOnly = false;
  if (sqlite3_open_v2(c.Path.c_str(), &c.Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(c.Db);
    c.Db = nullptr;
    // A user without write permission may still read the configuration.
    if (sqlite3_open_v2(c.Path.c_str(), &c.Db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return OpenResult::Failed;
    readOnly = true;
  }
  // A file this user may not write is opened for reading without a word.
  if (sqlite3_db_readonly(c.Db, "main") == 1) readOnly = true;
  sqlite3_busy_timeout(c.Db, kBusyTimeoutMs);
  auto failure = [&c] { return IsBusy(c) ? OpenResult::Busy : OpenResult::Failed; };
  if (!readOnly) {
    // WAL lets readers go on while one process writes; FULL makes every
    // committed change survive a crash of the machine too.
    Query wal(c, "PRAGMA journal_mode=WAL");
    if (wal.Step() != SQLITE_ROW) return failure();
    // The -wal and -shm files stay when the last writer closes: a user who
    // may only read the store cannot create them, and without them could
    // not read it at all.
    int persist = 1;
    sqlite3_file_control(c.Db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  }
  if (!readOnly && !c.Exec("PRAGMA synchronous=FULL")) return failure();
  if (!PrepareSchema(c, readOnly)) return failure();
  if (!StatFile(c.Path, &c.Device, &c.Inode)) return OpenResult::Failed;
  return OpenResult::Opened;
}

std::unique_ptr<Connection> OpenDatabase(const std::string& path) {
  MakeParentDirectories(path);
  CreateStoreFile(path);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  for (;;) {
    auto c = std::make_unique<Connection>();
    c->Path = path;
    OpenResult result = TryOpenDatabase(*c);
    if (result == OpenResult::Opened) return c;
    if (result == OpenResult::Failed || std::chrono::steady_clock::now() >= deadline) return nullptr;
    c.reset();
    std::this_thread::sleep_for(kOpenRetryPause);
  }
}

// The calling thread's connection to the store named now; a store file that
// was replaced or removed since is opened afresh, except in the middle of a
// transaction, which stays with the file it began on.
Connection* ThisThreadConnection() {
  std::string path = RegistryDatabasePath();
  if (tConnection) {
    if (tConnection->InTransaction()) return tConnection.get();
    dev_t device;
    ino_t inode;
    if (tConnection->Path == path && StatFile(path, &device, &inode) && device == tConnection->Device &&
        inode == tConnection->Inode)
      return tConnection.get();
    tConnection.reset();
  }
  tConnection = OpenDatabase(path);
  return tConnection.get();
}

int32_t WriteError(Connection& c) {
  int code = sqlite3_errcode(c.Db) & 0xff;
  return code == SQLITE_READONLY || code == SQLITE_PERM ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
}

// Makes one write a transaction of its own, or a savepoint inside the
// thread's open transaction (so that a failed write leaves that transaction
// as it was before the write).
class WriteScope {
 public:
  explicit WriteScope(Connection& c) : C(c), Nested(c.InTransaction()) {
    Started = C.Exec(Nested ? "SAVEPOINT regwrite" : "BEGIN IMMEDIATE");
  }
  ~WriteScope() {
    if (Started && !Finished) {
      if (Nested) {
        C.Exec("ROLLBACK TO regwrite");
        C.Exec("RELEASE regwrite");
      } else {
        C.Exec("ROLLBACK");
      }
    }
  }
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;

  bool Started = false;
  int32_t Commit() {
    if (!C.Exec(Nested ? "RELEASE regwrite" : "COMMIT")) return WriteError(C);
    Finished = true;
    return ERROR_SUCCESS;
  }

 private:
  Connection& C;
  bool Nested;
  bool Finished = false;
};

struct StoredKey {
  int64_t Id = 0;
  std::string Path;
};

// 1 found, 0 missing, -1 database failure.
int FindKey(Connection& c, uint32_t root, const std::string& path, StoredKey* key) {
  Query q(c, "SELECT id, path FROM keys WHERE root = ?1 AND fold = ?2");
  if (!q.Ok()) return -1;
  q.Bind(1, static_cast<int64_t>(root)).Bind(2, Fold(path));
  int rc = q.Step();
  if (rc == SQLITE_DONE) return 0;
  if (rc != SQLITE_ROW) return -1;
  key->Id = q.Int(0);
  key->Path = q.Blob(1);
  return 1;
}

// Finds the key of an open handle; a key deleted since it was opened
// answers ERROR_KEY_DELETED.
int32_t HandleKey(Connection& c, const HKEY__& handle, StoredKey* key) {
  int found = FindKey(c, handle.Root, handle.Path, key);
  if (found < 0) return ERROR_REGISTRY_IO_FAILED;
  return found ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

bool DeleteBelow(Connection& c, uint32_t root, const std::string& path) {
  auto run = [&](const char* sql) {
    Query q(c, sql);
    q.Bind(1, static_cast<int64_t>(root));
    if (!path.empty()) q.Bind(2, Fold(path) + "\\").Bind(3, Fold(path) + "]");
    return q.Step() == SQLITE_DONE;
  };
  // The names below "P" are those from "P\" up to, not including, "P]":
  // "]" is the byte after "\".
  if (path.empty())
    return run("DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE root = ?1 AND fold <> x'')") &&
           run("DELETE FROM keys WHERE root = ?1 AND fold <> x''");
  return run("DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE root = ?1 AND fold >= ?2 AND fold < ?3)") &&
         run("DELETE FROM keys WHERE root = ?1 AND fold >= ?2 AND fold < ?3");
}

bool DeleteValuesOf(Connection& c, int64_t id) {
  Query q(c, "DELETE FROM vals WHERE key = ?1");
  q.Bind(1, id);
  return q.Step() == SQLITE_DONE;
}

}  // namespace

std::string RegistryDatabasePath() {
  const char* path = std::getenv("TOVK_REGISTRY");
  return path && *path ? path : kDefaultDatabasePath;
}

int32_t RegOpenKeyEx(HKEY base, const std::string& subKey, uint32_t access, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  HKEY__ handle;
  if (!ReadHandle(base, &handle)) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  if (!SplitSubKey(subKey, &parts)) return ERROR_INVALID_PARAMETER;
  std::string path = handle.Path;
  for (const auto& part : parts) path = JoinPath(path, part);

  if (handle.Root == kRootClasses) {
    std::string stored;
    if (!FindClassesKey(*CurrentMimeView(), path, &stored, nullptr)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(kRootClasses, stored, access);
    return ERROR_SUCCESS;
  }
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  StoredKey key;
  int found = FindKey(*c, handle.Root, path, &key);
  if (found < 0) return ERROR_REGISTRY_IO_FAILED;
  if (found == 0) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(handle.Root, key.Path, access);
  return ERROR_SUCCESS;
}

int32_t RegCreateKeyEx(HKEY base, const std::string& subKey, uint32_t access, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  HKEY__ handle;
  if (!ReadHandle(base, &handle)) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts;
  if (!SplitSubKey(subKey, &parts)) return ERROR_INVALID_PARAMETER;

  if (handle.Root == kRootClasses) {
    // The view can be opened but never grows.
    std::string path = handle.Path;
    for (const auto& part : parts) path = JoinPath(path, part);
    std::string stored;
    if (!FindClassesKey(*CurrentMimeView(), path, &stored, nullptr)) return ERROR_ACCESS_DENIED;
    *result = NewHandle(kRootClasses, stored, access);
    return ERROR_SUCCESS;
  }
  if (!MayCreateSubKey(handle)) return ERROR_ACCESS_DENIED;
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  WriteScope scope(*c);
  if (!scope.Started) return WriteError(*c);
  StoredKey key;
  if (int32_t rc = HandleKey(*c, handle, &key); rc != ERROR_SUCCESS) return rc;
  for (const auto& part : parts) {
    std::string wanted = JoinPath(key.Path, part);
    StoredKey child;
    int found = FindKey(*c, handle.Root, wanted, &child);
    if (found < 0) return ERROR_REGISTRY_IO_FAILED;
    if (found == 0) {
      // Names above keep the case they were created in; only the new ones
      // take the case of this call.
      Query insert(*c, "INSERT INTO keys(root, parent, fold, path) VALUES(?1, ?2, ?3, ?4)");
      insert.Bind(1, static_cast<int64_t>(handle.Root)).Bind(2, key.Id).Bind(3, Fold(wanted)).Bind(4, wanted);
      if (insert.Step() != SQLITE_DONE) return WriteError(*c);
      child.Id = sqlite3_last_insert_rowid(c->Db);
      child.Path = wanted;
    }
    key = child;
  }
  if (int32_t rc = scope.Commit(); rc != ERROR_SUCCESS) return rc;
  *result = NewHandle(handle.Root, key.Path, access);
  return ERROR_SUCCESS;
}

int32_t RegCloseKey(HKEY key) {
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (IsPredefined(key)) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> guard(gHandleLock);
    if (gHandles.erase(key) == 0) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

int32_t RegFlushKey(HKEY key) {
  // Every write is committed (and synced) before it returns.
  HKEY__ handle;
  return ReadHandle(key, &handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

std::string RegKeyPath(HKEY key) {
  HKEY__ handle;
  return ReadHandle(key, &handle) ? handle.Path : std::string();
}

int32_t RegQueryValueEx(HKEY key, const std::string& name, uint32_t* type, std::string* data) {
  HKEY__ handle;
  if (!ReadHandle(key, &handle)) return ERROR_INVALID_HANDLE;
  if (!MayQuery(handle)) return ERROR_ACCESS_DENIED;
  if (handle.Root == kRootClasses) {
    auto view = CurrentMimeView();
    std::string stored;
    std::size_t index = 0;
    if (!FindClassesKey(*view, handle.Path, &stored, &index)) return ERROR_KEY_DELETED;
    if (handle.Path.empty() || Fold(name) != Fold(kContentType)) return ERROR_FILE_NOT_FOUND;
    if (type) *type = REG_SZ;
    if (data) *data = view->Keys[index].second + std::string(1, '\0');
    return ERROR_SUCCESS;
  }
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  StoredKey stored;
  if (int32_t rc = HandleKey(*c, handle, &stored); rc != ERROR_SUCCESS) return rc;
  Query q(*c, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
  q.Bind(1, stored.Id).Bind(2, Fold(name));
  int rc = q.Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
  if (type) *type = static_cast<uint32_t>(q.Int(0));
  if (data) *data = q.Blob(1);
  return ERROR_SUCCESS;
}

int32_t RegSetValueEx(HKEY key, const std::string& name, uint32_t type, const std::string& data) {
  HKEY__ handle;
  if (!ReadHandle(key, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.Root == kRootClasses || !MaySetValue(handle)) return ERROR_ACCESS_DENIED;
  if (!ValidValueName(name)) return ERROR_INVALID_PARAMETER;
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  WriteScope scope(*c);
  if (!scope.Started) return WriteError(*c);
  StoredKey stored;
  if (int32_t rc = HandleKey(*c, handle, &stored); rc != ERROR_SUCCESS) return rc;
  // An existing value keeps the letter case of its name and its place in
  // the order of the key's values.
  Query q(*c,
          "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
          "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  q.Bind(1, stored.Id).Bind(2, Fold(name)).Bind(3, name).Bind(4, static_cast<int64_t>(type)).Bind(5, data);
  if (q.Step() != SQLITE_DONE) return WriteError(*c);
  return scope.Commit();
}

int32_t RegDeleteValue(HKEY key, const std::string& name) {
  HKEY__ handle;
  if (!ReadHandle(key, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.Root == kRootClasses || !MaySetValue(handle)) return ERROR_ACCESS_DENIED;
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  WriteScope scope(*c);
  if (!scope.Started) return WriteError(*c);
  StoredKey stored;
  if (int32_t rc = HandleKey(*c, handle, &stored); rc != ERROR_SUCCESS) return rc;
  Query q(*c, "DELETE FROM vals WHERE key = ?1 AND fold = ?2");
  q.Bind(1, stored.Id).Bind(2, Fold(name));
  if (q.Step() != SQLITE_DONE) return WriteError(*c);
  if (sqlite3_changes(c->Db) == 0) return ERROR_FILE_NOT_FOUND;
  return scope.Commit();
}

int32_t RegDeleteTree(HKEY base, const std::string& subKey) {
  HKEY__ handle;
  if (!ReadHandle(base, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.Root == kRootClasses || !MaySetValue(handle) || !MayCreateSubKey(handle))
    return ERROR_ACCESS_DENIED;
  std::vector<std::string> parts;
  if (!SplitSubKey(subKey, &parts)) return ERROR_INVALID_PARAMETER;
  std::string path = handle.Path;
  for (const auto& part : parts) path = JoinPath(path, part);
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  WriteScope scope(*c);
  if (!scope.Started) return WriteError(*c);
  StoredKey target;
  int found = FindKey(*c, handle.Root, path, &target);
  if (found < 0) return ERROR_REGISTRY_IO_FAILED;
  if (found == 0) return parts.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
  if (!DeleteBelow(*c, handle.Root, target.Path) || !DeleteValuesOf(*c, target.Id)) return WriteError(*c);
  if (!parts.empty()) {
    Query q(*c, "DELETE FROM keys WHERE id = ?1");
    q.Bind(1, target.Id);
    if (q.Step() != SQLITE_DONE) return WriteError(*c);
  }
  return scope.Commit();
}

int32_t RegEnumKeys(HKEY key, std::vector<std::string>* names) {
  if (!names) return ERROR_INVALID_PARAMETER;
  names->clear();
  HKEY__ handle;
  if (!ReadHandle(key, &handle)) return ERROR_INVALID_HANDLE;
  if (!MayEnumerate(handle)) return ERROR_ACCESS_DENIED;
  if (handle.Root == kRootClasses) {
    auto view = CurrentMimeView();
    std::string stored;
    if (!FindClassesKey(*view, handle.Path, &stored, nullptr)) return ERROR_KEY_DELETED;
    if (handle.Path.empty())
      for (const auto& [ext, type] : view->Keys) names->push_back(ext);
    return ERROR_SUCCESS;
  }
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  StoredKey stored;
  if (int32_t rc = HandleKey(*c, handle, &stored); rc != ERROR_SUCCESS) return rc;
  Query q(*c, "SELECT path FROM keys WHERE parent = ?1 ORDER BY fold");
  q.Bind(1, stored.Id);
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) names->push_back(LastComponent(q.Blob(0)));
  if (rc != SQLITE_DONE) {
    names->clear();
    return ERROR_REGISTRY_IO_FAILED;
  }
  return ERROR_SUCCESS;
}

int32_t RegEnumValues(HKEY key, std::vector<RegValue>* values) {
  if (!values) return ERROR_INVALID_PARAMETER;
  values->clear();
  HKEY__ handle;
  if (!ReadHandle(key, &handle)) return ERROR_INVALID_HANDLE;
  if (!MayQuery(handle)) return ERROR_ACCESS_DENIED;
  if (handle.Root == kRootClasses) {
    auto view = CurrentMimeView();
    std::string stored;
    std::size_t index = 0;
    if (!FindClassesKey(*view, handle.Path, &stored, &index)) return ERROR_KEY_DELETED;
    if (!handle.Path.empty())
      values->push_back({kContentType, REG_SZ, view->Keys[index].second + std::string(1, '\0')});
    return ERROR_SUCCESS;
  }
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  StoredKey stored;
  if (int32_t rc = HandleKey(*c, handle, &stored); rc != ERROR_SUCCESS) return rc;
  Query q(*c, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid");
  q.Bind(1, stored.Id);
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW)
    values->push_back({q.Blob(0), static_cast<uint32_t>(q.Int(1)), q.Blob(2)});
  if (rc != SQLITE_DONE) {
    values->clear();
    return ERROR_REGISTRY_IO_FAILED;
  }
  return ERROR_SUCCESS;
}

int32_t RegBeginTransaction() {
  Connection* c = ThisThreadConnection();
  if (!c) return ERROR_REGISTRY_IO_FAILED;
  if (c->InTransaction()) return ERROR_INVALID_FUNCTION;
  // Taking the write lock at once: a transaction that only later found the
  // store changed under its reads could not be completed.
  return c->Exec("BEGIN IMMEDIATE") ? ERROR_SUCCESS : WriteError(*c);
}

int32_t RegCommitTransaction() {
  Connection* c = tConnection.get();
  if (!c || !c->InTransaction()) return ERROR_INVALID_FUNCTION;
  if (c->Exec("COMMIT")) return ERROR_SUCCESS;
  int32_t rc = WriteError(*c);
  c->Exec("ROLLBACK");
  return rc;
}

int32_t RegRollbackTransaction() {
  Connection* c = tConnection.get();
  if (!c || !c->InTransaction()) return ERROR_INVALID_FUNCTION;
  return c->Exec("ROLLBACK") ? ERROR_SUCCESS : ERROR_CANTWRITE;
}
