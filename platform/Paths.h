#pragma once
// Paths stay Windows-style inside the system; only these calls turn one into
// a Linux path: every "\" becomes "/", and a drive prefix "X:" is replaced by
// $TOVK_DRIVE_X when set, else removed.

#include <cstdint>
#include <ctime>
#include <string>

std::string ToLinuxPath(const std::string& windowsPath);
// The reverse, for paths the system learns from Linux: "/" becomes "\".
std::string ToSystemPath(const std::string& linuxPath);

bool FileExists(const std::string& path);       // an existing file, not a directory
bool DirectoryExists(const std::string& path);  // an existing directory
// Size in bytes of an existing file, -1 when it cannot be read.
int64_t FileSize(const std::string& path);

// What one look at a path tells: whether it is a file or a directory, its
// size and times, and which object it is. A request looks once and carries
// this along instead of asking the file system again for each answer.
enum class TPathKind : uint8_t { Missing, File, Directory, Other };
struct TPathStat {
  TPathKind Kind = TPathKind::Missing;
  int64_t Size = 0;               // bytes; 0 for anything but a file
  std::time_t LastWriteTime = 0;  // UTC seconds since 1970
  int64_t ModifiedNs = 0;         // the same to the nanosecond
  int64_t ChangedNs = 0;          // status change, which no user can set back
  uint64_t Device = 0;
  uint64_t Inode = 0;
  bool IsFile() const { return Kind == TPathKind::File; }
  bool IsDirectory() const { return Kind == TPathKind::Directory; }
};
TPathStat StatPathInfo(const std::string& path);
// Nanoseconds since 1970 by the clock the file system stamps with.
int64_t FileClockNowNs();

// The real executable (/proc/self/exe) in the system's form, and its
// directory with a trailing "\".
std::string ProgramFileName();
std::string ProgramDirectory();
