// The request and response header parsers over the lines of the input, and
// the response text built from what they kept.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/net/SvrHttpHead.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// The value ParseLine is to keep: after the first ":", one blank dropped.
std::string ExpectedValue(const std::string& line) {
  std::string value = line.substr(line.find(':') + 1);
  if (!value.empty() && value[0] == ' ') value.erase(0, 1);
  return value;
}

// What BuildText writes of a value: control bytes but tab cannot stand on a line.
std::string LineSafe(const std::string& value) {
  std::string safe;
  for (unsigned char c : value)
    if (c == '\t' || (c >= 0x20 && c != 0x7F)) safe += static_cast<char>(c);
  return safe;
}

// Names a gateway may send that the server takes and drops.
bool IsDropped(const std::string& line) {
  std::string name = line.substr(0, line.find(':'));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name == "CONNECTION" || name == "TRANSFER-ENCODING";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = tovkfuzz::AsText(data, size);
  TRequestHeader request;
  TResponseHeader response;
  const auto lines = tovkfuzz::SplitLines(input);
  for (const std::string& line : lines) {
    const bool hasColon = line.find(':') != std::string::npos;
    const bool known = request.ParseLine(line);
    FUZZ_CHECK(hasColon || !known, input);
    if (known) {
      const std::string value = ExpectedValue(line);
      FUZZ_CHECK(std::find(request.Values.begin(), request.Values.end(), value) != request.Values.end(),
                 input);
    }
    // The password of a Basic authorisation is never kept.
    FUZZ_CHECK(request.UserName.find(':') == std::string::npos, input);

    if (response.ParseLine(line)) {
      FUZZ_CHECK(hasColon, input);
      const std::string value = LineSafe(ExpectedValue(line));
      if (!value.empty() && !IsDropped(line))
        FUZZ_CHECK(response.BuildText().find(": " + value + "\r\n") != std::string::npos, input);
    }
  }

  response.StatusCode = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 200;
  response.ReasonText = lines.empty() ? "" : lines.front();
  const std::string text = response.BuildText();
  FUZZ_CHECK(text.rfind("HTTP/1.0 " + std::to_string(response.StatusCode) + " ", 0) == 0, input);
  FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0, input);
  // Every line ends at its own CR LF: no value adds a line or a lone CR.
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r') FUZZ_CHECK(at + 1 < text.size() && text[at + 1] == '\n', input);
    if (text[at] == '\n') FUZZ_CHECK(at > 0 && text[at - 1] == '\r', input);
  }
  FUZZ_CHECK(text.find("\r\nConnection:") == std::string::npos, input);
  FUZZ_CHECK(text.find("\r\nTransfer-Encoding:") == std::string::npos, input);

  request.Clear();
  for (const std::string& value : request.Values) FUZZ_CHECK(value.empty(), input);
  return 0;
}
