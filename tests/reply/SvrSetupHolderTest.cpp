#include "server/reply/SvrSetupHolder.h"

#include <gtest/gtest.h>

#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "platform/Module.h"
#include "tests/reply/ReplyTestSupport.h"

using replytest::Sys;
using replytest::WriteConfig;
using tovktest::TempDir;
using tovktest::WriteFile;

namespace {

std::string Mapped(const TSvrSetupHolder& holder, std::string url, const std::string& host,
                   bool isTLS) {
  holder.MapUrlToPath(url, host, isTLS);
  return url;
}

std::map<std::string, replytest::TValue> FullConfig() {
  return {{"MIME num", 2},        {"MIME 1", "html,text/html"},
          {"MIME 2", "gif,image/gif"}, {"MIME 3", "txt,text/plain"},
          {"MIME 4", "css,text/css"},  {"MIME 5", "png,image/png"},
          {"Alias num", 1},       {"Alias 1", "* (HTTP),/,c:\\www\\"},
          {"App num", 0},         {"Virt num", 1},
          {"Virt 1", "*,HTTP"},   {"DefaultHTML", "index.html, default.htm"},
          {"Port", 8080},         {"ProtFile", "c:\\logs\\"},
          {"SSLon", 2},           {"NewLogFile", 1},
          {"KeepAlive", 1}};
}

}  // namespace

TEST(SettingsLoad, ReadsTheCountedEntriesAndTheSingleValues) {
  WriteConfig(FullConfig());
  TSvrSetupHolder holder;
  holder.LoadSettings();
  EXPECT_EQ(holder.MimeTable, (std::vector<std::string>{"html,text/html", "gif,image/gif"}));
  EXPECT_EQ(holder.AliasTable.size(), 1u);
  EXPECT_TRUE(holder.AppTable.empty());
  // No trimming: the blank after the comma stays with the second name.
  EXPECT_EQ(holder.DefaultDocuments, (std::vector<std::string>{"index.html", " default.htm"}));
  EXPECT_EQ(holder.Port, 8080);
  EXPECT_EQ(holder.ProtFile, "c:\\logs\\");
  EXPECT_FALSE(holder.SSLon) << "a flag is on only when it is exactly 1";
  EXPECT_TRUE(holder.NewLogFile);
  EXPECT_TRUE(holder.KeepAlive);
}

TEST(SettingsLoad, MissingKeyKeepsSingleValuesAndEmptiesTables) {
  replytest::DeleteConfig();
  TSvrSetupHolder holder;
  holder.Port = 1234;
  holder.MimeTable = {"old,entry"};
  holder.LoadSettings();
  EXPECT_EQ(holder.Port, 1234);
  EXPECT_TRUE(holder.MimeTable.empty());
  EXPECT_EQ(holder.DefaultDocuments, std::vector<std::string>{""})
      << "an empty DefaultHTML yields one empty name";
}

TEST(SettingsLoad, RegistryErrorKeepsWhatWasReadAndStops) {
  auto config = FullConfig();
  config.erase("Port");
  WriteConfig(config);
  TSvrSetupHolder holder;
  holder.Port = 77;
  holder.ErrorPageNames[0] = "marker";
  EXPECT_THROW(holder.LoadSettings(), ERegistryException);
  EXPECT_EQ(holder.MimeTable.size(), 2u);
  EXPECT_EQ(holder.VirtTable.size(), 1u);
  EXPECT_EQ(holder.Port, 77);
  EXPECT_EQ(holder.ErrorPageNames[0], "marker") << "the error page scan must not run";
}

TEST(MapUrlToPath, PrefixIgnoresPathBoundaries) {
  TSvrSetupHolder holder;
  holder.AliasTable = {"* (HTTP),/docs,c:\\docs"};
  EXPECT_EQ(Mapped(holder, "/docsarchive/a.htm", "", false), "c:\\docsarchive\\a.htm");
  EXPECT_EQ(Mapped(holder, "/DOCS/a.htm", "", false), "c:\\docs\\a.htm");
}

