// Every page through the real admin.dll and a real registry: what each
// request changes in the configuration key and what the page shows.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "admin/AdminToken.h"
#include "admin/tisapireplyU.h"
#include "common/RegNames.h"
#include "platform/KeyFile.h"
#include "platform/Paths.h"
#include "tests/admin/AdminHarness.h"
#include "tests/support/TestSupport.h"

using namespace admintest;

namespace {

constexpr const char* kPageStart =
    "<HTML><HEAD>\r\n<TITLE>Administrace Quillon Web Serveru</TITLE>\r\n</HEAD>\r\n"
    "<BODY bgcolor=white>\r\n";
constexpr const char* kPageEnd = "</BODY></HTML>\r\n";

bool Has(const std::string& page, const std::string& piece) {
  return page.find(piece) != std::string::npos;
}

// A page that went out whole, as the host expects it.
void ExpectPage(const TResult& r) {
  ASSERT_FALSE(r.Threw) << r.Error;
  EXPECT_EQ(r.Writes, 1);
  EXPECT_EQ(r.Reads, 0);
  EXPECT_EQ(r.SupportCalls, 0);
  EXPECT_EQ(r.Status, static_cast<DWORD>(HSE_STATUS_SUCCESS));
  EXPECT_EQ(r.HttpStatus, 200u);
  EXPECT_EQ(r.Page.rfind(kPageStart, 0), 0u) << r.Page;
  ASSERT_GE(r.Page.size(), std::strlen(kPageEnd));
  EXPECT_EQ(r.Page.substr(r.Page.size() - std::strlen(kPageEnd)), kPageEnd);
}

// A request that failed: nothing reached the client, the host answers 500.
void ExpectFailure(const TResult& r, const std::string& error = "") {
  EXPECT_TRUE(r.Threw);
  EXPECT_EQ(r.Writes, 0);
  if (!error.empty()) {
    EXPECT_EQ(r.Error, error);
  }
}

// The key as the applet leaves it after its first OK.
void SeedFullKey() {
  SetInt(reg::kPort, 80);
  SetString(reg::kDefaultHTML, "index.html");
  SetString(reg::kProtFile, "c:\\logs\\");
  SetInt(reg::kSSLon, 0);
  SetInt(reg::kNewLogFile, 0);
  SetInt(reg::kKeepAlive, 0);
  SetList(reg::kMime, {});
  SetList(reg::kVirt, {"*,HTTP"});
  SetList(reg::kApp, {});
  SetList(reg::kAlias, {});
}

class AdminPages : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteConfigKey();
    SeedFullKey();
  }
  void TearDown() override { DeleteConfigKey(); }
};

}  // namespace

TEST_F(AdminPages, NoDataGivesTheMenu) {
  const TResult r = Get("");
  ExpectPage(r);
  EXPECT_TRUE(Has(r.Page,
                  "<A HREF=\"admin.dll?action=nastaveni\" TARGET=\"edit\">Obecné nastavení "
                  "serveru</A> | \r\n"));
  EXPECT_TRUE(Has(r.Page,
                  "Zástupci - mapování adresářů</A><BR>\r\n<A HREF=\"admin.dll?action=interpreti"));
  EXPECT_TRUE(Has(r.Page,
                  "<A HREF=\"/iswd/reload\" TARGET=\"edit\"><font color=red>Restart "
                  "serveru</font></A> | \r\n"));
  EXPECT_TRUE(Has(r.Page, "openWindow('help.html', 'popupWin')\">Nápověda programu</A></FONT>\r\n"
                          "</CENTER>\r\n</BODY>"));
  EXPECT_EQ(Get("action=nonsense").Page, r.Page);
}

TEST_F(AdminPages, AboutInAnyLetterCase) {
  const TResult about = Get("action=About");
  ExpectPage(about);
  EXPECT_TRUE(Has(about.Page, std::string(kPageStart) +
                                  "<BR>\r\n<BR>\r\n<BR>\r\n<BR>\r\n<BR>\r\n<BR>\r\n<BR>\r\n<BR>\r\n"
                                  "<font face=\"Tahoma,Verdana,Helvetica,Helv,Arial\" "
                                  "size=\"-1\">\r\n<CENTER>\r\n"));
  EXPECT_EQ(Get("action=ABOUT").Page, about.Page);
}

