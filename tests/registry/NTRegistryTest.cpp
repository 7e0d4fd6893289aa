#include "common/NTRegistry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/RegNames.h"
#include "tests/support/TestSupport.h"

namespace {

class NTRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TOVK_REGISTRY", (Dir / "registry.db").c_str(), 1);
    tovktest::WriteFile(Dir / "mime.types", "text/plain txt\ntext/html html htm\n");
    setenv("TOVK_MIME_TYPES", (Dir / "mime.types").c_str(), 1);
    Reg.SetRootKey(HKEY_LOCAL_MACHINE);
  }
  void TearDown() override {
    unsetenv("TOVK_REGISTRY");
    unsetenv("TOVK_MIME_TYPES");
  }

  // Stores raw data below the configuration key, as another program might.
  void Raw(const std::string& name, uint32_t type, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, reg::kServerKey, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, name, type, data), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  RegValue Stored(const std::string& name) {
    RegValue value;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, reg::kServerKey, KEY_READ, &key) == ERROR_SUCCESS) {
      RegQueryValueEx(key, name, &value.Type, &value.Data);
      RegCloseKey(key);
    }
    return value;
  }

  // The message of the ERegistryException that `call` raises.
  template <typename F>
  std::string Raised(F call) {
    try {
      call();
    } catch (const ERegistryException& e) {
      return e.what();
    }
    return "(nothing raised)";
  }

  tovktest::TempDir Dir;
  TNTRegistry Reg;
};

TEST(NTRegistryDefaults, NewObjectIsOnTheCurrentUserWithLazyWrite) {
  TNTRegistry reg;
  EXPECT_EQ(reg.GetRootKey(), HKEY_CURRENT_USER);
  EXPECT_TRUE(reg.LazyWrite);
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_EQ(reg.GetCurrentPath(), "");
}

TEST_F(NTRegistry, OpenKeyRelativeAndAbsoluteAndTheStoredPath) {
  ASSERT_TRUE(Reg.OpenKey("software", true));
  EXPECT_EQ(Reg.GetCurrentPath(), "software");
  ASSERT_TRUE(Reg.OpenKey("kestrane\\WWW Server", true));
  EXPECT_EQ(Reg.GetCurrentPath(), "software\\kestrane\\WWW Server") << "relative to the open key";
  Reg.WriteInteger("Port", 8080);

  ASSERT_TRUE(Reg.OpenKey("\\SOFTWARE\\Kestrane\\www server", false));
  EXPECT_EQ(Reg.GetCurrentPath(), "SOFTWARE\\Kestrane\\www server") << "the path as given, from the root";
  EXPECT_EQ(Reg.ReadInteger("port"), 8080);

  // A relative empty path opens the same key again and keeps the old path
  // with a "\" after it.
  ASSERT_TRUE(Reg.OpenKey("", true));
  EXPECT_EQ(Reg.GetCurrentPath(), "SOFTWARE\\Kestrane\\www server\\");
  EXPECT_EQ(Reg.ReadInteger("Port"), 8080);
}

TEST_F(NTRegistry, OpenKeyCreatesOnlyWhenAllowed) {
  EXPECT_FALSE(Reg.OpenKey(reg::kEditorKey, false));
  EXPECT_FALSE(Reg.HasCurrentKey());
  ASSERT_TRUE(Reg.OpenKey(reg::kEditorKey, true));
  ASSERT_TRUE(Reg.OpenKey("\\software", false));
  // A failed open leaves the open key as it was.
  EXPECT_FALSE(Reg.OpenKey("missing", false));
  EXPECT_TRUE(Reg.HasCurrentKey());
  EXPECT_EQ(Reg.GetCurrentPath(), "software");
  std::vector<std::string> names;
  Reg.GetKeyNames(names);
  EXPECT_EQ(names, std::vector<std::string>{"kestrane"});
}

