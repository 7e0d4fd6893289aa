#pragma once
// THTTPReply: the base of every reply. The constructor of a reply does the
// deciding work; the connection thread then asks GetStatus, has the reply
// send its header and (unless HEAD) its body, and destroys it.

#include <cstdint>
#include <memory>
#include <string>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"

class TSvrHttpThread;

enum THttpMethod : uint8_t { mtUnknown = 0, mtGet = 1, mtPost = 2, mtHead = 3 };

// Method and URL of a request line.
void ParseRequestLine(const std::string& line, uint8_t& method, std::string& url);

// Text from a request made safe for a generated page: "&", "<", ">", the
// double quote and the apostrophe become character references.
std::string HtmlEscape(const std::string& text);
// A file name made safe for a link: every byte but letters, digits and the
// marks the URL decoder takes as they stand becomes %XX, so the link holds
// no mark-up and decodes back to the name.
std::string PercentEncode(const std::string& text);

constexpr std::size_t kAccessRightsMax = 35;
constexpr std::size_t kAccessTextMax = 30;  // expiry and charset suffix

struct TAccessRecord {
  std::string Expiry;         // an HttpDate, or empty
  std::string CharsetSuffix;  // "; charset=\"...\"", or empty
  std::string Rights;         // the MD5 digest the credentials must have, or empty
  bool IsSSL = false;
  bool Vypis = false;
  bool Spoustet = false;
  // Whether the directory has an access file at all, and whether one that
  // is there could not be read. An unreadable one refuses everything: its
  // rights can match no digest and nothing may run.
  bool Present = false;
  bool Unreadable = false;
};

class THTTPReply {
 public:
  THTTPReply(TRequestHeader& header, bool isTLS, TSvrSocket& socket, TMemoryStream& body);
  virtual ~THTTPReply();  // the Free slot
  THTTPReply(const THTTPReply&) = delete;
  THTTPReply& operator=(const THTTPReply&) = delete;

  virtual void SendBody();
  virtual void SendHeader();
  virtual std::unique_ptr<TMemoryStream> GetBodyCopy();
  virtual void Execute();

  std::string GetUrlPath() const;
  std::string GetQueryString() const;
  TAccessRecord ReadAccessRecord(const std::string& path) const;
  void SendLine(const std::string& text);
  // True when the status differs from 200.
  bool GetStatus(int16_t& code, std::string& text) const;

  const TResponseHeader& Response() const { return ResponseHeader; }

 protected:
  // For the replies that build their whole body in memory before sending:
  // a 200 header with the body's length, its type being `defaultType` when
  // the reply set none (or always, when `forceType`); the body itself; and a
  // copy of it for a nesting reply, nullptr when memory runs out.
  void SendBufferedHeader(const TMemoryStream& output, const std::string& defaultType,
                          bool forceType = false);
  void SendBufferedBody(TMemoryStream& output);
  static std::unique_ptr<TMemoryStream> CopyOfBuffered(const TMemoryStream& output);
  // Sets the status of a refusal, with the URL path as its text.
  void Refuse(int16_t code);
  // Takes the credentials text from the request and tells whether it gives
  // the rights: no rights ask for nothing, else the upper-case MD5 digest of
  // the Base64 text after "Basic " must equal them exactly.
  bool CredentialsMatch(const std::string& rights);

  uint8_t Method = mtUnknown;
  TMemoryStream& RequestBody;
  TSvrSocket& Socket;
  std::string StatusText;
  bool IsTLS;
  TRequestHeader& Header;
  std::string Credentials;
  TResponseHeader ResponseHeader;
  int16_t StatusCode = 200;
};
