#include "tests/fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tovkfuzz {

namespace {

std::string MakeScratchDir() {
  // Targets rewrite a file for every input; on a disk file system that costs
  // milliseconds per run, in memory microseconds.
  const char* base = std::getenv("TMPDIR");
  std::string root = base != nullptr && *base != '\0' ? base
                     : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                 : "/tmp";
  std::string pattern = root + "/tovkfuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
  return pattern;
}

// Printable bytes as they are, the rest as \xNN, at most 400 of them.
std::string Excerpt(const std::string& bytes) {
  std::string out;
  static const char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size() && i < 400; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (bytes.size() > 400) out += "...";
  return out;
}

}  // namespace

const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string made = MakeScratchDir();
    // The directory is the process's own; a crash leaves it to the run
    // script, which deletes its whole temporary tree.
    static std::string removeAtExit = made;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removeAtExit, ignored);
    });
    return made;
  }();
  return dir;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void MakeDir(const std::string& path) { std::filesystem::create_directories(path); }

std::string AsText(const uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

void Fail(const char* file, int line, const char* condition, const std::string& input) {
  std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n  input: \"%s\"\n", file, line, condition,
               Excerpt(input).c_str());
  std::abort();
}

}  // namespace tovkfuzz
