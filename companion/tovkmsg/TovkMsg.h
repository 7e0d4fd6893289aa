#pragma once
// The message catalogue library: numbered texts and the two error texts of
// each HTTP status, as short strings (a length byte and at most 255 bytes of
// Windows-1250). Safe to call from any thread.

#include <cstdint>

extern "C" {
void GetStrMsg(uint16_t number, unsigned char* result /* 256 bytes */);
void GetErrMsg(uint16_t status, unsigned char* title /* 256 bytes */,
               unsigned char* description /* 256 bytes */);
}
