#include "admin/AdminRequest.h"

#include <algorithm>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string AssembleRequestData(const EXTENSION_CONTROL_BLOCK& ecb) {
  std::string data = ecb.lpszQueryString != nullptr ? ecb.lpszQueryString : "";
  if (ecb.cbTotalBytes > 0) {
    if (!data.empty()) data += '&';
    // Only what the host put into the block counts; the rest of a longer body
    // is never read from the client.
    const DWORD count = ecb.lpbData != nullptr ? std::min(ecb.cbAvailable, ecb.cbTotalBytes) : 0;
    for (DWORD i = 0; i < count; ++i) {
      const char c = static_cast<char>(ecb.lpbData[i]);
      if (c != '\r' && c != '\n') data += c;
    }
  }
  return data;
}

std::string URLDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else {
      const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
      } else if (high >= 0 && i + 2 == text.size()) {
        // A lone digit at the very end still decodes, to its own value.
        out += static_cast<char>(high);
        i += 1;
      } else {
        throw EURLDecodeError("Invalid escape '" + text.substr(i, 3) + "' in the request data");
      }
    }
  }
  return out;
}