TEST_F(AdminPages, BadEscapeFailsTheRequest) {
  ExpectFailure(Get("action=about&x=%"));
  ExpectFailure(Post("action=mime&subaction=add", "ext=a&typ=%zz"));
  EXPECT_EQ(GetInt("MIME num"), 0) << "nothing was added";
}

TEST_F(AdminPages, SettingsSaveStoresAndShowsTheValues) {
  const TResult r = Submit("action=nastaveni&subaction=save",
                           "Port=8080&DefDoc=index.html%2Cdefault.htm&ProtFile=c%3A%5Clogs%5C"
                         "&SSL=1&NewLogFile=1&KeepAlive=1\r\n");
  ExpectPage(r);
  EXPECT_EQ(GetInt(reg::kPort), 8080);
  EXPECT_EQ(GetString(reg::kDefaultHTML), "index.html,default.htm");
  EXPECT_EQ(GetString(reg::kProtFile), "c:\\logs\\");
  EXPECT_EQ(GetInt(reg::kSSLon), 1);
  EXPECT_EQ(GetInt(reg::kNewLogFile), 1);
  EXPECT_EQ(GetInt(reg::kKeepAlive), 1);
  EXPECT_TRUE(Has(r.Page, "<INPUT TYPE=text NAME=\"Port\" SIZE=\"5\" VALUE=\"8080\">\r\n"));
  EXPECT_TRUE(Has(r.Page, "name=SSL value=1 CHECKED> Používat bezpečné (HTTPS) servery<BR>\r\n"));
  EXPECT_TRUE(Has(r.Page, "name=NewLogFile value=1 CHECKED>"));
  EXPECT_TRUE(Has(r.Page, "name=KeepAlive value=1 CHECKED> Používej perzistetní spojení "
                          "(Keep-Alive)\r\n"));
  EXPECT_TRUE(Has(r.Page, "top.browse.location='admin.dll?action=browse&kam=ProtFile&bpath="
                          "c%3A%5Clogs%5C'\r\n</SCRIPT>\r\n</FORM>\r\n"));
}

TEST_F(AdminPages, SettingsSaveWithoutBoxesAndFieldsStoresZerosAndTheSentinel) {
  SetInt(reg::kSSLon, 1);
  SetInt(reg::kKeepAlive, 1);
  const TResult r = Submit("action=nastaveni&subaction=save", "port=70000");
  ExpectPage(r);
  EXPECT_EQ(GetInt(reg::kPort), 4464) << "the port keeps its low 16 bits";
  EXPECT_EQ(GetInt(reg::kSSLon), 0);
  EXPECT_EQ(GetInt(reg::kNewLogFile), 0);
  EXPECT_EQ(GetInt(reg::kKeepAlive), 0);
  EXPECT_EQ(GetString(reg::kDefaultHTML), "<NoDaTa>");
  EXPECT_FALSE(Has(r.Page, "CHECKED"));
}

TEST_F(AdminPages, SettingsRefuseAPortThatIsNoNumber) {
  const TResult r = Submit("action=nastaveni&subaction=save", "Port=abc&DefDoc=x&SSL=1");
  ExpectPage(r);
  EXPECT_EQ(r.Page, std::string(kPageStart) + "\"abc\" není číslo!!!<BR>\r\n" + kPageEnd);
  EXPECT_TRUE(Has(r.Page, "nen\xed \xe8\xedslo")) << "the texts go out as Windows-1250 bytes";
  EXPECT_EQ(GetInt(reg::kPort), 80);
  EXPECT_EQ(GetString(reg::kDefaultHTML), "index.html");
  // The field is shown as decoded: a+b%41 is "a bA".
  EXPECT_TRUE(Has(Submit("action=nastaveni&subaction=save", "port=a+b%41").Page,
                  "\"a bA\" není číslo!!!<BR>\r\n"));
}

constexpr const char* kForeign = "Požadavek nepřišel ze stránek administrace serveru";

