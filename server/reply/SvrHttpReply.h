#pragma once
// THTTPReply: the base of every reply. A reply is built from its context
// (the request, the socket, the settings) and does nothing until Prepare,
// which does the deciding work (access check, listing, running a program).
// Whoever chose the reply calls Prepare; the connection thread then asks
// GetStatus, has the reply send its header and (unless HEAD) its body, and
// destroys it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/MemoryStream.h"
#include "platform/Paths.h"
#include "server/net/Request.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"
#include "server/reply/AccessCheck.h"

class TSvrSetupHolder;

// Text from a request made safe for a generated page: "&", "<", ">", the
// double quote and the apostrophe become character references.
std::string HtmlEscape(const std::string& text);
// A file name made safe for a link: every byte but letters, digits and the
// marks the URL decoder takes as they stand becomes %XX, so the link holds
// no mark-up and decodes back to the name.
std::string PercentEncode(const std::string& text);

// What every reply is built from. The reply refers to all three and owns
// none of them; they outlive it.
struct TReplyContext {
  const TRequest& Request;
  TSvrSocket& Socket;
  TSvrSetupHolder& Setup;
};

class THTTPReply {
 public:
  explicit THTTPReply(const TReplyContext& context);
  virtual ~THTTPReply();  // the Free slot
  THTTPReply(const THTTPReply&) = delete;
  THTTPReply& operator=(const THTTPReply&) = delete;

  virtual void SendBody();
  virtual void SendHeader();
  virtual std::unique_ptr<TMemoryStream> GetBodyCopy();
  virtual void Execute();
  // Decides the status: access check and whatever work the reply does
  // before its header can be written. Called once, before GetStatus.
  virtual void Prepare();

  std::string GetUrlPath() const { return Request.Path; }
  std::string GetQueryString() const { return Request.Query; }
  void SendLine(const std::string& text);
  // True when the status differs from 200.
  bool GetStatus(int16_t& code, std::string& text) const;

  const TResponseHeader& Response() const { return ResponseHeader; }
  const TReplyContext& Context() const { return Ctx; }

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
  // Reads the access record of the path and asks the access check; a
  // refusal becomes the status. The record is given back for the reply's
  // other uses of it.
  TAccessAnswer Check(const std::string& path, TAccessUse use, TAccessRecord* record = nullptr);

  TReplyContext Ctx;
  const TRequest& Request;
  uint8_t Method;
  TMemoryStream& RequestBody;
  TSvrSocket& Socket;
  std::string StatusText;
  bool IsTLS;
  TSvrSetupHolder& Setup;
  TResponseHeader ResponseHeader;
  int16_t StatusCode = 200;
};

// A reply made and prepared.
template <typename TReply, typename... TArgs>
std::unique_ptr<TReply> PreparedReply(const TReplyContext& context, TArgs&&... args) {
  std::unique_ptr<TReply> reply = std::make_unique<TReply>(context, std::forward<TArgs>(args)...);
  reply->Prepare();
  return reply;
}
