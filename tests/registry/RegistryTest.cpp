#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "tests/support/TestSupport.h"

namespace {

const char* const kMimeTypes =
    "# a comment line\n"
    "text/plain\t\t\ttxt text conf\n"
    "text/html\t\t\thtml htm\n"
    "application/x-empty\n"
    "application/x-other\t\tTXT\n"  // a second type for txt: the first one stays
    "image/png png\n";

class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TOVK_REGISTRY", (Dir / "state/registry.db").c_str(), 1);
    tovktest::WriteFile(Dir / "mime.types", kMimeTypes);
    setenv("TOVK_MIME_TYPES", (Dir / "mime.types").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TOVK_REGISTRY");
    unsetenv("TOVK_MIME_TYPES");
  }

  HKEY Create(const std::string& path, HKEY base = HKEY_LOCAL_MACHINE) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(base, path, KEY_ALL_ACCESS, &key), ERROR_SUCCESS) << path;
    return key;
  }

  tovktest::TempDir Dir;
};

std::string Bytes(std::initializer_list<int> list) {
  std::string bytes;
  for (int b : list) bytes += static_cast<char>(b);
  return bytes;
}

TEST_F(RegistryStore, DatabaseLivesWhereTheEnvironmentSays) {
  EXPECT_EQ(RegistryDatabasePath(), Dir / "state/registry.db");
  HKEY key = Create("software\\x");
  RegCloseKey(key);
  EXPECT_TRUE(tovktest::PathExists(Dir / "state/registry.db")) << "the missing directory is created";
  // The store holds the log database's password: its owner's alone, and
  // so are the files SQLite keeps beside it.
  for (const char* suffix : {"", "-wal", "-shm"}) {
    struct stat st {};
    ASSERT_EQ(::stat((Dir / "state/registry.db" + std::string(suffix)).c_str(), &st), 0) << suffix;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "registry.db" << suffix;
  }
  unsetenv("TOVK_REGISTRY");
  EXPECT_EQ(RegistryDatabasePath(), "/var/lib/tovk/registry.db");
}

