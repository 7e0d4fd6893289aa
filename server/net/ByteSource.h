#pragma once
// TByteSource: where the request reader takes its bytes from.

#include <chrono>

// Where request bytes come from. Both sockets provide it; tests feed the
// reader through it as well.
class TByteSource {
 public:
  using TClock = std::chrono::steady_clock;
  virtual ~TByteSource() = default;
  // Reads up to `size` bytes (at least one), waiting until the deadline for
  // the first to come. 0 when none came in time or the connection ended;
  // either way nothing more is to be read.
  virtual int ReadSome(char* buffer, int size, TClock::time_point deadline) = 0;
  virtual bool IsTLS() const = 0;
};
