#pragma once
// What the reply tests share: a throwaway registry, the configuration key
// written through the registry wrapper, and a socket pair that captures
// what a reply sends.

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <variant>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"
#include "server/reply/SvrHttpReply.h"
#include "tests/support/TestSupport.h"

namespace replytest {

using TValue = std::variant<std::string, int32_t>;

// Replaces the configuration key by one holding exactly these values.
void WriteConfig(const std::map<std::string, TValue>& values);
void DeleteConfig();

// A Linux path in the system's form ("/tmp/x" -> "\tmp\x").
std::string Sys(const std::string& linuxPath);

// A connection as a reply sees it: the request header, the body stream and
// a socket whose peer end the test reads.
class TConnection {
 public:
  explicit TConnection(const std::string& requestLine);
  ~TConnection();
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  // Closes the server end and gives everything the reply wrote.
  std::string Sent();

  // What a reply is built from: a request made of Header as it stands now,
  // the socket and the current settings. Each request is kept as long as
  // the connection, so replies built earlier keep theirs.
  TReplyContext Context(bool isTLS = false);

  TRequestHeader Header;
  TMemoryStream Body;
  std::deque<TRequest> Requests;
  TSvrSocket Socket;

 private:
  int Peer = -1;
};

// The header part (up to the empty line) and the body of a response.
std::string HeadOf(const std::string& response);
std::string BodyOf(const std::string& response);

}  // namespace replytest
