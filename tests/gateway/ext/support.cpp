// Test extension: calls ServerSupportFunction with the requests the host
// knows, and one it does not, and reports what came back.
#include <cstring>
#include <string>

#include "common/Isapi.h"

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string report;
  // 1016 first: it appends its status and header texts to the output.
  HSE_SEND_HEADER_EX_INFO header{};
  header.pszStatus = "";
  header.pszHeader = "Content-Type: text/plain\r\n\r\n";
  header.cchHeader = static_cast<DWORD>(std::strlen(header.pszHeader));
  BOOL sentHeader = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX,
                                               &header, nullptr, nullptr);
  report += "1016=" + std::to_string(sentHeader) + "\n";

  char path[512] = "/some/url";
  DWORD size = sizeof path;
  BOOL mapped = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH, path, &size,
                                           nullptr);
  report += "1001=" + std::to_string(mapped) + ":" + path + "\n";

  char tiny[4] = "abc";
  size = sizeof tiny;
  mapped = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH, tiny, &size, nullptr);
  report += "1001small=" + std::to_string(mapped) + ":" + std::to_string(size) + ":" +
            std::string(tiny, 3) + "\n";

  char url[64] = "/x";
  HSE_URL_MAPEX_INFO info{};
  size = sizeof url;
  BOOL ex = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_MAP_URL_TO_PATH_EX, url, &size,
                                       reinterpret_cast<LPDWORD>(&info));
  report += "1012=" + std::to_string(ex) + ":" + info.lpszPath + ":" +
            std::to_string(info.dwFlags) + ":" + std::to_string(info.cchMatchingPath) + ":" +
            std::to_string(info.cchMatchingURL) + ":" + url + "\n";

  BOOL plain = ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, nullptr,
                                          nullptr, nullptr);
  report += "3=" + std::to_string(plain) + "\n";
  BOOL other = ecb->ServerSupportFunction(ecb->ConnID, 9999, nullptr, nullptr, nullptr);
  report += "9999=" + std::to_string(other) + "\n";

  size = static_cast<DWORD>(report.size());
  ecb->WriteClient(ecb->ConnID, report.data(), &size, 0);
  return HSE_STATUS_SUCCESS;
}
