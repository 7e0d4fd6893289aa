// The REGEDIT4 reader of tovkreg, parse only: nothing is applied to any
// registry. What it accepts must also come back the same when written out
// again in the file form and read once more.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/tovkreg/RegScript.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string HexList(const std::string& bytes) {
  std::string out;
  char item[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(item, sizeof item, "%s%02x", i > 0 ? "," : "", static_cast<unsigned char>(bytes[i]));
    out += item;
  }
  return out;
}

// One line per operation, in the form the reader takes.
std::string WriteBack(const std::vector<RegScriptOp>& ops) {
  std::string text = "REGEDIT4\n";
  for (const RegScriptOp& op : ops) {
    const std::string name = op.Value.Name.empty() ? "@" : Quoted(op.Value.Name);
    switch (op.What) {
      case RegScriptOp::CreateKey:
        text += "[" + FullKeyName(op.Key.Root, op.Key.Path) + "]\n";
        break;
      case RegScriptOp::DeleteKey:
        text += "[-" + FullKeyName(op.Key.Root, op.Key.Path) + "]\n";
        break;
      case RegScriptOp::DeleteValue:
        text += name + "=-\n";
        break;
      case RegScriptOp::SetValue: {
        char type[24];
        std::snprintf(type, sizeof type, "hex(%x):", op.Value.Type);
        text += name + "=" + type + HexList(op.Value.Data) + "\n";
        break;
      }
    }
  }
  return text;
}

bool SameOps(const std::vector<RegScriptOp>& a, const std::vector<RegScriptOp>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].What != b[i].What || a[i].Key.Root != b[i].Key.Root || a[i].Key.Path != b[i].Key.Path)
      return false;
    if (a[i].What == RegScriptOp::SetValue || a[i].What == RegScriptOp::DeleteValue) {
      if (a[i].Value.Name != b[i].Value.Name) return false;
    }
    if (a[i].What == RegScriptOp::SetValue &&
        (a[i].Value.Type != b[i].Value.Type || a[i].Value.Data != b[i].Value.Data))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = tovkfuzz::AsText(data, size);
  std::vector<RegScriptOp> ops;
  RegScriptError error;
  const int lineCount = static_cast<int>(tovkfuzz::SplitLines(input).size());

  if (!ParseRegScript(input, &ops, &error)) {
    FUZZ_CHECK(!error.Text.empty(), input);
    FUZZ_CHECK(error.Line >= 1 && error.Line <= lineCount + 1, input);
    return 0;
  }

  int previousLine = 0;
  for (const RegScriptOp& op : ops) {
    FUZZ_CHECK(op.Line > previousLine && op.Line <= lineCount, input);
    previousLine = op.Line;
    FUZZ_CHECK(op.Key.Root == HKEY_LOCAL_MACHINE || op.Key.Root == HKEY_CURRENT_USER, input);
    // Key paths are as the header promises: no "\" at either end, no empty
    // name between two of them.
    const std::string& path = op.Key.Path;
    FUZZ_CHECK(path.empty() || (path.front() != '\\' && path.back() != '\\'), input);
    FUZZ_CHECK(path.find("\\\\") == std::string::npos, input);
    if (op.What == RegScriptOp::DeleteKey) FUZZ_CHECK(!path.empty(), input);
    // The key name reads back as the same key.
    RegKeyName again;
    FUZZ_CHECK(ParseKeyName(FullKeyName(op.Key.Root, path), &again), input);
    FUZZ_CHECK(again.Root == op.Key.Root && again.Path == path, input);
  }

  const std::string written = WriteBack(ops);
  std::vector<RegScriptOp> reread;
  RegScriptError rereadError;
  FUZZ_CHECK(ParseRegScript(written, &reread, &rereadError), input + "\n--- written back:\n" + written);
  FUZZ_CHECK(SameOps(ops, reread), input + "\n--- written back:\n" + written);
  return 0;
}