TEST_F(NTRegistry, OpenedKeyMayReadWriteAndCreateSubkeys) {
  ASSERT_TRUE(Reg.OpenKey(reg::kEditorKey, true));
  Reg.WriteString("DefaultHTML", "index.html");
  ASSERT_TRUE(Reg.OpenKey("sub", true)) << "created below a key opened by the wrapper";
  Reg.CloseKey();
  EXPECT_FALSE(Reg.HasCurrentKey());
  EXPECT_EQ(Reg.GetCurrentPath(), "");
}

TEST_F(NTRegistry, ReadStringRules) {
  Raw("text", REG_SZ, std::string("index.html\0", 11));
  Raw("expand", REG_EXPAND_SZ, std::string("%TEMP%\0", 7));
  Raw("first NUL", REG_SZ, std::string("a\0b\0", 4));
  Raw("no NUL", REG_SZ, "plain");
  Raw("empty", REG_SZ, "");
  Raw("empty binary", REG_BINARY, "");
  Raw("number", REG_DWORD, std::string("\x50\0\0\0", 4));
  ASSERT_TRUE(Reg.OpenKey(reg::kServerKey, false));
  EXPECT_EQ(Reg.ReadString("TEXT"), "index.html");
  EXPECT_EQ(Reg.ReadString("expand"), "%TEMP%");
  EXPECT_EQ(Reg.ReadString("first NUL"), "a");
  EXPECT_EQ(Reg.ReadString("no NUL"), "plain");
  EXPECT_EQ(Reg.ReadString("empty"), "");
  EXPECT_EQ(Reg.ReadString("empty binary"), "") << "size 0 reads as empty whatever the type";
  EXPECT_EQ(Reg.ReadString("missing"), "");
  EXPECT_EQ(Raised([&] { Reg.ReadString("number"); }), "Invalid data type for 'number'");
}

TEST_F(NTRegistry, ReadIntegerRules) {
  Raw("Port", REG_DWORD, std::string("\x50\0\0\0", 4));
  Raw("negative", REG_DWORD, "\xfe\xff\xff\xff");
  Raw("short", REG_DWORD, "\x01\x02");
  Raw("long", REG_DWORD, std::string("\1\0\0\0\0", 5));
  Raw("text", REG_SZ, std::string("80\0", 3));
  Raw("long text", REG_SZ, std::string("8080\0", 5));
  ASSERT_TRUE(Reg.OpenKey(reg::kServerKey, false));
  EXPECT_EQ(Reg.ReadInteger("port"), 80);
  EXPECT_EQ(Reg.ReadInteger("negative"), -2);
  EXPECT_EQ(Reg.ReadInteger("short"), 0x0201) << "missing high bytes read as zero";
  EXPECT_EQ(Raised([&] { Reg.ReadInteger("SSLon"); }), "Failed to get data for 'SSLon'");
  EXPECT_EQ(Raised([&] { Reg.ReadInteger("long"); }), "Failed to get data for 'long'");
  EXPECT_EQ(Raised([&] { Reg.ReadInteger("text"); }), "Invalid data type for 'text'");
  EXPECT_EQ(Raised([&] { Reg.ReadInteger("long text"); }), "Failed to get data for 'long text'")
      << "data longer than 4 bytes fails before its type is looked at";
}

TEST_F(NTRegistry, WritesStoreWindowsTypesAndExactBytes) {
  ASSERT_TRUE(Reg.OpenKey(reg::kEditorKey, true));
  const std::string czech = "Nelze mít duplicitní záznamy";  // Windows-1250 bytes in the program
  Reg.WriteString("text", czech);
  Reg.WriteInteger("Port", 80);
  Reg.WriteInteger("minus", -1);
  RegValue text = Stored("text");
  EXPECT_EQ(text.Type, REG_SZ);
  EXPECT_EQ(text.Data, czech + std::string(1, '\0'));
  EXPECT_NE(text.Data.find('\xED'), std::string::npos) << "í is the byte 0xED";
  RegValue port = Stored("Port");
  EXPECT_EQ(port.Type, REG_DWORD);
  EXPECT_EQ(port.Data, std::string("\x50\0\0\0", 4));
  EXPECT_EQ(Stored("minus").Data, "\xff\xff\xff\xff");
  EXPECT_EQ(Reg.ReadString("text"), czech);
  EXPECT_EQ(Reg.ReadInteger("minus"), -1);
  EXPECT_TRUE(Reg.ValueExists("TEXT"));
  EXPECT_FALSE(Reg.ValueExists("other"));
}

