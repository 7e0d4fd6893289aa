#include "server/reply/SvrHttpReply.h"

#include <cstring>

#include "common/HtmlText.h"
#include "platform/TimeZone.h"
#include "server/net/Misc.h"
#include "server/net/ShellLink.h"

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                (byte >= '0' && byte <= '9') ||
                (byte != 0 && std::strchr("-._$!'()*,", c) != nullptr);
    if (keep) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
  return out;
}

std::string HtmlEscape(const std::string& text) {
  // A page may put the text in an attribute quoted with apostrophes.
  return HtmlReferences(text, "&<>\"'");
}

THTTPReply::THTTPReply(const TReplyContext& context)
    : Ctx(context),
      Request(context.Request),
      Method(context.Request.Method),
      RequestBody(*context.Request.Body),
      Socket(context.Socket),
      IsTLS(context.Request.IsTLS),
      Setup(context.Setup) {}

THTTPReply::~THTTPReply() = default;

void THTTPReply::Prepare() {}

void THTTPReply::SendBody() {}

void THTTPReply::SendHeader() {
  ResponseHeader[rsDate] = HttpDateNow();
  ResponseHeader[rsServer] = ServerSoftware;
  if (SameText(Request.Get(rqConnection), "KEEP-ALIVE"))
    ResponseHeader[rsConnection] = "Keep-Alive";
  Socket.SendString(ResponseHeader.BuildText() + "\r\n");
}

std::unique_ptr<TMemoryStream> THTTPReply::GetBodyCopy() { return nullptr; }

void THTTPReply::SendBufferedHeader(const TMemoryStream& output, const std::string& defaultType,
                                    bool forceType) {
  ResponseHeader.StatusCode = 200;
  ResponseHeader.ReasonText = "OK";
  ResponseHeader[rsMIMEVersion] = "1.0";
  if (forceType || ResponseHeader.Get(rsContentType).empty()) ResponseHeader[rsContentType] = defaultType;
  ResponseHeader[rsContentLength] = std::to_string(output.Size());
  THTTPReply::SendHeader();
}

void THTTPReply::SendBufferedBody(TMemoryStream& output) {
  output.Seek(0);
  Socket.SendStream(output);
}

std::unique_ptr<TMemoryStream> THTTPReply::CopyOfBuffered(const TMemoryStream& output) {
  try {
    return std::make_unique<TMemoryStream>(output.Bytes());
  } catch (...) {
    return nullptr;
  }
}

void THTTPReply::Execute() {}

void THTTPReply::Refuse(int16_t code) {
  StatusCode = code;
  StatusText = GetUrlPath();
}

TAccessAnswer THTTPReply::Check(const std::string& path, TAccessUse use,
                                TAccessRecord* record) {
  TAccessRecord read = ReadAccessRecord(path);
  TAccessAnswer answer = CheckAccess(read, Request, path, use);
  if (!answer.Allowed()) Refuse(static_cast<int16_t>(answer.Code));
  if (record) *record = std::move(read);
  return answer;
}

void THTTPReply::SendLine(const std::string& text) { Socket.SendLine(text); }

bool THTTPReply::GetStatus(int16_t& code, std::string& text) const {
  code = StatusCode;
  text = StatusText;
  return StatusCode != 200;
}