TEST(MapUrlToPath, LongestPrefixWinsInAnyOrder) {
  TSvrSetupHolder holder;
  holder.AliasTable = {"* (HTTP),/,c:\\www\\", "* (HTTP),/cgi-bin/,c:\\cgi\\"};
  EXPECT_EQ(Mapped(holder, "/cgi-bin/x.exe", "", false), "c:\\cgi\\x.exe");
  holder.AliasTable = {"* (HTTP),/cgi-bin/,c:\\cgi\\", "* (HTTP),/,c:\\www\\"};
  EXPECT_EQ(Mapped(holder, "/cgi-bin/x.exe", "", false), "c:\\cgi\\x.exe");
  EXPECT_EQ(Mapped(holder, "/a/b.htm", "", false), "c:\\www\\a\\b.htm");
  EXPECT_EQ(Mapped(holder, "/a\\b.htm", "", false), "c:\\www\\a\\b.htm");
}

TEST(MapUrlToPath, VirtualServersAndTheirKinds) {
  TSvrSetupHolder holder;
  holder.VirtTable = {"shop.example,HTTP", "*,HTTP", "*,HTTPS"};
  holder.AliasTable = {"* (HTTPS),/,c:\\secure\\", "shop.example (HTTP),/,c:\\shop\\",
                       "* (HTTP),/,c:\\www\\", "bare.example (HTTP),/,c:\\bare\\"};
  EXPECT_EQ(Mapped(holder, "/a", "SHOP.example", false), "c:\\shop\\a");
  // Listed with kind HTTP only: a TLS request falls back to "*".
  EXPECT_EQ(Mapped(holder, "/a", "shop.example", true), "c:\\secure\\a");
  EXPECT_EQ(Mapped(holder, "/a", "other.example", false), "c:\\www\\a");
  // An alias of a host that is not a listed virtual server never applies.
  EXPECT_EQ(Mapped(holder, "/a", "bare.example", false), "c:\\www\\a");

  holder.AliasTable = {"shop.example (HTTP),/shop/,c:\\shop\\"};
  EXPECT_EQ(Mapped(holder, "/a", "shop.example", false), "")
      << "a matched virtual server without an alias for the URL maps to nothing";
}

TEST(MapUrlToPath, PortSuffixMustBeListed) {
  TSvrSetupHolder holder;
  holder.VirtTable = {"shop.example:8080,HTTP"};
  holder.AliasTable = {"shop.example:8080 (HTTP),/,c:\\s8080\\"};
  EXPECT_EQ(Mapped(holder, "/a", "shop.example:8080", false), "c:\\s8080\\a");
  EXPECT_EQ(Mapped(holder, "/a", "shop.example", false), "");
}

TEST(MapUrlToPath, BuiltInPrefixWhenNoAliasCovers) {
  TSvrSetupHolder holder;
  EXPECT_EQ(Mapped(holder, "/iswd/logo_gif", "", false), "\\iswd\\logo_gif");
  EXPECT_EQ(Mapped(holder, "/ISWD/x", "", false), "\\iswd\\x");
  EXPECT_EQ(Mapped(holder, "/iswd", "", false), "");
  EXPECT_EQ(Mapped(holder, "/a", "", false), "");
  holder.AliasTable = {"* (HTTP),/,c:\\www\\"};
  EXPECT_EQ(Mapped(holder, "/iswd/logo_gif", "", false), "c:\\www\\iswd\\logo_gif");
}

TEST(MapUrlToPath, MalformedAliasesNeverMatch) {
  TSvrSetupHolder holder;
  // One comma: the prefix is empty. No directory: falls to nothing.
  holder.AliasTable = {"* (HTTP),c:\\www\\", "* (HTTP),/x/,"};
  EXPECT_EQ(Mapped(holder, "/a", "", false), "");
  EXPECT_EQ(Mapped(holder, "/x/a", "", false), "");
  // A comma in the directory stays: the directory is the rest of the entry.
  holder.AliasTable = {"* (HTTP),/,c:\\a,b\\"};
  EXPECT_EQ(Mapped(holder, "/f", "", false), "c:\\a,b\\f");
}

