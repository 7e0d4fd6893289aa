#include "platform/tovkreg/RegScript.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/support/TestSupport.h"

namespace {

class RegScript : public ::testing::Test {
 protected:
  void SetUp() override { UseStore("first.db"); }
  void TearDown() override { unsetenv("TOVK_REGISTRY"); }
  void UseStore(const std::string& name) { setenv("TOVK_REGISTRY", (Dir / name).c_str(), 1); }

  std::vector<RegScriptOp> Parse(const std::string& text) {
    std::vector<RegScriptOp> ops;
    RegScriptError error;
    EXPECT_TRUE(ParseRegScript(text, &ops, &error)) << "line " << error.Line << ": " << error.Text;
    return ops;
  }
  RegScriptError ParseError(const std::string& text) {
    std::vector<RegScriptOp> ops;
    RegScriptError error;
    EXPECT_FALSE(ParseRegScript(text, &ops, &error)) << text;
    return error;
  }
  std::vector<RegValue> Values(const std::string& path) {
    std::vector<RegValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, KEY_READ, &key) == ERROR_SUCCESS) {
      RegEnumValues(key, &values);
      RegCloseKey(key);
    }
    return values;
  }
  bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  tovktest::TempDir Dir;
};

TEST(RegKeyNames, RootsLongAndShortInAnyCase) {
  RegKeyName key;
  ASSERT_TRUE(ParseKeyName("hklm\\software\\Kestrane\\WWW Server\\", &key));
  EXPECT_EQ(key.Root, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(key.Path, "software\\Kestrane\\WWW Server");
  ASSERT_TRUE(ParseKeyName("HKEY_CLASSES_ROOT\\.txt", &key));
  EXPECT_EQ(key.Root, HKEY_CLASSES_ROOT);
  ASSERT_TRUE(ParseKeyName("Hkey_Current_User", &key));
  EXPECT_EQ(key.Root, HKEY_CURRENT_USER);
  EXPECT_EQ(key.Path, "");
  for (const char* bad : {"HKU\\x", "HKLMx\\a", "HKLM\\a\\\\b", "HKLM\\\\a", "HKLM\\a\\\\",
                          "software\\x", ""})
    EXPECT_FALSE(ParseKeyName(bad, &key)) << bad;
  EXPECT_EQ(FullKeyName(HKEY_LOCAL_MACHINE, "a\\b"), "HKEY_LOCAL_MACHINE\\a\\b");
  EXPECT_EQ(FullKeyName(HKEY_CLASSES_ROOT, ""), "HKEY_CLASSES_ROOT");
}

TEST_F(RegScript, ParsesEveryForm) {
  auto ops = Parse(
      "REGEDIT4\r\n"
      "\r\n"
      "; the server's key\r\n"
      "[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server]\r\n"
      "\"ProtFile\"=\"c:\\\\log\\\\ \\\"x\\\"\"\r\n"
      "\"Port\"=dword:0000001f\r\n"
      "@=\"default\"\r\n"
      "\"Bin\"=hex:00,ff, 80 ,\\\r\n"
      "  0a\r\n"
      "\"Exp\"=hex(2):25,00\r\n"
      "\"Gone\"=-\r\n"
      "[-HKLM\\software\\old]\r\n"
      "[HKCU\\software\\empty]\r\n");
  ASSERT_EQ(ops.size(), 9u);
  EXPECT_EQ(ops[0].What, RegScriptOp::CreateKey);
  EXPECT_EQ(ops[0].Key.Path, "software\\Kestrane\\WWW Server");
  EXPECT_EQ(ops[1].Value.Name, "ProtFile");
  EXPECT_EQ(ops[1].Value.Type, REG_SZ);
  EXPECT_EQ(ops[1].Value.Data, std::string("c:\\log\\ \"x\"\0", 12));
  EXPECT_EQ(ops[2].Value.Type, REG_DWORD);
  EXPECT_EQ(ops[2].Value.Data, std::string("\x1f\0\0\0", 4));
  EXPECT_EQ(ops[3].Value.Name, "");
  EXPECT_EQ(ops[4].Value.Type, REG_BINARY);
  EXPECT_EQ(ops[4].Value.Data, std::string("\0\xff\x80\x0a", 4));
  EXPECT_EQ(ops[4].Line, 8);
  EXPECT_EQ(ops[5].Value.Type, REG_EXPAND_SZ);
  EXPECT_EQ(ops[5].Line, 10) << "the line after a continuation keeps its own number";
  EXPECT_EQ(ops[6].What, RegScriptOp::DeleteValue);
  EXPECT_EQ(ops[7].What, RegScriptOp::DeleteKey);
  EXPECT_EQ(ops[8].Key.Root, HKEY_CURRENT_USER);
}

TEST_F(RegScript, TextBytesAreTakenAsTheyStand) {
  auto ops = Parse("REGEDIT4\n[HKLM\\s]\n\"\x8A\xED\"=\"P\xF8\xED\x9E\x65\x80\"\n");
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[1].Value.Name, "\x8A\xED");
  EXPECT_EQ(ops[1].Value.Data, std::string("P\xF8\xED\x9E\x65\x80\0", 7));
}

