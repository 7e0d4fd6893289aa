#pragma once
// TRequest: one request, parsed once from the head lines and the body the
// reader delivered. Every reply, gateway and the access log read it; none
// parses the request line again or changes it. A server-side include works
// on a copy with its own URL (a sub-request).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"

enum THttpMethod : uint8_t { mtUnknown = 0, mtGet = 1, mtPost = 2, mtHead = 3 };

// The method named by a request line's first word (mtUnknown for any other).
// The reader needs only this, to know whether a body follows.
uint8_t RequestMethod(std::string_view line);
// Method and URL of a request line.
void ParseRequestLine(const std::string& line, uint8_t& method, std::string& url);

class TRequest {
 public:
  // The request of these head lines (the request line first) and body.
  static TRequest FromLines(const std::vector<std::string>& lines, TMemoryStream& body,
                            const std::string& peerAddr, bool isTLS,
                            uint32_t connectionNumber);
  // The request of a header whose RequestLine and values are already set.
  static TRequest FromHeader(TRequestHeader header, TMemoryStream& body,
                             const std::string& peerAddr, bool isTLS,
                             uint32_t connectionNumber = 0);
  // A sub-request for a URL the caller has already decoded and freed of
  // parent segments (`requested` as asked, `url` as mapped): the same
  // client, header values and body, with "GET url HTTP/1.0" as its line.
  TRequest WithUrl(const std::string& requested, const std::string& url, bool climbed) const;

  const std::string& Get(TRequestField field) const { return Header.Get(field); }
  const std::string& RequestLine() const { return Header.RequestLine; }

  uint8_t Method = mtUnknown;
  std::string RawUrl;  // the request line's URL, scheme and host removed, not decoded
  std::string Path;    // RawUrl up to its first "?"
  std::string Query;   // the line's text after its first "?", up to " HTTP/"
  std::string Version; // "HTTP/1.0" and the like; empty for a simple request
  // RawUrl percent-decoded when it can be (a plain "?" keeps it as it came):
  // the URL as asked, for redirections and path info.
  std::string Requested;
  // Requested with "\" read as "/", parent segments removed, "/" when empty:
  // the URL that is mapped to a file.
  std::string Url;
  bool Climbed = false;       // a "/.." would have climbed above the root
  bool ControlBytes = false;  // the URL names a control byte
  TRequestHeader Header;      // the request line, the user name and the values
  // The Authorization value without "Basic ": the text whose digest the
  // access file's rights hold.
  std::string Credentials;
  TMemoryStream* Body = nullptr;
  std::string PeerAddr;
  bool IsTLS = false;
  uint32_t ConnectionNumber = 0;

 private:
  // The parts of the request line (method to version).
  void ParseLine();
  // Requested, Url and the two flags from RawUrl.
  void DecodeUrl();
};
