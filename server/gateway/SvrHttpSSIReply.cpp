#include "server/gateway/SvrHttpSSIReply.h"

#include <stdexcept>

#include "platform/FileRead.h"
#include "platform/FileSearch.h"
#include "platform/Paths.h"
#include "platform/TimeZone.h"
#include "server/gateway/GatewayText.h"
#include "server/net/Misc.h"
#include "server/net/ShellLink.h"
#include "server/reply/Route.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"

namespace {

// The most characters after "<!--" that make up a directive.
constexpr std::size_t kDirectiveMax = 1024;

constexpr uint16_t kMsgNoOutput = 24;
constexpr uint16_t kMsgBadDirective = 25;
constexpr uint16_t kMsgAboveRoot = 26;
constexpr uint16_t kMsgMissingTarget = 27;

// SSI documents being processed on this thread, the outermost counting 1.
thread_local int IncludeDepth = 0;

struct TDepthGuard {
  TDepthGuard() { ++IncludeDepth; }
  ~TDepthGuard() { --IncludeDepth; }
};

std::unique_ptr<TMemoryStream> TextStream(const std::string& text) {
  return std::make_unique<TMemoryStream>(text);
}

std::string TrimBlanks(const std::string& text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The value of NAME="value" (the name in any case); false without marker.
bool MarkerValue(const std::string& directive, const std::string& name, std::string& value) {
  std::size_t at = PosText(name + "=\"", directive);  // 1-based, 0 when absent
  if (at == 0) return false;
  value = directive.substr(at - 1 + name.size() + 2);
  std::size_t quote = value.find('"');
  if (quote != std::string::npos) value.erase(quote);
  return true;
}

std::string LocalDateTime(const TSystemTime& t) {
  return FormatShortDate(t) + " " + FormatLongTime(t);
}

// A file's modification time as local date and time; a file without one
// cannot form a date, which costs the caller the rest of its line.
std::string FileModifiedText(const std::string& path) {
  TSearchRec info;
  if (!GetFileInfo(path, info)) throw std::runtime_error("no such file");
  return LocalDateTime(UtcToLocalTime(info.LastWriteTime));
}

std::string DirectoryPart(const std::string& path) {
  std::size_t cut = path.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// "\\dir\\file" and "c:\\dir\\file" name their place whatever the current
// directory; anything else is taken from the document's directory.
bool IsAbsoluteSystemPath(const std::string& path) {
  return (!path.empty() && path[0] == '\\') || (path.size() > 1 && path[1] == ':');
}

std::string FileNamePart(const std::string& path) {
  std::size_t cut = path.find_last_of("\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

THTTPSSIReply::THTTPSSIReply(const TReplyContext& context, const std::string& documentPath)
    : THTTPReply(context), DocumentPath(documentPath) {}

void THTTPSSIReply::Prepare() {
  // An access file itself is refused, yet processed all the same: the 403
  // is what the client gets.
  const TAccessAnswer answer = Check(DocumentPath, TAccessUse::Parse);
  if (!answer.Allowed() && !answer.ByName) return;
  if (IncludeDepth >= kMaxIncludeDepth) {
    StatusCode = 500;
    StatusText = GetUrlPath();
    return;
  }
  Execute();
}

THTTPSSIReply::~THTTPSSIReply() = default;

void THTTPSSIReply::SendBody() { SendBufferedBody(Output); }

void THTTPSSIReply::SendHeader() { SendBufferedHeader(Output, "text/html", true); }

std::unique_ptr<TMemoryStream> THTTPSSIReply::GetBodyCopy() { return CopyOfBuffered(Output); }

void THTTPSSIReply::Execute() {
  TDepthGuard depth;
  std::string text;
  uint32_t errorCode = 0;
  if (!ReadWholeFile(DocumentPath, text, errorCode)) {
    StatusCode = 500;
    StatusText = "File error: " + std::to_string(errorCode);
  } else {
    // Lines end at CR LF, LF or a lone CR; a last line without its end
    // still counts, an end at the very end of the file adds none.
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find_first_of("\r\n", start);
      std::string line = text.substr(start, end == std::string::npos ? std::string::npos
                                                                      : end - start);
      if (end == std::string::npos) {
        start = text.size();
      } else {
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
      }
      try {
        ProcessLine(line);
      } catch (...) {
        LogError(GetMsg(kMsgBadDirective));
      }
    }
  }
}

void THTTPSSIReply::ProcessLine(std::string line) {
  for (;;) {
    std::size_t open = line.find("<!--");
    if (open == std::string::npos) {
      Output.Write(line + "\r\n");
      return;
    }
    const std::size_t p = open + 1;  // 1-based position of "<!--"
    std::string after = line.substr(open + 4, kDirectiveMax);
    std::size_t close = after.find("-->");
    if (close != std::string::npos) after.erase(close);
    std::string directive = TrimBlanks(after);
    if (!directive.empty() && directive[0] == '#') {
      Output.Write(line.substr(0, open));
      std::unique_ptr<TMemoryStream> result = RunDirective(directive);
      if (result) {
        Output.Write(result->Bytes());
      } else {
        Output.Write(GetMsg(kMsgNoOutput));
      }
      // This count removes the comment exactly when one blank stands before
      // "-->": each further blank leaves a character of "-->" behind, and
      // no blank swallows the character after the comment.
      line.erase(0, std::min(line.size(), p + directive.size() + 7));
    } else {
      // A plain comment: through "<!--" and the character after it.
      std::size_t count = std::min(line.size(), p + 4);
      Output.Write(line.substr(0, count));
      line.erase(0, count);
    }
  }
}

std::unique_ptr<TMemoryStream> THTTPSSIReply::RunDirective(const std::string& directive) {
  const std::string upper = UpperCase(directive);
  if (upper.find("#INCLUDE") != std::string::npos) return Include(directive);
  // Echoed values come from the request as well: they go into the page as text.
  if (upper.find("#ECHO") != std::string::npos) return TextStream(HtmlEscape(Echo(directive)));
  const bool lastModified = upper.find("#FLASTMOD") != std::string::npos;
  if (lastModified || upper.find("#FSIZE") != std::string::npos) {
    std::string path, refusal;
    if (!TargetPath(directive, path, refusal)) return TextStream(GetMsg(kMsgBadDirective));
    if (!refusal.empty()) return TextStream(refusal);
    return TextStream(lastModified ? FileModifiedText(path) : GetFileSizeText(path));
  }
  return TextStream(GetMsg(kMsgBadDirective));
}

bool THTTPSSIReply::TargetPath(const std::string& directive, std::string& path,
                               std::string& refusal) {
  std::string value;
  if (MarkerValue(directive, "FILE", value) && !value.empty()) {
    // A local path, kept to the document's own directory and below: size
    // and date of any other file are not the page's to tell.
    const std::string directory = DirectoryPart(DocumentPath);
    path = value;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    if (!IsAbsoluteSystemPath(path)) path = directory + path;
    if (HasParentSegment(path) || path.compare(0, directory.size(), directory) != 0) {
      refusal = GetMsg(kMsgAboveRoot);
      return true;
    }
    refusal = AccessRefusal(path, value);
    return true;
  }
  if (MarkerValue(directive, "VIRTUAL", value) && !value.empty()) {
    // The same URL rules as #INCLUDE, which would not show this file either.
    for (char& c : value) {
      if (c == '\\') c = '/';
    }
    if (!RemoveParentSegments(value)) {
      refusal = GetMsg(kMsgAboveRoot);
      return true;
    }
    path = value;
    Setup.MapUrlToPath(path, Request.Get(rqHost), IsTLS);
    if (HasParentSegment(path)) {
      refusal = GetMsg(kMsgAboveRoot);
      return true;
    }
    refusal = AccessRefusal(path, value);
    return true;
  }
  return false;
}

std::string THTTPSSIReply::AccessRefusal(const std::string& path, const std::string& shown) {
  const TAccessAnswer answer =
      CheckAccess(ReadAccessRecord(path), Request, path, TAccessUse::Peek);
  if (answer.Allowed()) return std::string();
  return "[" + GetMsg(kMsgBadDirective) + " " + std::to_string(answer.Code) + " \"" + shown +
         "\"]";
}

std::string THTTPSSIReply::Echo(const std::string& directive) {
  std::string value;
  if (!MarkerValue(directive, "VAR", value) || value.empty()) return GetMsg(kMsgBadDirective);
  const std::string name = UpperCase(value);
  if (name == "DATE_GMT") return HttpDate(GetSystemTime());
  if (name == "DATE_LOCAL") return LocalDateTime(GetLocalTime());
  if (name == "DOCUMENT_NAME") return FileNamePart(DocumentPath);
  if (name == "DOCUMENT_URI") {
    std::string uri = GetUrlPath();
    std::string decoded = uri;
    return PercentDecodeSegment(decoded) ? decoded : uri;
  }
  if (name == "LAST_MODIFIED") return FileModifiedText(DocumentPath);
  if (name.find('$') == std::string::npos) return GetMsg(kMsgBadDirective);

  if (name == "$CONTENT_LENGTH") return Request.Get(rqContentLength);
  if (name == "$CONTENT_TYPE") return Request.Get(rqContentType);
  if (name == "$SERVER_PROTOCOL") return "HTTP/1.0";
  if (name == "$SERVER_SOFTWARE") return ServerSoftware;
  if (name == "$SERVER_PORT") return std::to_string(Setup.Port);
  if (name == "$SCRIPT_NAME") return GetUrlPath();
  if (name == "$REQUEST_METHOD") return MethodName(Method);
  if (name == "$HTTP_USER_AGENT") return Request.Get(rqUserAgent);
  if (name == "$HTTP_REFERER") return Request.Get(rqReferer);
  if (name == "$REMOTE_ADDR") return Request.PeerAddr;
  if (name == "$PATH_TRANSLATED") return DocumentPath;
  if (name == "$GATEWAY_INTERFACE") return "CGI/1.1";
  if (name == "$HTTP_COOKIE") return Request.Get(rqCookie);
  if (name == "$QUERY_STRING") return GetQueryString();
  return "(unknown)";
}

std::unique_ptr<TMemoryStream> THTTPSSIReply::Include(const std::string& directive) {
  // The attribute's name is not looked at: FILE and VIRTUAL both give a URL.
  std::string value;
  std::size_t marker = directive.find("=\"");
  if (marker != std::string::npos) {
    value = directive.substr(marker + 2);
    if (!value.empty() && value.back() == '"') value.pop_back();
  }
  if (!value.empty()) {
    std::string decoded = value;
    if (PercentDecode(decoded, true)) value = decoded;
  }
  if (value.empty()) value = "/";
  // A backslash climbs like "/" once the URL is mapped, so it must be seen
  // by the parent-segment check too.
  for (char& c : value) {
    if (c == '\\') c = '/';
  }
  const std::string requestUrl = value;
  const bool climbs = !RemoveParentSegments(value);
  // The target is a request of its own, asked with GET for the URL; the
  // page's own request stays as it came, for the rest of the page and the log.
  const TRequest sub = Request.WithUrl(requestUrl, value, climbs);
  const TRoute route = RouteRequest(sub, Setup, TRouteScope::Include);
  switch (route.Miss) {
    case TRouteMiss::None:
      break;
    case TRouteMiss::Climbs:
      return TextStream(GetMsg(kMsgAboveRoot));
    case TRouteMiss::NoPseudoTarget:
      return TextStream(GetMsg(kMsgMissingTarget) + sub.Path + "\"]");
    case TRouteMiss::NoInterpreter:
      return TextStream(GetMsg(kMsgMissingTarget) + route.Application + "\"]");
    case TRouteMiss::NoTarget:
      return TextStream(GetMsg(kMsgMissingTarget) + value + "\"]");
  }
  std::unique_ptr<THTTPReply> nested = MakeReply(route, TReplyContext{sub, Socket, Setup});
  if (!nested) return nullptr;
  int16_t code = 200;
  std::string text;
  if (nested->GetStatus(code, text)) {
    return TextStream("[" + GetMsg(kMsgBadDirective) + " " + std::to_string(code) + " \"" + text +
                      "\"]");
  }
  return nested->GetBodyCopy();
}
