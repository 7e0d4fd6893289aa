#include "admin/AdminPages.h"

#include <cstdint>
#include <vector>

#include "admin/AdminToken.h"
#include "admin/tisapireplyU.h"
#include "common/IntText.h"
#include "common/ListEntry.h"
#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "platform/FileSearch.h"
#include "platform/Paths.h"

namespace {

// The mark-up pieces every page shares.
constexpr const char* kTableStart = "<center><table BORDER CELLSPACING=0>";
constexpr const char* kCellFont = "<FONT FACE=\"Arial CE, Veranda\" SIZE=\"-1\">";
constexpr const char* kRowStart = "<tr><td align=center>";
constexpr const char* kCellSeparator = "</td><td align=center>";
constexpr const char* kRowEnd = "</td></tr>";
constexpr const char* kLastHeading =
    "</td><td bgcolor=#FFCC00 align=center><B>Smazat</B></td></tr>";
constexpr const char* kClosingLabel =
    "</td></tr><tr><td bgcolor=#FFCC00><FONT FACE=\"Arial CE, Veranda\" SIZE=\"-1\"><b>Pokud je "
    "vše vyplňeno, uložte data.</b></font></td></tr><tr><td align=center>";
constexpr const char* kFormTableEnd = "</tr></td></table>";
constexpr const char* kAboutUrl = "admin.dll?action=about";
constexpr const char* kSettingsForm = "admin.dll?action=nastaveni&subaction=save";
constexpr const char* kLogDatabaseForm = "admin.dll?action=mysql&subaction=save";

// The Windows number of the system attribute; the platform's search header
// names only the bits it sets itself.
constexpr uint32_t kFileAttributeSystem = 0x04;
// The second part of a two-part list entry is shown cut to this length, as
// the server itself uses no more of it.
constexpr std::size_t kSecondPartShown = 100;

std::string HeadingFirst(const std::string& title) {
  return "<tr><td bgcolor=#FFCC00 align=center><B>" + title + "</B>";
}
std::string HeadingFurther(const std::string& title) {
  return "</td><td bgcolor=#FFCC00 align=center><B>" + title + "</B>";
}
std::string LabelFirst(const std::string& label) {
  return "<tr><td bgcolor=#FFCC00><FONT FACE=\"Arial CE, Veranda\" SIZE=\"-1\"><b>" + label +
         "</b></font></td></tr><tr><td>";
}
std::string LabelFurther(const std::string& label) {
  return "</td></tr><tr><td bgcolor=#FFCC00><FONT FACE=\"Arial CE, Veranda\" SIZE=\"-1\"><b>" +
         label + "</b></font></td></tr><tr><td>";
}

void PickerScript(TISAPIReply& reply, const std::string& url) {
  reply.AddLine("<SCRIPT>");
  reply.AddLine("top.browse.location='" + url + "'");
  reply.AddLine("</SCRIPT>");
}

bool Present(const std::string& field) { return field != kNoData; }

constexpr const char* kRefusedForeign =
    "Požadavek nepřišel ze stránek administrace serveru, nic nebylo změněno.";
constexpr const char* kRefusedNoKey = "Klíč administrace nelze načíst, nic nebylo změněno: ";

void Refusal(TISAPIReply& reply, const std::string& text) {
  reply.AddBreakLine("<B><FONT COLOR=red>" + text + "</FONT></B>");
}

// A change goes ahead only with the token the pages gave out for exactly
// that change (`what`). Otherwise the page says why at its top and the
// handler goes on to show the current state, changing nothing.
bool ChangeAllowed(TISAPIReply& reply, const TAdminKey& key, const std::string& what) {
  if (!key.Loaded()) {
    Refusal(reply, kRefusedNoKey + HtmlText(key.Problem()));
    return false;
  }
  if (key.Accepts(what, reply.GetField(kTokenField))) return true;
  Refusal(reply, kRefusedForeign);
  return false;
}

// Every editing form is named "nast" and posts to `action`; its token is the
// first field, ahead of anything typed into the form.
void BeginChangeForm(TISAPIReply& reply, const TAdminKey& key, const std::string& action) {
  reply.BeginForm(action, "POST", "nast");
  reply.AddHidden(kTokenField, key.Token(action));
}

// The configuration key, opened without creation by a registry object of its
// own, and closed again however the page ends.
class TConfigKey {
 public:
  TConfigKey() {
    Reg.SetRootKey(HKEY_LOCAL_MACHINE);
    Open = Reg.OpenKey(reg::kEditorKey, false);
  }
  ~TConfigKey() {
    if (Open) Reg.CloseKey();
  }
  TConfigKey(const TConfigKey&) = delete;
  TConfigKey& operator=(const TConfigKey&) = delete;

