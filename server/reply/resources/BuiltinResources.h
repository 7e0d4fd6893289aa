#pragma once
// The data built into the server program: the pages and images of /iswd/.
// The table is generated at configure time from the files of this
// directory (see CMakeLists.txt); a file "logo.gif" is the resource LOGO_GIF.

#include <cstddef>
#include <string>

struct TBuiltinResource {
  const char* Name;  // upper case, "." turned into "_"
  const unsigned char* Data;
  std::size_t Size;
};

// The resource of that name (compared exactly); null when there is none.
const TBuiltinResource* FindBuiltinResource(const std::string& name);
