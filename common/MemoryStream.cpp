#include "common/MemoryStream.h"

#include <cstring>

std::size_t TMemoryStream::Write(const void* bytes, std::size_t count) {
  if (count == 0) return 0;
  if (Position == Data.size()) {
    // Writing at the end, as pages and bodies are built: no zero fill first.
    Data.append(static_cast<const char*>(bytes), count);
    Position += count;
    return count;
  }
  if (Position + count > Data.size()) Data.resize(Position + count);
  std::memcpy(Data.data() + Position, bytes, count);
  Position += count;
  return count;
}

std::size_t TMemoryStream::Read(void* into, std::size_t count) {
  std::size_t left = Data.size() - Position;
  if (count > left) count = left;
  if (count == 0) return 0;
  std::memcpy(into, Data.data() + Position, count);
  Position += count;
  return count;
}
