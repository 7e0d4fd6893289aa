#pragma once
// The route: which reply answers a request. One ordered list of steps,
// from the URL to its file-system path and on to a built-in resource, a
// gateway, a file, a default document, a redirection, a listing or an
// error. The connection asks it for every request, an include directive
// for its sub-request, and an error reply for its custom page.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Paths.h"
#include "server/gateway/GatewayChoice.h"
#include "server/net/Request.h"
#include "server/reply/SvrHttpReply.h"

class TSvrSetupHolder;

enum class TRouteKind { Builtin, Gateway, File, Redirect, Listing, Error };

// Who asks. An include takes only what can be put into a page (files and
// gateways); anything else is a missing target to it.
enum class TRouteScope { Connection, Include };

// Why a route ended in an error, for a caller that answers it otherwise
// than with an error page (an include writes a marker into its page).
enum class TRouteMiss {
  None,
  Climbs,          // the URL climbs above the root of its mapping
  NoTarget,        // nothing at the path
  NoPseudoTarget,  // a "TOVK/..." interpreter whose file is missing
  NoInterpreter,   // the interpreter names no existing program
};

struct TRoute {
  TRouteKind Kind = TRouteKind::Error;
  uint16_t Code = 0;  // Error and Redirect
  std::string Text;   // Error: the message text; Redirect: the target
  TRouteMiss Miss = TRouteMiss::None;
  // The file, default document or directory (a listing's ends in "\"),
  // and what the one look at it found, when the route looked.
  std::string Path;
  std::optional<TPathStat> Stat;
  // Gateway: the row of the gateway choice, the interpreter, the path info
  // of the pseudo-interpreters and the extra path FindApplication gave.
  TGatewayKind Gateway = TGatewayKind::MissingInterpreter;
  std::string Application;
  std::string PathInfo;
  std::string ExtraPath;
};

// The route of a request's URL. Refusals the reader made and URLs naming
// control bytes are the connection's to answer before it asks.
TRoute RouteRequest(const TRequest& request, const TSvrSetupHolder& settings,
                    TRouteScope scope = TRouteScope::Connection);

// The route of a custom error page: a gateway when an interpreter applies,
// else the file; an error route when the page cannot be served.
TRoute RouteErrorPage(const std::string& pagePath, const TSvrSetupHolder& settings);

// The reply of a route, prepared; null only for a gateway route of a
// missing kind, which RouteRequest never gives.
std::unique_ptr<THTTPReply> MakeReply(const TRoute& route, const TReplyContext& context);
