#include "server/net/SvrHttpHead.h"

#include "server/net/Base64u.h"
#include "server/net/Misc.h"

namespace {

// Matched against the upper-cased name; the order is that of TRequestField.
const std::array<const char*, kRequestFieldCount> kRequestNames = {
    "ACCEPT", "ACCEPT-CHARSET", "ACCEPT-ENCODING", "ACCEPT-LANGUAGE", "ALLOW", "AUTHORIZATION",
    "CACHE-CONTROL", "CONNECTION", "CONTENT-BASE", "CONTENT-ENCODING", "CONTENT-LANGUAGE",
    "CONTENT-LENGTH", "CONTENT-LOCATION", "CONTENT-MD5", "CONTENT-RANGE", "CONTENT-TYPE", "DATE",
    "ETAG", "EXPIRES", "FROM", "HOST", "IF-MODIFIED-SINCE", "IF-MATCH", "IF-NONE-MATCH",
    "IF-RANGE", "IF-UNMODIFIED-SINCE", "LAST-MODIFIED", "MAX-FORWARDS", "PRAGMA",
    "PROXY-AUTHORIZATION", "RANGE", "REFERER", "TRANSFER-ENCODING", "UPGRADE", "USER-AGENT",
    "VIA", "COOKIE"};

// Written exactly so, "MIME-version" included; the order is the output order.
const std::array<const char*, kResponseFieldCount> kResponseNames = {
    "Age", "Allow", "MIME-version", "Cache-Control", "Connection", "Content-Base",
    "Content-Encoding", "Content-Language", "Content-Length", "Content-Location", "Content-MD5",
    "Content-Range", "Content-Type", "Date", "ETag", "Expires", "Last-Modified", "Location",
    "Pragma", "Proxy-Authenticate", "Public", "Retry-After", "Server", "Transfer-Encoding",
    "Upgrade", "Vary", "Via", "Warning", "WWW-Authenticate", "Set-Cookie"};

// The only response headers a gateway may set from text; the rest are the
// server's own.
struct TInputName {
  const char* Name;
  TResponseField Field;
};
const TInputName kResponseInputNames[] = {
    {"CACHE-CONTROL", rsCacheControl},         {"CONNECTION", rsConnection},
    {"CONTENT-BASE", rsContentBase},           {"CONTENT-ENCODING", rsContentEncoding},
    {"CONTENT-LANGUAGE", rsContentLanguage},   {"CONTENT-LENGTH", rsContentLength},
    {"CONTENT-LOCATION", rsContentLocation},   {"CONTENT-MD5", rsContentMD5},
    {"CONTENT-RANGE", rsContentRange},         {"CONTENT-TYPE", rsContentType},
    {"DATE", rsDate},                          {"ETAG", rsETag},
    {"EXPIRES", rsExpires},                    {"LAST-MODIFIED", rsLastModified},
    {"PRAGMA", rsPragma},                      {"TRANSFER-ENCODING", rsTransferEncoding},
    {"UPGRADE", rsUpgrade},                    {"SET-COOKIE", rsSetCookie}};

// Names a gateway may send but that the server alone decides: how the body
// is framed and whether the connection stays open. They are taken and dropped.
bool IsServersOwnField(TResponseField field) {
  return field == rsConnection || field == rsTransferEncoding;
}

bool IsLineSafe(unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7F); }

// Appends a value as it may stand on a header line: a CR, LF or other
// control byte (tab aside) would end the line early or smuggle another
// header in, so those are left out.
void AppendLineSafe(std::string& text, std::string_view value) {
  for (unsigned char c : value)
    if (IsLineSafe(c)) text += static_cast<char>(c);
}

bool HasLineSafeByte(std::string_view value) {
  for (unsigned char c : value)
    if (IsLineSafe(c)) return true;
  return false;
}

// The Basic scheme word and its blank, removed unchecked before decoding.
constexpr std::size_t kAuthSchemeLength = 6;

// Name before the first ":", value after it with one leading blank removed;
// false when the line has no ":". The views point into the line.
bool SplitHeaderLine(std::string_view line, std::string_view& name, std::string_view& value) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  name = line.substr(0, colon);
  value = line.substr(colon + 1);
  if (!value.empty() && value[0] == ' ') value.remove_prefix(1);
  return true;
}

}  // namespace

bool TRequestHeader::ParseLine(const std::string& line) {
  std::string_view name, value;
  if (!SplitHeaderLine(line, name, value)) return false;
  return SetField(name, value);
}

bool TRequestHeader::SetField(std::string_view name, std::string_view value) {
  int field = -1;
  for (int i = 0; i < kRequestFieldCount && field < 0; ++i)
    if (SameText(name, kRequestNames[i])) field = i;
  if (field < 0) return false;
  Values[field] = value;
  if (field == rqAuthorization && !Values[rqAuthorization].empty()) {
    std::string credentials = Values[rqAuthorization];
    credentials.erase(0, kAuthSchemeLength);
    std::string decoded = Base64Decode(credentials);
    std::size_t colon = decoded.find(':');
    // The password after the colon is never kept.
    UserName = colon == std::string::npos ? decoded : decoded.substr(0, colon);
  }
  return true;
}

void TRequestHeader::Clear() {
  for (auto& value : Values) value.clear();
}

std::string TResponseHeader::BuildText() const {
  // Room for a usual header at once, so that it grows no more than once.
  constexpr std::size_t kUsualHeaderBytes = 256;
  std::string text;
  text.reserve(kUsualHeaderBytes);
  text += "HTTP/1.0 ";
  text += std::to_string(StatusCode);
  text += ' ';
  AppendLineSafe(text, ReasonText);
  text += "\r\n";
  for (int i = 0; i < kResponseFieldCount; ++i) {
    // A value of nothing but control bytes would leave an empty line: none.
    if (!HasLineSafeByte(Values[i])) continue;
    text += kResponseNames[i];
    text += ": ";
    AppendLineSafe(text, Values[i]);
    text += "\r\n";
  }
  return text;
}

bool TResponseHeader::ParseLine(const std::string& line) {
  std::string_view name, value;
  if (!SplitHeaderLine(line, name, value)) return false;
  return SetField(name, value);
}

bool TResponseHeader::SetField(std::string_view name, std::string_view value) {
  for (const TInputName& input : kResponseInputNames) {
    if (SameText(name, input.Name)) {
      if (!IsServersOwnField(input.Field)) Values[input.Field] = value;
      return true;
    }
  }
  return false;
}
