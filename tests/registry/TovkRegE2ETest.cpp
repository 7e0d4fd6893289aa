// Drives the real tovkreg program against a throwaway store.

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/TestSupport.h"

namespace {

using tovktest::RunResult;

const char* const kServerReg =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server]\r\n"
    "\"Port\"=dword:00000050\r\n"
    "\"DefaultHTML\"=\"index.html, default.htm\"\r\n"
    "\"ProtFile\"=\"c:\\\\log\\\\\"\r\n"
    "\"MIME num\"=dword:00000001\r\n"
    "\"MIME 1\"=\"html,text/html\"\r\n"
    "\"Title\"=\"P\xF8\xED\x9E\x65\x72n\xE1 str\xE1nka\"\r\n"  // Windows-1250 bytes
    "\"Blob\"=hex:00,01,ff\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server\\Extra]\r\n"
    "@=\"default\"\r\n";

class Tovkreg : public ::testing::Test {
 protected:
  RunResult Reg(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> argv = {tovktest::BinDir() + "/tovkreg"};
    argv.insert(argv.end(), args.begin(), args.end());
    return tovktest::Run(argv, Env(), input);
  }
  std::map<std::string, std::string> Env() {
    return {{"TOVK_REGISTRY", Dir / Store}, {"TOVK_MIME_TYPES", MimeTypes}};
  }
  std::string Import(const std::string& text, const std::string& file = "in.reg") {
    tovktest::WriteFile(Dir / file, text);
    RunResult r = Reg({"import", Dir / file});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return r.Out;
  }

  tovktest::TempDir Dir;
  std::string Store = "registry.db";
  std::string MimeTypes = "/etc/mime.types";
};

TEST_F(Tovkreg, ImportThenQueryInAnyLetterCase) {
  EXPECT_EQ(Import(kServerReg), "The operation completed successfully.\n");
  const std::string expected =
      "\n"
      "HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server\n"
      "    Port    REG_DWORD    0x50\n"
      "    DefaultHTML    REG_SZ    index.html, default.htm\n"
      "    ProtFile    REG_SZ    c:\\log\\\n"
      "    MIME num    REG_DWORD    0x1\n"
      "    MIME 1    REG_SZ    html,text/html\n"
      "    Title    REG_SZ    P\xF8\xED\x9E\x65\x72n\xE1 str\xE1nka\n"
      "    Blob    REG_BINARY    0001FF\n"
      "\n"
      "HKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server\\Extra\n"
      "    (Default)    REG_SZ    default\n"
      "\n";
  for (const char* key : {"HKLM\\software\\kestrane\\WWW Server", "HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRANE\\www server",
                          "hklm\\Software\\Kestrane\\WWW Server\\"}) {
    RunResult r = Reg({"query", key, "/s"});
    EXPECT_EQ(r.ExitCode, 0) << key << ": " << r.Err;
    EXPECT_EQ(r.Out, expected) << key;
  }
  RunResult one = Reg({"query", "HKLM\\software\\kestrane\\WWW Server", "/v", "mime NUM"});
  EXPECT_EQ(one.Out, "\nHKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server\n    MIME num    REG_DWORD    0x1\n\n");
  RunResult flat = Reg({"query", "HKLM\\software\\kestrane"});
  EXPECT_EQ(flat.Out, "\nHKEY_LOCAL_MACHINE\\software\\Kestrane\n\nHKEY_LOCAL_MACHINE\\software\\Kestrane\\WWW Server\n")
      << "without /s the subkeys are listed by name";
}