TEST_F(RegistryStore, KeyPathsIgnoreCaseAndKeepTheCaseOfCreation) {
  HKEY first = Create("software\\Kestrane\\WWW Server");
  HKEY second = Create("SOFTWARE\\kestrane\\www server\\Sub");
  EXPECT_EQ(RegKeyPath(first), "software\\Kestrane\\WWW Server");
  EXPECT_EQ(RegKeyPath(second), "software\\Kestrane\\WWW Server\\Sub")
      << "only the new name takes the case of the second call";

  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\KESTRANE", KEY_READ, &opened), ERROR_SUCCESS);
  EXPECT_EQ(RegKeyPath(opened), "software\\Kestrane");
  std::vector<std::string> names;
  ASSERT_EQ(RegEnumKeys(opened, &names), ERROR_SUCCESS);
  EXPECT_EQ(names, std::vector<std::string>{"WWW Server"});

  // A value written through one spelling is read through the other.
  ASSERT_EQ(RegSetValueEx(first, "Port", REG_DWORD, Bytes({80, 0, 0, 0})), ERROR_SUCCESS);
  HKEY other = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\kestrane\\WWW Server", KEY_READ, &other), ERROR_SUCCESS);
  std::string data;
  EXPECT_EQ(RegQueryValueEx(other, "PORT", nullptr, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, Bytes({80, 0, 0, 0}));
  for (HKEY k : {first, second, opened, other}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(RegistryStore, LettersWithDiacriticsCompareExactly) {
  HKEY upper = Create("software\\\xC8\x41ST");  // ČAST in Windows-1250
  HKEY lower = Create("software\\\xE8\x61st");  // čast: a different key
  std::vector<std::string> names;
  HKEY software = Create("software");
  ASSERT_EQ(RegEnumKeys(software, &names), ERROR_SUCCESS);
  EXPECT_EQ(names.size(), 2u);
  for (HKEY k : {upper, lower, software}) RegCloseKey(k);
}

TEST_F(RegistryStore, ValueNamesIgnoreCaseAndKeepNameAndPlace) {
  HKEY key = Create("software\\values");
  ASSERT_EQ(RegSetValueEx(key, "Port", REG_DWORD, Bytes({1, 0, 0, 0})), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, "MIME num", REG_DWORD, Bytes({2, 0, 0, 0})), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, "PORT", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
  std::vector<RegValue> values;
  ASSERT_EQ(RegEnumValues(key, &values), ERROR_SUCCESS);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].Name, "Port") << "the name keeps its first spelling and its place";
  EXPECT_EQ(values[0].Type, REG_SZ);
  EXPECT_EQ(values[0].Data, std::string("x\0", 2));
  EXPECT_EQ(values[1].Name, "MIME num");

  EXPECT_EQ(RegDeleteValue(key, "mime NUM"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, "mime NUM"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, "MIME num", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryStore, DataAndTypesAreKeptExactly) {
  HKEY key = Create("software\\bytes");
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  const std::vector<RegValue> written = {
      {"all bytes", REG_BINARY, every},
      {"text", REG_SZ, std::string("\x8A\xED\x9E\0after\0", 10)},  // embedded NUL kept
      {"expand", REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
      {"odd type", 0x1234, "\x80\xff"},
      {"", REG_SZ, std::string("default\0", 8)},
      {"empty", REG_BINARY, ""},
  };
  for (const auto& v : written) ASSERT_EQ(RegSetValueEx(key, v.Name, v.Type, v.Data), ERROR_SUCCESS) << v.Name;
  for (const auto& v : written) {
    uint32_t type = REG_NONE;
    std::string data = "stale";
    ASSERT_EQ(RegQueryValueEx(key, v.Name, &type, &data), ERROR_SUCCESS) << v.Name;
    EXPECT_EQ(type, v.Type) << v.Name;
    EXPECT_EQ(data, v.Data) << v.Name;
  }
  RegCloseKey(key);
}

TEST_F(RegistryStore, SubkeysAreSortedIgnoringCase) {
  HKEY key = Create("software\\order");
  for (const char* name : {"beta", "Alpha", "gamma", "ALPHA2"}) RegCloseKey(Create(name, key));
  std::vector<std::string> names;
  ASSERT_EQ(RegEnumKeys(key, &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma"}));
  RegCloseKey(key);
}

TEST_F(RegistryStore, KeyOpenedForReadingRefusesEveryWrite) {
  RegCloseKey(Create("software\\ro\\child"));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\ro", KEY_READ, &key), ERROR_SUCCESS);
  HKEY sub = nullptr;
  EXPECT_EQ(RegSetValueEx(key, "x", REG_SZ, std::string("1\0", 2)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(key, "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyEx(key, "new", KEY_ALL_ACCESS, &sub), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTree(key, "child"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(sub, nullptr);
  std::vector<std::string> names;
  ASSERT_EQ(RegEnumKeys(key, &names), ERROR_SUCCESS);
  EXPECT_EQ(names, std::vector<std::string>{"child"});

  // Rights are the handle's: a key opened to write only cannot read.
  HKEY writeOnly = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\ro", KEY_SET_VALUE, &writeOnly), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueEx(writeOnly, "x", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(writeOnly, "x", nullptr, nullptr), ERROR_ACCESS_DENIED);
  RegCloseKey(writeOnly);
  RegCloseKey(key);
}

TEST_F(RegistryStore, DeleteTreeTakesOnlyTheSubtree) {
  for (const char* path : {"software\\a\\b\\c", "software\\a\\bc", "software\\a\\b]x", "software\\a\\b2"})
    RegCloseKey(Create(path));
  HKEY b = Create("software\\a\\b");
  ASSERT_EQ(RegSetValueEx(b, "v", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\A\\B"), ERROR_SUCCESS);
  HKEY a = Create("software\\a");
  std::vector<std::string> names;
  ASSERT_EQ(RegEnumKeys(a, &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"b2", "bc", "b]x"}));
  EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "software\\a\\b"), ERROR_FILE_NOT_FOUND);

  // The handle to the deleted key is told so, and the key does not come back.
  EXPECT_EQ(RegQueryValueEx(b, "v", nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueEx(b, "v", REG_SZ, std::string("2\0", 2)), ERROR_KEY_DELETED);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\a\\b", KEY_READ, &again), ERROR_FILE_NOT_FOUND);

  // An empty subkey empties the key itself and keeps it.
  ASSERT_EQ(RegSetValueEx(a, "kept?", REG_SZ, std::string("no\0", 3)), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTree(a, ""), ERROR_SUCCESS);
  std::vector<RegValue> values;
  EXPECT_EQ(RegEnumKeys(a, &names), ERROR_SUCCESS);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(RegEnumValues(a, &values), ERROR_SUCCESS);
  EXPECT_TRUE(values.empty());
  RegCloseKey(a);
  RegCloseKey(b);
}

TEST_F(RegistryStore, BadHandlesAndPathsAreRefused) {
  HKEY key = Create("software\\h");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueEx(key, "x", nullptr, nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegSetValueEx(nullptr, "x", REG_SZ, ""), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS) << "closing a root does nothing";

  HKEY out = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\\\twice", KEY_ALL_ACCESS, &out), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "\\software", KEY_ALL_ACCESS, &out), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, std::string(256, 'n'), KEY_ALL_ACCESS, &out), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, std::string("a\0b", 3), KEY_ALL_ACCESS, &out), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\trailing\\", KEY_ALL_ACCESS, &out), ERROR_SUCCESS);
  EXPECT_EQ(RegKeyPath(out), "software\\trailing");
  RegCloseKey(out);
}

TEST_F(RegistryStore, CurrentUserIsASeparateTree) {
  HKEY machine = Create("software\\same");
  ASSERT_EQ(RegSetValueEx(machine, "who", REG_SZ, std::string("machine\0", 8)), ERROR_SUCCESS);
  HKEY user = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\same", KEY_READ, &user), ERROR_FILE_NOT_FOUND);
  user = Create("software\\same", HKEY_CURRENT_USER);
  EXPECT_EQ(RegQueryValueEx(user, "who", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(user);
  RegCloseKey(machine);
}

TEST_F(RegistryStore, ClassesRootShowsTheMimeTable) {
  std::vector<std::string> names;
  ASSERT_EQ(RegEnumKeys(HKEY_CLASSES_ROOT, &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{".conf", ".htm", ".html", ".png", ".text", ".txt"}));

  HKEY txt = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".TXT", KEY_READ, &txt), ERROR_SUCCESS);
  EXPECT_EQ(RegKeyPath(txt), ".txt");
  uint32_t type = REG_NONE;
  std::string data;
  ASSERT_EQ(RegQueryValueEx(txt, "content type", &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(data, std::string("text/plain\0", 11)) << "the first type named for an extension wins";
  std::vector<RegValue> values;
  ASSERT_EQ(RegEnumValues(txt, &values), ERROR_SUCCESS);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].Name, "Content Type");

  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".nothing", KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".txt\\deeper", KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  RegCloseKey(txt);
}

TEST_F(RegistryStore, ClassesRootRefusesWrites) {
  HKEY txt = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".txt", KEY_ALL_ACCESS, &txt), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueEx(txt, "Content Type", REG_SZ, std::string("x\0", 2)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(txt, "Content Type"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, ".txt"), ERROR_ACCESS_DENIED);
  HKEY created = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, ".new", KEY_ALL_ACCESS, &created), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegSetValueEx(HKEY_CLASSES_ROOT, "x", REG_SZ, ""), ERROR_ACCESS_DENIED);
  std::string data;
  ASSERT_EQ(RegQueryValueEx(txt, "Content Type", nullptr, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, std::string("text/plain\0", 11));
  RegCloseKey(txt);
}

TEST_F(RegistryStore, ClassesRootFollowsChangesOfTheFile) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".svg", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  tovktest::WriteFile(Dir / "mime.types", std::string(kMimeTypes) + "image/svg+xml svg svgz\n");
  ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ".svg", KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  setenv("TOVK_MIME_TYPES", (Dir / "absent.types").c_str(), 1);
  std::vector<std::string> names = {"stale"};
  EXPECT_EQ(RegEnumKeys(HKEY_CLASSES_ROOT, &names), ERROR_SUCCESS);
  EXPECT_TRUE(names.empty()) << "a missing table is an empty view";
}

TEST_F(RegistryStore, TransactionCommitsOrRollsBackTogether) {
  HKEY key = Create("software\\txn");
  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  EXPECT_EQ(RegBeginTransaction(), ERROR_INVALID_FUNCTION) << "no nesting";
  ASSERT_EQ(RegSetValueEx(key, "a", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
  RegCloseKey(Create("software\\txn\\sub"));
  // A failing write inside leaves the transaction's earlier writes alone.
  EXPECT_EQ(RegSetValueEx(key, std::string(20000, 'n'), REG_SZ, ""), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegRollbackTransaction(), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueEx(key, "a", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  HKEY sub = nullptr;
  EXPECT_EQ(RegOpenKeyEx(key, "sub", KEY_READ, &sub), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, "a", REG_SZ, std::string("1\0", 2)), ERROR_SUCCESS);
  int32_t seenByOther = -1;
  std::thread other([&] { seenByOther = RegQueryValueEx(key, "a", nullptr, nullptr); });
  other.join();
  EXPECT_EQ(seenByOther, ERROR_FILE_NOT_FOUND) << "another connection must not see an open transaction";
  ASSERT_EQ(RegCommitTransaction(), ERROR_SUCCESS);
  std::thread after([&] { seenByOther = RegQueryValueEx(key, "a", nullptr, nullptr); });
  after.join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(RegCommitTransaction(), ERROR_INVALID_FUNCTION);
  RegCloseKey(key);
}

TEST_F(RegistryStore, ConcurrentWritersFromManyThreadsLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kValuesEach = 40;
  constexpr int kIncrementsEach = 15;
  HKEY shared = Create("software\\Kestrane\\WWW Server");
  ASSERT_EQ(RegSetValueEx(shared, "count", REG_DWORD, Bytes({0, 0, 0, 0})), ERROR_SUCCESS);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      HKEY key = nullptr;
      if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\kestrane\\www server", KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        ++failures;
        return;
      }
      for (int i = 0; i < kValuesEach; ++i) {
        std::string name = "T" + std::to_string(t) + " " + std::to_string(i);
        if (RegSetValueEx(key, name, REG_SZ, name + std::string(1, '\0')) != ERROR_SUCCESS) ++failures;
        HKEY sub = nullptr;
        if (RegCreateKeyEx(key, "sub" + std::to_string(t), KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) ++failures;
        else RegCloseKey(sub);
      }
      // Read, add one, write back: only a whole transaction keeps the sum.
      for (int i = 0; i < kIncrementsEach; ++i) {
        std::string data;
        if (RegBeginTransaction() != ERROR_SUCCESS || RegQueryValueEx(key, "count", nullptr, &data) != ERROR_SUCCESS ||
            data.size() != 4) {
          ++failures;
          RegRollbackTransaction();
          continue;
        }
        data[0] = static_cast<char>(data[0] + 1);
        if (RegSetValueEx(key, "count", REG_DWORD, data) != ERROR_SUCCESS || RegCommitTransaction() != ERROR_SUCCESS)
          ++failures;
      }
      RegCloseKey(key);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  std::vector<RegValue> values;
  ASSERT_EQ(RegEnumValues(shared, &values), ERROR_SUCCESS);
  EXPECT_EQ(values.size(), static_cast<std::size_t>(kThreads * kValuesEach + 1));
  std::string count;
  ASSERT_EQ(RegQueryValueEx(shared, "count", nullptr, &count), ERROR_SUCCESS);
  EXPECT_EQ(static_cast<unsigned char>(count[0]), kThreads * kIncrementsEach);
  std::vector<std::string> names;
  ASSERT_EQ(RegEnumKeys(shared, &names), ERROR_SUCCESS);
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kThreads));
  RegCloseKey(shared);
}

TEST_F(RegistryStore, AWriterThatDiesMidTransactionLeavesNothingAndNoLock) {
  RegCloseKey(Create("software\\Kestrane\\WWW Server"));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A thread of its own, so that the child never touches a connection it
    // inherited from the parent.
    std::thread writer([] {
      HKEY key = nullptr;
      if (RegBeginTransaction() != ERROR_SUCCESS ||
          RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\Kestrane\\WWW Server", KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        _exit(2);
      RegSetValueEx(key, "MIME num", REG_DWORD, Bytes({2, 0, 0, 0}));
      RegSetValueEx(key, "MIME 1", REG_SZ, std::string("html,text/html\0", 15));
      _exit(0);  // dies before the commit, holding the write lock
    });
    writer.join();
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  HKEY key = Create("software\\Kestrane\\WWW Server");
  EXPECT_EQ(RegQueryValueEx(key, "MIME num", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(key, "MIME 1", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueEx(key, "MIME num", REG_DWORD, Bytes({0, 0, 0, 0})), ERROR_SUCCESS)
      << "the dead writer's lock went with it";
  RegCloseKey(key);
}

TEST_F(RegistryStore, ARemovedStoreFileIsStartedAfresh) {
  HKEY key = Create("software\\gone");
  RegCloseKey(key);
  std::string db = Dir / "state/registry.db";
  for (const char* suffix : {"", "-wal", "-shm"}) std::remove((db + suffix).c_str());
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software\\gone", KEY_READ, &again), ERROR_FILE_NOT_FOUND);
  RegCloseKey(Create("software\\new"));
  EXPECT_TRUE(tovktest::PathExists(db)) << "writes go to a new file, not to the removed one";
}

TEST_F(RegistryStore, UnopenableStoreIsAnErrorNotACrash) {
  tovktest::WriteFile(Dir / "file", "not a directory");
  setenv("TOVK_REGISTRY", (Dir / "file/registry.db").c_str(), 1);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software", KEY_READ, &key), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software", KEY_ALL_ACCESS, &key), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(key, nullptr);
  tovktest::WriteFile(Dir / "garbage.db", std::string(8192, 'g'));
  setenv("TOVK_REGISTRY", (Dir / "garbage.db").c_str(), 1);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "software", KEY_READ, &key), ERROR_REGISTRY_IO_FAILED);
}

}  // namespace
