#include "server/reply/AccessCheck.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "common/IntText.h"
#include "platform/FileSearch.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TimeZone.h"
#include "server/net/MD5.h"
#include "server/net/Misc.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"

namespace {

constexpr const char* kAccessFileName = "http.aut";
constexpr const char* kNoRights = "<none>";  // the sentinel of section "prava"
constexpr const char* kNoValue = "<nic>";    // the sentinel of "charset" and "zivotnost"
// The rights of an access file that cannot be read: a digest is 32
// hexadecimal digits, so no credentials ever match this.
constexpr const char* kUnmatchableRights = "<unreadable>";
// A directory's time stamp is taken from a clock that ticks in steps of a
// few milliseconds, and some file systems keep it in steps of 2 s (FAT), so
// a change right after a look may leave the stamp as it was. What is found
// in a directory changed this recently is therefore not remembered; it is
// looked up again until the directory has been still longer than the
// coarsest step.
constexpr int64_t kDirectorySettleNs = 3000000000;

// A flag's text is an integer; anything that is not one gives the default.
int64_t ProfileInteger(const std::string& text, int64_t defaultValue) {
  int32_t value = 0;
  return ParseInt32(text, value) ? value : defaultValue;
}

bool ProfileFlag(const std::string& content, const char* key, bool defaultValue) {
  std::string text = ProfileString(content, "ostatni", key, "");
  return ProfileInteger(text, defaultValue ? 1 : 0) != 0;
}

// The file's own key, then "*.*"; empty when neither is present. A present
// empty value under the file's own key overrides "*.*" with nothing.
bool ReadPerFile(const std::string& content, const char* section, const std::string& name,
                 const char* sentinel, std::string& value) {
  value = sentinel;
  if (!name.empty()) value = ProfileString(content, section, name, sentinel);
  if (value == sentinel) value = ProfileString(content, section, "*.*", sentinel);
  return value != sentinel;
}

// The names of the directory's access files, whatever their letter case,
// as every name the server matches is found. Anything of that name counts,
// a directory or a dangling link too: it is there, and cannot be read.
std::vector<std::string> SearchAccessFiles(const std::string& directory) {
  std::vector<std::string> names;
  TFileSearch search;
  TSearchRec entry;
  for (bool more = search.FindFirst(directory + kAccessFileName, entry); more;
       more = search.FindNext(entry))
    names.push_back(entry.Name);
  // A directory that may be passed but not searched still protects its files.
  if (names.empty() && (FileExists(directory + kAccessFileName) ||
                        DirectoryExists(directory + kAccessFileName)))
    names.push_back(kAccessFileName);
  return names;
}

// The names found in one directory, and the directory as it was then. An
// access file that comes, goes or is renamed changes the directory's time
// stamp; a directory put in another's place is another object.
struct TDirectoryNames {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  int64_t ModifiedNs = 0;
  // The modification time can be set back (touch, cp -p, unpacking an
  // archive) over an access file just added; the change time cannot.
  int64_t ChangedNs = 0;
  std::vector<std::string> Names;
};

class TAccessFileCache {
 public:
  std::vector<std::string> Find(const std::string& directory) {
    const TPathStat stat = StatPathInfo(directory.empty() ? std::string(".") : directory);
    if (!stat.IsDirectory()) return SearchAccessFiles(directory);
    {
      std::lock_guard<std::mutex> hold(Lock);
      auto found = Entries.find(directory);
      if (found != Entries.end() && found->second.Device == stat.Device &&
          found->second.Inode == stat.Inode && found->second.ModifiedNs == stat.ModifiedNs &&
          found->second.ChangedNs == stat.ChangedNs)
        return found->second.Names;
    }
    std::vector<std::string> names = SearchAccessFiles(directory);
    if (FileClockNowNs() - std::max(stat.ModifiedNs, stat.ChangedNs) >= kDirectorySettleNs) {
      std::lock_guard<std::mutex> hold(Lock);
      // Starting afresh is the simplest bound, and a server that asks for
      // this many directories would gain little from choosing a victim.
      if (Entries.size() >= kAccessFileCacheDirectories) Entries.clear();
      Entries[directory] = TDirectoryNames{stat.Device, stat.Inode, stat.ModifiedNs, stat.ChangedNs, names};
    }
    return names;
  }

