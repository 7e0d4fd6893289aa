// Percent-decoding in both modes and the removal of parent segments, the
// steps every request URL goes through before it is mapped to a file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/net/Misc.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// What RemoveParentSegments looks for: "/.." or "\.." anywhere.
bool HasSlashDotDot(const std::string& path) {
  return path.find("/..") != std::string::npos || path.find("\\..") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = tovkfuzz::AsText(data, size);

  std::string path = input;
  const bool pathDecoded = PercentDecode(path, true);
  if (!pathDecoded) FUZZ_CHECK(path == input, input);  // a failure leaves the text alone
  FUZZ_CHECK(path.size() <= input.size(), input);

  std::string segment = input;
  const bool segmentDecoded = PercentDecode(segment, false);
  if (!segmentDecoded) FUZZ_CHECK(segment == input, input);
  // Path mode only allows more characters, and decodes them the same.
  if (segmentDecoded) FUZZ_CHECK(pathDecoded && segment == path, input);

  std::string viaSegment = input;
  FUZZ_CHECK(PercentDecodeSegment(viaSegment) == segmentDecoded && viaSegment == segment, input);

  // The removal, on the decoded URL as the connection thread does it and on
  // the raw text too (a URL that fails to decode is used as it came).
  for (std::string url : {path, input}) {
    const std::string before = url;
    if (RemoveParentSegments(url)) {
      FUZZ_CHECK(!HasSlashDotDot(url), before);
      FUZZ_CHECK(url.size() <= before.size(), before);
      if (!HasSlashDotDot(before)) FUZZ_CHECK(url == before, before);
    } else {
      // Only a path that climbs above its root fails, and it did climb.
      FUZZ_CHECK(HasSlashDotDot(before), before);
    }
  }
  return 0;
}
