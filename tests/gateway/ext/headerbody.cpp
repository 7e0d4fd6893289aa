// Test extension: a header block and a body through WriteClient. With the
// query "ssf3" it sends its header through ServerSupportFunction instead.
#include <cstring>
#include <string>

#include "common/Isapi.h"

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string body = "hello from extension";
  if (std::strcmp(ecb->lpszQueryString, "ssf3") == 0) {
    char header[] = "Content-Type: text/plain\r\n\r\n";
    DWORD size = sizeof header - 1;
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, nullptr, &size,
                               reinterpret_cast<LPDWORD>(header));
  } else {
    body = "Content-Type: text/plain\r\n\r\n" + body;
  }
  DWORD size = static_cast<DWORD>(body.size());
  ecb->WriteClient(ecb->ConnID, body.data(), &size, 0);
  return HSE_STATUS_SUCCESS;
}
