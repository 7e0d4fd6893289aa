#pragma once
// Reading a whole file, as the text-file layer of the gateways needs it.

#include <cstdint>
#include <string>

// Reads the file (a Windows-style path) opened for reading only. False on
// failure, with errorCode the Windows code of the failure: 2 file not found,
// 3 path not found, 5 access denied, else the Linux errno.
bool ReadWholeFile(const std::string& path, std::string& bytes, uint32_t& errorCode);
