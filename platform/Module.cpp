#include "platform/Module.h"

#include <dlfcn.h>

#include "platform/Paths.h"

namespace {

// dlerror() forgets its text once read; the last failure is kept per thread
// so that a caller can still ask for it after other calls.
thread_local std::string LastError;

void RememberError(const char* fallback) {
  const char* text = ::dlerror();
  LastError = text != nullptr ? text : fallback;
}

}  // namespace

HMODULE LoadLibrary(const std::string& path) {
  std::string linuxPath = ToLinuxPath(path);
  if (linuxPath.empty()) {
    LastError = "empty library path";
    return nullptr;
  }
  // A bare name is looked for beside the program first, as Windows does, and
  // then in the current directory; dlopen alone would search only the
  // system's library directories.
  if (linuxPath.find('/') == std::string::npos) {
    for (const std::string& candidate :
         {ToLinuxPath(ProgramDirectory()) + linuxPath, "./" + linuxPath}) {
      if (FileExists(ToSystemPath(candidate))) {
        linuxPath = candidate;
        break;
      }
    }
  }
  HMODULE module = ::dlopen(linuxPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) RememberError("cannot load library");
  return module;
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (module == nullptr || name == nullptr) {
    LastError = "invalid module handle or name";
    return nullptr;
  }
  ::dlerror();
  void* symbol = ::dlsym(module, name);
  if (symbol == nullptr) RememberError("symbol not found");
  return symbol;
}

bool FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    LastError = "invalid module handle";
    return false;
  }
  if (::dlclose(module) != 0) {
    RememberError("cannot unload library");
    return false;
  }
  return true;
}

std::string LastModuleError() { return LastError; }
