#include "server/gateway/SvrHttpISAPIReply.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/Module.h"
#include "platform/Process.h"
#include "server/gateway/GatewayText.h"
#include "server/net/Misc.h"
#include "server/net/ShellLink.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"

namespace {

// The body bytes handed over in the control block, and the most one
// ReadClient call gives.
constexpr DWORD kIsapiBodyPiece = 49152;
// Room for the path in the extended mapping record (MAX_PATH).
constexpr std::size_t kMapExPathSize = sizeof(HSE_URL_MAPEX_INFO::lpszPath);
// The flags the extended mapping reports: read, execute, script.
constexpr DWORD kMapExFlags = HSE_URL_FLAGS_READ | HSE_URL_FLAGS_EXECUTE | HSE_URL_FLAGS_SCRIPT;
constexpr DWORD kMapExMatching = 10;

constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INVALID_INDEX = 1413;

// Sets the last error where an extension can read it: a shared object
// cannot reach the server's own GetLastError, so errno carries it too.
void FailWith(uint32_t code) {
  SetLastError(code);
}

std::string MissingProcText(const std::string& path) {
  return "Nemohu nalezt proceduru \"HttpExtensionProc\": " + path;
}

}  // namespace

// The four callbacks; the connection handle is the reply.
struct TIsapiCallbacks {
  static THTTPISAPIReply* Reply(HCONN connection) {
    return static_cast<THTTPISAPIReply*>(connection);
  }

