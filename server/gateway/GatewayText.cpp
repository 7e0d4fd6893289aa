#include "server/gateway/GatewayText.h"

#include <cerrno>
#include <cstdlib>

std::string MethodName(uint8_t method) {
  switch (method) {
    case 1: return "GET";
    case 2: return "POST";
    case 3: return "HEAD";
    default: return "Unknown";
  }
}

bool TakeHeaderBlock(TMemoryStream& output, TResponseHeader& response) {
  const std::string& all = output.Bytes();
  std::string start = all.substr(0, kHeaderBlockLimit);
  // The block ends at its first empty line, however the program ends its
  // lines. Looking for CR LF CR LF first would let a program that ends its
  // lines with LF alone, and echoes a CR LF CR LF from the request into its
  // body, turn the start of that body into header lines (a Set-Cookie of
  // the client's choosing, say).
  std::size_t separator = std::string::npos;
  std::size_t separatorLength = 0;
  for (const char* ending : {"\r\n\r\n", "\n\n", "\n\r\n"}) {
    const std::size_t at = start.find(ending);
    if (at < separator) {
      separator = at;
      separatorLength = std::char_traits<char>::length(ending);
    }
  }
  if (separator == std::string::npos) return false;

  std::string block = start.substr(0, separator);
  std::size_t from = 0;
  for (;;) {
    std::size_t lineEnd = block.find('\n', from);
    std::string piece = block.substr(from, lineEnd == std::string::npos ? std::string::npos
                                                                         : lineEnd - from);
    // Only the first CR of a piece goes, wherever it stands.
    std::size_t cr = piece.find('\r');
    if (cr != std::string::npos) piece.erase(cr, 1);
    if (lineEnd == std::string::npos) {
      if (!piece.empty()) response.ParseLine(piece);
      break;
    }
    response.ParseLine(piece);
    from = lineEnd + 1;
  }
  output.Assign(all.substr(separator + separatorLength));
  return true;
}

int32_t StrToIntDef(const std::string& text, int32_t fallback) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return fallback;
  std::size_t last = text.find_last_not_of(' ');
  std::string digits = text.substr(first, last - first + 1);
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(digits.c_str(), &end, 10);
  if (errno != 0 || end == digits.c_str() || *end != '\0') return fallback;
  if (value < INT32_MIN || value > INT32_MAX) return fallback;
  return static_cast<int32_t>(value);
}
