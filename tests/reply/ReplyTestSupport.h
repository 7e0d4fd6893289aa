#pragma once
// What the reply tests share: a throwaway registry, the configuration key
// written through the registry wrapper, and a socket pair that captures
// what a reply sends.

#include <cstdint>
#include <map>
#include <string>
#include <variant>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"
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

  TRequestHeader Header;
  TMemoryStream Body;
  TSvrSocket Socket;

 private:
  int Peer = -1;
};

// The header part (up to the empty line) and the body of a response.
std::string HeadOf(const std::string& response);
std::string BodyOf(const std::string& response);

}  // namespace replytest
