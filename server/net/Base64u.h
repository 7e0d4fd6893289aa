#pragma once
// Base64 and uuencode decoding (there is no encoder).

#include <memory>
#include <string>
#include <vector>

#include "common/MemoryStream.h"

std::string DecodeBlock(int mode, const std::string& text);  // 0 uuencode, 1 and 2 Base64
std::unique_ptr<TMemoryStream> DecodeLines(const std::vector<std::string>& lines);
std::string Base64Decode(const std::string& text);  // length held in 16 bits
