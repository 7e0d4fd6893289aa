#pragma once
// MD5 (RFC 1321) and its upper-case hexadecimal form.

#include <cstddef>
#include <cstdint>
#include <string>

struct TMD5Context {
  uint32_t State[4];
  uint32_t Count[2];  // bit count, low word first
  unsigned char Buffer[64];
};

void MD5Init(TMD5Context& context);
void MD5Update(TMD5Context& context, const unsigned char* bytes, std::size_t length);
void MD5Final(unsigned char digest[16], TMD5Context& context);
void MD5Buffer(TMD5Context& context, const void* bytes, std::size_t length);
std::string MD5Hex(const void* bytes, std::size_t length);
std::string MD5HexString(const std::string& text);
