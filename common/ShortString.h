#pragma once
// Short strings: a length byte followed by at most 255 bytes. Texts cross
// into the companion libraries in this form.

#include <cstdint>
#include <cstring>
#include <string>

constexpr std::size_t kShortStringMax = 255;  // what one length byte can count
using TShortString = unsigned char[kShortStringMax + 1];

inline void ToShortString(const std::string& text, unsigned char* out) {
  std::size_t n = text.size() < kShortStringMax ? text.size() : kShortStringMax;
  out[0] = static_cast<unsigned char>(n);
  std::memcpy(out + 1, text.data(), n);
}

inline std::string FromShortString(const unsigned char* in) {
  return std::string(reinterpret_cast<const char*>(in + 1), in[0]);
}
