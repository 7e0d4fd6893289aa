#pragma once
// Small pieces the gateway replies share: the method's name for programs
// and extensions, and the header block at the start of a program's or an
// extension's output.

#include <cstdint>
#include <string>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"

// "GET", "POST", "HEAD", or "Unknown" for any other method code.
std::string MethodName(uint8_t method);

// A header block must end within this many bytes of the output's start.
constexpr std::size_t kHeaderBlockLimit = 1024;

// Looks for "\r\n\r\n", else "\n\n", within the first kHeaderBlockLimit
// bytes. When found, hands the lines before it to the response header and
// leaves only the bytes after it in the output; false (output untouched)
// when there is no separator.
bool TakeHeaderBlock(TMemoryStream& output, TResponseHeader& response);

// A whole decimal number (blanks around it allowed), else the fallback.
int32_t StrToIntDef(const std::string& text, int32_t fallback);