  TNTRegistry Reg;
  bool Open = false;
};

// Adding writes the raised count first, then the new entry under it. A full
// list takes no more (a count past 16 bits would read back as a short list),
// and fields that would not read back as they were sent are not stored.
constexpr const char* kRefusedFull = "Seznam je plný, nic nebylo přidáno.";
constexpr const char* kRefusedComma =
    "Čárka odděluje části záznamu, v této části být nemůže; nic nebylo přidáno.";

void AddEntry(TISAPIReply& reply, const char* word, bool formed, const std::string& entry) {
  if (!formed) {
    Refusal(reply, kRefusedComma);
    return;
  }
  TConfigKey key;
  if (!key.Open) return;
  const int32_t n = listentry::ReadCount(key.Reg, word);
  if (n >= listentry::kMaxListEntries) {
    Refusal(reply, kRefusedFull);
    return;
  }
  listentry::WriteCount(key.Reg, word, n + 1);
  key.Reg.WriteString(reg::EntryName(word, n + 1), entry);
}

// Every entry equal to the target goes (duplicates too); the others move down
// in their order. Values above the new count stay in the key, uncounted.
void DeleteEntries(const char* word, const std::string& target) {
  TConfigKey key;
  if (!key.Open) return;
  const std::vector<std::string> entries = listentry::ReadList(key.Reg, word);
  int kept = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i] == target) continue;
    ++kept;
    if (static_cast<std::size_t>(kept) <= i)  // it moves down from number i + 1
      key.Reg.WriteString(reg::EntryName(word, kept), entries[i]);
  }
  listentry::WriteCount(key.Reg, word, kept);
}

// What a delete link does, as its token is made and checked.
std::string DeleteRequest(const char* action, const std::string& entry) {
  return std::string("admin.dll?action=") + action + "&subaction=smaz&co=" + URLEncode(entry);
}

// The token stands before "co", whose value is stored text and may itself
// hold "klic=".
std::string DeleteLink(const TAdminKey& key, const char* action, const std::string& entry) {
  return std::string("admin.dll?action=") + action + "&subaction=smaz&" + kTokenField + "=" +
         key.Token(DeleteRequest(action, entry)) + "&co=" + URLEncode(entry);
}

std::string AddRequest(const char* action) {
  return std::string("admin.dll?action=") + action + "&subaction=add";
}

// The add or delete that the request asks for, when its token allows it.
enum class TListChange { None, Add, Delete };
TListChange RequestedListChange(TISAPIReply& reply, const TAdminKey& key, const char* action) {
  const std::string subaction = reply.GetField("subaction");
  if (subaction == "add") {
    return ChangeAllowed(reply, key, AddRequest(action)) ? TListChange::Add : TListChange::None;
  }
  if (subaction == "smaz") {
    return ChangeAllowed(reply, key, DeleteRequest(action, reply.GetField("co")))
               ? TListChange::Delete
               : TListChange::None;
  }
  return TListChange::None;
}

// What differs between the three two-part list pages.
struct TListPage {
  const char* Action;
  const char* Word;
  const char* FirstField;
  const char* SecondField;
  const char* FirstHeading;
  const char* SecondHeading;
  void (*Inputs)(TISAPIReply&);
  const char* PickerUrl;
};

