#include "server/reply/Route.h"

#include "server/net/Misc.h"
#include "server/reply/SvrHttpErrReply.h"
#include "server/reply/SvrHttpFileReply.h"
#include "server/reply/SvrHttpInternalReply.h"
#include "server/reply/SvrSetupHolder.h"

namespace {

TRoute ErrorRoute(uint16_t code, const std::string& text, TRouteMiss miss = TRouteMiss::None) {
  TRoute route;
  route.Kind = TRouteKind::Error;
  route.Code = code;
  route.Text = text;
  route.Miss = miss;
  return route;
}

TRoute RedirectRoute(const std::string& target) {
  TRoute route;
  route.Kind = TRouteKind::Redirect;
  route.Code = 301;
  route.Text = target;
  return route;
}

TRoute PathRoute(TRouteKind kind, const std::string& path,
                 std::optional<TPathStat> stat = std::nullopt) {
  TRoute route;
  route.Kind = kind;
  route.Path = path;
  route.Stat = stat;
  return route;
}

std::string EndWithBackslash(const std::string& path) {
  return !path.empty() && path.back() == '\\' ? path : path + "\\";
}

std::string MissingInterpreterText(const std::string& application) {
  return "Server nenalezi interptetr \"" + UpperCase(application) + "\".";
}

// The path info of the pseudo-interpreters for a URL the connection read:
// the requested URL after the mapped file's name, cut at a "?".
std::string ConnectionPathInfo(TGatewayKind kind, const std::string& file,
                               const std::string& extraPath, const std::string& requested) {
  if ((kind != TGatewayKind::Exec && kind != TGatewayKind::Isapi) || extraPath.empty())
    return std::string();
  const std::size_t slash = file.rfind('\\');
  const std::string fileName = slash == std::string::npos ? file : file.substr(slash + 1);
  const std::size_t at = requested.find(fileName);
  if (fileName.empty() || at == std::string::npos) return std::string();
  std::string pathInfo = requested.substr(at + fileName.size());
  const std::size_t query = pathInfo.find('?');
  if (query != std::string::npos) pathInfo.erase(query);
  return pathInfo;
}

TRoute GatewayRoute(const std::string& application, const std::string& file,
                    const std::string& extraPath, const TRequest& request, TRouteScope scope) {
  const TGatewayKind kind = ClassifyGateway(application, file);
  if (kind == TGatewayKind::MissingPseudo) {
    TRoute route = ErrorRoute(404, file, TRouteMiss::NoPseudoTarget);
    route.Application = application;
    return route;
  }
  if (kind == TGatewayKind::MissingInterpreter) {
    TRoute route = ErrorRoute(500, MissingInterpreterText(application), TRouteMiss::NoInterpreter);
    route.Application = application;
    return route;
  }
  TRoute route = PathRoute(TRouteKind::Gateway, file);
  route.Gateway = kind;
  route.Application = application;
  route.ExtraPath = extraPath;
  route.PathInfo = scope == TRouteScope::Connection
                       ? ConnectionPathInfo(kind, file, extraPath, request.Requested)
                       : GatewayPathInfo(file, request.Requested, extraPath);
  return route;
}

}  // namespace

TRoute RouteRequest(const TRequest& request, const TSvrSetupHolder& settings, TRouteScope scope) {
  const bool connection = scope == TRouteScope::Connection;
  // The one place where a URL becomes a file-system path.
  std::string path = request.Url;
  settings.MapUrlToPath(path, request.Get(rqHost), request.IsTLS);
  const std::size_t query = path.find('?');
  if (query != std::string::npos) path.erase(query);

  if (connection) {
    if (path.empty()) return ErrorRoute(404, "\"\"", TRouteMiss::NoTarget);
    if (request.Method == mtUnknown) return ErrorRoute(501, "");
  }
  if (request.Climbed || HasParentSegment(path))
    return ErrorRoute(403, request.Requested, TRouteMiss::Climbs);
  if (connection && PosText("\\ISWD\\", path) > 0) return PathRoute(TRouteKind::Builtin, path);

  std::string file = path, application, extraPath;
  if (settings.FindApplication(file, application, extraPath))
    return GatewayRoute(application, file, extraPath, request, scope);
  const TPathStat stat = StatPathInfo(path);
  if (stat.IsFile()) return PathRoute(TRouteKind::File, path, stat);
  if (!connection) return ErrorRoute(404, request.Requested, TRouteMiss::NoTarget);

  // Only a directory can hold a default document or be listed.
  if (stat.IsDirectory()) {
    std::string directory = path, document;
    bool alreadyEnded = false;
    if (settings.FindDefaultDocument(directory, document, alreadyEnded)) {
      if (!alreadyEnded) return RedirectRoute(request.Requested + "/");
      std::string documentFile = document;
      if (settings.FindApplication(documentFile, application, extraPath))
        return GatewayRoute(application, documentFile, extraPath, request, scope);
      return PathRoute(TRouteKind::File, document);
    }
    if (!request.Requested.empty() && request.Requested.back() != '/')
      return RedirectRoute(request.Requested + "/");
    return PathRoute(TRouteKind::Listing, EndWithBackslash(path), stat);
  }
  return ErrorRoute(404, request.Url + "<P>" + path, TRouteMiss::NoTarget);
}

TRoute RouteErrorPage(const std::string& pagePath, const TSvrSetupHolder& settings) {
  std::string lookup = pagePath, program, extraPath;
  if (settings.FindApplication(lookup, program, extraPath)) {
    const TGatewayKind kind = ClassifyGateway(program, pagePath);
    if (kind == TGatewayKind::MissingPseudo || kind == TGatewayKind::MissingInterpreter)
      return ErrorRoute(404, pagePath, TRouteMiss::NoInterpreter);
    TRoute route = PathRoute(TRouteKind::Gateway, pagePath);
    route.Gateway = kind;
    route.Application = program;
    // For a custom page the extra path is both the path info of the
    // pseudo-interpreters and the extension's path info.
    route.PathInfo = extraPath;
    route.ExtraPath = extraPath;
    return route;
  }
  const TPathStat stat = StatPathInfo(pagePath);
  if (stat.IsFile()) return PathRoute(TRouteKind::File, pagePath, stat);
  return ErrorRoute(404, pagePath, TRouteMiss::NoTarget);
}

std::unique_ptr<THTTPReply> MakeReply(const TRoute& route, const TReplyContext& context) {
  std::unique_ptr<THTTPReply> reply;
  switch (route.Kind) {
    case TRouteKind::Builtin:
      reply = std::make_unique<THTTPInternalReply>(context, route.Path);
      break;
    case TRouteKind::Gateway:
      reply = MakeGatewayReply(route.Gateway, route.Application, route.Path, route.PathInfo,
                               route.ExtraPath, context);
      break;
    case TRouteKind::File:
      reply = std::make_unique<THTTPFileReply>(context, route.Path, route.Stat);
      break;
    case TRouteKind::Listing:
      reply = std::make_unique<THTTPDirReply>(context, route.Path);
      break;
    case TRouteKind::Redirect:
    case TRouteKind::Error:
      reply = std::make_unique<THTTPErrReply>(context, route.Text, route.Code);
      break;
  }
  if (reply) reply->Prepare();
  return reply;
}
