#include "admin/AdminMain.h"

#include "admin/AdminPages.h"
#include "admin/AdminRequest.h"
#include "admin/tisapireplyU.h"

namespace {

constexpr const char* kTitle = "Administrace Quillon Web Serveru";
constexpr const char* kMenuFont = "<FONT FACE=\"Tahoma,Verdana,Helvetica,Helv,Arial\" SIZE=\"-1\">";

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

void MenuPage(TISAPIReply& reply) {
  reply.AddLine("<SCRIPT LANGUAGE=JAVASCRIPT><!--");
  reply.AddLine("function openWindow(url, help) {");
  reply.AddLine(
      "        popupWin = window.open(url, help, \"width=450,height=400,top=100,left=300,"
      "alwaysRaised=yes,toolbar=0,directories=0,menubar=0,status=1,resizable=yes,location=0,"
      "scrollbars=1,copyhistory=0\");");
  reply.AddLine("}");
  reply.AddLine("//--></SCRIPT>");
  reply.AddLine("<CENTER>");
  reply.AddHeading(
      2, "<FONT FACE=\"Tahoma,Verdana,Helvetica,Helv,Arial\">Administrace Quillon Web Serveru</FONT>");
  reply.AddLine(kMenuFont);

  enum class After { Separator, Break, Nothing };
  struct MenuLink {
    const char* Target;
    const char* Text;
    After Then;
  };
  static const MenuLink kLinks[] = {
      {"admin.dll?action=nastaveni\" TARGET=\"edit", "Obecné nastavení serveru", After::Separator},
      {"admin.dll?action=MySQL\" TARGET=\"edit", "Protokolování do MySQL", After::Separator},
      {"admin.dll?action=mime\" TARGET=\"edit", "Mime typy souborů", After::Separator},
      {"admin.dll?action=virtual\" TARGET=\"edit", "Virtuální servery", After::Separator},
      {"admin.dll?action=zastupci\" TARGET=\"edit", "Zástupci - mapování adresářů", After::Break},
      {"admin.dll?action=interpreti\" TARGET=\"edit", "Interpreti", After::Separator},
      {"/iswd/reload\" TARGET=\"edit", "<font color=red>Restart serveru</font>", After::Separator},
      {"javascript:openWindow('help.html', 'popupWin')", "Nápověda programu", After::Nothing},
  };
  for (const MenuLink& link : kLinks) {
    reply.AddLink(link.Target, link.Text);
    if (link.Then == After::Separator) reply.AddLine(" | ");
    if (link.Then == After::Break) reply.AddBreak();
  }
  reply.AddLine("</FONT>");
  reply.AddLine("</CENTER>");
}

void AboutPage(TISAPIReply& reply) {
  for (int i = 0; i < 8; ++i) reply.AddBreak();
  reply.AddLine("<font face=\"Tahoma,Verdana,Helvetica,Helv,Arial\" size=\"-1\">");
  reply.AddLine("<CENTER>");
  reply.AddLine("<B>Quillon Web Server</B> verze " TOVK_ADMIN_VERSION
                "<BR>Správa konfigurace serveru z prohlížeče. Změny platí po restartu serveru.");
  reply.AddLine("</CENTER></FONT>");
}

void RunAction(TISAPIReply& reply) {
  struct Action {
    const char* Word;
    void (*Page)(TISAPIReply&);
  };
  static const Action kActions[] = {
      {"NASTAVENI", SettingsPage}, {"MYSQL", LogDatabasePage},  {"BROWSE", BrowsePage},
      {"MIME", MimeListPage},      {"VIRTUAL", VirtualListPage}, {"ZASTUPCI", AliasListPage},
      {"INTERPRETI", InterpreterListPage}, {"ABOUT", AboutPage},
  };
  const std::string action = UpperAscii(reply.GetField("action"));
  for (const Action& a : kActions) {
    if (action == a.Word) {
      a.Page(reply);
      return;
    }
  }
  MenuPage(reply);
}

}  // namespace

extern "C" {

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO*) { return TRUE; }

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  TISAPIReply reply(URLDecode(AssembleRequestData(*ecb)));
  reply.BeginPage(kTitle, "");
  RunAction(reply);
  reply.EndPage();
  DWORD size = static_cast<DWORD>(reply.Page.size());
  ecb->WriteClient(ecb->ConnID, reply.Page.data(), &size, 0);
  return HSE_STATUS_SUCCESS;
}

}  // extern "C"