void TwoPartListPage(TISAPIReply& reply, const TListPage& page) {
  const TAdminKey adminKey;
  const TListChange change = RequestedListChange(reply, adminKey, page.Action);
  if (change == TListChange::Add) {
    std::string entry;
    const bool formed = listentry::FormatPair(
        {reply.GetField(page.FirstField), reply.GetField(page.SecondField)}, entry);
    AddEntry(reply, page.Word, formed, entry);
  } else if (change == TListChange::Delete) {
    DeleteEntries(page.Word, reply.GetField("co"));
  }

  {
    TConfigKey key;
    if (key.Open) {
      reply.AddBreak();
      reply.AddLine(kTableStart);
      reply.Add(HeadingFirst(page.FirstHeading));
      reply.Add(HeadingFurther(page.SecondHeading));
      reply.Add(kLastHeading);
      for (const std::string& entry : listentry::ReadList(key.Reg, page.Word)) {
        const listentry::TPair pair = listentry::ParsePair(entry);
        reply.Add(kRowStart);
        reply.Add(kCellFont);
        reply.Add(HtmlText(pair.First));
        reply.Add(kCellSeparator);
        reply.Add(kCellFont);
        reply.AddLine(HtmlText(pair.Second.substr(0, kSecondPartShown)));
        reply.Add(kCellSeparator);
        reply.Add(kCellFont);
        reply.AddLink(DeleteLink(adminKey, page.Action, entry), "Smaž");
        reply.AddLine(kRowEnd);
      }
      reply.Add("</table>");
      reply.AddLine("</center>");
    }
  }

  reply.AddBreak();
  BeginChangeForm(reply, adminKey, AddRequest(page.Action));
  reply.Add(kTableStart);
  reply.Add(HeadingFirst(page.FirstHeading));
  reply.AddLine(std::string("</td><td bgcolor=#FFCC00 align=center><B>") + page.SecondHeading +
                "</B></td></tr>");
  reply.Add(kRowStart);
  page.Inputs(reply);
  reply.AddLine(kRowEnd);
  reply.Add("</table>");
  reply.AddSubmit("Přidej záznam");
  reply.AddLine("</center>");
  reply.EndForm();
  PickerScript(reply, page.PickerUrl);
}

void MimeInputs(TISAPIReply& reply) {
  reply.AddTextInput("ext", 5, "");
  reply.Add("</td><td>");
  reply.AddTextInput("typ", 30, "application/");
}

void VirtualInputs(TISAPIReply& reply) {
  reply.AddTextInput("name", 30, "www.");
  reply.Add(kCellSeparator);
  reply.AddLine("<SELECT name=typ size=1>");
  reply.AddLine("<OPTION value=HTTP>HTTP server");
  reply.AddLine("<OPTION value=HTTPS>HTTPS server");
  reply.AddLine("</SELECT>");
}

