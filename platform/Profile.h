#pragma once
// Profile (INI) file reading as GetPrivateProfileString does it: sections and
// keys compare without regard to ASCII case, values are the text after "="
// with surrounding blanks removed, and the default comes back when the file,
// the section or the key is missing.

#include <stdexcept>
#include <string>

class EProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws EProfileError when the file exists but cannot be read.
std::string ReadProfileString(const std::string& fileName, const std::string& section,
                              const std::string& key, const std::string& defaultValue);
