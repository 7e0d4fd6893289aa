#include "server/reply/SvrHttpInternalReply.h"

#include <algorithm>
#include <vector>

#include "server/net/Misc.h"
#include "server/net/ShellLink.h"
#include "server/net/SvrMain.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/reply/resources/BuiltinResources.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"

namespace {

// The host name that no virtual server answers to, so that the mapping is
// the default server's for the scheme of the request.
constexpr const char* kDefaultServer = "*";

std::string StatusPage(const TSvrSetupHolder& setup) {
  return "<html><body bgcolor=white><center>"
         "<h1>" + ServerSoftware + "</h1>"
         "<h3>Informace o zavedených rozšířeních</h3>" + setup.ModuleTableHtml() +
         "<h3>Počet právě otevřených přípojek</h3>" + std::to_string(ActiveConnections.load()) +
         "<h3>Počet vyřízených dotazů</h3>" + std::to_string(AcceptedConnections.load()) +
         "<h3>Informace o TOVK_LOG knihovně</h3>" + LogAbout() +
         "</center></html></body>";
}

}  // namespace

THTTPInternalReply::THTTPInternalReply(const TReplyContext& context, const std::string& path)
    : THTTPReply(context), Path(path) {}

void THTTPInternalReply::Prepare() {
  std::string upper = UpperCase(Path);
  std::string name = upper.substr(upper.rfind('\\') + 1);  // whole text when there is no "\"

  // The operator protects these names with the access file of the directory
  // that /iswd/ maps to, whatever URL reached the reply: /x/iswd/reload
  // comes here too and must not pass by that file. The mapping follows the
  // Host the client sends, so a client could pick a virtual server whose
  // mapping has no such file; the default server's directory therefore
  // always counts, and the request's own server's counts as well, so that
  // each server's operator keeps the guard he set. The default server of the
  // other scheme counts too, for its rights: a server with HTTPS switched on
  // but no alias for it maps /iswd/ to a directory nobody protects, and the
  // file the operator wrote for plain HTTP must still guard the names there.
  // Without a file they are open.
  struct TGuard {
    std::string Host;
    bool Tls;
  };
  const TGuard guards[] = {{kDefaultServer, IsTLS}, {Request.Get(rqHost), IsTLS},
                           {kDefaultServer, !IsTLS}};
  std::vector<std::string> checked;
  for (const TGuard& guard : guards) {
    std::string directory = "/iswd/";
    Setup.MapUrlToPath(directory, guard.Host, guard.Tls);
    if (std::find(checked.begin(), checked.end(), directory) != checked.end()) continue;
    checked.push_back(directory);
    const TAccessUse use =
        guard.Tls == IsTLS ? TAccessUse::Builtin : TAccessUse::BuiltinOtherScheme;
    if (!Check(directory + name, use).Allowed()) return;
  }

  if (name == "RELOAD") {
    Page.Write(GetMsg(22));
    LogError(GetMsg(23));
    RequestRestart(Setup.KeepAlive);
  } else if (name == "INFO") {
    Page.Write(StatusPage(Setup));
  } else {
    const TBuiltinResource* resource = FindBuiltinResource(name);
    if (!resource) {
      resource = FindBuiltinResource("ERROR_HTML");
      Path = "/iswd/ERROR_HTML";
    }
    if (resource) Page.Write(resource->Data, resource->Size);
    // The content type is looked up for logo.gif, not logo_gif. It is the
    // first "_" of the whole path that turns, also when a directory has one.
    std::size_t underscore = Path.find('_');
    if (underscore != std::string::npos) Path[underscore] = '.';
  }
}

THTTPInternalReply::~THTTPInternalReply() = default;

void THTTPInternalReply::SendBody() { Socket.SendStream(Page); }

void THTTPInternalReply::SendHeader() {
  ResponseHeader.StatusCode = 200;
  ResponseHeader.ReasonText = "OK";
  ResponseHeader[rsMIMEVersion] = "1.0";
  ResponseHeader[rsContentType] = Setup.FindMimeType(Path);
  ResponseHeader[rsContentLength] = std::to_string(Page.Size());
  THTTPReply::SendHeader();
}