void InterpreterInputs(TISAPIReply& reply) {
  reply.AddTextInput("ext", 5, "");
  reply.Add(kCellSeparator);
  reply.AddTextInput("app", 30, "c:\\*.exe");
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string WithTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

// Up to and including the last "\" or ":"; empty when there is neither.
std::string DirectoryPart(const std::string& path) {
  const std::size_t last = path.find_last_of("\\:");
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// A script identifier of ASCII letters, digits and "_", not starting with a
// digit.
bool IsPlainName(const std::string& text) {
  if (text.empty() || (text[0] >= '0' && text[0] <= '9')) return false;
  for (const char c : text) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

// One level of a browse listing: the entries of `directory` that `keep`
// accepts, each as an option of the open SELECT. A directory that cannot be
// searched lists nothing.
template <typename Keep>
void ListOptions(TISAPIReply& reply, const std::string& directory, Keep keep) {
  TFileSearch search;
  TSearchRec found;
  if (search.FindFirst(directory + "*.*", found)) {
    do {
      if (keep(found)) {
        reply.AddLine("<OPTION VALUE=\"" + HtmlAttribute(found.Name) + "\">" +
                      HtmlText(found.Name));
      }
    } while (search.FindNext(found));
  }
  search.Close();
}

}  // namespace

bool ParseInteger(const std::string& text, int32_t& value) { return ParseInt32(text, value); }

// Linux has a single file tree and no drives, so the picker offers no drive
// list: the tree's root shows as "\" (the program directory comes as
// "\usr\...\", without a letter), and ".." stops there. A path that does name
// a drive ("c:\logs\" from a stored setting) keeps its letter, its ".." stops
// at "c:\", and the platform maps the letter through $TOVK_DRIVE_C when the
// directory is searched.
std::string FullPathName(const std::string& path) {
  std::string root = "\\";
  std::string rest = path;
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
    // "c:x" has no per-drive current directory here; it is taken from the root.
    root = path.substr(0, 2) + "\\";
    rest = path.substr(2);
  } else if (path.empty() || !IsPathSeparator(path[0])) {
    rest = ProgramDirectory() + path;
  }
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&]() {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (const char c : rest) {
    if (IsPathSeparator(c)) {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  std::string full = root;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) full += '\\';
    full += parts[i];
  }
  return full;
}

void SettingsPage(TISAPIReply& reply) {
  const TAdminKey adminKey;
  if (reply.GetField("subaction") == "save" && ChangeAllowed(reply, adminKey, kSettingsForm)) {
    const std::string portText = reply.GetField("port");
    int32_t port = 0;
    if (!ParseInteger(portText, port)) {
      reply.AddBreakLine("\"" + HtmlText(portText) + "\" není číslo!!!");
      return;
    }
    TConfigKey key;
    if (key.Open) {
      key.Reg.WriteInteger(reg::kPort, static_cast<uint16_t>(port));
      key.Reg.WriteString(reg::kDefaultHTML, reply.GetField("DefDoc"));
      key.Reg.WriteString(reg::kProtFile, reply.GetField("ProtFile"));
      key.Reg.WriteInteger(reg::kSSLon, reply.GetField("SSL") == "1" ? 1 : 0);
      key.Reg.WriteInteger(reg::kNewLogFile, reply.GetField("NewLogFile") == "1" ? 1 : 0);
      key.Reg.WriteInteger(reg::kKeepAlive, reply.GetField("KeepAlive") == "1" ? 1 : 0);
    }
  }

  BeginChangeForm(reply, adminKey, kSettingsForm);
  std::string protFile;
  {
    TConfigKey key;
    if (key.Open) {
      reply.AddBreak();
      reply.AddLine(kTableStart);
      reply.Add(LabelFirst("Port Serveru:"));
      reply.AddTextInput("Port", 5, std::to_string(key.Reg.ReadInteger(reg::kPort)));
      reply.Add(LabelFurther("Stadartní dokumenty:"));
      reply.AddTextInput("DefDoc", 45, key.Reg.ReadString(reg::kDefaultHTML));
      reply.Add(LabelFurther("Adresář pro protokolovací soubory:"));
      protFile = key.Reg.ReadString(reg::kProtFile);
      reply.AddTextInput("ProtFile", 45, protFile);
      reply.Add(LabelFurther("Ostatní nastavení"));

      struct CheckBox {
        const char* Opening;
        const char* Value;
        const char* Caption;
        bool LastOne;
      };
      static const CheckBox kBoxes[] = {
          {"<INPUT TYPE=CHECKBOX name=SSL value=1", reg::kSSLon,
           " Používat bezpečné (HTTPS) servery", false},
          {"<INPUT TYPE=CHECKBOX name=NewLogFile value=1", reg::kNewLogFile,
           " Založ vždy nový protokolovací soubor", false},
          {"<INPUT TYPE=CHECKBOX name=KeepAlive value=1", reg::kKeepAlive,
           " Používej perzistetní spojení (Keep-Alive)", true},
      };
      for (const CheckBox& box : kBoxes) {
        reply.Add(box.Opening);
        const std::string rest =
            std::string(key.Reg.ReadInteger(box.Value) == 1 ? " CHECKED>" : ">") + box.Caption;
        if (box.LastOne) {
          reply.AddLine(rest);
        } else {
          reply.AddBreakLine(rest);
        }
      }
      reply.Add(kClosingLabel);
      reply.AddSubmit("Ulož data");
      reply.Add(kFormTableEnd);
      reply.AddLine("</center>");
    }
  }
  PickerScript(reply, "admin.dll?action=browse&kam=ProtFile&bpath=" +
                          URLEncode(DirectoryPart(protFile)));
  reply.EndForm();
}

void LogDatabasePage(TISAPIReply& reply) {
  const TAdminKey adminKey;
  if (reply.GetField("subaction") == "save" && ChangeAllowed(reply, adminKey, kLogDatabaseForm)) {
    TConfigKey key;
    if (key.Open) {
      key.Reg.WriteString(reg::kLogMySQLHost, reply.GetField("host"));
      key.Reg.WriteString(reg::kLogMySQLUser, reply.GetField("user"));
      key.Reg.WriteString(reg::kLogMySQLPasswd, reply.GetField("passwd"));
    }
  }

  BeginChangeForm(reply, adminKey, kLogDatabaseForm);
  {
    TConfigKey key;
    if (key.Open) {
      reply.AddBreak();
      reply.AddLine(kTableStart);
      reply.Add(LabelFirst("IP Adresa (nebo jmeno) MySQL serveru:"));
      reply.AddTextInput("host", 45, key.Reg.ReadString(reg::kLogMySQLHost));
      reply.Add(LabelFurther("Jméno pod kterým se přihlásit:"));
      reply.AddTextInput("user", 45, key.Reg.ReadString(reg::kLogMySQLUser));
      reply.Add(LabelFurther("Heslo pro přihlášení:"));
      reply.AddPasswordInput("passwd", 45, key.Reg.ReadString(reg::kLogMySQLPasswd));
      reply.Add(kClosingLabel);
      reply.AddSubmit("Ulož data");
      reply.Add(kFormTableEnd);
      reply.AddLine("</center>");
    }
  }
  PickerScript(reply, kAboutUrl);
  reply.EndForm();
}

void BrowsePage(TISAPIReply& reply) {
  std::string path = reply.GetField("bpath");
  if (!Present(path)) path = ProgramDirectory();
  path = WithTrailingBackslash(path);
  const std::string go = reply.GetField("goto");
  if (Present(go)) path += go;
  path = WithTrailingBackslash(FullPathName(path));

  const std::string add = reply.GetField("add");
  const std::string kam = reply.GetField("kam");
  const std::string files = reply.GetField("files");

  reply.BeginForm("admin.dll?action=browse", "POST", "brdir");
  reply.AddBreakLine("<center>Aktuelní adresář:");
  reply.AddBreakLine(HtmlText(path));
  reply.AddRule();
  reply.AddLine("<SELECT name=goto size=10>");
  ListOptions(reply, path, [](const TSearchRec& entry) {
    if ((entry.Attributes & (FILE_ATTRIBUTE_HIDDEN | kFileAttributeSystem)) != 0) return false;
    return (entry.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && entry.Name != ".";
  });
  reply.AddLine("</SELECT>");
  reply.AddHidden("bpath", path);
  reply.AddHidden("add", add);
  reply.AddHidden("kam", kam);
  reply.AddHidden("files", files);
  reply.AddBreak();
  reply.AddSubmit("Změň adresář");
  reply.AddRule();
  reply.AddLine("</center>");
  reply.EndForm();

  // The field name stands in the script as a name, where no escape helps:
  // the pages only ever ask for plain names, so anything else gets no script.
  if (Present(kam) && IsPlainName(kam)) {
    const std::string value = ScriptString(path + (Present(add) ? add : ""));
    reply.AddLine("<SCRIPT LANGUAGE=\"JavaScript\">");
    reply.AddLine("top.edit.document.nast." + kam + ".value='" + value + "';");
    reply.AddLine("</SCRIPT>");
  }
  if (files != "1") return;

  reply.BeginForm("admin.dll?action=browse", "POST", "brdir");
  reply.AddHidden("bpath", path);
  reply.AddHidden("kam", kam);
  reply.AddHidden("files", "1");
  reply.AddBreakLine("<center>Soubory:");
  reply.AddLine("<SELECT name=add size=10>");
  ListOptions(reply, path, [](const TSearchRec& entry) {
    return (entry.Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !entry.Name.empty() &&
           entry.Name[0] != '.';
  });
  reply.AddLine("</SELECT>");
  reply.AddBreak();
  reply.AddSubmit("Vyber soubor");
  reply.AddRule();
  reply.AddLine("</center>");
  reply.EndForm();
}

void MimeListPage(TISAPIReply& reply) {
  static const TListPage kPage = {"mime", reg::kMime, "ext", "typ", "Přípona", "Mime typ",
                                  MimeInputs, kAboutUrl};
  TwoPartListPage(reply, kPage);
}

void VirtualListPage(TISAPIReply& reply) {
  static const TListPage kPage = {"virtual", reg::kVirt, "name", "typ", "Jméno serveru", "Typ",
                                  VirtualInputs, kAboutUrl};
  TwoPartListPage(reply, kPage);
}

void InterpreterListPage(TISAPIReply& reply) {
  static const TListPage kPage = {"interpreti", reg::kApp, "ext", "app", "Přípona", "Aplikace",
                                  InterpreterInputs, "admin.dll?action=browse&kam=app&files=1"};
  TwoPartListPage(reply, kPage);
}

void AliasListPage(TISAPIReply& reply) {
  const TAdminKey adminKey;
  const TListChange change = RequestedListChange(reply, adminKey, "zastupci");
  if (change == TListChange::Add) {
    std::string co = reply.GetField("co");
    std::string cim = reply.GetField("cim");
    if (!co.empty() && co.back() != '/') co += '/';
    cim = WithTrailingBackslash(cim);
    std::string entry;
    const bool formed = listentry::FormatAlias({reply.GetField("svr"), co, cim}, entry);
    AddEntry(reply, reg::kAlias, formed, entry);
  } else if (change == TListChange::Delete) {
    DeleteEntries(reg::kAlias, reply.GetField("co"));
  }

  {
    TConfigKey key;
    if (key.Open) {
      reply.AddBreak();
      reply.AddLine(kTableStart);
      reply.Add(HeadingFirst("Server"));
      reply.Add(HeadingFurther("Co"));
      reply.Add(HeadingFurther("Čím zastoupit"));
      reply.Add(kLastHeading);
      for (const std::string& entry : listentry::ReadList(key.Reg, reg::kAlias)) {
        const listentry::TAlias alias = listentry::ParseAlias(entry);
        reply.Add(kRowStart);
        reply.Add(kCellFont);
        reply.Add(HtmlText(alias.Server));
        reply.Add(kCellSeparator);
        reply.Add(kCellFont);
        reply.AddLine(HtmlText(alias.Prefix));
        reply.Add(kCellSeparator);
        reply.Add(kCellFont);
        reply.AddLine(HtmlText(alias.Directory));
        reply.Add(kCellSeparator);
        reply.Add(kCellFont);
        reply.AddLink(DeleteLink(adminKey, "zastupci", entry), "Smaž");
        reply.AddLine(kRowEnd);
      }
      reply.Add("</table>");
      reply.AddLine("</center>");
    }
  }

  reply.AddBreak();
  BeginChangeForm(reply, adminKey, AddRequest("zastupci"));
  reply.Add("<center><table><tr><td><table BORDER CELLSPACING=0 width=\"100%\">");
  reply.Add("<tr><td bgcolor=#FFCC00 align=center><B>Co zastoupit</B>");
  reply.AddLine("</td><td bgcolor=#FFCC00 align=center><B>Jméno serveru</B></td></tr>");
  reply.Add(kRowStart);
  reply.AddTextInput("co", 22, "");
  reply.Add(kCellSeparator);
  reply.AddLine("<SELECT name=svr size=1>");
  {
    TConfigKey key;
    if (key.Open) {
      for (const std::string& entry : listentry::ReadList(key.Reg, reg::kVirt)) {
        const listentry::TPair server = listentry::ParsePair(entry);
        const std::string option =
            listentry::AliasServer(server.First, server.Second.substr(0, kSecondPartShown));
        reply.AddLine("<OPTION value=\"" + HtmlAttribute(option) + "\">" + HtmlText(option));
      }
    }
  }
  reply.AddLine("</SELECT>");
  reply.AddLine(kRowEnd);
  reply.Add("</table></td></tr><tr><td><table BORDER CELLSPACING=0 width=\"100%\">");
  reply.AddLine("<tr><td bgcolor=#FFCC00 align=center><B>Čím zastoupit</B></td></tr>");
  reply.Add(kRowStart);
  reply.AddTextInput("cim", 40, "");
  reply.Add("</td></tr></table></td></tr></table>");
  reply.AddSubmit("Přidej záznam");
  reply.AddLine("</center>");
  reply.EndForm();
  PickerScript(reply, "admin.dll?action=browse&kam=cim");
}
