// promenne.dll: the demo's extension. It answers with a page that shows
// every server variable the host offers, in a table, and what the control
// block says of the request: method, query string, path info, content type
// and how many bytes of the body came in the block and through ReadClient.
// The page has two small forms, one sent by GET and one by POST, to fill
// those in; with the query "tabulka" it writes the table of variables
// alone, for pages that include it. The host calls it for files served by
// "dll,TOVK/ISAPI".
//
// Letters outside ASCII are written as HTML character references, so the
// output reads right inside pages of any code page.
#include <cstring>
#include <string>

#include "common/Isapi.h"

namespace {

// The names the host answers, in the order the page lists them.
const char* const kVariables[] = {
    "CONTENT_LENGTH",  "CONTENT_TYPE",      "SERVER_PROTOCOL", "SERVER_SOFTWARE",
    "SERVER_PORT",     "SCRIPT_NAME",       "REQUEST_METHOD",  "HTTP_USER_AGENT",
    "HTTP_REFERER",    "REMOTE_ADDR",       "PATH_TRANSLATED", "GATEWAY_INTERFACE",
    "PATH_INFO",       "HTTP_COOKIE",       "QUERY_STRING",
};

// Enough for any header value the server accepts in a request.
constexpr DWORD kValueRoom = 8192;
// ReadClient hands out at most this much at a time.
constexpr DWORD kReadPiece = 49152;

// Text made safe inside HTML, attribute values included.
std::string Escape(const char* text) {
  std::string out;
  if (!text) return out;
  for (const char* c = text; *c; ++c) {
    switch (*c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *c;
    }
  }
  return out;
}

std::string Row(const std::string& name, const std::string& cell) {
  return "<TR><TD><TT>" + name + "</TT></TD><TD>" + cell + "</TD></TR>\r\n";
}

// One variable as a table cell: its value, or a note that the host has none.
std::string VariableCell(EXTENSION_CONTROL_BLOCK* ecb, const char* name) {
  // The callback takes a writable name; it is not changed.
  char nameCopy[64];
  std::strncpy(nameCopy, name, sizeof nameCopy - 1);
  nameCopy[sizeof nameCopy - 1] = '\0';
  std::string value(kValueRoom, '\0');
  DWORD size = kValueRoom;
  if (!ecb->GetServerVariable(ecb->ConnID, nameCopy, value.data(), &size))
    return "<I>(pr&aacute;zdn&aacute;)</I>";
  return "<TT>" + Escape(value.c_str()) + "</TT>";
}

// Reads what the control block did not carry; the count of those bytes.
DWORD ReadRest(EXTENSION_CONTROL_BLOCK* ecb) {
  if (ecb->cbTotalBytes <= ecb->cbAvailable) return 0;
  std::string piece(kReadPiece, '\0');
  DWORD total = 0;
  // Bounded by the body's size: each round either brings bytes or ends.
  while (total < ecb->cbTotalBytes - ecb->cbAvailable) {
    DWORD size = kReadPiece;
    if (!ecb->ReadClient(ecb->ConnID, piece.data(), &size) || size == 0) break;
    total += size;
  }
  return total;
}

std::string Form(const std::string& method, const std::string& action) {
  return "<FORM METHOD=\"" + method + "\" ACTION=\"" + action + "\"><P>" + method +
         ": <INPUT NAME=\"text\" VALUE=\"Dobr&yacute; den\"> "
         "<INPUT TYPE=\"submit\" VALUE=\"Odeslat\"></P></FORM>\r\n";
}

void Write(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
  DWORD size = static_cast<DWORD>(text.size());
  ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &size, 0);
}

}  // namespace

extern "C" {

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = HSE_VERSION;
  std::strncpy(version->lpszExtensionDesc, "Proměnné serveru",
               sizeof version->lpszExtensionDesc - 1);
  version->lpszExtensionDesc[sizeof version->lpszExtensionDesc - 1] = '\0';
  return TRUE;
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  const DWORD readLater = ReadRest(ecb);

  std::string table =
      "<TABLE BORDER=1 CELLPADDING=3>\r\n"
      "<TR><TH>Prom&#283;nn&aacute;</TH><TH>Hodnota</TH></TR>\r\n";
  for (const char* name : kVariables) table += Row(name, VariableCell(ecb, name));
  table += "</TABLE>\r\n";
  const char* query = ecb->lpszQueryString ? ecb->lpszQueryString : "";
  if (std::strcmp(query, "tabulka") == 0) {
    Write(ecb, "Content-type: text/html\r\n\r\n" + table);
    return HSE_STATUS_SUCCESS;
  }

  // The forms send their data back to this very URL, without its query.
  std::string action = "promenne.dll";
  {
    char script[1024];
    char name[] = "SCRIPT_NAME";
    DWORD size = sizeof script;
    if (ecb->GetServerVariable(ecb->ConnID, name, script, &size)) action = Escape(script);
  }

  std::string page =
      "Content-type: text/html\r\n\r\n"
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\r\n"
      "<HTML><HEAD><TITLE>Prom&#283;nn&eacute; serveru</TITLE></HEAD>\r\n"
      "<BODY><H1>Prom&#283;nn&eacute; serveru</H1>\r\n"
      "<P>Tuto str&aacute;nku p&iacute;&scaron;e roz&scaron;&iacute;&#345;en&iacute; "
      "<TT>promenne.dll</TT>.</P>\r\n";
  page += table;
  page += "<H2>&#344;&iacute;dic&iacute; blok</H2>\r\n<TABLE BORDER=1 CELLPADDING=3>\r\n";
  page += Row("lpszMethod", "<TT>" + Escape(ecb->lpszMethod) + "</TT>");
  page += Row("lpszQueryString", "<TT>" + Escape(query) + "</TT>");
  page += Row("lpszPathInfo", "<TT>" + Escape(ecb->lpszPathInfo) + "</TT>");
  page += Row("lpszContentType", "<TT>" + Escape(ecb->lpszContentType) + "</TT>");
  page += Row("cbTotalBytes", std::to_string(ecb->cbTotalBytes));
  page += Row("cbAvailable", std::to_string(ecb->cbAvailable));
  page += Row("ReadClient", std::to_string(readLater));
  page += "</TABLE>\r\n";
  page += Form("GET", action);
  page += Form("POST", action);
  page += "<P><A HREF=\"/\">Zp&#283;t</A></P></BODY></HTML>\r\n";
  Write(ecb, page);
  return HSE_STATUS_SUCCESS;
}

}  // extern "C"
