#pragma once
// The request data of one call: the query string and the form body joined
// into one text and URL-decoded as a whole, before any field is read.

#include <stdexcept>
#include <string>

#include "common/Isapi.h"

// Raised by URLDecode for a "%" that no two hexadecimal digits follow. Only
// the two entry points leave admin.dll, so a host knows this failure by its
// base class (or catches everything).
class EURLDecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The query string, then "&" and the body (the bytes the block holds, less
// every CR and LF) when there is a body, with "&" between them only when the
// query string is not empty.
std::string AssembleRequestData(const EXTENSION_CONTROL_BLOCK& ecb);

// "%XY" gives the byte XY, "+" a blank, anything else stays. A "%" without two
// hexadecimal digits raises EURLDecodeError, except a "%" and one digit that
// end the text, which give that digit's value.
std::string URLDecode(const std::string& text);
