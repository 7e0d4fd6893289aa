#pragma once
// Paths stay Windows-style inside the system; only these calls turn one into
// a Linux path: every "\" becomes "/", and a drive prefix "X:" is replaced by
// $TOVK_DRIVE_X when set, else removed.

#include <cstdint>
#include <string>

std::string ToLinuxPath(const std::string& windowsPath);
// The reverse, for paths the system learns from Linux: "/" becomes "\".
std::string ToSystemPath(const std::string& linuxPath);

bool FileExists(const std::string& path);       // an existing file, not a directory
bool DirectoryExists(const std::string& path);  // an existing directory
// Size in bytes of an existing file, -1 when it cannot be read.
int64_t FileSize(const std::string& path);

// The real executable (/proc/self/exe) in the system's form, and its
// directory with a trailing "\".
std::string ProgramFileName();
std::string ProgramDirectory();