TEST_F(AdminPages, ChangesWithoutTheTokenOfTheirOwnPageAreRefused) {
  SetList(reg::kMime, {"a,x", "b,y"});
  const std::string settingsToken = FormToken(Get("action=nastaveni").Page);
  const std::string mimeToken = FormToken(Get("action=mime").Page);
  ASSERT_EQ(mimeToken.size(), 64u);
  EXPECT_EQ(FormToken(Get("action=mime").Page), mimeToken) << "one key for the installation";
  EXPECT_NE(settingsToken, mimeToken) << "a token is bound to its form";

  const std::string noToken = "ext=e&typ=t";
  for (const std::string& body :
       {noToken, "klic=&" + noToken, "klic=" + settingsToken + "&" + noToken,
        "klic=" + std::string(64, '0') + "&" + noToken, "klic=" + mimeToken.substr(1) + "&" + noToken}) {
    const TResult r = Post("action=mime&subaction=add", body);
    ExpectPage(r);
    EXPECT_TRUE(Has(r.Page, kForeign)) << body;
    EXPECT_TRUE(Has(r.Page, "co=b%2Cy\">Smaž</A>")) << "the list is still shown";
  }
  EXPECT_EQ(GetInt("MIME num"), 2);

  ExpectPage(Post("action=nastaveni&subaction=save", "klic=" + mimeToken + "&Port=1"));
  ExpectPage(Post("action=mysql&subaction=save", "host=evil"));
  EXPECT_EQ(GetInt(reg::kPort), 80);
  EXPECT_FALSE(HasValue(reg::kLogMySQLHost));

  // A delete link's token allows deleting its own entry only.
  const std::string list = Get("action=mime").Page;
  const std::size_t link = list.find("klic=", list.find("co=b%2Cy") - 80);
  const std::string bToken = list.substr(link + 5, 64);
  for (const std::string& query :
       {std::string("action=mime&subaction=smaz&co=a%2Cx"),
        "action=mime&subaction=smaz&klic=" + bToken + "&co=a%2Cx",
        "action=mime&subaction=smaz&klic=" + mimeToken + "&co=a%2Cx"}) {
    EXPECT_TRUE(Has(Get(query).Page, kForeign)) << query;
  }
  EXPECT_EQ(GetInt("MIME num"), 2);
  ExpectPage(Get("action=mime&subaction=smaz&klic=" + bToken + "&co=b%2Cy"));
  EXPECT_EQ(GetInt("MIME num"), 1);
  EXPECT_EQ(GetString("MIME 1"), "a,x");
}

TEST_F(AdminPages, TheKeyIsPrivateAndAKeyOthersMayReadIsNotUsed) {
  const std::string token = FormToken(Get("action=mime").Page);
  const std::string path = KeyFilePath("admin.key");
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, 32);

  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  const TResult readable = Post("action=mime&subaction=add", "klic=" + token + "&ext=e&typ=t");
  ::chmod(path.c_str(), 0600);
  ExpectPage(readable);
  EXPECT_TRUE(Has(readable.Page, "Klíč administrace nelze načíst, nic nebylo změněno: " + path +
                                     " may be read by others than its owner"))
      << readable.Page;
  EXPECT_EQ(GetInt("MIME num"), 0);

  // A new key makes the tokens of the old one worthless.
  ASSERT_EQ(::unlink(path.c_str()), 0);
  EXPECT_TRUE(Has(Post("action=mime&subaction=add", "klic=" + token + "&ext=e&typ=t").Page,
                  kForeign));
  EXPECT_EQ(GetInt("MIME num"), 0);
  ExpectPage(Submit("action=mime&subaction=add", "ext=e&typ=t"));
  EXPECT_EQ(GetInt("MIME num"), 1);
}

TEST_F(AdminPages, SettingsFailOnAMissingInteger) {
  DeleteConfigKey();
  SetInt(reg::kPort, 80);  // as the applet writes it: no KeepAlive
  SetInt(reg::kSSLon, 0);
  SetInt(reg::kNewLogFile, 0);
  ExpectFailure(Get("action=nastaveni"), "Failed to get data for 'KeepAlive'");
}

