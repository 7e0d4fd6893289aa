// The Base64 and uuencode decoders: the Authorization header goes through
// Base64Decode before any check is made.

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/net/Base64u.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = tovkfuzz::AsText(data, size);

  // The decoded length: at most three bytes for each four characters up to
  // the last one that is not "=", and held in 16 bits.
  const std::size_t last = input.find_last_not_of('=');
  const std::size_t dataChars = last == std::string::npos ? 0 : last + 1;
  const std::string base64 = Base64Decode(input);
  FUZZ_CHECK(base64.size() <= dataChars * 3 / 4, input);
  FUZZ_CHECK(base64.size() <= 0xFFFF, input);

  for (int mode = 1; mode <= 2; ++mode) {
    const std::string block = DecodeBlock(mode, input);
    FUZZ_CHECK(block.size() <= dataChars * 3 / 4, input);
    // Below 64 KiB the 16-bit cut does not apply: both give the same bytes.
    if (block.size() <= 0xFFFF) FUZZ_CHECK(block == base64, input);
  }

  // uuencode: the first character counts the bytes of the line, at most 63,
  // and each further character carries six bits.
  const std::string uu = DecodeBlock(0, input);
  if (!input.empty()) {
    const unsigned char first = static_cast<unsigned char>(input[0]);
    FUZZ_CHECK(uu.size() <= static_cast<std::size_t>((first - 32) & 63), input);
    FUZZ_CHECK(uu.size() <= ((input.size() - 1) * 6 + 7) / 8, input);
  } else {
    FUZZ_CHECK(uu.empty(), input);
  }
  FUZZ_CHECK(DecodeBlock(3, input).empty() && DecodeBlock(-1, input).empty(), input);

  // Lines are decoded one by one and appended.
  const auto lines = tovkfuzz::SplitLines(input);
  std::size_t bound = 0;
  for (const std::string& line : lines) {
    const std::size_t lineLast = line.find_last_not_of('=');
    bound += (lineLast == std::string::npos ? 0 : lineLast + 1) * 3 / 4;
  }
  FUZZ_CHECK(DecodeLines(lines)->Size() <= bound, input);
  return 0;
}
