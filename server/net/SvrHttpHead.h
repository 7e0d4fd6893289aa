#pragma once
// TRequestHeader and TResponseHeader: the parsed request and the response
// header that goes on the wire.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The 37 recognised request headers, in table order.
enum TRequestField : int {
  rqAccept, rqAcceptCharset, rqAcceptEncoding, rqAcceptLanguage, rqAllow, rqAuthorization,
  rqCacheControl, rqConnection, rqContentBase, rqContentEncoding, rqContentLanguage,
  rqContentLength, rqContentLocation, rqContentMD5, rqContentRange, rqContentType, rqDate,
  rqETag, rqExpires, rqFrom, rqHost, rqIfModifiedSince, rqIfMatch, rqIfNoneMatch, rqIfRange,
  rqIfUnmodifiedSince, rqLastModified, rqMaxForwards, rqPragma, rqProxyAuthorization, rqRange,
  rqReferer, rqTransferEncoding, rqUpgrade, rqUserAgent, rqVia, rqCookie,
  kRequestFieldCount
};

class TRequestHeader {
 public:
  bool ParseLine(const std::string& line);
  bool SetField(std::string_view name, std::string_view value);
  void Clear();  // the 37 values; RequestLine and UserName stay

  const std::string& Get(TRequestField field) const { return Values[field]; }

  std::string RequestLine;
  std::string UserName;
  std::array<std::string, kRequestFieldCount> Values;
};

// The 30 response headers, in output order.
enum TResponseField : int {
  rsAge, rsAllow, rsMIMEVersion, rsCacheControl, rsConnection, rsContentBase,
  rsContentEncoding, rsContentLanguage, rsContentLength, rsContentLocation, rsContentMD5,
  rsContentRange, rsContentType, rsDate, rsETag, rsExpires, rsLastModified, rsLocation,
  rsPragma, rsProxyAuthenticate, rsPublic, rsRetryAfter, rsServer, rsTransferEncoding,
  rsUpgrade, rsVary, rsVia, rsWarning, rsWWWAuthenticate, rsSetCookie,
  kResponseFieldCount
};

class TResponseHeader {
 public:
  std::string BuildText() const;
  bool ParseLine(const std::string& line);
  bool SetField(std::string_view name, std::string_view value);

  std::string& operator[](TResponseField field) { return Values[field]; }
  const std::string& Get(TResponseField field) const { return Values[field]; }

  uint16_t StatusCode = 0;
  std::string ReasonText;
  std::array<std::string, kResponseFieldCount> Values;
};
