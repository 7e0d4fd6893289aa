#include "platform/KeyFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Registry.h"

namespace {

// Reading an existing file and creating a missing one; a second read covers
// the one race there is (another process created it between the two), and
// anything beyond that is a fault worth reporting, not a reason to loop.
constexpr int kLoadAttempts = 2;
// Permission bits of group and others: a key they may read is no secret.
constexpr mode_t kGroupOtherBits = 077;

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

class TFd {
 public:
  explicit TFd(int fd) : Fd(fd) {}
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Fd;
};

enum class TRead { Ok, Missing, Failed };

TRead ReadKey(const std::string& path, std::size_t size, std::string& key, std::string& error) {
  TFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (file.Fd < 0) {
    if (errno == ENOENT) return TRead::Missing;
    error = ErrnoText("cannot open", path);
    return TRead::Failed;
  }
  struct stat info;
  if (::fstat(file.Fd, &info) != 0) {
    error = ErrnoText("cannot examine", path);
    return TRead::Failed;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + " is not a regular file";
    return TRead::Failed;
  }
  if ((info.st_mode & kGroupOtherBits) != 0) {
    error = path + " may be read by others than its owner";
    return TRead::Failed;
  }
  if (info.st_size != static_cast<off_t>(size)) {
    error = path + " has " + std::to_string(info.st_size) + " bytes, not " + std::to_string(size);
    return TRead::Failed;
  }
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(file.Fd, bytes.data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? ErrnoText("cannot read", path) : path + " ended early";
      return TRead::Failed;
    }
    done += static_cast<std::size_t>(n);
  }
  key = std::move(bytes);
  return TRead::Ok;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the new key into a temporary file (mkstemp makes it 0600) and links
// it under the final name, so that no reader ever sees a half-written key.
// False with errno EEXIST when another process was first.
bool CreateKey(const std::string& path, std::size_t size, std::string& error) {
  std::string bytes;
  if (!RandomBytes(size, bytes, error)) return false;
  std::string temporary = path + ".XXXXXX";
  TFd file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.Fd < 0) {
    error = ErrnoText("cannot create", temporary);
    return false;
  }
  bool written = WriteAll(file.Fd, bytes) && ::fsync(file.Fd) == 0;
  if (!written) error = ErrnoText("cannot write", temporary);
  const bool linked = written && ::link(temporary.c_str(), path.c_str()) == 0;
  const int linkErrno = errno;
  if (written && !linked && linkErrno != EEXIST) error = ErrnoText("cannot create", path);
  ::unlink(temporary.c_str());
  errno = linkErrno;
  return linked;
}

}  // namespace

bool RandomBytes(std::size_t size, std::string& bytes, std::string& error) {
  bytes.assign(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::getrandom(bytes.data() + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = std::string("no random bytes from the kernel: ") + std::strerror(errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string KeyFilePath(const std::string& name) {
  const std::string database = RegistryDatabasePath();
  const std::size_t slash = database.rfind('/');
  return slash == std::string::npos ? name : database.substr(0, slash + 1) + name;
}

bool LoadOrCreateKeyFile(const std::string& name, std::size_t size, std::string& key,
                         std::string& error) {
  const std::string path = KeyFilePath(name);
  for (int attempt = 0; attempt < kLoadAttempts; ++attempt) {
    switch (ReadKey(path, size, key, error)) {
      case TRead::Ok:
        return true;
      case TRead::Failed:
        return false;
      case TRead::Missing:
        break;
    }
    if (CreateKey(path, size, error)) continue;  // read back what was linked
    if (errno != EEXIST) return false;
  }
  error = path + " keeps disappearing";
  return false;
}
