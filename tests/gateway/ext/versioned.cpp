// Test extension for the preloaded host: it names itself and its version,
// and notes every GetExtensionVersion and TerminateExtension call in a file
// beside itself, so a test can see the server load and unload it.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "common/Isapi.h"

namespace {

std::atomic<int> Running{0};

void Note(const std::string& line) {
  Dl_info self{};
  if (!dladdr(reinterpret_cast<void*>(&Note), &self) || !self.dli_fname) return;
  std::string path = std::string(self.dli_fname) + ".events";
  if (FILE* file = std::fopen(path.c_str(), "a")) {
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
  }
}

}  // namespace

extern "C" BOOL GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = (4u << 16) | 2u;
  std::strcpy(version->lpszExtensionDesc, "Zkusebni rozsireni");
  Note("version");
  return TRUE;
}

extern "C" BOOL TerminateExtension(DWORD flags) {
  Note("terminate " + std::to_string(flags));
  return TRUE;
}

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  ++Running;
  // Long enough for concurrent requests to meet inside the library.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int together = Running.load();
  std::string page = "Content-Type: text/plain\r\n\r\nscript=" + std::string(ecb->lpszPathTranslated) +
                     " query=" + ecb->lpszQueryString +
                     " together=" + std::to_string(together);
  DWORD size = static_cast<DWORD>(page.size());
  ecb->WriteClient(ecb->ConnID, page.data(), &size, 0);
  --Running;
  return HSE_STATUS_SUCCESS;
}
