#include "platform/Paths.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StatPath(const std::string& path, struct stat& st) {
  return ::stat(ToLinuxPath(path).c_str(), &st) == 0;
}

}  // namespace

std::string ToLinuxPath(const std::string& windowsPath) {
  std::string rest = windowsPath;
  std::string root;
  if (rest.size() >= 2 && IsAsciiLetter(rest[0]) && rest[1] == ':') {
    std::string variable = "TOVK_DRIVE_";
    variable += AsciiUpper(rest[0]);
    if (const char* mapped = std::getenv(variable.c_str())) root = mapped;
    rest.erase(0, 2);
  }
  for (char& c : rest)
    if (c == '\\') c = '/';
  if (root.empty()) return rest;
  // "c:\www" under a drive root "/srv/c/" must not become "/srv/c//www", and
  // the drive-relative form "c:www" still belongs under the root.
  if (rest.empty()) return root;
  bool rootEndsInSlash = root.back() == '/';
  bool restStartsWithSlash = rest.front() == '/';
  if (rootEndsInSlash && restStartsWithSlash) return root + rest.substr(1);
  if (!rootEndsInSlash && !restStartsWithSlash) return root + '/' + rest;
  return root + rest;
}

std::string ToSystemPath(const std::string& linuxPath) {
  std::string path = linuxPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return StatPath(path, st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (!StatPath(path, st) || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

TPathStat StatPathInfo(const std::string& path) {
  TPathStat info;
  struct stat st;
  if (!StatPath(path, st)) return info;
  info.Kind = S_ISREG(st.st_mode)   ? TPathKind::File
              : S_ISDIR(st.st_mode) ? TPathKind::Directory
                                    : TPathKind::Other;
  info.Size = info.Kind == TPathKind::File ? static_cast<int64_t>(st.st_size) : 0;
  info.LastWriteTime = st.st_mtime;
  info.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  info.ChangedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  info.Device = static_cast<uint64_t>(st.st_dev);
  info.Inode = static_cast<uint64_t>(st.st_ino);
  return info;
}

int64_t FileClockNowNs() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::string ProgramFileName() {
  // The link's target can be longer than any fixed buffer; grow until it fits.
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size())
      return ToSystemPath(std::string(buffer.data(), static_cast<std::size_t>(n)));
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProgramDirectory() {
  std::string file = ProgramFileName();
  std::size_t slash = file.rfind('\\');
  if (slash == std::string::npos) return std::string();
  return file.substr(0, slash + 1);
}
