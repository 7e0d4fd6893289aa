#include "cpl/SetupModel.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/RegNames.h"
#include "tests/cpl/CplTestSupport.h"

using cpltest::Integer;
using cpltest::PutInteger;
using cpltest::PutList;
using cpltest::PutString;
using cpltest::String;

namespace {

// A complete key as the dialog itself would leave it.
void PutCompleteKey() {
  PutString(reg::kDefaultHTML, "index.html");
  PutInteger(reg::kPort, 8080);
  PutString(reg::kProtFile, "c:\\logs");
  PutInteger(reg::kDoProt, 1);
  PutInteger(reg::kSSLon, 1);
  PutInteger(reg::kNewLogFile, 0);
  PutList(reg::kMime, {});
  PutList(reg::kAlias, {});
  PutList(reg::kApp, {});
  PutList(reg::kVirt, {"*,HTTP"});
}

std::vector<std::string> Captions(const TItemList& list) {
  std::vector<std::string> captions;
  for (const TListItem& item : list) captions.push_back(item.Caption);
  return captions;
}

class SetupModelTest : public ::testing::Test {
 protected:
  cpltest::TScratchRegistry Scratch;
};

}  // namespace

TEST_F(SetupModelTest, WithoutAKeyKeepsTheDesignValuesAndSavingCreatesIt) {
  TSetupModel model;
  EXPECT_EQ(model.Load(), "");
  EXPECT_EQ(model.Port, 80);
  EXPECT_EQ(model.Index, "index.html");
  EXPECT_EQ(model.ProtFile, "ProtFile");
  ASSERT_EQ(model.VirtualList.size(), 1u);
  EXPECT_EQ(TSetupModel::EntryText(model.VirtualList[0]), "*,HTTP");
  EXPECT_EQ(model.VirtualList[0].ImageIndex, TSetupModel::kImageStandardServer);
  EXPECT_FALSE(cpltest::KeyExists());

  std::string error;
  ASSERT_EQ(model.Save(error), TSetupModel::TSaveResult::Saved) << error;
  EXPECT_EQ(Integer(reg::kPort), 80);
  EXPECT_EQ(String(reg::kDefaultHTML), "index.html");
  EXPECT_EQ(String(reg::kProtFile), "ProtFile");
  EXPECT_EQ(Integer(reg::kDoProt), 1);
  EXPECT_EQ(Integer(reg::kSSLon), 0);
  EXPECT_EQ(Integer(reg::kNewLogFile), 0);
  EXPECT_EQ(Integer("MIME num"), 0);
  EXPECT_EQ(Integer("Alias num"), 0);
  EXPECT_EQ(Integer("App num"), 0);
  EXPECT_EQ(Integer("Virt num"), 1);
  EXPECT_EQ(String("Virt 1"), "*,HTTP");
  EXPECT_EQ(Integer(reg::kKeepAlive), std::nullopt) << "the applet does not write KeepAlive";
}

TEST_F(SetupModelTest, LoadsValuesAndSplitsEntriesAtTheFirstComma) {
  PutCompleteKey();
  PutInteger(reg::kDoProt, 0);
  const std::string longType = "application/" + std::string(120, 'x');
  const std::string longProgram = "c:\\" + std::string(150, 'p') + "\\perl.exe";
  PutList(reg::kMime, {"html,text/html", "x," + longType, "nocomma", "", "never,read"});
  PutInteger("MIME num", 4);
  PutList(reg::kAlias, {"* (HTTP),/cgi,c:\\cgi,with comma", "srv (HTTPS),/"});
  PutList(reg::kApp, {"pl," + longProgram});
  PutList(reg::kVirt, {"server1,HTTP", "server1,HTTPS"});

  TSetupModel model;
  ASSERT_EQ(model.Load(), "");
  EXPECT_EQ(model.Port, 8080);
  EXPECT_EQ(model.ProtFile, "c:\\logs");
  EXPECT_FALSE(model.DoProt);
  EXPECT_TRUE(model.SSLon);
  EXPECT_FALSE(model.NewLogFile);

  ASSERT_EQ(model.MimeList.size(), 4u);
  EXPECT_EQ(model.MimeList[0].SubItems, std::vector<std::string>{"text/html"});
  EXPECT_EQ(model.MimeList[1].SubItems[0], longType.substr(0, 100));
  EXPECT_EQ(model.MimeList[2].Caption, "");
  EXPECT_EQ(model.MimeList[2].SubItems[0], "nocomma");
  EXPECT_EQ(model.MimeList[0].ImageIndex, TSetupModel::kImageMime);

  ASSERT_EQ(model.AliasList.size(), 2u);
  EXPECT_EQ(model.AliasList[0].Caption, "* (HTTP)");
  EXPECT_EQ(model.AliasList[0].SubItems, (std::vector<std::string>{"/cgi", "c:\\cgi,with comma"}));
  EXPECT_EQ(model.AliasList[1].SubItems, (std::vector<std::string>{"", "/"}));

  ASSERT_EQ(model.AppList.size(), 1u);
  EXPECT_EQ(model.AppList[0].SubItems[0], longProgram) << "interpreter paths are not cut";

  EXPECT_EQ(Captions(model.VirtualList), (std::vector<std::string>{"server1", "server1"}))
      << "the standard entry is replaced by the stored list";
  EXPECT_EQ(model.VirtualList[0].ImageIndex, -1);
}

