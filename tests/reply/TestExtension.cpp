// An extension library for the holder's tests: its GetExtensionVersion
// fills nothing, and it remembers how it was told to terminate.
#include "common/Isapi.h"

namespace {
int TerminateCalls = 0;
DWORD LastTerminateFlags = 0;
}  // namespace

extern "C" {
__attribute__((visibility("default"))) BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO*) {
  return TRUE;
}
__attribute__((visibility("default"))) DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK*) {
  return 1;
}
__attribute__((visibility("default"))) BOOL WINAPI TerminateExtension(DWORD flags) {
  ++TerminateCalls;
  LastTerminateFlags = flags;
  return TRUE;
}
__attribute__((visibility("default"))) int TestTerminateCalls() { return TerminateCalls; }
__attribute__((visibility("default"))) DWORD TestLastTerminateFlags() { return LastTerminateFlags; }
}