TEST_F(Tovkreg, ExportAndImportRoundTrip) {
  Import(kServerReg);
  ASSERT_EQ(Reg({"add", "HKLM\\software\\Kestrane\\WWW Server", "/v", "Exp", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%\\x", "/f"}).ExitCode, 0);
  RunResult exported = Reg({"export", "HKLM\\software\\kestrane", Dir / "out.reg"});
  ASSERT_EQ(exported.ExitCode, 0) << exported.Err;
  EXPECT_EQ(exported.Out, "The operation completed successfully.\n");
  std::string first = tovktest::ReadFile(Dir / "out.reg");
  EXPECT_EQ(first.rfind("REGEDIT4\n", 0), 0u) << first;
  RunResult before = Reg({"query", "HKLM\\software\\kestrane", "/s"});

  Store = "other.db";
  Import(first, "out.reg");
  RunResult after = Reg({"query", "HKLM\\software\\kestrane", "/s"});
  EXPECT_EQ(after.Out, before.Out);
  ASSERT_EQ(Reg({"export", "HKLM\\software\\kestrane", Dir / "again.reg"}).ExitCode, 0);
  EXPECT_EQ(tovktest::ReadFile(Dir / "again.reg"), first);

  // An existing file is kept unless the user agrees or /y says so.
  tovktest::WriteFile(Dir / "kept.reg", "mine");
  RunResult refused = Reg({"export", "HKLM\\software\\kestrane", Dir / "kept.reg"});
  EXPECT_NE(refused.ExitCode, 0);
  EXPECT_EQ(tovktest::ReadFile(Dir / "kept.reg"), "mine");
  EXPECT_EQ(Reg({"export", "HKLM\\software\\kestrane", Dir / "kept.reg", "/y"}).ExitCode, 0);
  EXPECT_EQ(tovktest::ReadFile(Dir / "kept.reg"), first);
}

TEST_F(Tovkreg, ABadFileWritesNothing) {
  Import("REGEDIT4\n[HKLM\\software\\Kestrane\\WWW Server]\n\"Port\"=dword:00000050\n");
  const std::string bad =
      "REGEDIT4\n"
      "\n"
      "[HKLM\\software\\Kestrane\\WWW Server]\n"
      "\"Port\"=dword:00001f90\n"
      "\"New\"=\"value\"\n"
      "[HKLM\\software\\Kestrane\\Other]\n"
      "\"Broken\"=\"c:\\www\"\n";
  tovktest::WriteFile(Dir / "bad.reg", bad);
  RunResult r = Reg({"import", Dir / "bad.reg"});
  EXPECT_NE(r.ExitCode, 0);
  EXPECT_NE(r.Err.find("ERROR: "), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("line 7"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Out, "");
  RunResult q = Reg({"query", "HKLM\\software\\Kestrane", "/s"});
  EXPECT_NE(q.Out.find("Port    REG_DWORD    0x50\n"), std::string::npos) << q.Out;
  EXPECT_EQ(q.Out.find("New"), std::string::npos) << q.Out;
  EXPECT_EQ(q.Out.find("Other"), std::string::npos) << q.Out;

  RunResult missing = Reg({"import", Dir / "none.reg"});
  EXPECT_NE(missing.ExitCode, 0);
  EXPECT_NE(missing.Err.find("ERROR: "), std::string::npos);
  tovktest::WriteFile(Dir / "classes.reg", "REGEDIT4\n[HKLM\\software\\x]\n[HKCR\\.txt]\n\"a\"=\"b\"\n");
  RunResult classes = Reg({"import", Dir / "classes.reg"});
  EXPECT_NE(classes.ExitCode, 0);
  EXPECT_NE(classes.Err.find("line 3"), std::string::npos) << classes.Err;
  EXPECT_NE(Reg({"query", "HKLM\\software\\x"}).ExitCode, 0);
}

TEST_F(Tovkreg, ManyProcessesWritingAtOnceLoseNothing) {
  constexpr int kAdders = 12;
  constexpr int kImporters = 4;
  constexpr int kValuesPerImport = 30;
  const std::string key = "HKLM\\software\\Kestrane\\WWW Server";
  for (int i = 0; i < kImporters; ++i) {
    std::string text = "REGEDIT4\n[" + key + "\\Import " + std::to_string(i) + "]\n";
    for (int v = 0; v < kValuesPerImport; ++v)
      text += "\"V" + std::to_string(v) + "\"=dword:" + std::to_string(10000000 + v) + "\n";
    tovktest::WriteFile(Dir / ("imp" + std::to_string(i) + ".reg"), text);
  }
  std::vector<RunResult> results(kAdders + kImporters);
  std::vector<std::thread> threads;
  for (int i = 0; i < kAdders; ++i)
    threads.emplace_back([&, i] {
      results[i] = Reg({"add", key, "/v", "P" + std::to_string(i), "/t", "REG_DWORD", "/d", std::to_string(i), "/f"});
    });
  for (int i = 0; i < kImporters; ++i)
    threads.emplace_back([&, i] { results[kAdders + i] = Reg({"import", Dir / ("imp" + std::to_string(i) + ".reg")}); });
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r.ExitCode, 0) << r.Err;

  RunResult all = Reg({"query", key, "/s"});
  ASSERT_EQ(all.ExitCode, 0) << all.Err;
  for (int i = 0; i < kAdders; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "    P%d    REG_DWORD    0x%x\n", i, i);
    EXPECT_NE(all.Out.find(line), std::string::npos) << line;
  }
  std::size_t imported = 0;
  for (std::size_t at = 0; (at = all.Out.find("    V", at)) != std::string::npos; ++at) ++imported;
  EXPECT_EQ(imported, static_cast<std::size_t>(kImporters * kValuesPerImport)) << all.Out;
}

TEST_F(Tovkreg, ClassesRootShowsTheSystemMimeTable) {
  RunResult r = Reg({"query", "HKCR\\.txt"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("HKEY_CLASSES_ROOT\\.txt\n    Content Type    REG_SZ    text/plain\n"), std::string::npos)
      << r.Out;
  RunResult denied = Reg({"add", "HKCR\\.txt", "/v", "Content Type", "/d", "x", "/f"});
  EXPECT_NE(denied.ExitCode, 0);
  EXPECT_EQ(denied.Err, "ERROR: Access is denied.\n");
  EXPECT_NE(Reg({"delete", "HKCR\\.txt", "/f"}).ExitCode, 0);

  MimeTypes = Dir / "mime.types";
  tovktest::WriteFile(MimeTypes, "text/x-test tst\n");
  RunResult own = Reg({"query", "HKEY_CLASSES_ROOT", "/s"});
  EXPECT_EQ(own.Out, "\nHKEY_CLASSES_ROOT\n\nHKEY_CLASSES_ROOT\\.tst\n    Content Type    REG_SZ    text/x-test\n\n");
}

TEST_F(Tovkreg, AddTypesAndData) {
  const std::string key = "HKCU\\software\\t";
  struct Case {
    std::vector<std::string> Args;
    const char* Line;
  };
  const Case cases[] = {
      {{"/v", "plain", "/d", "a b"}, "    plain    REG_SZ    a b\n"},
      {{"/v", "hex", "/t", "reg_dword", "/d", "0x1F"}, "    hex    REG_DWORD    0x1f\n"},
      {{"/v", "dec", "/t", "REG_DWORD", "/d", "31"}, "    dec    REG_DWORD    0x1f\n"},
      {{"/v", "minus", "/t", "REG_DWORD", "/d", "-1"}, "    minus    REG_DWORD    0xffffffff\n"},
      {{"/v", "bin", "/t", "REG_BINARY", "/d", "00fF80"}, "    bin    REG_BINARY    00FF80\n"},
      {{"/v", "multi", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}, "    multi    REG_MULTI_SZ    a\\0b\n"},
      {{"/v", "q", "/t", "REG_QWORD", "/d", "0x100000000"}, "    q    REG_QWORD    0x100000000\n"},
      {{"/ve", "/d", "def"}, "    (Default)    REG_SZ    def\n"},
      {{"/v", "path", "/d", "/srv/www"}, "    path    REG_SZ    /srv/www\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"add", key};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    args.push_back("/f");
    RunResult r = Reg(args);
    EXPECT_EQ(r.ExitCode, 0) << c.Line << r.Err;
  }
  RunResult q = Reg({"query", key});
  for (const auto& c : cases) EXPECT_NE(q.Out.find(c.Line), std::string::npos) << c.Line << q.Out;

  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"/v", "x", "/t", "REG_DWORD", "/d", "4294967296"},
           {"/v", "x", "/t", "REG_DWORD", "/d", "12ab"},
           {"/v", "x", "/t", "REG_BINARY", "/d", "123"},
           {"/v", "x", "/t", "REG_WHAT"},
           {"/v"},
       }) {
    std::vector<std::string> args = {"add", key};
    args.insert(args.end(), bad.begin(), bad.end());
    RunResult r = Reg(args);
    EXPECT_NE(r.ExitCode, 0) << bad.back();
    EXPECT_EQ(r.Err.rfind("ERROR: ", 0), 0u) << r.Err;
  }
  EXPECT_EQ(Reg({"query", key, "/v", "x"}).ExitCode, 1) << "no failed add leaves a value";
}

TEST_F(Tovkreg, PromptsWithoutForce) {
  const std::string key = "HKLM\\software\\p";
  ASSERT_EQ(Reg({"add", key, "/v", "v", "/d", "old", "/f"}).ExitCode, 0);

  RunResult closed = Reg({"add", key, "/v", "v", "/d", "new"});
  EXPECT_NE(closed.ExitCode, 0) << "a closed standard input answers No";
  EXPECT_NE(closed.Out.find("Value v exists, overwrite(Yes/No)?"), std::string::npos) << closed.Out;
  EXPECT_NE(closed.Out.find("The operation was canceled by the user."), std::string::npos);
  EXPECT_NE(Reg({"query", key, "/v", "v"}).Out.find("REG_SZ    old"), std::string::npos);

  EXPECT_EQ(Reg({"add", key, "/v", "v", "/d", "new"}, "maybe\nyes\n").ExitCode, 0);
  EXPECT_NE(Reg({"query", key, "/v", "v"}).Out.find("REG_SZ    new"), std::string::npos);

  RunResult no = Reg({"delete", key}, "n\n");
  EXPECT_NE(no.Out.find("Permanently delete the registry key HKEY_LOCAL_MACHINE\\software\\p (Yes/No)?"), std::string::npos)
      << no.Out;
  EXPECT_EQ(Reg({"query", key}).ExitCode, 0);
  RunResult valueNo = Reg({"delete", key, "/v", "V"}, "no\n");
  EXPECT_NE(valueNo.Out.find("Delete the registry value v (Yes/No)?"), std::string::npos) << valueNo.Out;
  EXPECT_EQ(Reg({"query", key, "/v", "v"}).ExitCode, 0);

  EXPECT_EQ(Reg({"delete", key, "/v", "V"}, "Y\n").ExitCode, 0);
  EXPECT_NE(Reg({"query", key, "/v", "v"}).ExitCode, 0);
  EXPECT_EQ(Reg({"delete", key}, "yes\n").ExitCode, 0);
  EXPECT_NE(Reg({"query", key}).ExitCode, 0);
}

TEST_F(Tovkreg, DeleteForms) {
  Import(kServerReg);
  const std::string key = "HKLM\\software\\kestrane\\www server";
  EXPECT_EQ(Reg({"delete", key, "/va", "/f"}).ExitCode, 0);
  RunResult q = Reg({"query", key, "/s"});
  EXPECT_EQ(q.Out.find("Port"), std::string::npos) << q.Out;
  EXPECT_NE(q.Out.find("(Default)    REG_SZ    default"), std::string::npos) << "subkeys keep their values";
  EXPECT_EQ(Reg({"delete", key + "\\extra", "/ve", "/f"}).ExitCode, 0);
  EXPECT_EQ(Reg({"query", key + "\\extra", "/s"}).Out.find("default"), std::string::npos);
  EXPECT_EQ(Reg({"delete", key, "/f"}).ExitCode, 0);
  RunResult gone = Reg({"query", key});
  EXPECT_EQ(gone.ExitCode, 1);
  EXPECT_EQ(gone.Err, "ERROR: The system was unable to find the specified registry key or value.\n");
  EXPECT_EQ(Reg({"query", "HKLM\\software\\kestrane"}).ExitCode, 0) << "the parent stays";
  EXPECT_NE(Reg({"delete", "HKLM", "/f"}).ExitCode, 0);
  EXPECT_NE(Reg({"delete", key, "/v", "none", "/f"}).ExitCode, 0);
}

TEST_F(Tovkreg, SyntaxErrorsAndHelp) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"query"}, {"query", "HKLM\\a", "/v", "x", "/s"}, {"query", "HKXX\\a"},
           {"add", "HKLM\\a", "/v", "x", "/ve"}, {"export", "HKLM\\a"}, {"import"}}) {
    RunResult r = Reg(args);
    EXPECT_EQ(r.ExitCode, 1) << (args.empty() ? "" : args[0]);
    EXPECT_EQ(r.Err.rfind("ERROR: ", 0), 0u) << r.Err;
  }
  RunResult help = Reg({"query", "/?"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("TOVKREG QUERY"), std::string::npos);
}

}  // namespace
