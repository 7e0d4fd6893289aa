#include "server/net/Request.h"

#include <cctype>
#include <utility>

#include "server/net/Misc.h"

namespace {

// The Basic scheme word and its blank in front of the credentials.
constexpr std::size_t kAuthSchemeLength = 6;

// Control bytes in a decoded URL would reach file names and, through the
// redirection target, the response header (CR LF would split it).
bool HasControlByte(const std::string& text) {
  for (unsigned char c : text)
    if (c < 32 || c == 127) return true;
  return false;
}

// The same for escapes the decoder left alone (it refuses some, %00 among
// them, and keeps the URL as it came): in the path part they would still
// name a control byte. A query is the gateway's and is not looked at.
bool EscapesControlByte(const std::string& url) {
  const std::size_t end = url.find('?');
  for (std::size_t i = 0; i + 2 < url.size() && i < end; ++i) {
    if (url[i] != '%') continue;
    const std::string digits = url.substr(i + 1, 2);
    if (!std::isxdigit(static_cast<unsigned char>(digits[0])) ||
        !std::isxdigit(static_cast<unsigned char>(digits[1])))
      continue;
    const int value = std::stoi(digits, nullptr, 16);
    if (value < 32 || value == 127) return true;
  }
  return false;
}

}  // namespace

uint8_t RequestMethod(std::string_view line) {
  const std::string_view word = line.substr(0, line.find(' '));
  if (word == "GET") return mtGet;
  if (word == "POST") return mtPost;
  if (word == "HEAD") return mtHead;
  return mtUnknown;
}

void ParseRequestLine(const std::string& line, uint8_t& method, std::string& url) {
  method = RequestMethod(line);
  url.clear();
  const std::size_t blank = line.find(' ');
  if (blank == std::string::npos) return;
  std::string_view rest = std::string_view(line).substr(blank + 1);
  const std::size_t protocol = rest.find(" HTTP/");
  if (protocol != std::string_view::npos) rest = rest.substr(0, protocol);
  if (rest.size() >= 7 && SameText(rest.substr(0, 7), "HTTP://")) {
    rest.remove_prefix(7);
    const std::size_t slash = rest.find('/');
    if (slash != std::string_view::npos) rest.remove_prefix(slash);
  }
  url = rest;
}

TRequest TRequest::FromLines(const std::vector<std::string>& lines, TMemoryStream& body,
                             const std::string& peerAddr, bool isTLS,
                             uint32_t connectionNumber) {
  TRequestHeader header;
  for (const std::string& line : lines) header.ParseLine(line);
  // A refused request line leaves no lines, and nothing of it is kept.
  header.RequestLine = lines.empty() ? std::string() : lines.front();
  return FromHeader(std::move(header), body, peerAddr, isTLS, connectionNumber);
}

TRequest TRequest::FromHeader(TRequestHeader header, TMemoryStream& body,
                              const std::string& peerAddr, bool isTLS,
                              uint32_t connectionNumber) {
  TRequest request;
  request.Header = std::move(header);
  request.Body = &body;
  request.PeerAddr = peerAddr;
  request.IsTLS = isTLS;
  request.ConnectionNumber = connectionNumber;
  const std::string& authorization = request.Header.Get(rqAuthorization);
  request.Credentials =
      authorization.size() > kAuthSchemeLength ? authorization.substr(kAuthSchemeLength) : "";
  request.ParseLine();
  request.DecodeUrl();
  return request;
}

TRequest TRequest::WithUrl(const std::string& requested, const std::string& url,
                          bool climbed) const {
  TRequest sub = *this;
  sub.Header.RequestLine = "GET " + url + " HTTP/1.0";
  sub.ParseLine();
  sub.Requested = requested;
  sub.Url = url;
  sub.Climbed = climbed;
  sub.ControlBytes = false;
  return sub;
}

void TRequest::ParseLine() {
  const std::string& line = Header.RequestLine;
  ParseRequestLine(line, Method, RawUrl);
  Path = RawUrl.substr(0, RawUrl.find('?'));
  Query.clear();
  const std::size_t question = line.find('?');
  if (question != std::string::npos) {
    Query = line.substr(question + 1);
    const std::size_t protocol = Query.find(" HTTP/");
    if (protocol != std::string::npos) Query.erase(protocol);
  }
  const std::size_t protocol = line.find(" HTTP/");
  Version = protocol == std::string::npos ? std::string() : line.substr(protocol + 1);
}

void TRequest::DecodeUrl() {
  // A URL that cannot be decoded (a plain "?" makes it fail) stays as it came.
  Requested = RawUrl;
  const bool decoded = !Requested.empty() && PercentDecode(Requested, true);
  ControlBytes = HasControlByte(Requested) || (!decoded && EscapesControlByte(Requested));
  Url = Requested.empty() ? std::string("/") : Requested;
  // A backslash is a separator to the file system, so it counts as "/" when
  // parent segments are removed: "\..\" must not climb where "/../" cannot.
  for (char& c : Url)
    if (c == '\\') c = '/';
  Climbed = !RemoveParentSegments(Url);
}
