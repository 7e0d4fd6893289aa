// The per-directory access file: the input is written as http.aut and read
// the way every reply reads it, then through the profile reader directly.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/MemoryStream.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"
#include "server/reply/AccessCheck.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

const std::string& AccessDir() {
  static const std::string dir = [] {
    std::string made = tovkfuzz::ScratchDir() + "/aut";
    tovkfuzz::MakeDir(made);
    return made;
  }();
  return dir;
}

// The key of the first "key=value" line, so that entries for a file the
// fuzzer names itself are looked up as well; without separators, which
// would move the look-up into another directory.
std::string FirstKey(const std::string& input) {
  for (const std::string& line : tovkfuzz::SplitLines(input)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || line.empty() || line[0] == '[' || line[0] == ';') continue;
    std::string key;
    for (char c : line.substr(0, equals))
      if (c != '\\' && c != '/' && c != ' ' && c != '\t' && c != '\0') key += c;
    return key;
  }
  return "";
}

void CheckRecord(const TAccessRecord& record, const std::string& input) {
  FUZZ_CHECK(record.Rights.size() <= kAccessRightsMax, input);
  FUZZ_CHECK(record.CharsetSuffix.size() <= kAccessTextMax, input);
  FUZZ_CHECK(record.Expiry.size() <= kAccessTextMax, input);
  if (!record.CharsetSuffix.empty())
    FUZZ_CHECK(record.CharsetSuffix.rfind("; charset=\"", 0) == 0, input);
  if (!record.Expiry.empty())
    FUZZ_CHECK(record.Expiry.size() >= 4 && record.Expiry.compare(record.Expiry.size() - 4, 4, " GMT") == 0,
               input);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = tovkfuzz::AsText(data, size);
  const std::string file = AccessDir() + "/http.aut";
  tovkfuzz::WriteFile(file, input);

  const std::string directory = ToSystemPath(AccessDir()) + "\\";
  for (const std::string& name : {std::string(), std::string("a.txt"), std::string("index.html"),
                                  FirstKey(input)}) {
    const TAccessRecord record = ReadAccessRecord(directory + name);
    CheckRecord(record, input);
    // The rights are the file's own entry, else the "*.*" one, cut.
    std::string rights = name.empty() ? "<none>" : ReadProfileString(file, "prava", name, "<none>");
    if (rights == "<none>") rights = ReadProfileString(file, "prava", "*.*", "<none>");
    const std::string expected = rights == "<none>" ? "" : rights.substr(0, kAccessRightsMax);
    FUZZ_CHECK(record.Rights == expected, input);
  }

  // Sections and keys compare without regard to ASCII case and blanks
  // around the names; a value never runs over a line end.
  for (const char* section : {"prava", "ostatni", "charset", "zivotnost"}) {
    for (const char* key : {"*.*", "a.txt", "isSSL", "vypis", "spoustet"}) {
      const std::string value = ReadProfileString(file, section, key, "<nic>");
      FUZZ_CHECK(value.find('\n') == std::string::npos, input);
      std::string upperSection = section, upperKey = key;
      for (char& c : upperSection) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      for (char& c : upperKey) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      FUZZ_CHECK(ReadProfileString(file, " " + upperSection + " ", upperKey, "<nic>") == value, input);
    }
  }
  return 0;
}
