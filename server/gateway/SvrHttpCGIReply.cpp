#include "server/gateway/SvrHttpCGIReply.h"

#include "platform/Paths.h"
#include "server/gateway/GatewayText.h"
#include "server/net/ShellLink.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/Loging.h"

namespace {

// The request body is copied for the program in pieces of this size.
constexpr std::size_t kBodyPiece = 250;

std::string StreamToText(TMemoryStream& stream) {
  std::string text;
  std::size_t saved = stream.GetPosition();
  try {
    stream.Seek(0);
    char piece[kBodyPiece];
    for (;;) {
      std::size_t n = stream.Read(piece, sizeof piece);
      if (n == 0) break;
      text.append(piece, n);
    }
  } catch (...) {
    LogError("Stream to String: 500");
  }
  stream.Seek(saved);
  return text;
}

}  // namespace

THTTPCGIReply::THTTPCGIReply(const TReplyContext& context, const std::string& program,
                             const std::string& document)
    : THTTPReply(context), Program(program), Document(document) {}

void THTTPCGIReply::Prepare() {
  // An empty document (a stand-alone program without path info) names no
  // file, and asking the file system about it would only cost a call.
  const std::string& accessPath =
      !Document.empty() && FileExists(Document) ? Document : Program;
  if (!Check(accessPath, TAccessUse::Run).Allowed()) return;
  Execute();
}

THTTPCGIReply::~THTTPCGIReply() = default;

void THTTPCGIReply::SendBody() { SendBufferedBody(Output); }

void THTTPCGIReply::SendHeader() { SendBufferedHeader(Output, "text/plain"); }

std::unique_ptr<TMemoryStream> THTTPCGIReply::GetBodyCopy() { return CopyOfBuffered(Output); }

TEnvList THTTPCGIReply::BuildEnvironmentList() const {
  TEnvList list;
  AddEnvLine(list, "CONTENT_LENGTH=" + std::to_string(ContentLength));
  AddEnvLine(list, "CONTENT_TYPE=" + Request.Get(rqContentType));
  AddEnvLine(list, "QUERY_STRING=" + GetQueryString());
  AddEnvLine(list, "GATEWAY_INTERFACE=CGI/1.1");
  AddEnvLine(list, "SERVER_PROTOCOL=HTTP/1.0");
  AddEnvLine(list, "SERVER_SOFTWARE=" + ServerSoftware);
  AddEnvLine(list, "SERVER_PORT=" + std::to_string(Setup.Port));
  AddEnvLine(list, "SCRIPT_NAME=" + GetUrlPath());
  AddEnvLine(list, "REQUEST_METHOD=" + MethodName(Method));
  AddEnvLine(list, "HTTP_USER_AGENT=" + Request.Get(rqUserAgent));
  AddEnvLine(list, "HTTP_REFERER=" + Request.Get(rqReferer));
  AddEnvLine(list, "HTTP_ACCEPT=" + Request.Get(rqAccept));
  AddEnvLine(list, "HTTP_ACCEPT_CHARSET=" + Request.Get(rqAcceptCharset));
  AddEnvLine(list, "HTTP_ACCEPT_ENCODING=" + Request.Get(rqAcceptEncoding));
  AddEnvLine(list, "HTTP_ACCEPT_LANGUAGE=" + Request.Get(rqAcceptLanguage));
  AddEnvLine(list, "HTTP_HOST=" + Request.Get(rqHost));
  AddEnvLine(list, "HTTP_COOKIE=" + Request.Get(rqCookie));
  AddEnvLine(list, "REMOTE_ADDR=" + Request.PeerAddr);
  AddEnvLine(list, "PATH_TRANSLATED=" + (Document.empty() ? Program : Document));
  return list;
}

bool THTTPCGIReply::RunProgram() {
  try {
    std::string bodyText;
    ContentLength = 0;
    const std::string& contentLength = Request.Get(rqContentLength);
    if (!contentLength.empty()) {
      bodyText = StreamToText(RequestBody);
      ContentLength = StrToIntDef(contentLength, 0);
    }
    TCgiCommand command;
    command.Program = Program;
    command.Environment = BuildEnvBlock(BuildEnvironmentList());

    // The directory is the part up to and including the last "\" or ":";
    // a document without either (a stand-alone program's path info) leaves
    // the directory empty, and the program then runs in ours.
    const std::string& source = Document.empty() ? Program : Document;
    std::size_t cut = source.find_last_of("\\:");
    if (cut != std::string::npos) command.WorkingDirectory = source.substr(0, cut + 1);
    // The file name is one argument whatever it holds (blanks, quotes); an
    // empty one is no argument at all. An interpreter would take a name that
    // begins with "-" for an option, so it is named through the directory
    // the program runs in.
    std::string argument;
    if (!Document.empty()) argument = cut == std::string::npos ? Document : Document.substr(cut + 1);
    if (!argument.empty() && argument[0] == '-') argument = "./" + argument;
    if (!argument.empty()) command.Arguments.push_back(argument);

    if (!FileExists(Program)) {
      StatusCode = 404;
      StatusText = Program;
      return false;
    }
    return RunCGIProcess(command, bodyText, CgiTimeLimitMs(), Output, StatusText, StatusCode);
  } catch (...) {
    LogError("CGI SHELL: 500");
    return false;
  }
}

void THTTPCGIReply::Execute() {
  try {
    RunProgram();
    if (!TakeHeaderBlock(Output, ResponseHeader)) {
      std::string shown;
      try {
        shown = Output.Bytes();
      } catch (...) {
        LogError("Stream to String: 500");
      }
      StatusCode = 500;
      StatusText = "Skript nevrátil platnou hlavičku.<BR>Vrátil toto:<BR><PRE>" + shown +
                   StatusText + "</PRE>";
    }
  } catch (...) {
    LogError("CGI Prepare: 500");
  }
}
