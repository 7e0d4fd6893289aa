#pragma once
// A throwaway registry and MIME table for each test, and direct looks at
// the configuration key.

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "tests/support/TestSupport.h"

// A UTF-16 literal as a QString: what the user sees, independent of the
// code page that narrow literals are compiled to.
inline QString Q16(const char16_t* text) { return QString::fromUtf16(text); }

namespace cpltest {

// Points TOVK_REGISTRY and TOVK_MIME_TYPES into a fresh directory for the
// object's life (the MIME table starts empty).
class TScratchRegistry {
 public:
  TScratchRegistry();
  ~TScratchRegistry();
  void SetMimeTypes(const std::string& text);
  const tovktest::TempDir& Dir() const { return Temp; }

 private:
  tovktest::TempDir Temp;
};

bool KeyExists();
// Values of the configuration key; nullopt when missing or of another type.
std::optional<int32_t> Integer(const std::string& name);
std::optional<std::string> String(const std::string& name);
void PutInteger(const std::string& name, int32_t value);
void PutString(const std::string& name, const std::string& value);
// Writes a numbered list: count, then the entries 1..n.
void PutList(const char* word, const std::vector<std::string>& entries);

// The offscreen application object of a test program, made once.
void EnsureApplication();

}  // namespace cpltest