TEST_F(NTRegistry, FailedWritesRaise) {
  EXPECT_EQ(Raised([&] { Reg.WriteString("Port", "80"); }), "Failed to set data for 'Port'") << "no key open";
  EXPECT_EQ(Raised([&] { Reg.WriteInteger("MIME num", 1); }), "Failed to set data for 'MIME num'");
  EXPECT_EQ(Raised([&] { Reg.ReadInteger("Port"); }), "Failed to get data for 'Port'");
  EXPECT_EQ(Reg.ReadString("DefaultHTML"), "");

  Reg.SetRootKey(HKEY_CLASSES_ROOT);
  ASSERT_TRUE(Reg.OpenKey(".txt", false));
  EXPECT_EQ(Reg.ReadString("Content Type"), "text/plain");
  EXPECT_EQ(Raised([&] { Reg.WriteString("Content Type", "x"); }), "Failed to set data for 'Content Type'");
  EXPECT_FALSE(Reg.OpenKey("\\.new", true)) << "the MIME view cannot grow";
}

TEST_F(NTRegistry, SetRootKeyClosesTheOpenKey) {
  ASSERT_TRUE(Reg.OpenKey(reg::kEditorKey, true));
  Reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(Reg.HasCurrentKey()) << "the same root changes nothing";
  Reg.SetRootKey(HKEY_CLASSES_ROOT);
  EXPECT_FALSE(Reg.HasCurrentKey());
  EXPECT_EQ(Reg.GetCurrentPath(), "");
  std::vector<std::string> names;
  ASSERT_TRUE(Reg.OpenKey("", false));
  Reg.GetKeyNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{".htm", ".html", ".txt"}));
}

TEST_F(NTRegistry, CloseWithoutLazyWriteKeepsTheData) {
  Reg.LazyWrite = false;
  ASSERT_TRUE(Reg.OpenKey(reg::kEditorKey, true));
  Reg.WriteInteger("SSLon", 1);
  Reg.CloseKey();
  EXPECT_FALSE(Reg.HasCurrentKey());
  TNTRegistry reader;
  reader.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reader.OpenKey(reg::kServerKey, false));
  EXPECT_EQ(reader.ReadInteger("SSLon"), 1);
}

TEST_F(NTRegistry, AListWrittenInOneTransactionComesWholeOrNotAtAll) {
  ASSERT_TRUE(Reg.OpenKey(reg::kEditorKey, true));
  auto writeList = [&](int count) {
    Reg.WriteInteger(reg::CountName(reg::kMime), count);
    for (int n = 1; n <= count; ++n) Reg.WriteString(reg::EntryName(reg::kMime, n), "ext" + std::to_string(n) + ",a/b");
  };
  {
    RegTransaction transaction;
    ASSERT_TRUE(transaction.Active());
    writeList(3);
    // Left without Commit, as when the writer fails half-way.
  }
  EXPECT_FALSE(Reg.ValueExists("MIME num"));
  EXPECT_FALSE(Reg.ValueExists("MIME 1"));
  {
    RegTransaction transaction;
    writeList(2);
    EXPECT_EQ(transaction.Commit(), ERROR_SUCCESS);
    EXPECT_EQ(transaction.Commit(), ERROR_INVALID_FUNCTION);
  }
  EXPECT_EQ(Reg.ReadInteger("MIME num"), 2);
  EXPECT_EQ(Reg.ReadString("MIME 2"), "ext2,a/b");
}

}  // namespace