TEST_F(SetupModelTest, PortIsClampedIntoTheFieldsRange) {
  PutCompleteKey();
  PutInteger(reg::kPort, 20000);
  TSetupModel model;
  ASSERT_EQ(model.Load(), "");
  EXPECT_EQ(model.Port, 10000);
  std::string error;
  ASSERT_EQ(model.Save(error), TSetupModel::TSaveResult::Saved);
  EXPECT_EQ(Integer(reg::kPort), 10000);

  PutInteger(reg::kPort, -3);
  ASSERT_EQ(model.Load(), "");
  EXPECT_EQ(model.Port, 1);

  EXPECT_EQ(TSetupModel::PortFromText("8080"), 8080);
  EXPECT_EQ(TSetupModel::PortFromText(" 443 "), 443);
  EXPECT_EQ(TSetupModel::PortFromText(""), 1);
  EXPECT_EQ(TSetupModel::PortFromText("80x"), 1);
  EXPECT_EQ(TSetupModel::PortFromText("-"), 1);
  EXPECT_EQ(TSetupModel::PortFromText("0"), 1);
  EXPECT_EQ(TSetupModel::PortFromText("99999999999999999999"), 10000);
}

TEST_F(SetupModelTest, AFailedIntegerReadStopsLoadingWithTheWrappersText) {
  PutString(reg::kDefaultHTML, "default.htm");
  PutInteger(reg::kPort, 81);
  PutString(reg::kProtFile, "c:\\p");
  // DoProt missing: the lists that follow stay as designed.
  PutList(reg::kMime, {"a,b"});
  TSetupModel model;
  EXPECT_EQ(model.Load(), "Failed to get data for 'DoProt'");
  EXPECT_EQ(model.Index, "default.htm");
  EXPECT_EQ(model.Port, 81);
  EXPECT_EQ(model.ProtFile, "c:\\p");
  EXPECT_TRUE(model.MimeList.empty());
  EXPECT_EQ(model.VirtualList.size(), 1u);

  PutCompleteKey();
  PutString(reg::kPort, "80");
  TSetupModel typed;
  EXPECT_EQ(typed.Load(), "Invalid data type for 'Port'");
}

TEST_F(SetupModelTest, ShrinkingAListWritesTheNewCountAndLeavesHigherEntries) {
  PutCompleteKey();
  PutList(reg::kMime, {"a,1", "b,2", "c,3", "d,4", "e,5"});
  TSetupModel model;
  ASSERT_EQ(model.Load(), "");
  EXPECT_EQ(model.DeleteMime(0), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.DeleteMime(2), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.DeleteMime(3), TSetupModel::TEditResult::Ignored);
  EXPECT_EQ(model.DeleteMime(-1), TSetupModel::TEditResult::Ignored);
  std::string error;
  ASSERT_EQ(model.Save(error), TSetupModel::TSaveResult::Saved);
  EXPECT_EQ(Integer("MIME num"), 3);
  EXPECT_EQ(String("MIME 1"), "b,2");
  EXPECT_EQ(String("MIME 2"), "c,3");
  EXPECT_EQ(String("MIME 3"), "e,5");
  EXPECT_EQ(String("MIME 4"), "d,4");
  EXPECT_EQ(String("MIME 5"), "e,5");
}

