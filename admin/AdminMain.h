#pragma once
// The entry points of the administration extension: the host calls
// HttpExtensionProc once per request for admin.dll, and every call builds one
// whole page from the request data and the registry. Nothing survives a call.
//
// Failures leave HttpExtensionProc as C++ exceptions (a bad "%" escape, a
// registry read or write that fails); no page is written then, and the host
// answers the request with its error reply for a failed extension. g++ on
// Linux carries exceptions through extern "C" functions, so the entry points
// are deliberately not noexcept.

#include "common/Isapi.h"

#define TOVK_ADMIN_EXPORT __attribute__((visibility("default")))

extern "C" {
TOVK_ADMIN_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version);
TOVK_ADMIN_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
}
