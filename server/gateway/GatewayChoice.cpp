#include "server/gateway/GatewayChoice.h"

#include "platform/Paths.h"
#include "server/gateway/SvrHttpCGIReply.h"
#include "server/gateway/SvrHttpISAPIReply.h"
#include "server/gateway/SvrHttpSSIReply.h"
#include "server/net/Misc.h"

namespace {

std::string FileNamePart(const std::string& path) {
  std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string UpperExtension(const std::string& path) {
  std::string name = FileNamePart(path);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : UpperCase(name.substr(dot));
}

}  // namespace

TGatewayKind ClassifyGateway(const std::string& application, const std::string& file) {
  // Upper-cased only to compare: on Linux the interpreter must be found and
  // run by the name it was configured with.
  const std::string upper = UpperCase(application);
  if (upper == "TOVK/EXEC" && FileExists(file)) return TGatewayKind::Exec;
  if (upper == "TOVK/ISAPI" && FileExists(file)) return TGatewayKind::Isapi;
  if (upper == "TOVK/SSI" && FileExists(file)) return TGatewayKind::Ssi;
  if (FileExists(application)) {
    return UpperExtension(application) == ".DLL" ? TGatewayKind::IsapiExt : TGatewayKind::Cgi;
  }
  if (upper.rfind("TOVK/", 0) == 0) return TGatewayKind::MissingPseudo;
  return TGatewayKind::MissingInterpreter;
}

std::string GatewayPathInfo(const std::string& mappedPath, const std::string& requestedUrl,
                            const std::string& extraPath) {
  if (extraPath.empty()) return std::string();
  std::string name = FileNamePart(mappedPath);
  std::size_t at = name.empty() ? std::string::npos : requestedUrl.find(name);
  if (at == std::string::npos) return std::string();
  std::string info = requestedUrl.substr(at + name.size());
  std::size_t query = info.find('?');
  if (query != std::string::npos) info.erase(query);
  return info;
}

std::unique_ptr<THTTPReply> MakeGatewayReply(TGatewayKind kind, const std::string& application,
                                             const std::string& file,
                                             const std::string& pathInfo,
                                             const std::string& extPathInfo,
                                             const TReplyContext& context) {
  switch (kind) {
    case TGatewayKind::Exec:
      return std::make_unique<THTTPCGIReply>(context, file, pathInfo);
    case TGatewayKind::Isapi:
      return std::make_unique<THTTPISAPIReply>(context, pathInfo, file);
    case TGatewayKind::Ssi:
      return std::make_unique<THTTPSSIReply>(context, file);
    case TGatewayKind::IsapiExt:
      return std::make_unique<THTTPISAPIExtReply>(context, application, extPathInfo, file);
    case TGatewayKind::Cgi:
      return std::make_unique<THTTPCGIReply>(context, application, file);
    case TGatewayKind::MissingPseudo:
    case TGatewayKind::MissingInterpreter:
      break;
  }
  return nullptr;
}
