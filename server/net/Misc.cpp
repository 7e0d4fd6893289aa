#include "server/net/Misc.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char kHexDigits[] = "0123456789ABCDEF";

bool IsAlpha(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsSafe(unsigned char c) { return std::strchr("$-._", c) != nullptr && c != 0; }
bool IsExtra(unsigned char c) { return std::strchr("!'()*,", c) != nullptr && c != 0; }
bool IsReserved(unsigned char c) { return std::strchr("&+/:;=?@", c) != nullptr && c != 0; }
bool IsUnsafe(unsigned char c) {
  return c < 32 || c == 127 || (std::strchr("\"#%<>", c) != nullptr && c != 0);
}
// Everything the URL syntax does not name, the space and the bytes from 128
// up among them.
bool IsNational(unsigned char c) {
  return !IsAlpha(c) && !IsDigit(c) && !IsReserved(c) && !IsExtra(c) && !IsSafe(c) && !IsUnsafe(c);
}
bool IsUnreserved(unsigned char c) {
  return IsAlpha(c) || IsDigit(c) || IsSafe(c) || IsExtra(c) || IsNational(c);
}
// The reserved characters a path may hold as they stand.
bool IsPathReserved(unsigned char c) { return std::strchr("&+:=@/", c) != nullptr && c != 0; }

int HexValue(char c) {
  const char* at = std::strchr(kHexDigits, UpperChar(c));
  return (at == nullptr || c == 0) ? -1 : static_cast<int>(at - kHexDigits);
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Position (0-based) of the first parent segment: "/.." or "\..".
std::size_t FindParentSegment(const std::string& path) {
  for (std::size_t i = 0; i + 2 < path.size(); ++i)
    if (IsSeparator(path[i]) && path[i + 1] == '.' && path[i + 2] == '.') return i;
  return std::string::npos;
}

int DayOfWeekOf(int year, int month, int day) {
  static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

}  // namespace

char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperCase(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = UpperChar(c);
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

std::size_t Pos(const std::string& needle, const std::string& haystack) {
  if (needle.empty()) return 0;
  std::size_t at = haystack.find(needle);
  return at == std::string::npos ? 0 : at + 1;  // 1-based
}

std::size_t PosText(const std::string& needle, const std::string& haystack) {
  if (needle.empty()) return 0;
  // Compared in place: every request's path is looked through this way.
  for (std::size_t at = 0; at + needle.size() <= haystack.size(); ++at)
    if (SameText(std::string_view(haystack).substr(at, needle.size()), needle)) return at + 1;
  return 0;
}

std::string PadNumber(long long number, int width) {
  bool negative = number < 0;
  // The magnitude is taken unsigned so that the smallest value has one too.
  unsigned long long magnitude =
      negative ? 0ULL - static_cast<unsigned long long>(number) : static_cast<unsigned long long>(number);
  std::string digits = std::to_string(magnitude);
  // Zeros go between the sign and the digits: -5 to width 3 is "-05".
  int wanted = width - (negative ? 1 : 0);
  while (static_cast<int>(digits.size()) < wanted) digits.insert(digits.begin(), '0');
  return negative ? "-" + digits : digits;
}

std::string MonthName(int month) { return MonthAbbreviation(month); }

std::string HttpDate(const TSystemTime& gmt) {
  int weekday = gmt.DayOfWeek;
  // A record filled by hand may carry no weekday; the date itself decides then.
  if (weekday > 6 && gmt.Month >= 1 && gmt.Month <= 12) weekday = DayOfWeekOf(gmt.Year, gmt.Month, gmt.Day);
  std::string day = weekday >= 0 && weekday <= 6 ? kDayNames[weekday] : "";
  return day + ", " + PadNumber(gmt.Day, 2) + " " + MonthName(gmt.Month) + " " + std::to_string(gmt.Year) +
         " " + PadNumber(gmt.Hour, 2) + ":" + PadNumber(gmt.Minute, 2) + ":" + PadNumber(gmt.Second, 2) +
         " GMT";
}

std::string FormatLogTimeStamp(const TSystemTime& local, const TTimeZoneInformation& zone) {
  // The daylight bias counts in every season: in winter a zone with daylight
  // time is written one hour further east than it is.
  int offset = -(zone.Bias + zone.DaylightBias);
  char sign = offset >= 0 ? '+' : '-';
  int magnitude = std::abs(offset);
  return "[" + PadNumber(local.Day, 2) + "/" + MonthName(local.Month) + "/" + std::to_string(local.Year) + ":" +
         PadNumber(local.Hour, 2) + ":" + PadNumber(local.Minute, 2) + ":" + PadNumber(local.Second, 2) + " " +
         sign + PadNumber(magnitude / 60, 2) + PadNumber(magnitude % 60, 2) + "]";
}

namespace {

// A busy server writes many records and headers in one second, all with the
// same stamp: each thread makes each text once a second instead of
// converting the clock (and the zone) for every one.
struct TTextOfSecond {
  std::time_t Second = -1;
  std::string Text;

  template <typename Make>
  const std::string& Get(Make make) {
    const std::time_t now = std::time(nullptr);
    if (now != Second) {
      Text = make(now);
      Second = now;
    }
    return Text;
  }
};

}  // namespace

std::string LogTimeStamp() {
  thread_local TTextOfSecond stamp;
  thread_local TZoneSetting zone;
  if (!zone.IsCurrent()) {
    // Local time: a changed $TZ makes the stamp again within the second.
    zone.Take();
    stamp.Second = -1;
  }
  return stamp.Get(
      [](std::time_t) { return FormatLogTimeStamp(GetLocalTime(), GetTimeZoneInformation()); });
}

std::string HttpDateNow() {
  thread_local TTextOfSecond date;
  return date.Get([](std::time_t now) { return HttpDate(UtcToSystemTime(now)); });
}

bool PercentDecode(std::string& text, bool pathMode) {
  std::string decoded;
  decoded.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return false;  // two characters must follow
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      // The decoded byte is not checked here; the connection thread refuses
      // a URL that decodes to a control byte.
      decoded += static_cast<char>(high * 16 + low);
      i += 3;
      continue;
    }
    bool allowed = IsUnreserved(c) || (pathMode && IsPathReserved(c));
    if (!allowed) return false;
    decoded += static_cast<char>(c);
    ++i;
  }
  text = decoded;
  return true;
}

bool PercentDecodeSegment(std::string& text) { return PercentDecode(text, false); }

std::string SubstituteArgument(const std::string& templ, const std::string& argument) {
  std::string result;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = templ.find("%s", from);
    if (at == std::string::npos) break;
    result.append(templ, from, at - from);
    result += argument;
    from = at + 2;
  }
  result.append(templ, from, std::string::npos);
  return result;
}

bool RemoveParentSegments(std::string& path) {
  // "\" counts as "/" here: the mapped path is a Windows path, so "/a\..\..\x"
  // would otherwise climb out of the root unseen.
  for (;;) {
    std::size_t at = FindParentSegment(path);  // 0-based; the 1-based position is at + 1
    if (at == std::string::npos) return true;
    path.erase(at, 3);
    if (at == 0) return false;
    std::size_t current = at;  // one past the character before the deleted run
    while (current > 0 && !IsSeparator(path[current - 1])) {
      path.erase(current - 1, 1);
      --current;
    }
    if (current > 0) path.erase(current - 1, 1);
  }
}

bool HasParentSegment(const std::string& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    if (end - start == 2 && path.compare(start, 2, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}
