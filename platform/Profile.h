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

// The same in two steps, for a reader that looks up many values and must
// see one version of the file: the file's whole text (false when the file
// does not exist, EProfileError when it exists but cannot be read), then a
// look-up in that text by the rules above.
bool LoadProfileText(const std::string& fileName, std::string& content);
std::string ProfileString(const std::string& content, const std::string& section,
                          const std::string& key, const std::string& defaultValue);
