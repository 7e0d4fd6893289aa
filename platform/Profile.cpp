#include "platform/Profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Paths.h"

namespace {

// A profile file larger than this is not a settings file; refusing it keeps
// a mistaken path from being read into memory whole.
constexpr std::size_t kMaxProfileBytes = 16 * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && (IsBlank(text[last - 1]) || text[last - 1] == '\r')) --last;
  return text.substr(first, last - first);
}

bool SameAsciiText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool LoadProfileText(const std::string& fileName, std::string& content) {
  std::string linuxPath = ToLinuxPath(fileName);
  int fd = ::open(linuxPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    throw EProfileError("cannot open " + fileName + ": " + std::strerror(errno));
  }
  content.clear();
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      ::close(fd);
      throw EProfileError("cannot read " + fileName + ": " + std::strerror(error));
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
    if (content.size() > kMaxProfileBytes) {
      ::close(fd);
      throw EProfileError("profile file too large: " + fileName);
    }
  }
  ::close(fd);
  return true;
}

std::string ReadProfileString(const std::string& fileName, const std::string& section,
                              const std::string& key, const std::string& defaultValue) {
  std::string content;
  if (!LoadProfileText(fileName, content)) return defaultValue;
  return ProfileString(content, section, key, defaultValue);
}

std::string ProfileString(const std::string& content, const std::string& section,
                          const std::string& key, const std::string& defaultValue) {
  const std::string wantedSection = Trim(section);
  const std::string wantedKey = Trim(key);
  // Only the first section of the name is looked at, as the Windows reader
  // does; a repeated section further down is ignored.
  bool inSection = false;
  std::size_t start = 0;
  while (start <= content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = Trim(content.substr(start, end - start));
    start = end + 1;

    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (inSection) break;
      std::size_t close = line.find(']');
      std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = SameAsciiText(name, wantedSection);
      continue;
    }
    if (!inSection) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (!SameAsciiText(Trim(line.substr(0, equals)), wantedKey)) continue;
    std::string value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return defaultValue;
}
