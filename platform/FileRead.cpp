#include "platform/FileRead.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Paths.h"

namespace {

uint32_t WindowsFileError(int error) {
  switch (error) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM:
    case EISDIR: return 5;
    default: return static_cast<uint32_t>(error);
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, uint32_t& errorCode) {
  bytes.clear();
  errorCode = 0;
  int fd = open(ToLinuxPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    errorCode = WindowsFileError(errno);
    return false;
  }
  char piece[65536];
  for (;;) {
    ssize_t n = read(fd, piece, sizeof piece);
    if (n > 0) {
      bytes.append(piece, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    errorCode = WindowsFileError(errno);
    close(fd);
    return false;
  }
  close(fd);
  return true;
}