TEST_F(SetupModelTest, BytesOfTheKeyComeBackUnchanged) {
  PutCompleteKey();
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  PutString(reg::kProtFile, bytes);
  PutList(reg::kVirt, {"čeština.cz,HTTP", "*,HTTP"});
  TSetupModel model;
  ASSERT_EQ(model.Load(), "");
  std::string error;
  ASSERT_EQ(model.Save(error), TSetupModel::TSaveResult::Saved);
  EXPECT_EQ(String(reg::kProtFile), bytes);
  EXPECT_EQ(String("Virt 1"), "\xE8" "e\x9Atina.cz,HTTP");
}

TEST_F(SetupModelTest, AKeyThatCannotBeOpenedWritesNothing) {
  // A store below a plain file can be neither opened nor created.
  tovktest::WriteFile(Scratch.Dir() / "plain", "x");
  setenv("TOVK_REGISTRY", (Scratch.Dir() / "plain/registry.db").c_str(), 1);
  TSetupModel model;
  std::string error;
  EXPECT_EQ(model.Save(error), TSetupModel::TSaveResult::KeyNotOpened);
  EXPECT_EQ(tovktest::ReadFile(Scratch.Dir() / "plain"), "x");
}

TEST(SetupModelEditors, VirtualServersRefuseTheSameNameAndKind) {
  TSetupModel model;
  EXPECT_EQ(model.AddVirtual("server1", 0), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.AddVirtual("SERVER1", 0), TSetupModel::TEditResult::Duplicate);
  EXPECT_EQ(model.AddVirtual("server1", 1), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.AddVirtual("Server1", 1), TSetupModel::TEditResult::Duplicate);
  // Letters with diacritics compare exactly.
  EXPECT_EQ(model.AddVirtual("čest", 0), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.AddVirtual("Čest", 0), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.ServerChoices(),
            (std::vector<std::string>{"* (HTTP)", "server1 (HTTP)", "server1 (HTTPS)", "čest (HTTP)", "Čest (HTTP)"}));
}

TEST(SetupModelEditors, TheStandardServerCannotBeDeleted) {
  TSetupModel model;
  model.AddVirtual("a", 0);
  EXPECT_EQ(model.DeleteVirtual(0), TSetupModel::TEditResult::Refused);
  EXPECT_EQ(model.DeleteVirtual(2), TSetupModel::TEditResult::Ignored);
  EXPECT_EQ(model.DeleteVirtual(1), TSetupModel::TEditResult::Done);
  EXPECT_EQ(Captions(model.VirtualList), std::vector<std::string>{"*"});
}

// Rows that would read back as other rows, and rows past what a count can
// say, are refused; the list stays as it was.
TEST(SetupModelEditors, RowsThatWouldNotReadBackAreRefused) {
  TSetupModel model;
  EXPECT_EQ(model.AddMime("a,b", "text/x"), TSetupModel::TEditResult::Refused);
  EXPECT_EQ(model.AddVirtual("evil,HTTPS", 0), TSetupModel::TEditResult::Refused);
  EXPECT_EQ(model.AddApp("p,l", "c:\\perl.exe"), TSetupModel::TEditResult::Refused);
  std::string prefix = "/a,b", directory = "c:\\x,y";
  EXPECT_EQ(model.AddAlias("* (HTTP)", prefix, directory), TSetupModel::TEditResult::Refused);
  EXPECT_TRUE(model.MimeList.empty() && model.AppList.empty() && model.AliasList.empty());
  EXPECT_EQ(model.VirtualList.size(), 1u);
  EXPECT_EQ(model.AddMime("x", "a,b"), TSetupModel::TEditResult::Done) << "the last part may hold commas";

  model.MimeList.assign(TSetupModel::kMaxEntries, TListItem{"e", {"t"}, TSetupModel::kImageMime});
  EXPECT_EQ(model.AddMime("f", "t"), TSetupModel::TEditResult::Refused);
  EXPECT_EQ(model.MimeList.size(), static_cast<std::size_t>(TSetupModel::kMaxEntries));
}

