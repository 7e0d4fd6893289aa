#pragma once
// Calling the log library's C entry points from a test: its texts are short
// strings (a length byte, then the bytes).

#include <string>

#include "common/ShortString.h"
#include "companion/tovklog/TovkLog.h"

namespace tovktest {

// A text as the library takes it.
struct Short {
  TShortString Bytes{};
  explicit Short(const std::string& text) { ToShortString(text, Bytes); }
  operator const unsigned char*() const { return Bytes; }
};

// The library's LogDllAbout text.
inline std::string About() {
  TShortString text{};
  LogDllAbout(text);
  return FromShortString(text);
}

}  // namespace tovktest
