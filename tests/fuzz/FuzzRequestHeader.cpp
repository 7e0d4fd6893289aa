// The request and response header parsers over the lines of the input, and
// the response text built from what they kept.

#include <algorithm>
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
      const std::string value = ExpectedValue(line);
      if (!value.empty())
        FUZZ_CHECK(response.BuildText().find(": " + value + "\r\n") != std::string::npos, input);
    }
  }

  response.StatusCode = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 200;
  response.ReasonText = lines.empty() ? "" : lines.front();
  const std::string text = response.BuildText();
  FUZZ_CHECK(text.rfind("HTTP/1.0 " + std::to_string(response.StatusCode) + " ", 0) == 0, input);
  FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0, input);

  request.Clear();
  for (const std::string& value : request.Values) FUZZ_CHECK(value.empty(), input);
  return 0;
}