TEST(SetupModelEditors, AliasesAreNormalised) {
  struct Case {
    std::string Prefix, Directory, WantPrefix, WantDirectory;
  } cases[] = {
      {"cgi", "c:\\cgi\\", "/cgi", "c:\\cgi"},     {"/", "c:\\www", "/", "c:\\www\\"},
      {"/", "c:\\www\\", "/", "c:\\www\\"},       {"x", "c:\\x\\", "x", "c:\\x"},
      {"/docs/", "c:\\docs\\\\", "/docs", "c:\\docs\\"}, {"docs/", "d", "/docs", "d"},
      {"//", "c:", "/", "c:\\"},
  };
  for (const Case& c : cases) {
    std::string prefix = c.Prefix, directory = c.Directory;
    TSetupModel::NormaliseAlias(prefix, directory);
    EXPECT_EQ(prefix, c.WantPrefix) << c.Prefix;
    EXPECT_EQ(directory, c.WantDirectory) << c.Prefix << " " << c.Directory;
  }

  TSetupModel model;
  std::string prefix = "cgi", directory = "c:\\cgi\\";
  EXPECT_EQ(model.AddAlias("* (HTTP)", prefix, directory), TSetupModel::TEditResult::Done);
  EXPECT_EQ(prefix, "/cgi");
  EXPECT_EQ(TSetupModel::EntryText(model.AliasList.at(0)), "* (HTTP),/cgi,c:\\cgi");
  std::string empty;
  prefix = "a";
  EXPECT_EQ(model.AddAlias("", prefix, directory), TSetupModel::TEditResult::Ignored);
  EXPECT_EQ(model.AddAlias("* (HTTP)", empty, directory), TSetupModel::TEditResult::Ignored);
  EXPECT_EQ(model.AddAlias("* (HTTP)", prefix, empty), TSetupModel::TEditResult::Ignored);
  EXPECT_EQ(prefix, "a") << "an ignored alias is not normalised";
  EXPECT_EQ(model.AliasList.size(), 1u);
}

TEST(SetupModelEditors, InterpretersAreUniquePerExtensionAndDropParameters) {
  tovktest::TempDir dir;
  const std::string spaced = dir / "my perl.exe";
  tovktest::WriteFile(spaced, "");

  TSetupModel model;
  EXPECT_EQ(model.AddApp("pl", "c:\\perl\\perl.exe -w"), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.AddApp("PL", "c:\\other.exe"), TSetupModel::TEditResult::Duplicate);
  EXPECT_EQ(model.AddApp("cgi", "tovk/exec"), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.AddApp("py", "\"c:\\Program Files\\py.exe\" -u %s"), TSetupModel::TEditResult::Done);
  EXPECT_EQ(model.AddApp("x", spaced), TSetupModel::TEditResult::Done);
  ASSERT_EQ(model.AppList.size(), 4u);
  EXPECT_EQ(model.AppList[0].SubItems[0], "c:\\perl\\perl.exe");
  EXPECT_EQ(model.AppList[1].SubItems[0], "tovk/exec");
  EXPECT_EQ(model.AppList[2].SubItems[0], "c:\\Program Files\\py.exe");
  EXPECT_EQ(model.AppList[3].SubItems[0], spaced) << "an existing file is taken whole";
  EXPECT_EQ(TSetupModel::AppFileName("  c:\\a.exe b"), "c:\\a.exe");
  EXPECT_EQ(TSetupModel::AppFileName("\"c:\\open"), "c:\\open");
}

TEST_F(SetupModelTest, MimeImportAddsClassesWithAContentTypeNotListedYet) {
  Scratch.SetMimeTypes("# a comment\ntext/plain txt text\nimage/png png\napplication/x-empty\n");
  TSetupModel model;
  model.AddMime("TXT", "text/x-mine");
  EXPECT_EQ(model.ImportMime(), 2);
  ASSERT_EQ(model.MimeList.size(), 3u);
  EXPECT_EQ(TSetupModel::EntryText(model.MimeList[0]), "TXT,text/x-mine") << "existing items stay";
  std::vector<std::string> added{TSetupModel::EntryText(model.MimeList[1]), TSetupModel::EntryText(model.MimeList[2])};
  std::sort(added.begin(), added.end());
  EXPECT_EQ(added, (std::vector<std::string>{"png,image/png", "text,text/plain"}));
  EXPECT_EQ(model.MimeList[1].ImageIndex, TSetupModel::kImageMime);

  TSetupModel fresh;
  Scratch.SetMimeTypes("text/plain txt\n");
  EXPECT_EQ(fresh.ImportMime(), 1);
  EXPECT_EQ(TSetupModel::EntryText(fresh.MimeList.at(0)), "txt,text/plain");
  EXPECT_EQ(fresh.ImportMime(), 0) << "a second import finds everything listed";
}
