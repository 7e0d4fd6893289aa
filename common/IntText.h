#pragma once
// Integers written as text the way the configuration tools and access files
// take them: optional blanks and sign, then decimal digits, or hexadecimal
// after "$" or "0x"; the whole text must be the number.

#include <cstdint>
#include <string>

bool ParseInt32(const std::string& text, int32_t& value);
