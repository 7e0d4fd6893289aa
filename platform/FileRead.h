#pragma once
// Reading a whole file, as the text-file layer of the gateways needs it.

#include <cstdint>
#include <string>

// Reads the file (a Windows-style path) opened for reading only. False on
// failure, with errorCode the Windows code of the failure: 2 file not found,
// 3 path not found, 5 access denied, else the Linux errno.
bool ReadWholeFile(const std::string& path, std::string& bytes, uint32_t& errorCode);

// A file opened once for reading, so that what is announced of it and what
// is sent are taken from the same file even when its name is replaced or
// it grows or shrinks meanwhile. Only regular files open: a directory
// cannot be read, and a named pipe would block the reader.
class TReadOnlyFile {
 public:
  TReadOnlyFile() = default;
  ~TReadOnlyFile() { Close(); }
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // Opens the file (a Windows-style path); false when it is missing,
  // unreadable or not a regular file.
  bool Open(const std::string& path);
  bool IsOpen() const { return Handle >= 0; }
  // The open descriptor (-1 when none), for sending the file straight to a
  // socket (SendFileBytes); reads through it move the same position.
  int Descriptor() const { return Handle; }
  // The length of the open file now, in bytes; -1 when none is open.
  int64_t Size() const;
  // Its length as Open found it, without asking again; -1 when none is open.
  int64_t SizeWhenOpened() const { return Handle >= 0 ? OpenedSize : -1; }
  // Reads up to `size` bytes from where the last read ended: the count,
  // 0 at the end of the file, -1 on a failure or when none is open.
  int64_t Read(void* buffer, std::size_t size);
  void Close();

 private:
  int Handle = -1;
  int64_t OpenedSize = -1;
};
