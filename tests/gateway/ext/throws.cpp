// Test extension: writes a little, then throws out of its entry point.
#include <stdexcept>

#include "common/Isapi.h"

extern "C" DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  char text[] = "partial";
  DWORD size = sizeof text - 1;
  ecb->WriteClient(ecb->ConnID, text, &size, 0);
  throw std::runtime_error("extension failed");
}
