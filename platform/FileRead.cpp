#include "platform/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
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

bool TReadOnlyFile::Open(const std::string& path) {
  Close();
  // Non-blocking only so that opening a named pipe cannot wait for a
  // writer; it is refused below, and regular files ignore the flag.
  const int fd = open(ToLinuxPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  Handle = fd;
  OpenedSize = static_cast<int64_t>(info.st_size);
  return true;
}

int64_t TReadOnlyFile::Size() const {
  struct stat info {};
  if (Handle < 0 || fstat(Handle, &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
}

int64_t TReadOnlyFile::Read(void* buffer, std::size_t size) {
  if (Handle < 0) return -1;
  for (;;) {
    const ssize_t n = read(Handle, buffer, size);
    if (n >= 0) return static_cast<int64_t>(n);
    if (errno != EINTR) return -1;
  }
}

void TReadOnlyFile::Close() {
  if (Handle >= 0) close(Handle);
  Handle = -1;
}
