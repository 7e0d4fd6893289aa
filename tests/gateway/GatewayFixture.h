#pragma once
// What the gateway tests share: a request context that a reply can be
// driven with (header, a socket on one end of a socketpair, a body), the
// test scripts and extensions, and access files.

#include <deque>
#include <memory>
#include <string>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"
#include "server/reply/SvrHttpReply.h"
#include "tests/support/TestSupport.h"

namespace gwtest {

std::string ScriptDir();     // tests/gateway/scripts (Linux form)
std::string ExtensionDir();  // the built test extensions (Linux form)
// A Linux path in the system's own (Windows) form.
std::string Sys(const std::string& linuxPath);

// Copies a test script or extension into dir, keeping it executable.
std::string CopyInto(const std::string& source, const std::string& dir,
                     const std::string& name = "");
// An http.aut that allows execution (and says whether TLS is required).
void AllowExecution(const std::string& dir, bool tls = false, const std::string& rights = "");

struct TRequestContext {
  TRequestContext();
  ~TRequestContext();
  // Request line and "Name: value" header lines.
  void Request(const std::string& requestLine, const std::string& headerLines = "");
  // Closes the server side and returns all it wrote.
  std::string Received();

  // What a reply is built from: a request made of Header as it stands now,
  // the socket and the current settings. Each request is kept as long as
  // the connection, so replies built earlier keep theirs.
  TReplyContext Context(bool isTLS = false);

  TRequestHeader Header;
  TSvrSocket Socket;
  TMemoryStream Body;
  std::deque<TRequest> Requests;
  int Peer = -1;
};

// The header block and body of a response text.
std::string ResponseHead(const std::string& response);
std::string ResponseBody(const std::string& response);

// The settings holder's tables for a test, put back when it ends.
class TSettingsScope {
 public:
  TSettingsScope();
  ~TSettingsScope();
};

}  // namespace gwtest