TEST(FindMimeType, ComparesTheTailIgnoringCase) {
  TSvrSetupHolder holder;
  EXPECT_EQ(holder.FindMimeType("c:\\x.gif"), "text/html") << "empty table";
  holder.MimeTable = {"html,text/html", "tar.gz,application/x-gtar", "gif,image/gif",
                      "abcdefghijk,application/x-long", "gif,image/other"};
  EXPECT_EQ(holder.FindMimeType("c:\\x.HTML"), "text/html");
  EXPECT_EQ(holder.FindMimeType("c:\\a.tar.gz"), "application/x-gtar");
  EXPECT_EQ(holder.FindMimeType("c:\\a.gif"), "image/gif") << "the first match wins";
  EXPECT_EQ(holder.FindMimeType("c:\\a.abcdefghi"), "application/x-long")
      << "a long extension is compared with its first 9 characters";
  EXPECT_EQ(holder.FindMimeType("c:\\a.abcdefghijk"), "text/html");
  EXPECT_EQ(holder.FindMimeType("gif"), "text/html") << "the key includes its dot";
}

TEST(FindMimeType, ContentTypeIsCutTo100Characters) {
  TSvrSetupHolder holder;
  holder.MimeTable = {"x," + std::string(120, 't')};
  EXPECT_EQ(holder.FindMimeType("a.x"), std::string(100, 't'));
}

TEST(FindApplication, TheExtensionMustEndTheFileName) {
  TSvrSetupHolder holder;
  holder.AppTable = {"sh,/bin/sh", "pl,c:\\perl\\perl.exe", "shtml,TOVK/SSI"};
  auto find = [&](std::string path) {
    std::string program, extra;
    if (!holder.FindApplication(path, program, extra)) return std::string("none");
    return program + "|" + path + "|" + extra;
  };
  // The key's text earlier in the path (a directory, a longer name) does
  // not hide the extension that ends the file name.
  EXPECT_EQ(find("\\srv\\www.shop.cz\\cgi\\formular.sh"),
            "/bin/sh|\\srv\\www.shop.cz\\cgi\\formular.sh|");
  EXPECT_EQ(find("c:\\a.pl.d\\x.pl"), "c:\\perl\\perl.exe|c:\\a.pl.d\\x.pl|");
  EXPECT_EQ(find("c:\\cgi\\X.PL"), "c:\\perl\\perl.exe|c:\\cgi\\X.PL|");
  // Nor does an extension in a directory make the file under it one.
  EXPECT_EQ(find("c:\\www\\a.shtml\\page.txt"), "none");
  EXPECT_EQ(find("c:\\www\\x.pl.d\\notes.txt"), "none");
  EXPECT_EQ(find("c:\\www\\docs.shtml\\"), "none");
  // ".sh" is a prefix of ".shtml": the first entry whose key ends the name.
  EXPECT_EQ(find("c:\\www\\page.shtml"), "TOVK/SSI|c:\\www\\page.shtml|");
  // Extra path after the file name: the key ends the segment before "/".
  EXPECT_EQ(find("/cgi/x.pl/more/x.pl"), "c:\\perl\\perl.exe|/cgi/x.pl|/more/x.pl");
  EXPECT_EQ(find("/www.pl.cz/cgi/x.pl/more"), "c:\\perl\\perl.exe|/www.pl.cz/cgi/x.pl|/more");
  EXPECT_EQ(find("c:\\cgi\\x.pl\\more"), "none");
}

TEST(FindApplication, OnlyCountModulo256EntriesAreConsulted) {
  TSvrSetupHolder holder;
  holder.AppTable.assign(256, "pl,TOVK/EXEC");
  std::string path = "c:\\x.pl", program, extra;
  EXPECT_FALSE(holder.FindApplication(path, program, extra));
  holder.AppTable.push_back("pl,TOVK/SSI");
  EXPECT_TRUE(holder.FindApplication(path, program, extra));
  EXPECT_EQ(program, "TOVK/EXEC");
}

