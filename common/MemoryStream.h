#pragma once
// An in-memory byte stream with a position, the buffer that request bodies,
// gateway output and listings are collected in before they are sent.

#include <cstddef>
#include <string>

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : Data(std::move(bytes)) {}

  // Writes at the position, growing the stream; returns the count written.
  std::size_t Write(const void* bytes, std::size_t count);
  std::size_t Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
  // Reads up to count bytes from the position; returns the count read.
  std::size_t Read(void* into, std::size_t count);

  void Seek(std::size_t position) { Position = position > Data.size() ? Data.size() : position; }
  std::size_t GetPosition() const { return Position; }
  std::size_t Size() const { return Data.size(); }
  void Clear() { Data.clear(); Position = 0; }

  // The whole content, whatever the position.
  const std::string& Bytes() const { return Data; }
  void Assign(std::string bytes) { Data = std::move(bytes); Position = 0; }

 private:
  std::string Data;
  std::size_t Position = 0;
};
