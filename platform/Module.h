#pragma once
// LoadLibrary, GetProcAddress and FreeLibrary over dlopen, dlsym, dlclose.
// Extension libraries are ELF shared objects whatever their name ends in.

#include <string>

using HMODULE = void*;

HMODULE LoadLibrary(const std::string& path);  // a Windows-style path; null on failure
void* GetProcAddress(HMODULE module, const char* name);
bool FreeLibrary(HMODULE module);
// The loader's text for the last failure of the calls above on this thread.
std::string LastModuleError();