TEST(FindDefaultDocument, FindsFilesOnlyAndReportsTheTrailingSlash) {
  TempDir dir;
  WriteFile(dir / "default.htm", "x");
  TSvrSetupHolder holder;
  holder.DefaultDocuments = {"", "index.html", "default.htm"};
  std::string directory = Sys(dir.Path()), file;
  bool ended = true;
  ASSERT_TRUE(holder.FindDefaultDocument(directory, file, ended));
  EXPECT_FALSE(ended);
  EXPECT_EQ(directory, Sys(dir.Path()) + "\\");
  EXPECT_EQ(file, Sys(dir.Path()) + "\\default.htm");

  holder.DefaultDocuments = {""};
  EXPECT_FALSE(holder.FindDefaultDocument(directory, file, ended))
      << "an empty name names the directory, which is not a file";
  EXPECT_TRUE(ended);
}

TEST(GetFileSizeText, MissingFileSays1024) {
  TempDir dir;
  WriteFile(dir / "five", "12345");
  EXPECT_EQ(GetFileSizeText(Sys(dir / "five")), "5");
  EXPECT_EQ(GetFileSizeText(Sys(dir / "none")), "1024");
  EXPECT_EQ(GetFileSizeText(Sys(dir.Path())), "1024") << "a directory is no file";
}

TEST(VirtualServerChain, RunsFromTheLastEntry) {
  TSvrSetupHolder holder;
  EXPECT_EQ(holder.VirtualServerChain(), nullptr);
  holder.VirtTable = {"a.example,HTTP", "b.Example:81,HTTPS"};
  TVirtualServerNode* chain = holder.VirtualServerChain();
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(chain->Name + 1), chain->Name[0]),
            "B.EXAMPLE:81");
  ASSERT_NE(chain->Next, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(chain->Next->Name + 1), chain->Next->Name[0]),
            "A.EXAMPLE");
  EXPECT_EQ(chain->Next->Next, nullptr);
  FreeVirtualServerChain(chain);
}

TEST(ErrorPages, FirstMatchPerStatusOfTheTable) {
  TempDir dir;
  WriteFile(dir / "err404.html", "a");
  WriteFile(dir / "ERR500.txt", "b");
  WriteFile(dir / "err40.html", "c");
  WriteFile(dir / "err999.html", "d");
  TSvrSetupHolder holder;
  holder.ErrorPageDir = Sys(dir.Path()) + "\\";
  holder.ScanErrorPages();
  EXPECT_EQ(holder.ErrorPageNames[StatusIndex(404)], "err404.html");
  EXPECT_EQ(holder.ErrorPageNames[StatusIndex(500)], "ERR500.txt");
  EXPECT_EQ(holder.ErrorPagePath(404), holder.ErrorPageDir + "err404.html");
  EXPECT_EQ(holder.ErrorPagePath(403), "");
  EXPECT_EQ(holder.ErrorPagePath(999), "") << "only statuses of the table have pages";
  EXPECT_EQ(StatusIndex(200), 0);
  EXPECT_EQ(StatusIndex(505), kStatusCount - 1);
}

class Modules : public ::testing::Test {
 protected:
  void SetUp() override {
    // Our own reference keeps the library (and its counters) loaded while
    // the holders load and unload it.
    Library = LoadLibrary(TOVK_TEST_EXTENSION);
    ASSERT_NE(Library, nullptr) << LastModuleError();
    Calls = reinterpret_cast<int (*)()>(GetProcAddress(Library, "TestTerminateCalls"));
    Flags = reinterpret_cast<DWORD (*)()>(GetProcAddress(Library, "TestLastTerminateFlags"));
    ASSERT_TRUE(Calls && Flags);
  }
  void TearDown() override {
    if (Library) FreeLibrary(Library);
  }
  HMODULE Library = nullptr;
  int (*Calls)() = nullptr;
  DWORD (*Flags)() = nullptr;
};