TEST_F(RegScript, FaultsNameTheirLine) {
  struct Case {
    const char* Text;
    int Line;
    const char* Says;
  };
  const Case cases[] = {
      {"[HKLM\\s]\n", 1, "REGEDIT4"},
      {"\n\nREGEDIT 4\n", 3, "REGEDIT4"},
      {"REGEDIT4\n\"a\"=\"b\"\n", 2, "outside"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=\"c:\\www\"\n", 3, "escape"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=\"open\n", 3, "closing quote"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=\"x\" y\n", 3, "after the closing quote"},
      {"REGEDIT4\n[HKLM\\s]\n\n\"a\"=dword:123456789\n", 4, "dword"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=dword:xyz\n", 3, "dword"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=hex:0g\n", 3, "hexadecimal byte"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=hex:01,,02\n", 3, "hexadecimal byte"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=hex(z):01\n", 3, "type"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=hex:01,\\\n", 3, "no line with more data"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=hex:01,\\\n  zz\n", 3, "hexadecimal byte"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"=str\n", 3, "neither"},
      {"REGEDIT4\n[HKLM\\s]\n\"a\"\n", 3, "="},
      {"REGEDIT4\n[HKLM\\s\n", 2, "]"},
      {"REGEDIT4\n[HKU\\s]\n", 2, "not a key name"},
      {"REGEDIT4\n[HKEY_CLASSES_ROOT\\.txt]\n", 2, "read-only"},
      {"REGEDIT4\n[-HKLM]\n", 2, "root"},
      {"REGEDIT4\n[-HKLM\\s]\n\"a\"=\"b\"\n", 3, "outside"},
      {"REGEDIT4\n[HKLM\\s]\nPort=1\n", 3, "neither"},
  };
  for (const auto& c : cases) {
    RegScriptError error = ParseError(c.Text);
    EXPECT_EQ(error.Line, c.Line) << c.Text;
    EXPECT_NE(error.Text.find(c.Says), std::string::npos) << c.Text << " said: " << error.Text;
  }
}

TEST_F(RegScript, ApplyIsAllOrNothing) {
  auto ops = Parse("REGEDIT4\n[HKLM\\software\\a]\n\"x\"=\"1\"\n[HKLM\\software\\b]\n");
  RegScriptOp bad;
  bad.What = RegScriptOp::SetValue;
  bad.Key = ops[0].Key;
  bad.Value = {std::string(20000, 'n'), REG_SZ, ""};  // longer than a value name may be
  bad.Line = 99;
  ops.push_back(bad);
  RegScriptError error;
  EXPECT_FALSE(ApplyRegScript(ops, &error));
  EXPECT_EQ(error.Line, 99);
  EXPECT_FALSE(KeyExists("software\\a"));
  EXPECT_FALSE(KeyExists("software\\b"));

  ops.pop_back();
  ASSERT_TRUE(ApplyRegScript(ops, &error)) << error.Text;
  EXPECT_TRUE(KeyExists("software\\b"));
  ASSERT_EQ(Values("software\\a").size(), 1u);
}

