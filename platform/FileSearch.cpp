#include "platform/FileSearch.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/Paths.h"

namespace {

// The wildcard pattern is first turned into the file system's own forms, as
// Windows does before it matches: "?" -> DOS_QM, "*" before "." -> DOS_STAR,
// "." before "?" or "*" or at the end -> DOS_DOT. That is what makes "*.*"
// match names without a dot and "err404.*" match a bare "err404".
constexpr char kDosStar = '<';
constexpr char kDosQm = '>';
constexpr char kDosDot = '"';

std::string TranslatePattern(const std::string& pattern) {
  std::string out = pattern;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (pattern[i] == '?')
      out[i] = kDosQm;
    else if (pattern[i] == '*' && next == '.')
      out[i] = kDosStar;
    else if (pattern[i] == '.' && (next == '?' || next == '*' || next == '\0'))
      out[i] = kDosDot;
  }
  return out;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Matches a translated pattern against a name by dynamic programming over
// (pattern position, name position), so that many stars cannot make it slow.
bool MatchTranslated(const std::string& pattern, const std::string& name) {
  const std::size_t p = pattern.size(), n = name.size();
  std::size_t lastDot = name.rfind('.');
  // can[i][j]: pattern from i matches name from j.
  std::vector<std::vector<char>> can(p + 1, std::vector<char>(n + 1, 0));
  can[p][n] = 1;
  for (std::size_t i = p; i-- > 0;) {
    for (std::size_t j = n + 1; j-- > 0;) {
      bool atEnd = j == n;
      char c = pattern[i];
      bool ok = false;
      switch (c) {
        case '*':
          ok = can[i + 1][j] || (!atEnd && can[i][j + 1]);
          break;
        case kDosStar:
          // Any characters, but never the name's final dot.
          ok = can[i + 1][j] || (!atEnd && j != lastDot && can[i][j + 1]);
          break;
        case kDosQm:
          // One character, or nothing at a dot or at the end of the name.
          if (atEnd || name[j] == '.')
            ok = can[i + 1][j];
          else
            ok = can[i + 1][j + 1];
          break;
        case kDosDot:
          // A dot, or nothing at the end of the name.
          if (atEnd)
            ok = can[i + 1][j];
          else
            ok = name[j] == '.' && can[i + 1][j + 1];
          break;
        default:
          ok = !atEnd && AsciiUpper(name[j]) == AsciiUpper(c) && can[i + 1][j + 1];
          break;
      }
      can[i][j] = ok;
    }
  }
  return can[0][0];
}

bool FillRecord(const std::string& linuxPath, const std::string& name, TSearchRec& rec) {
  struct stat st;
  // A dangling link still shows up in a listing; describe the link itself.
  if (::stat(linuxPath.c_str(), &st) != 0 && ::lstat(linuxPath.c_str(), &st) != 0) return false;
  rec.Name = name;
  rec.Attributes = 0;
  bool isDirectory = S_ISDIR(st.st_mode);
  if (isDirectory)
    rec.Attributes |= FILE_ATTRIBUTE_DIRECTORY;
  else
    rec.Attributes |= FILE_ATTRIBUTE_ARCHIVE;
  // No write bit at all counts as read-only even for root, who may write anyway.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(linuxPath.c_str(), W_OK) != 0)
    rec.Attributes |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    rec.Attributes |= FILE_ATTRIBUTE_HIDDEN;
  rec.Size = isDirectory ? 0 : static_cast<int64_t>(st.st_size);
  rec.LastWriteTime = st.st_mtime;
  return true;
}

}  // namespace

struct TFileSearch::State {
  DIR* Directory = nullptr;
  std::string DirectoryPath;  // Linux form, ends in "/"
  std::string Pattern;        // translated
};

TFileSearch::TFileSearch() = default;

TFileSearch::~TFileSearch() { Close(); }

bool TFileSearch::FindFirst(const std::string& pathPattern, TSearchRec& found) {
  Close();
  std::string linuxPath = ToLinuxPath(pathPattern);
  std::size_t slash = linuxPath.rfind('/');
  auto state = std::make_unique<State>();
  std::string pattern;
  if (slash == std::string::npos) {
    state->DirectoryPath = "./";
    pattern = linuxPath;
  } else {
    state->DirectoryPath = linuxPath.substr(0, slash + 1);
    pattern = linuxPath.substr(slash + 1);
  }
  if (pattern.empty()) return false;
  state->Pattern = TranslatePattern(pattern);
  state->Directory = ::opendir(state->DirectoryPath.c_str());
  if (state->Directory == nullptr) return false;
  Search = std::move(state);
  return FindNext(found);
}

bool TFileSearch::FindNext(TSearchRec& found) {
  if (!Search) return false;
  while (struct dirent* entry = ::readdir(Search->Directory)) {
    std::string name = entry->d_name;
    if (!MatchTranslated(Search->Pattern, name)) continue;
    // An entry removed between readdir and stat is skipped, not reported.
    if (FillRecord(Search->DirectoryPath + name, name, found)) return true;
  }
  return false;
}

void TFileSearch::Close() {
  if (Search && Search->Directory != nullptr) ::closedir(Search->Directory);
  Search.reset();
}

bool GetFileInfo(const std::string& path, TSearchRec& info) {
  std::string linuxPath = ToLinuxPath(path);
  // A directory written with its trailing separator is still named by its last part.
  std::string trimmed = linuxPath;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::size_t slash = trimmed.rfind('/');
  std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  struct stat st;
  if (::stat(linuxPath.c_str(), &st) != 0) return false;
  return FillRecord(linuxPath, name, info);
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  return MatchTranslated(TranslatePattern(pattern), name);
}
