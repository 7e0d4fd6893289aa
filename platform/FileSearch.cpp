#include "platform/FileSearch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <optional>
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

// A process in more supplementary groups than this is judged by the first
// ones only; Linux allows 65536, but a server account has a handful.
constexpr int kMaxGroupsLooked = 256;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Matches a translated pattern against a name by dynamic programming over
// (pattern position, name position), so that many stars cannot make it slow.
bool MatchTranslated(const std::string& pattern, const std::string& name) {
  // The two patterns a listing uses match every name; a pattern without
  // wildcards (an access file's name) is a comparison. Neither needs the table.
  if (pattern == "*" || pattern == "<\"*") return true;
  if (pattern.find_first_of("*<>\"") == std::string::npos) {
    if (pattern.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (AsciiUpper(pattern[i]) != AsciiUpper(name[i])) return false;
    return true;
  }
  const std::size_t p = pattern.size(), n = name.size();
  std::size_t lastDot = name.rfind('.');
  // can[i][j]: pattern from i matches name from j; one block, rows of n + 1.
  std::vector<char> table((p + 1) * (n + 1), 0);
  auto can = [&table, n](std::size_t i) { return table.data() + i * (n + 1); };
  can(p)[n] = 1;
  for (std::size_t i = p; i-- > 0;) {
    for (std::size_t j = n + 1; j-- > 0;) {
      bool atEnd = j == n;
      char c = pattern[i];
      bool ok = false;
      switch (c) {
        case '*':
          ok = can(i + 1)[j] || (!atEnd && can(i)[j + 1]);
          break;
        case kDosStar:
          // Any characters, but never the name's final dot.
          ok = can(i + 1)[j] || (!atEnd && j != lastDot && can(i)[j + 1]);
          break;
        case kDosQm:
          // One character, or nothing at a dot or at the end of the name.
          if (atEnd || name[j] == '.')
            ok = can(i + 1)[j];
          else
            ok = can(i + 1)[j + 1];
          break;
        case kDosDot:
          // A dot, or nothing at the end of the name.
          if (atEnd)
            ok = can(i + 1)[j];
          else
            ok = name[j] == '.' && can(i + 1)[j + 1];
          break;
        default:
          ok = !atEnd && AsciiUpper(name[j]) == AsciiUpper(c) && can(i + 1)[j + 1];
          break;
      }
      can(i)[j] = ok;
    }
  }
  return can(0)[0];
}

// Who this process is, taken once for a whole search: the ids are system
// calls, and a listing asks for every entry.
struct TWriter {
  uid_t User = ::geteuid();
  gid_t Group = ::getegid();
  std::vector<gid_t> Groups = SupplementaryGroups();

  static std::vector<gid_t> SupplementaryGroups() {
    std::vector<gid_t> groups(kMaxGroupsLooked);
    int count = ::getgroups(kMaxGroupsLooked, groups.data());
    groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return groups;
  }

  // Whether it may write a file of this mode and owner, by the rule the
  // kernel applies to the mode bits: root may write anything with a write
  // bit; the owner is judged by the owner's bit, a member of the file's group
  // by the group's, anyone else by the others'. Access lists are not looked
  // at; a read-only mount is checked once for the whole directory.
  bool MayWrite(const struct stat& st) const {
    if (User == 0) return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    if (st.st_uid == User) return (st.st_mode & S_IWUSR) != 0;
    bool inGroup = st.st_gid == Group;
    for (std::size_t i = 0; i < Groups.size() && !inGroup; ++i) inGroup = Groups[i] == st.st_gid;
    return (st.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
  }
};

// The record of a file named `name` whose status is st.
void FillRecord(const struct stat& st, const std::string& name, const TWriter& writer,
                bool readOnlyMount, TSearchRec& rec) {
  rec.Name = name;
  rec.Attributes = 0;
  bool isDirectory = S_ISDIR(st.st_mode);
  if (isDirectory)
    rec.Attributes |= FILE_ATTRIBUTE_DIRECTORY;
  else
    rec.Attributes |= FILE_ATTRIBUTE_ARCHIVE;
  if (readOnlyMount || !writer.MayWrite(st)) rec.Attributes |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..")
    rec.Attributes |= FILE_ATTRIBUTE_HIDDEN;
  rec.Size = isDirectory ? 0 : static_cast<int64_t>(st.st_size);
  rec.LastWriteTime = st.st_mtime;
}

bool OnReadOnlyMount(const std::string& linuxPath) {
  struct statvfs fs;
  return ::statvfs(linuxPath.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
}

}  // namespace

struct TFileSearch::State {
  DIR* Directory = nullptr;
  std::string DirectoryPath;  // Linux form, ends in "/"
  std::string Pattern;        // translated
  // Taken when the first entry matches: a search for one name (the access
  // file) mostly matches none and should not pay for them.
  std::optional<TWriter> Writer;
  bool ReadOnlyMount = false;
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
    if (!Search->Writer) {
      Search->Writer.emplace();
      Search->ReadOnlyMount = OnReadOnlyMount(Search->DirectoryPath);
    }
    // By name within the open directory: no path to walk. A dangling link
    // still shows up in a listing, described as the link itself; an entry
    // removed between readdir and stat is skipped, not reported.
    const int directoryFd = ::dirfd(Search->Directory);
    struct stat st;
    if (::fstatat(directoryFd, entry->d_name, &st, 0) != 0 &&
        ::fstatat(directoryFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    FillRecord(st, name, *Search->Writer, Search->ReadOnlyMount, found);
    return true;
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
  FillRecord(st, name, TWriter(), OnReadOnlyMount(linuxPath), info);
  return true;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  return MatchTranslated(TranslatePattern(pattern), name);
}