 private:
  std::mutex Lock;
  std::unordered_map<std::string, TDirectoryNames> Entries;
};

TAccessFileCache& AccessFileCache() {
  static TAccessFileCache cache;
  return cache;
}

std::string FileNamePart(const std::string& path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// No rights ask for nothing; else the upper-case MD5 digest of the Base64
// text after "Basic " must equal them exactly.
bool CredentialsMatch(const std::string& rights, const TRequest& request) {
  return rights.empty() || MD5HexString(request.Credentials) == rights;
}

TAccessAnswer Refused(uint16_t code, const TRequest& request) {
  TAccessAnswer answer;
  answer.Code = code;
  answer.Realm = request.Path;
  return answer;
}

}  // namespace

bool IsAccessFileName(const std::string& path) {
  return SameText(FileNamePart(path), kAccessFileName);
}

TAccessRecord ReadAccessRecord(const std::string& path) {
  TAccessRecord record;
  std::size_t slash = path.rfind('\\');
  std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::vector<std::string> found = AccessFileCache().Find(directory);
  if (found.empty()) return record;

  record.Present = true;
  record.Vypis = true;
  // Two spellings side by side leave open which one the operator meant, and
  // a file that vanished after it was found gives no protection to go by.
  std::string content;
  bool readable = false;
  if (found.size() == 1) {
    try {
      readable = LoadProfileText(directory + found.front(), content);
    } catch (const EProfileError&) {
    }
  }
  if (!readable) {
    LogError(GetMsg(17));
    record.Unreadable = true;
    record.Vypis = false;
    record.Rights = kUnmatchableRights;
    return record;
  }

  std::string value;
  if (ReadPerFile(content, "prava", name, kNoRights, value))
    record.Rights = value.substr(0, kAccessRightsMax);
  record.IsSSL = ProfileFlag(content, "isSSL", false);
  record.Vypis = ProfileFlag(content, "vypis", true);
  record.Spoustet = ProfileFlag(content, "spoustet", false);
  if (ReadPerFile(content, "charset", name, kNoValue, value))
    record.CharsetSuffix = ("; charset=\"" + value + "\"").substr(0, kAccessTextMax);
  TSystemTime date;
  if (ReadPerFile(content, "zivotnost", name, kNoValue, value) && ParseShortDate(value, date)) {
    date.Hour = date.Minute = date.Second = date.Milliseconds = 0;
    // Round trip for the day of the week, which the date text does not carry.
    record.Expiry = HttpDate(UtcToSystemTime(SystemTimeToUtc(date))).substr(0, kAccessTextMax);
  }
  return record;
}

TAccessAnswer CheckAccess(const TAccessRecord& record, const TRequest& request,
                          const std::string& fileName, TAccessUse use) {
  const bool schemeDiffers = request.IsTLS != record.IsSSL;
  const bool rightsMatch = CredentialsMatch(record.Rights, request);
  switch (use) {
    case TAccessUse::Read: {
      if (record.Unreadable || schemeDiffers) return Refused(403, request);
      // The name wins over wrong credentials.
      if (IsAccessFileName(fileName)) {
        TAccessAnswer answer = Refused(403, request);
        answer.ByName = true;
        return answer;
      }
      if (!rightsMatch) return Refused(401, request);
      return {};
    }
    case TAccessUse::List:
      if (record.Unreadable || schemeDiffers) return Refused(403, request);
      // The listing flag is off in the record of a directory without access
      // file, which is listed all the same: only a file that says vypis=0
      // stops the listing. Credentials could not change that.
      if (record.Present && !record.Vypis) return Refused(403, request);
      if (!rightsMatch) return Refused(401, request);
      return {};
    case TAccessUse::Run:
      // An unreadable file allows nothing to run, so it refuses here too.
      if (schemeDiffers || !record.Spoustet) return Refused(403, request);
      if (!rightsMatch) return Refused(401, request);
      return {};
    case TAccessUse::Parse:
      if (record.Unreadable || schemeDiffers) return Refused(403, request);
      if (!rightsMatch) return Refused(401, request);
      if (IsAccessFileName(fileName)) {
        TAccessAnswer answer = Refused(403, request);
        answer.ByName = true;
        return answer;
      }
      return {};
    case TAccessUse::Peek:
      // Only a directory with an access file asks anything of a peek.
      if (IsAccessFileName(fileName) || record.Unreadable || (record.Present && schemeDiffers))
        return Refused(403, request);
      if (record.Present && !rightsMatch) return Refused(401, request);
      return {};
    case TAccessUse::Builtin:
    case TAccessUse::BuiltinOtherScheme:
      // Without a file the built-in names are open; only a file of this
      // connection's scheme says whether TLS is needed.
      if (!record.Present) return {};
      if (record.Unreadable || (use == TAccessUse::Builtin && schemeDiffers))
        return Refused(403, request);
      if (!rightsMatch) return Refused(401, request);
      return {};
  }
  return {};
}