TEST_F(AdminPages, MissingKeyShowsNoFieldsAndSavesNothing) {
  DeleteConfigKey();
  const std::string aliasDelete = "admin.dll?action=zastupci&subaction=smaz&co=x";
  for (const auto& [query, fields] : std::initializer_list<std::pair<std::string, std::string>>{
           {"action=nastaveni&subaction=save", "port=81"},
           {"action=mysql&subaction=save", "host=h"},
           {"action=mime&subaction=add", "ext=a&typ=b"},
           {"action=zastupci&subaction=smaz&klic=" + TAdminKey().Token(aliasDelete) + "&co=x", ""},
           {"action=virtual", ""},
           {"action=interpreti", ""}}) {
    const TResult r = fields.empty() ? Get(query) : Submit(query, fields);
    ExpectPage(r);
    EXPECT_FALSE(Has(r.Page, "VALUE=\"81\"")) << query;
    EXPECT_FALSE(Has(r.Page, "<center><table BORDER CELLSPACING=0>\r\n")) << query;
    EXPECT_FALSE(ConfigKeyExists()) << query << " created the key";
  }
  EXPECT_FALSE(Has(Get("action=nastaveni").Page, "<INPUT TYPE=text"));
  EXPECT_FALSE(Has(Get("action=mysql").Page, "<INPUT TYPE=password"));
}

TEST_F(AdminPages, LogDatabaseSaveAndShow) {
  const TResult r = Submit("action=mysql&subaction=save", "host=db.local&user=tovk&passwd=p%26w");
  ExpectPage(r);
  EXPECT_EQ(GetString(reg::kLogMySQLHost), "db.local");
  EXPECT_EQ(GetString(reg::kLogMySQLUser), "tovk");
  EXPECT_EQ(GetString(reg::kLogMySQLPasswd), "p") << "a decoded & ends the value";
  EXPECT_TRUE(Has(r.Page, "<INPUT TYPE=password NAME=\"passwd\" SIZE=\"45\" VALUE=\"p\">"));
  EXPECT_TRUE(Has(r.Page, "top.browse.location='admin.dll?action=about'"));
}

TEST_F(AdminPages, MimeAddListsTheEntryWithItsDeleteLink) {
  ExpectPage(Submit("action=mime&subaction=add", "ext=htm&typ=text%2Fhtml"));
  const TResult r = Submit("action=mime&subaction=add", "ext=txt&typ=text%2Fplain");
  ExpectPage(r);
  EXPECT_EQ(GetInt("MIME num"), 2);
  EXPECT_EQ(GetString("MIME 1"), "htm,text/html");
  EXPECT_EQ(GetString("MIME 2"), "txt,text/plain");
  EXPECT_TRUE(Has(r.Page,
                  "<tr><td align=center><FONT FACE=\"Arial CE, Veranda\" SIZE=\"-1\">txt"
                  "</td><td align=center><FONT FACE=\"Arial CE, Veranda\" SIZE=\"-1\">text/plain\r\n"
                  "</td><td align=center><FONT FACE=\"Arial CE, Veranda\" SIZE=\"-1\">"
                  "<A HREF=\"admin.dll?action=mime&subaction=smaz&klic="));
  EXPECT_TRUE(Has(r.Page, "&co=txt%2Ctext/plain\">Smaž</A></td></tr>\r\n"));
}

TEST_F(AdminPages, DeleteCompactsAndRemovesEveryEqualEntry) {
  SetList(reg::kMime, {"a,x", "b,y", "a,x"});
  ExpectPage(FollowDeleteLink("mime", "a,x"));
  EXPECT_EQ(GetInt("MIME num"), 1);
  EXPECT_EQ(GetString("MIME 1"), "b,y");
  EXPECT_EQ(GetString("MIME 2"), "b,y") << "values above the count stay as they were";
  EXPECT_EQ(GetString("MIME 3"), "a,x");

  SetList(reg::kApp, {"pl,c:\\perl.exe", "shtml,TOVK/SSI", "cgi,TOVK/EXEC"});
  ExpectPage(FollowDeleteLink("interpreti", "shtml,TOVK/SSI"));
  EXPECT_EQ(GetInt("App num"), 2);
  EXPECT_EQ(GetString("App 1"), "pl,c:\\perl.exe");
  EXPECT_EQ(GetString("App 2"), "cgi,TOVK/EXEC");

  const std::string upper = "admin.dll?action=interpreti&subaction=smaz&co=PL%2Cc%3A%5Cperl.exe";
  ExpectPage(Get(upper.substr(upper.find('?') + 1) + "&klic=" + TAdminKey().Token(upper)));
  EXPECT_EQ(GetInt("App num"), 2) << "the comparison is case-sensitive";
}

