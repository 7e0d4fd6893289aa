#include "server/reply/SvrHttpReply.h"

#include <cstring>
#include <limits>
#include <vector>

#include "common/HtmlText.h"
#include "common/IntText.h"
#include "platform/FileSearch.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TimeZone.h"
#include "server/net/MD5.h"
#include "server/net/Misc.h"
#include "server/net/ShellLink.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"

namespace {

constexpr const char* kAccessFileName = "http.aut";
constexpr const char* kNoRights = "<none>";  // the sentinel of section "prava"
constexpr const char* kNoValue = "<nic>";    // the sentinel of "charset" and "zivotnost"
// The rights of an access file that cannot be read: a digest is 32
// hexadecimal digits, so no credentials ever match this.
constexpr const char* kUnmatchableRights = "<unreadable>";
constexpr std::size_t kAuthSchemeLength = 6;  // "Basic " in front of the credentials

// A flag's text is an integer; anything that is not one gives the default.
int64_t ProfileInteger(const std::string& text, int64_t defaultValue) {
  int32_t value = 0;
  return ParseInt32(text, value) ? value : defaultValue;
}

bool ProfileFlag(const std::string& content, const char* key, bool defaultValue) {
  std::string text = ProfileString(content, "ostatni", key, "");
  return ProfileInteger(text, defaultValue ? 1 : 0) != 0;
}

// The file's own key, then "*.*"; empty when neither is present. A present
// empty value under the file's own key overrides "*.*" with nothing.
bool ReadPerFile(const std::string& content, const char* section, const std::string& name,
                 const char* sentinel, std::string& value) {
  value = sentinel;
  if (!name.empty()) value = ProfileString(content, section, name, sentinel);
  if (value == sentinel) value = ProfileString(content, section, "*.*", sentinel);
  return value != sentinel;
}

// The names of the directory's access files, whatever their letter case,
// as every name the server matches is found. Anything of that name counts,
// a directory or a dangling link too: it is there, and cannot be read.
std::vector<std::string> FindAccessFiles(const std::string& directory) {
  std::vector<std::string> names;
  TFileSearch search;
  TSearchRec entry;
  for (bool more = search.FindFirst(directory + kAccessFileName, entry); more;
       more = search.FindNext(entry))
    names.push_back(entry.Name);
  // A directory that may be passed but not searched still protects its files.
  if (names.empty() && (FileExists(directory + kAccessFileName) ||
                        DirectoryExists(directory + kAccessFileName)))
    names.push_back(kAccessFileName);
  return names;
}

}  // namespace

void ParseRequestLine(const std::string& line, uint8_t& method, std::string& url) {
  std::size_t blank = line.find(' ');
  std::string word = line.substr(0, blank);
  if (word == "GET") method = mtGet;
  else if (word == "POST") method = mtPost;
  else if (word == "HEAD") method = mtHead;
  else method = mtUnknown;

  url.clear();
  if (blank == std::string::npos) return;
  url = line.substr(blank + 1);
  std::size_t protocol = url.find(" HTTP/");
  if (protocol != std::string::npos) url.erase(protocol);
  if (UpperCase(url.substr(0, 7)) == "HTTP://") {
    std::string rest = url.substr(7);
    std::size_t slash = rest.find('/');
    url = slash == std::string::npos ? rest : rest.substr(slash);
  }
}

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                (byte >= '0' && byte <= '9') || std::strchr("-._$!'()*,", c) != nullptr;
    if (keep && byte != 0) {
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

THTTPReply::THTTPReply(TRequestHeader& header, bool isTLS, TSvrSocket& socket,
                       TMemoryStream& body)
    : RequestBody(body), Socket(socket), IsTLS(isTLS), Header(header) {
  std::string url;
  ParseRequestLine(header.RequestLine, Method, url);
}

THTTPReply::~THTTPReply() = default;

void THTTPReply::SendBody() {}

void THTTPReply::SendHeader() {
  ResponseHeader[rsDate] = HttpDate(GetSystemTime());
  ResponseHeader[rsServer] = ServerSoftware;
  if (UpperCase(Header.Get(rqConnection)) == "KEEP-ALIVE")
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

std::string THTTPReply::GetUrlPath() const {
  uint8_t method;
  std::string url;
  ParseRequestLine(Header.RequestLine, method, url);
  return url.substr(0, url.find('?'));
}

std::string THTTPReply::GetQueryString() const {
  const std::string& line = Header.RequestLine;
  std::size_t question = line.find('?');
  if (question == std::string::npos) return "";
  std::string query = line.substr(question + 1);
  std::size_t protocol = query.find(" HTTP/");
  if (protocol != std::string::npos) query.erase(protocol);
  return query;
}

TAccessRecord THTTPReply::ReadAccessRecord(const std::string& path) const {
  TAccessRecord record;
  std::size_t slash = path.rfind('\\');
  std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::vector<std::string> found = FindAccessFiles(directory);
  if (found.empty()) return record;

  record.Present = true;
  record.Vypis = true;
  // Two spellings side by side leave open which one the operator meant, and
  // a file that vanished after it was found gives no protection to go by.
  std::string content;
  bool readable = false;
  if (found.size() == 1) {
    try {
      readable = LoadProfileText(directory + found.front(), content);
    } catch (const EProfileError&) {
    }
  }
  if (!readable) {
    LogError(GetMsg(17));
    record.Unreadable = true;
    record.Vypis = false;
    record.Rights = kUnmatchableRights;
    return record;
  }

  std::string value;
  if (ReadPerFile(content, "prava", name, kNoRights, value))
    record.Rights = value.substr(0, kAccessRightsMax);
  record.IsSSL = ProfileFlag(content, "isSSL", false);
  record.Vypis = ProfileFlag(content, "vypis", true);
  record.Spoustet = ProfileFlag(content, "spoustet", false);
  if (ReadPerFile(content, "charset", name, kNoValue, value))
    record.CharsetSuffix = ("; charset=\"" + value + "\"").substr(0, kAccessTextMax);
  TSystemTime date;
  if (ReadPerFile(content, "zivotnost", name, kNoValue, value) && ParseShortDate(value, date)) {
    date.Hour = date.Minute = date.Second = date.Milliseconds = 0;
    // Round trip for the day of the week, which the date text does not carry.
    record.Expiry = HttpDate(UtcToSystemTime(SystemTimeToUtc(date))).substr(0, kAccessTextMax);
  }
  return record;
}

void THTTPReply::Refuse(int16_t code) {
  StatusCode = code;
  StatusText = GetUrlPath();
}

bool THTTPReply::CredentialsMatch(const std::string& rights) {
  const std::string& authorization = Header.Get(rqAuthorization);
  Credentials =
      authorization.size() > kAuthSchemeLength ? authorization.substr(kAuthSchemeLength) : "";
  return rights.empty() || MD5HexString(Credentials) == rights;
}

void THTTPReply::SendLine(const std::string& text) { Socket.SendLine(text); }

bool THTTPReply::GetStatus(int16_t& code, std::string& text) const {
  code = StatusCode;
  text = StatusText;
  return StatusCode != 200;
}
