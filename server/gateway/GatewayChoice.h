#pragma once
// The gateway choice: which reply serves a file for which FindApplication
// found an interpreter. The route (server/reply/Route.h) chooses through
// here for the connection, for includes and for custom error pages.

#include <memory>
#include <string>

#include "server/reply/SvrHttpReply.h"

enum class TGatewayKind {
  Exec,       // "TOVK/EXEC": the file is a CGI program
  Isapi,      // "TOVK/ISAPI": the file is an extension library
  Ssi,        // "TOVK/SSI": the file is parsed for includes
  IsapiExt,   // the interpreter is an existing ".DLL" library
  Cgi,        // the interpreter is an existing program
  MissingPseudo,       // begins with "TOVK/" but matches no row (or its file is missing)
  MissingInterpreter,  // names no existing program
};

// Classifies an interpreter text for a file, by the rows of the gateway choice.
TGatewayKind ClassifyGateway(const std::string& application, const std::string& file);

// The path info of rows Exec and Isapi: empty unless FindApplication gave an
// extra path; else the requested URL after the first occurrence of the
// mapped file's name, cut at a "?".
std::string GatewayPathInfo(const std::string& mappedPath, const std::string& requestedUrl,
                            const std::string& extraPath);

// Builds the reply of a gateway row, not yet prepared; null for the two
// Missing kinds.
// pathInfo is the row's path info (the caller applies its own rule);
// extPathInfo is the extra path FindApplication gave (for IsapiExt).
std::unique_ptr<THTTPReply> MakeGatewayReply(TGatewayKind kind, const std::string& application,
                                             const std::string& file,
                                             const std::string& pathInfo,
                                             const std::string& extPathInfo,
                                             const TReplyContext& context);