TEST_F(AdminPages, AliasAddNormalisesAndItsDeleteLinkDeletesExactlyIt) {
  SetList(reg::kAlias, {"* (HTTP),/,c:\\www\\"});
  ExpectPage(Submit("action=zastupci&subaction=add", "co=%2Fcgi&svr=*+%28HTTP%29&cim=c%3A%5Ccgi"));
  EXPECT_EQ(GetInt("Alias num"), 2);
  EXPECT_EQ(GetString("Alias 2"), "* (HTTP),/cgi/,c:\\cgi\\");

  const TResult list = Get("action=zastupci");
  ExpectPage(list);
  ASSERT_TRUE(Has(list.Page, "&co=%2A+%28HTTP%29%2C/cgi/%2Cc%3A%5Ccgi%5C\">Smaž</A>")) << list.Page;
  EXPECT_TRUE(Has(list.Page, "SIZE=\"-1\">* (HTTP)</td><td align=center><FONT FACE=\"Arial CE, "
                             "Veranda\" SIZE=\"-1\">/cgi/\r\n"));

  ExpectPage(FollowDeleteLink("zastupci", "* (HTTP),/cgi/,c:\\cgi\\"));
  EXPECT_EQ(GetInt("Alias num"), 1);
  EXPECT_EQ(GetString("Alias 1"), "* (HTTP),/,c:\\www\\");
}

TEST_F(AdminPages, AliasServerChoiceComesFromTheVirtualServers) {
  SetList(reg::kVirt, {"*,HTTP", "server1,HTTPS"});
  const TResult r = Get("action=zastupci");
  ExpectPage(r);
  EXPECT_TRUE(Has(r.Page,
                  "<SELECT name=svr size=1>\r\n<OPTION value=\"* (HTTP)\">* (HTTP)\r\n"
                  "<OPTION value=\"server1 (HTTPS)\">server1 (HTTPS)\r\n</SELECT>\r\n"));
  EXPECT_TRUE(Has(r.Page, "top.browse.location='admin.dll?action=browse&kam=cim'"));
  SetList(reg::kVirt, {});
  EXPECT_TRUE(Has(Get("action=zastupci").Page, "<SELECT name=svr size=1>\r\n</SELECT>\r\n"));
}

TEST_F(AdminPages, VirtualAndInterpreterPagesAddTheirEntries) {
  ExpectPage(Submit("action=virtual&subaction=add", "name=www.example&typ=HTTPS"));
  EXPECT_EQ(GetInt("Virt num"), 2);
  EXPECT_EQ(GetString("Virt 2"), "www.example,HTTPS");
  const TResult app = Submit("action=interpreti&subaction=add", "ext=pl&app=c%3A%5Cperl.exe");
  ExpectPage(app);
  EXPECT_EQ(GetString("App 1"), "pl,c:\\perl.exe");
  EXPECT_TRUE(Has(app.Page, "<INPUT TYPE=text NAME=\"app\" SIZE=\"30\" VALUE=\"c:\\*.exe\">"));
  EXPECT_TRUE(Has(app.Page, "top.browse.location='admin.dll?action=browse&kam=app&files=1'"));
}

TEST_F(AdminPages, CountsAreSixteenBitAndAMissingCountFails) {
  SetInt("MIME num", 65536 + 1);
  SetString("MIME 1", "a,b");
  SetString("MIME 2", "c,d");
  const TResult r = Get("action=mime");
  ExpectPage(r);
  EXPECT_TRUE(Has(r.Page, "co=a%2Cb\""));
  EXPECT_FALSE(Has(r.Page, "co=c%2Cd\""));

  DeleteConfigKey();
  CreateConfigKey();
  ExpectFailure(Get("action=mime"), "Failed to get data for 'MIME num'");
  ExpectFailure(Post("action=virtual&subaction=add",
                     std::string("klic=") + TAdminKey().Token("admin.dll?action=virtual&subaction=add") +
                         "&name=a&typ=HTTP"));
  EXPECT_FALSE(HasValue("Virt 1"));
}