TEST_F(RegScript, DeletionsApplyAndToleratesWhatIsAlreadyGone) {
  RegScriptError error;
  ASSERT_TRUE(ApplyRegScript(Parse("REGEDIT4\n[HKLM\\software\\k\\sub]\n\"keep\"=\"1\"\n\"drop\"=\"2\"\n"), &error));
  ASSERT_TRUE(ApplyRegScript(Parse("REGEDIT4\n[HKLM\\software\\k\\sub]\n\"drop\"=-\n\"never\"=-\n[-HKLM\\software\\none]\n"), &error))
      << error.Text;
  auto values = Values("software\\k\\sub");
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].Name, "keep");
  ASSERT_TRUE(ApplyRegScript(Parse("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n"), &error));
  EXPECT_FALSE(KeyExists("software\\k"));
}

TEST_F(RegScript, ExportReadsBackToTheSameBytes) {
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  const std::vector<RegValue> written = {
      {"Port", REG_DWORD, std::string("\x50\0\0\0", 4)},
      {"DefaultHTML", REG_SZ, std::string("index.html, default.htm\0", 24)},
      {"quote \" and \\", REG_SZ, std::string("c:\\w \"q\"\0", 9)},
      {"czech", REG_SZ, std::string("P\xF8\xED\x9E\x65\x80\xFF\0", 8)},
      {"embedded NUL", REG_SZ, std::string("a\0b\0", 4)},
      {"no NUL", REG_SZ, "abc"},
      {"empty", REG_SZ, ""},
      {"line break", REG_SZ, std::string("a\r\nb\0", 5)},
      {"short dword", REG_DWORD, "\x01"},
      {"expand", REG_EXPAND_SZ, std::string("%P%\0", 4)},
      {"every byte", REG_BINARY, every},
      {"odd type", 0x1234, "\x80"},
      {"", REG_SZ, std::string("default\0", 8)},
  };
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, "software\\Kestrane\\WWW Server", KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  for (const auto& v : written) ASSERT_EQ(RegSetValueEx(key, v.Name, v.Type, v.Data), ERROR_SUCCESS);
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyEx(key, "Sub]Key\\Deeper", KEY_ALL_ACCESS, &sub), ERROR_SUCCESS);
  RegCloseKey(sub);
  RegCloseKey(key);

  RegKeyName name;
  ASSERT_TRUE(ParseKeyName("HKLM\\SOFTWARE\\kestrane", &name));
  std::string first, error;
  ASSERT_EQ(ExportRegScript(name, &first, &error), ERROR_SUCCESS) << error;
  EXPECT_NE(first.find("[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server]\n"), std::string::npos) << first;
  EXPECT_NE(first.find("\"Port\"=dword:00000050\n"), std::string::npos);
  EXPECT_NE(first.find("\"DefaultHTML\"=\"index.html, default.htm\"\n"), std::string::npos);
  for (std::size_t start = 0, end; (end = first.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u) << "long hex data is wrapped";

  UseStore("second.db");
  std::vector<RegScriptOp> ops;
  RegScriptError parseError;
  ASSERT_TRUE(ParseRegScript(first, &ops, &parseError)) << parseError.Line << ": " << parseError.Text;
  ASSERT_TRUE(ApplyRegScript(ops, &parseError)) << parseError.Text;
  auto values = Values("software\\Kestrane\\WWW Server");
  ASSERT_EQ(values.size(), written.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    EXPECT_EQ(values[i].Name, written[i].Name);
    EXPECT_EQ(values[i].Type, written[i].Type) << written[i].Name;
    EXPECT_EQ(values[i].Data, written[i].Data) << written[i].Name;
  }
  EXPECT_TRUE(KeyExists("software\\Kestrane\\WWW Server\\Sub]Key\\Deeper"));
  std::string second;
  ASSERT_EQ(ExportRegScript(name, &second, &error), ERROR_SUCCESS);
  EXPECT_EQ(second, first);
}

TEST_F(RegScript, ExportOfAMissingKeyFails) {
  RegKeyName name;
  ASSERT_TRUE(ParseKeyName("HKLM\\software\\none", &name));
  std::string text, error;
  EXPECT_EQ(ExportRegScript(name, &text, &error), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(text.empty());
  EXPECT_NE(error.find("unable to find"), std::string::npos) << error;
}

}  // namespace
