#include "platform/FileSend.h"

#include <sys/sendfile.h>

#include <algorithm>

namespace {
// The most one call is asked to send; the kernel takes no more than about
// 2 GiB in one call anyway.
constexpr int64_t kMostPerCall = int64_t{1} << 30;
}  // namespace

int64_t SendFileBytes(int socket, int file, int64_t count) {
  const auto wanted = static_cast<std::size_t>(std::clamp<int64_t>(count, 0, kMostPerCall));
  return static_cast<int64_t>(::sendfile(socket, file, nullptr, wanted));
}