TEST_F(AdminPages, AddsThatWouldNotReadBackOrOverflowTheCountAreRefused) {
  SetList(reg::kVirt, {"*,HTTP"});
  const TResult comma = Submit("action=virtual&subaction=add", "name=evil%2CHTTPS&typ=HTTP");
  ExpectPage(comma);
  EXPECT_TRUE(Has(comma.Page, "nic nebylo přidáno"));
  ExpectPage(Submit("action=zastupci&subaction=add", "co=%2Fa%2Cb&svr=*+%28HTTP%29&cim=c%3A%5Cx"));
  EXPECT_EQ(GetInt("Virt num"), 1);
  EXPECT_EQ(GetInt("Alias num"), 0);

  SetInt("MIME num", 65535);
  ExpectPage(Submit("action=mime&subaction=add", "ext=htm&typ=text%2Fhtml"));
  EXPECT_EQ(GetInt("MIME num"), 65535) << "a full list keeps its count instead of wrapping to 0";
  EXPECT_FALSE(HasValue("MIME 65536"));
}

class AdminBrowse : public AdminPages {
 protected:
  void SetUp() override {
    AdminPages::SetUp();
    tovktest::MakeDirs(Dir / "alpha");
    tovktest::MakeDirs(Dir / "beta");
    tovktest::MakeDirs(Dir / ".hidden");
    tovktest::WriteFile(Dir / "a.txt", "a");
    tovktest::WriteFile(Dir / ".dot", "d");
    Root = ToSystemPath(Dir.Path()) + "\\";
  }
  tovktest::TempDir Dir;
  std::string Root;  // the directory in the system's form, with its "\"
};

TEST_F(AdminBrowse, ListsDirectoriesAndPassesItsFieldsOn) {
  const TResult r = Get("action=browse&bpath=" + Root);
  ExpectPage(r);
  EXPECT_TRUE(Has(r.Page, "<center>Aktuelní adresář:<BR>\r\n" + Root + "<BR>\r\n<HR>\r\n"));
  EXPECT_TRUE(Has(r.Page, "<OPTION VALUE=\"alpha\">alpha\r\n"));
  EXPECT_TRUE(Has(r.Page, "<OPTION VALUE=\"beta\">beta\r\n"));
  EXPECT_TRUE(Has(r.Page, "<OPTION VALUE=\"..\">..\r\n"));
  EXPECT_FALSE(Has(r.Page, "VALUE=\".\">"));
  EXPECT_FALSE(Has(r.Page, ".hidden"));
  EXPECT_FALSE(Has(r.Page, "a.txt")) << "no file list without files=1";
  EXPECT_TRUE(Has(r.Page, "<INPUT TYPE=hidden NAME=\"add\" VALUE=\"<NoDaTa>\">"));
  EXPECT_TRUE(Has(r.Page, "<INPUT TYPE=hidden NAME=\"files\" VALUE=\"<NoDaTa>\">"));
  EXPECT_FALSE(Has(r.Page, "<SCRIPT")) << "no script without kam";
}

TEST_F(AdminBrowse, FileListAndTheScriptThatFillsTheEditFrame) {
  const TResult r =
      Post("action=browse", "bpath=" + URLEncode(Root) + "&kam=app&files=1&add=a.txt");
  ExpectPage(r);
  EXPECT_TRUE(Has(r.Page, "<SELECT name=add size=10>\r\n<OPTION VALUE=\"a.txt\">a.txt\r\n</SELECT>"));
  std::string doubled;
  for (char c : Root) doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_TRUE(Has(r.Page, "top.edit.document.nast.app.value='" + doubled + "a.txt';\r\n"));
}

TEST_F(AdminBrowse, GotoMovesBetweenDirectories) {
  const TResult down = Get("action=browse&bpath=" + Root + "&goto=alpha");
  EXPECT_TRUE(Has(down.Page, "<BR>\r\n" + Root + "alpha\\<BR>\r\n"));
  const TResult up = Get("action=browse&bpath=" + Root + "alpha&goto=..");
  EXPECT_TRUE(Has(up.Page, "<BR>\r\n" + Root + "<BR>\r\n"));
  const TResult start = Get("action=browse");
  EXPECT_TRUE(Has(start.Page, "<BR>\r\n" + ProgramDirectory() + "<BR>\r\n"));
}

