#pragma once
// What the fuzz targets share: a scratch directory of the process, file
// writing, line splitting and the check that turns a broken invariant into
// a crash libFuzzer keeps a reproducer for.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovkfuzz {

// A directory under $TMPDIR made on first use and removed at exit.
const std::string& ScratchDir();
void WriteFile(const std::string& path, const std::string& bytes);
void MakeDir(const std::string& path);

std::string AsText(const uint8_t* data, std::size_t size);
// Lines split at LF, one CR before it dropped; a last line without LF counts.
std::vector<std::string> SplitLines(const std::string& text);

[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& input);

}  // namespace tovkfuzz

// Aborts with the condition and (a printable excerpt of) the input named.
#define FUZZ_CHECK(condition, input)                                  \
  do {                                                                \
    if (!(condition)) tovkfuzz::Fail(__FILE__, __LINE__, #condition, (input)); \
  } while (0)
