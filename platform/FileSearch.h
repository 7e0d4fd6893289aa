#pragma once
// The FindFirstFile/FindNextFile search: a directory path with a wildcard
// pattern ("*", "?") in its last part, matched without regard to ASCII case.
// Entries come in directory order, "." and ".." included.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

struct TSearchRec {
  std::string Name;             // the entry's name as stored
  uint32_t Attributes = 0;      // FILE_ATTRIBUTE_* bits
  int64_t Size = 0;             // bytes; 0 for directories
  std::time_t LastWriteTime = 0;  // UTC seconds since 1970
};

class TFileSearch {
 public:
  TFileSearch();
  ~TFileSearch();
  TFileSearch(const TFileSearch&) = delete;
  TFileSearch& operator=(const TFileSearch&) = delete;

  // Starts a search for "dir\pattern"; false when nothing matches.
  bool FindFirst(const std::string& pathPattern, TSearchRec& found);
  bool FindNext(TSearchRec& found);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> Search;
};

// File attributes and stamp of one named file; false when it does not exist.
bool GetFileInfo(const std::string& path, TSearchRec& info);

// Whether a name matches a wildcard pattern the way the search matches it.
bool WildcardMatch(const std::string& pattern, const std::string& name);
