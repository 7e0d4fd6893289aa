#include "common/IntText.h"

#include <cstdint>

bool ParseInt32(const std::string& text, int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    magnitude = magnitude * base + digit;
    if (magnitude > int64_t{1} << 32) return false;
  }
  const int64_t signedValue = negative ? -magnitude : magnitude;
  // Hexadecimal may spell the full 32 bits (0xFFFFFFFF is -1); decimal must
  // lie in the signed range.
  if (base == 16 && signedValue >= 0 && signedValue <= 0xFFFFFFFFLL) {
    value = static_cast<int32_t>(static_cast<uint32_t>(signedValue));
    return true;
  }
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}
