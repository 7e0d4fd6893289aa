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

// A value as it may stand on a header line: a CR, LF or other control byte
// (tab aside) would end the line early or smuggle another header in.
std::string LineSafe(const std::string& value) {
  std::string safe;
  safe.reserve(value.size());
  for (unsigned char c : value)
    if (c == '\t' || (c >= 0x20 && c != 0x7F)) safe += static_cast<char>(c);
  return safe;
}

// The Basic scheme word and its blank, removed unchecked before decoding.
constexpr std::size_t kAuthSchemeLength = 6;

// Name before the first ":", value after it with one leading blank removed;
// false when the line has no ":".
bool SplitHeaderLine(const std::string& line, std::string& name, std::string& value) {
  std::size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  name = line.substr(0, colon);
  value = line.substr(colon + 1);
  if (!value.empty() && value[0] == ' ') value.erase(0, 1);
  return true;
}

}  // namespace

bool TRequestHeader::ParseLine(const std::string& line) {
  std::string name, value;
  if (!SplitHeaderLine(line, name, value)) return false;
  return SetField(name, value);
}

bool TRequestHeader::SetField(const std::string& name, const std::string& value) {
  const std::string upper = UpperCase(name);
  bool recognised = false;
  for (int i = 0; i < kRequestFieldCount; ++i) {
    if (upper == kRequestNames[i]) {
      Values[i] = value;
      recognised = true;
      break;
    }
  }
  if (upper == "AUTHORIZATION" && !Values[rqAuthorization].empty()) {
    std::string credentials = Values[rqAuthorization];
    credentials.erase(0, kAuthSchemeLength);
    std::string decoded = Base64Decode(credentials);
    std::size_t colon = decoded.find(':');
    // The password after the colon is never kept.
    UserName = colon == std::string::npos ? decoded : decoded.substr(0, colon);
  }
  return recognised;
}

void TRequestHeader::Clear() {
  for (auto& value : Values) value.clear();
}

std::string TResponseHeader::BuildText() const {
  std::string text =
      "HTTP/1.0 " + std::to_string(StatusCode) + " " + LineSafe(ReasonText) + "\r\n";
  for (int i = 0; i < kResponseFieldCount; ++i) {
    std::string value = LineSafe(Values[i]);
    if (!value.empty()) text += std::string(kResponseNames[i]) + ": " + value + "\r\n";
  }
  return text;
}

bool TResponseHeader::ParseLine(const std::string& line) {
  std::string name, value;
  if (!SplitHeaderLine(line, name, value)) return false;
  return SetField(name, value);
}

bool TResponseHeader::SetField(const std::string& name, const std::string& value) {
  const std::string upper = UpperCase(name);
  for (const TInputName& input : kResponseInputNames) {
    if (upper == input.Name) {
      if (!IsServersOwnField(input.Field)) Values[input.Field] = value;
      return true;
    }
  }
  return false;
}