TEST_F(Modules, LoadsEachLibraryOnceAndListsIt) {
  std::string path = Sys(TOVK_TEST_EXTENSION);
  std::string upper = path;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  int before = Calls();
  {
    TSvrSetupHolder holder;
    // ".dll" in a directory does not make a library of a program.
    tovktest::TempDir dir;
    tovktest::MakeDirs(dir / "ext.dll.d");
    WriteFile(dir / "ext.dll.d/plain", tovktest::ReadFile(TOVK_TEST_EXTENSION));
    holder.AppTable = {"xyz," + path, "abc," + path, "nope,c:\\missing\\lib.dll",
                       "pl,c:\\perl\\perl.exe", "q," + Sys(dir / "ext.dll.d/plain")};
    holder.LoadModules();
    ASSERT_EQ(holder.Modules.size(), 1u);
    EXPECT_EQ(holder.ModuleTableHtml(),
              "<table border=1><tr><th bgcolor=#FFCC00>Název modulu</th><th "
              "bgcolor=#FFCC00>Verze ISAPI</th><th bgcolor=#FFCC00>Soubor s "
              "modulem</th></tr>\r\n<tr><td></td><td>0.0</td><td>" +
                  path + "</td></tr>\r\n</table>");
    EXPECT_NE(holder.FindModuleProc(path), nullptr);
    EXPECT_EQ(holder.FindModuleProc("c:\\other.dll"), nullptr);
    EXPECT_EQ(holder.AppTable[2], "nope,c:\\missing\\lib.dll");
    EXPECT_EQ(Calls(), before);
  }
  EXPECT_EQ(Calls(), before + 1) << "the last holder that has the module terminates it";
  EXPECT_EQ(Flags(), static_cast<DWORD>(HSE_TERM_MUST_UNLOAD));
}

TEST_F(Modules, ALibraryThatDoesNotLoadIsListedWithoutEntryPoints) {
  TempDir dir;
  WriteFile(dir / "broken.dll", "not a shared object");
  TSvrSetupHolder holder;
  holder.AppTable = {"brk," + Sys(dir / "broken.dll")};
  holder.LoadModules();
  ASSERT_EQ(holder.Modules.size(), 1u);
  EXPECT_EQ(holder.Modules[0]->ExtensionProc, nullptr);
  EXPECT_EQ(holder.FindModuleProc(Sys(dir / "broken.dll")), nullptr);
}

TEST_F(Modules, RestartKeepsPinnedSettingsAndLibrariesAlive) {
  WriteConfig({{"MIME num", 1}, {"MIME 1", "old,text/old"}, {"Alias num", 0},
               {"App num", 1}, {"App 1", "xyz," + Sys(TOVK_TEST_EXTENSION)},
               {"Virt num", 0}, {"DefaultHTML", "index.html"}, {"Port", 8081},
               {"ProtFile", "c:\\"}, {"SSLon", 0}, {"NewLogFile", 0}, {"KeepAlive", 0}});
  CreateSettings();
  int before = Calls();
  {
    TSettingsPin pin;  // a connection that runs across the restart
    TSvrSetupHolder* pinned = &Settings();
    WriteConfig({{"MIME num", 1}, {"MIME 1", "new,text/new"}, {"Alias num", 0},
                 {"App num", 1}, {"App 1", "xyz," + Sys(TOVK_TEST_EXTENSION)},
                 {"Virt num", 0}, {"DefaultHTML", "index.html"}, {"Port", 8082},
                 {"ProtFile", "c:\\"}, {"SSLon", 0}, {"NewLogFile", 0}, {"KeepAlive", 0}});
    FreeSettings();
    CreateSettings();
    EXPECT_EQ(&Settings(), pinned);
    EXPECT_EQ(Settings().FindMimeType("a.old"), "text/old");
    EXPECT_NE(Settings().FindModuleProc(Sys(TOVK_TEST_EXTENSION)), nullptr);
    EXPECT_EQ(CurrentSettings()->Port, 8082);
    EXPECT_EQ(Calls(), before) << "a library in use must not be terminated";
  }
  EXPECT_EQ(Settings().FindMimeType("a.new"), "text/new");
  EXPECT_EQ(Calls(), before) << "the new holder shares the still loaded library";
  FreeSettings();
  EXPECT_EQ(Calls(), before + 1);
  EXPECT_EQ(Settings().Port, 8082) << "the single values outlive the holder";
}