  static BOOL WINAPI GetServerVariable(HCONN connection, LPSTR name, LPVOID buffer,
                                       LPDWORD size) {
    if (!connection || !name || !size) {
      FailWith(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::string value;
    if (!Reply(connection)->ServerVariable(UpperCase(name), value) || value.empty()) {
      FailWith(ERROR_INVALID_INDEX);
      return FALSE;
    }
    // The copy never passes the size the extension gave; a buffer that is
    // too small learns the size it needs instead.
    DWORD needed = static_cast<DWORD>(value.size() + 1);
    if (!buffer || *size < needed) {
      *size = needed;
      FailWith(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, value.c_str(), needed);
    *size = static_cast<DWORD>(value.size() + 5);  // the host has always answered length + 5
    return TRUE;
  }

  static BOOL WINAPI WriteClient(HCONN connection, LPVOID buffer, LPDWORD size, DWORD) {
    if (connection && buffer && size && *size > 0) Reply(connection)->Output.Write(buffer, *size);
    return TRUE;
  }

  static BOOL WINAPI ReadClient(HCONN connection, LPVOID buffer, LPDWORD size) {
    if (!buffer) {
      LogError("ISAPI Read error - nil buffer");
      FailWith(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (!connection || !size) return FALSE;
    TMemoryStream& body = Reply(connection)->RequestBody;
    if (body.Size() == 0) return FALSE;
    std::size_t left = body.Size() - body.GetPosition();
    std::size_t count = std::min<std::size_t>({left, kIsapiBodyPiece, *size});
    *size = static_cast<DWORD>(body.Read(buffer, count));
    return TRUE;
  }

  static BOOL WINAPI ServerSupportFunction(HCONN connection, DWORD request, LPVOID buffer,
                                           LPDWORD size, LPDWORD dataType) {
    if (!connection) return FALSE;
    return Reply(connection)->SupportFunction(request, buffer, size, dataType);
  }
};

THTTPISAPIReply::THTTPISAPIReply(const TReplyContext& context, const std::string& extraPath,
                                 const std::string& translatedPath)
    : THTTPReply(context), ExtraPath(extraPath), TranslatedPath(translatedPath) {}

THTTPISAPIReply::~THTTPISAPIReply() = default;

void THTTPISAPIReply::Prepare() {
  if (!Check(TranslatedPath, TAccessUse::Run).Allowed()) return;
  Execute();
}

void THTTPISAPIReply::SendBody() { SendBufferedBody(Output); }

void THTTPISAPIReply::SendHeader() { SendBufferedHeader(Output, "text/html"); }

std::unique_ptr<TMemoryStream> THTTPISAPIReply::GetBodyCopy() { return CopyOfBuffered(Output); }

void THTTPISAPIReply::Execute() {
  RunExtension();
  // Unlike a CGI program, an extension may write no header block at all.
  TakeHeaderBlock(Output, ResponseHeader);
}

void THTTPISAPIReply::RunExtension() {
  HMODULE library = LoadLibrary(TranslatedPath);
  if (!library) {
    StatusCode = 500;
    StatusText = "Nemohu nacist knihovnu " + TranslatedPath;
    return;
  }
  auto proc =
      reinterpret_cast<PFN_HTTPEXTENSIONPROC>(GetProcAddress(library, "HttpExtensionProc"));
  if (!proc) {
    StatusCode = 500;
    StatusText = MissingProcText(TranslatedPath);
    FreeLibrary(library);  // a handle left open per request would pile up
    return;
  }
  CallExtension(proc);
  if (!FreeLibrary(library)) LogError(GetMsg(30) + TranslatedPath);
}

void THTTPISAPIReply::CallExtension(PFN_HTTPEXTENSIONPROC proc) {
  std::string method = MethodName(Method);
  std::string query = GetQueryString();
  std::string pathInfo = ExtraPath;
  std::string pathTranslated = TranslatedPath;
  std::string contentType = Request.Get(rqContentType);

  EXTENSION_CONTROL_BLOCK block;
  std::memset(&block, 0, sizeof block);
  block.cbSize = sizeof block;
  block.dwVersion = HSE_VERSION;
  block.ConnID = this;
  block.dwHttpStatusCode = 200;
  block.lpszMethod = method.data();
  block.lpszQueryString = query.data();
  block.lpszPathInfo = pathInfo.data();
  block.lpszPathTranslated = pathTranslated.data();
  block.cbTotalBytes = static_cast<DWORD>(RequestBody.Size());
  block.cbAvailable = std::min(block.cbTotalBytes, kIsapiBodyPiece);
  std::vector<BYTE> data;
  RequestBody.Seek(0);
  if (block.cbAvailable > 0) {
    data.resize(block.cbAvailable);
    // ReadClient goes on where the block ends.
    RequestBody.Read(data.data(), data.size());
    block.lpbData = data.data();
  }
  block.lpszContentType = contentType.data();
  block.GetServerVariable = &TIsapiCallbacks::GetServerVariable;
  block.WriteClient = &TIsapiCallbacks::WriteClient;
  block.ReadClient = &TIsapiCallbacks::ReadClient;
  block.ServerSupportFunction = &TIsapiCallbacks::ServerSupportFunction;

  // An exception out of an extension must not end the connection thread,
  // nor the server with it.
  try {
    proc(&block);
  } catch (...) {
    StatusCode = 500;
    StatusText = GetMsg(29);
  }
}

BOOL THTTPISAPIReply::SupportFunction(DWORD request, LPVOID, LPDWORD, LPDWORD) {
  // The per-request host takes a header only to drop it.
  return request == HSE_REQ_SEND_RESPONSE_HEADER ? TRUE : FALSE;
}

bool THTTPISAPIReply::ServerVariable(const std::string& upperName, std::string& value) {
  if (upperName == "CONTENT_LENGTH") value = Request.Get(rqContentLength);
  else if (upperName == "CONTENT_TYPE") value = Request.Get(rqContentType);
  else if (upperName == "SERVER_PROTOCOL") value = "HTTP/1.0";
  else if (upperName == "SERVER_SOFTWARE") value = ServerSoftware;
  else if (upperName == "SERVER_PORT") value = std::to_string(Setup.Port);
  else if (upperName == "SCRIPT_NAME") value = GetUrlPath();
  else if (upperName == "REQUEST_METHOD") value = MethodName(Method);
  else if (upperName == "HTTP_USER_AGENT") value = Request.Get(rqUserAgent);
  else if (upperName == "HTTP_REFERER") value = Request.Get(rqReferer);
  else if (upperName == "REMOTE_ADDR") value = Request.PeerAddr;
  else if (upperName == "PATH_TRANSLATED") value = TranslatedPath;
  else if (upperName == "GATEWAY_INTERFACE") value = "ISAPI";
  else if (upperName == "PATH_INFO") value = ExtraPath;
  else if (upperName == "HTTP_COOKIE") value = Request.Get(rqCookie);
  else if (upperName == "QUERY_STRING") value = GetQueryString();
  else return false;
  return true;
}

THTTPISAPIExtReply::THTTPISAPIExtReply(const TReplyContext& context,
                                       const std::string& libraryPath,
                                       const std::string& extraPath,
                                       const std::string& translatedPath)
    : THTTPISAPIReply(context, extraPath, translatedPath), LibraryPath(libraryPath) {}

void THTTPISAPIExtReply::Execute() { THTTPISAPIReply::Execute(); }

void THTTPISAPIExtReply::RunExtension() {
  PFN_HTTPEXTENSIONPROC proc = Setup.FindModuleProc(LibraryPath);
  if (!proc) {
    StatusCode = 500;
    StatusText = MissingProcText(LibraryPath);
    return;
  }
  CallExtension(proc);
}

BOOL THTTPISAPIExtReply::SupportFunction(DWORD request, LPVOID buffer, LPDWORD size,
                                         LPDWORD dataType) {
  switch (request) {
    case HSE_REQ_MAP_URL_TO_PATH: {
      // Whatever URL the buffer holds, the answer is the file being served;
      // it is copied only when it fits the buffer's size.
      DWORD needed = static_cast<DWORD>(TranslatedPath.size() + 1);
      if (!buffer || !size || *size < needed) {
        if (size) *size = needed;
        FailWith(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      std::memcpy(buffer, TranslatedPath.c_str(), needed);
      LogError("ISAPI Ext: HSE_REQ_MAP_URL_TO_PATH");
      return TRUE;
    }
    case HSE_REQ_MAP_URL_TO_PATH_EX: {
      // The record is the one the data-type argument points to.
      auto* info = reinterpret_cast<HSE_URL_MAPEX_INFO*>(dataType);
      if (info) {
        std::size_t count = std::min(TranslatedPath.size(), kMapExPathSize - 1);
        std::memcpy(info->lpszPath, TranslatedPath.data(), count);
        info->lpszPath[count] = '\0';
        info->dwFlags = kMapExFlags;
        info->cchMatchingPath = kMapExMatching;
        info->cchMatchingURL = kMapExMatching;
      }
      LogError("ISAPI Ext: HSE_REQ_MAP_URL_TO_PATH_EX");
      return FALSE;
    }
    case HSE_REQ_SEND_RESPONSE_HEADER_EX: {
      auto* info = static_cast<HSE_SEND_HEADER_EX_INFO*>(buffer);
      if (!info) return FALSE;
      std::string status = info->pszStatus ? info->pszStatus : "";
      std::string header = info->pszHeader ? info->pszHeader : "";
      LogError("ISAPI Ext: " + status);
      LogError("ISAPI Ext: " + header);
      Output.Write(status);
      Output.Write(header);
      return TRUE;
    }
    default:
      LogError("ISAPI Ext: " + std::to_string(request));
      return FALSE;
  }
}