TEST_F(AdminBrowse, RequestStoredAndFileTextComesBackInert) {
  const std::string tag = "\"><img src=x onerror=alert(1)>";
  const std::string add = "'</script><script>alert(2)</script>";
  const TResult r = Get("action=browse&kam=ProtFile&files=1&bpath=" + URLEncode(Root + tag) +
                        "&add=" + URLEncode(add));
  ExpectPage(r);
  const std::string path = Root + tag + "\\";
  EXPECT_TRUE(Has(r.Page, "<BR>\r\n" + HtmlText(path) + "<BR>\r\n"));
  EXPECT_TRUE(Has(r.Page, "&lt;img src=x onerror=alert(1)&gt;\\<BR>"));
  EXPECT_TRUE(Has(r.Page, "<INPUT TYPE=hidden NAME=\"bpath\" VALUE=\"" + Root +
                              "&quot;><img src=x onerror=alert(1)>\\\">"));
  std::string doubled;
  for (char c : Root) doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_TRUE(Has(r.Page, "top.edit.document.nast.ProtFile.value='" + doubled +
                              "\\\"\\x3E\\x3Cimg src=x onerror=alert(1)\\x3E\\\\"
                              "\\'\\x3C/script\\x3E\\x3Cscript\\x3Ealert(2)\\x3C/script\\x3E';\r\n"))
      << r.Page;
  EXPECT_FALSE(Has(r.Page, "\"><img")) << "no attribute is left early";
  EXPECT_TRUE(Has(r.Page, "NAME=\"add\" VALUE=\"" + add + "\">")) << "quoted, so inert";

  // A field name that is not a plain name gets no script at all.
  const TResult kam = Get("action=browse&bpath=" + Root + "&kam=" + URLEncode("x;alert(3)//") +
                          "&goto=" + URLEncode(tag));
  ExpectPage(kam);
  EXPECT_FALSE(Has(kam.Page, "<SCRIPT"));
  EXPECT_FALSE(Has(kam.Page, "\"><img"));

  // File names and stored values are text from elsewhere as well.
  tovktest::MakeDirs(Dir / "<i>d\"");
  EXPECT_TRUE(Has(Get("action=browse&bpath=" + Root).Page,
                  "<OPTION VALUE=\"<i>d&quot;\">&lt;i&gt;d\"\r\n"));
  SetList(reg::kMime, {"<b>x,\"q\"&<i>"});
  SetList(reg::kVirt, {"<v>,HTTP"});
  SetString(reg::kDefaultHTML, "\"><b>");
  EXPECT_TRUE(Has(Get("action=mime").Page, "SIZE=\"-1\">&lt;b&gt;x</td>"));
  EXPECT_TRUE(Has(Get("action=mime").Page, "SIZE=\"-1\">\"q\"&amp;&lt;i&gt;\r\n"));
  EXPECT_TRUE(Has(Get("action=zastupci").Page,
                  "<OPTION value=\"<v> (HTTP)\">&lt;v&gt; (HTTP)\r\n"));
  EXPECT_TRUE(Has(Get("action=nastaveni").Page, "NAME=\"DefDoc\" SIZE=\"45\" VALUE=\"&quot;><b>\">"));
  EXPECT_TRUE(Has(Submit("action=nastaveni&subaction=save", "port=%3Cb%3E").Page,
                  "\"&lt;b&gt;\" není číslo!!!<BR>"));
}

TEST_F(AdminBrowse, UnsearchableDirectoryStillWritesFormAndScript) {
  const TResult r = Get("action=browse&kam=ProtFile&bpath=c%3A%5Cno-such-logs%5C");
  ExpectPage(r);
  EXPECT_TRUE(Has(r.Page, "<SELECT name=goto size=10>\r\n</SELECT>\r\n"));
  EXPECT_TRUE(Has(r.Page, "top.edit.document.nast.ProtFile.value='c:\\\\no-such-logs\\\\';\r\n"));
}
