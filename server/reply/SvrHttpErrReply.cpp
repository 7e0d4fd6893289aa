#include "server/reply/SvrHttpErrReply.h"

#include "server/net/Misc.h"
#include "server/net/ShellLink.h"
#include "server/reply/Route.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/MsgCat.h"

namespace {

constexpr std::size_t kShortTextMax = 255;  // title and description are short strings

// The mark-up that creators put into a message text: the connection thread
// separates the URL from the mapped path of a 404 by a paragraph, and the
// CGI reply shows a script's output in a preformatted block. Only these
// exact tags pass; they carry no attributes, so they cannot run anything.
constexpr const char* kServerMarkup[] = {"<P>", "<BR>", "<PRE>", "</PRE>"};

// The message text as it goes into the page: everything in it is escaped,
// since it carries the URL and paths of the request or a script's output,
// except the server's own tags.
std::string EscapeMessage(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t at = std::string::npos;
    std::string tag;
    for (const char* candidate : kServerMarkup) {
      std::size_t found = text.find(candidate, start);
      if (found < at) {
        at = found;
        tag = candidate;
      }
    }
    if (at == std::string::npos) break;
    out += HtmlEscape(text.substr(start, at - start)) + tag;
    start = at + tag.size();
  }
  return out + HtmlEscape(text.substr(start));
}

// A header value never carries a line break into the header.
std::string HeaderValue(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

// The realm is a quoted string built from the client's URL: a quote would
// end it early and let the client add parameters of its own, a backslash
// would escape the closing quote. Both are left out.
std::string RealmValue(const std::string& text) {
  std::string out;
  for (char c : HeaderValue(text))
    if (c != '"' && c != '\\') out += c;
  return out;
}

}  // namespace

THTTPErrReply::THTTPErrReply(const TReplyContext& context, const std::string& messageText,
                             uint16_t status)
    : THTTPReply(context), Status(status), MessageText(messageText) {}

void THTTPErrReply::Prepare() {
  std::string pagePath;
  if (StatusIndex(Status) >= 0) {
    GetErrTexts(Status, Title, Description);
    Title = Title.substr(0, kShortTextMax);
    Description = Description.substr(0, kShortTextMax);
    pagePath = Setup.ErrorPagePath(Status);
  }
  if (pagePath.empty()) return;

  // The custom page answers the same request; it is served as its type
  // calls for, and the built-in page stands in when it cannot be.
  const TRoute route = RouteErrorPage(pagePath, Setup);
  if (route.Kind == TRouteKind::Gateway || route.Kind == TRouteKind::File)
    Nested = MakeReply(route, Ctx);
  int16_t code;
  std::string text;
  if (Nested && Nested->GetStatus(code, text)) Nested.reset();
}

THTTPErrReply::~THTTPErrReply() = default;

void THTTPErrReply::SendHeader() {
  ResponseHeader.StatusCode = Status;
  ResponseHeader.ReasonText = Title;
  if (Status == 401 || Status == 402)
    ResponseHeader[rsWWWAuthenticate] = "Basic realm=\"" + RealmValue(GetUrlPath()) + "\"";
  if (Status == 301 || Status == 302) {
    // A browser reads "//host/..." and "/\host/..." as another host, so the
    // target's leading separators become one "/": a redirection built from
    // a request's own URL never leaves this server.
    if (!MessageText.empty()) {
      std::size_t start = MessageText.find_first_not_of("/\\");
      MessageText = "/" + (start == std::string::npos ? std::string() : MessageText.substr(start));
    }
    ResponseHeader[rsLocation] = HeaderValue(MessageText);
    MessageText = GetUrlPath();
  }
  ResponseHeader[rsContentType] = "text/html";
  THTTPReply::SendHeader();
}

void THTTPErrReply::SendBody() {
  if (Nested) {
    Nested->SendBody();
    return;
  }
  std::string status = std::to_string(Status);
  SendLine("<HEAD><TITLE>" + status + " " + Title + "</TITLE></HEAD>");
  SendLine("<BODY BKCOLOR=#FFFFFF BACKGROUND=\"/iswd/pozadi2_gif\">");
  SendLine("<FONT COLOR=#FF0000><H1><IMG SRC=\"/iswd/pavouk_gif\" WIDTH=49 HEIGHT=40>");
  SendLine(status + " " + Title + "</H1></FONT>");
  SendLine("<P>" + SubstituteArgument(Description, EscapeMessage(MessageText)) + "</P>");
  SendLine("<CENTER><ADDRESS><HR NOSHADE WIDTH=\"80%\"><FONT SIZE=-1>"
           "Tovk, malý WWW server pro HTTP a HTTPS.<BR>");
  SendLine("Vyvíjí a udržuje tým projektu tovk.<BR>");
  SendLine(GetMsg(18));
  SendLine("<A HREF=\"/iswd/about_html\">" + ServerSoftware +
           "</A></FONT></ADDRESS></CENTER></BODY>");
}
