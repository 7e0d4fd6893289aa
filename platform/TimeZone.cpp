#include "platform/TimeZone.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <mutex>

namespace {

// Two-digit years below this are taken as 20yy, the others as 19yy.
constexpr int kTwoDigitYearCutoff = 50;

constexpr std::time_t kSecondsPerDay = 24 * 60 * 60;

TSystemTime FromTm(const std::tm& tm, int milliseconds) {
  TSystemTime t;
  t.Year = static_cast<uint16_t>(tm.tm_year + 1900);
  t.Month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.DayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t.Day = static_cast<uint16_t>(tm.tm_mday);
  t.Hour = static_cast<uint16_t>(tm.tm_hour);
  t.Minute = static_cast<uint16_t>(tm.tm_min);
  t.Second = static_cast<uint16_t>(tm.tm_sec);
  t.Milliseconds = static_cast<uint16_t>(milliseconds);
  return t;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }


// Day of the week of a Gregorian date, Sunday = 0.
int DayOfWeek(int year, int month, int day) {
  static const int kOffsets[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

std::string Digits(int value, int width) {
  std::string text = std::to_string(value);
  while (static_cast<int>(text.size()) < width) text.insert(text.begin(), '0');
  return text;
}

void SkipBlanks(const std::string& text, std::size_t& i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
}

// Reads up to maxDigits decimal digits; false when there is none.
bool ReadNumber(const std::string& text, std::size_t& i, std::size_t maxDigits, int& value,
                std::size_t& digits) {
  value = 0;
  digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (++digits > maxDigits) return false;
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  return digits > 0;
}

// The C library keeps the zone rules in globals that tzset rebuilds: with $TZ
// unset every call frees and reloads them. Its own lock is not one the
// thread checker can see, so every use of the rules here takes this one,
// which also keeps the reload and the conversions it feeds in one order.
std::mutex ZoneRulesLock;

// tzset looks at /etc/localtime (a system call) each time; every access
// log record needs the local time twice. A changed $TZ is seen at once, a
// changed /etc/localtime within this long, which is as soon as anyone
// changing the machine's zone will look at the log.
constexpr auto kZoneFileRecheck = std::chrono::seconds(1);

// Under ZoneRulesLock: true when the zone setting may have changed since the
// C library last read it.
bool ZoneMayHaveChanged() {
  static TZoneSetting last;
  static bool read = false;
  static std::chrono::steady_clock::time_point lastRead;
  const auto now = std::chrono::steady_clock::now();
  if (read && last.IsCurrent() && now - lastRead < kZoneFileRecheck) return false;
  read = true;
  last.Take();
  lastRead = now;
  return true;
}

// The local calendar fields of a moment; rereads the zone setting first when
// asked and it may have changed, so that a changed $TZ or /etc/localtime is
// noticed.
std::tm LocalFields(std::time_t moment, bool rereadZone) {
  std::lock_guard<std::mutex> guard(ZoneRulesLock);
  if (rereadZone && ZoneMayHaveChanged()) ::tzset();
  std::tm tm;
  ::localtime_r(&moment, &tm);
  return tm;
}

constexpr std::time_t kQuarterHour = 15 * 60;

std::time_t QuarterOf(std::time_t utc) {
  return utc >= 0 ? utc / kQuarterHour : -((-utc + kQuarterHour - 1) / kQuarterHour);
}

// The calendar fields of a count of seconds since 1970 read as UTC, by
// arithmetic: the C library's conversions all take its zone lock.
std::tm CivilFields(std::time_t seconds) {
  std::time_t days = seconds / kSecondsPerDay, rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  std::tm tm{};
  tm.tm_hour = static_cast<int>(rest / 3600);
  tm.tm_min = static_cast<int>(rest / 60 % 60);
  tm.tm_sec = static_cast<int>(rest % 60);
  tm.tm_wday = static_cast<int>((days % 7 + 11) % 7);  // 1 January 1970 was a Thursday
  // Days to year, month and day in the proleptic Gregorian calendar, counted
  // in 400-year eras from 1 March 0000.
  const std::time_t z = days + 719468;
  const std::time_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::time_t dayOfEra = z - era * 146097;
  const std::time_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::time_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::time_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  tm.tm_mday = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  tm.tm_mon = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 2 : monthFromMarch - 10);
  tm.tm_year = static_cast<int>(yearOfEra + era * 400 + (tm.tm_mon <= 1 ? 1 : 0) - 1900);
  return tm;
}

// Moments in one quarter hour of UTC are all the same distance from local
// time: today's zone offsets, and the moments they change, fall on quarter
// hours. A thread that converts file times (the listing of a directory
// written at one go, the same file asked for again) meets the same quarter
// often, so it keeps the last offset it looked up and converts by adding it.
// It holds while $TZ is what it was and within the second it was taken in,
// so a changed zone file is seen as soon as LocalFields sees it. An offset
// that is not whole quarters (some zones before 1972) is not kept.
struct TOffsetMemo {
  std::time_t Quarter = 0;
  long Offset = 0;
  bool Valid = false;
  TZoneSetting Zone;
  std::time_t TakenSecond = 0;  // the clock's second; time() reads no hardware

  bool Holds(std::time_t quarter) const {
    return Valid && quarter == Quarter && std::time(nullptr) == TakenSecond && Zone.IsCurrent();
  }
  void Keep(std::time_t quarter, long offset) {
    Valid = offset % kQuarterHour == 0;
    Quarter = quarter;
    Offset = offset;
    Zone.Take();
    TakenSecond = std::time(nullptr);
  }
};

}  // namespace

namespace {

TTimeZoneInformation ComputeTimeZoneInformation(std::time_t now, const std::tm& nowTm) {
  // The zone database knows the offsets only per moment, so sample the current
  // year day by day. The standard offset is the one in force now when that is
  // standard time, else the last standard one before now; the daylight offset
  // is the one in force now, else the first one of the year.
  bool haveStandard = nowTm.tm_isdst <= 0, haveDaylight = nowTm.tm_isdst > 0;
  long standardOffset = haveStandard ? nowTm.tm_gmtoff : 0;
  long daylightOffset = haveDaylight ? nowTm.tm_gmtoff : 0;
  std::tm startTm{};
  startTm.tm_year = nowTm.tm_year;
  startTm.tm_mday = 1;
  startTm.tm_hour = 12;
  std::time_t start = ::timegm(&startTm);
  for (int day = 0; day < 366; ++day) {
    std::time_t sample = start + day * kSecondsPerDay;
    const std::tm tm = LocalFields(sample, false);
    if (tm.tm_year != nowTm.tm_year) break;
    if (tm.tm_isdst > 0) {
      if (!haveDaylight) daylightOffset = tm.tm_gmtoff;
      haveDaylight = true;
    } else if (nowTm.tm_isdst > 0 && (sample <= now || !haveStandard)) {
      standardOffset = tm.tm_gmtoff;
      haveStandard = true;
    }
  }
  if (!haveStandard) {
    // A zone in daylight time all year: that offset is its standard one.
    standardOffset = daylightOffset;
    haveDaylight = false;
  }
  TTimeZoneInformation info;
  info.Bias = static_cast<int32_t>(-standardOffset / 60);
  info.StandardBias = 0;
  info.DaylightBias = haveDaylight ? static_cast<int32_t>(-(daylightOffset - standardOffset) / 60) : 0;
  return info;
}

}  // namespace

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::string MonthAbbreviation(int month) {
  static const char kNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (month < 1 || month > 12) return std::string();
  return std::string(kNames + 3 * (month - 1), 3);
}

TTimeZoneInformation GetTimeZoneInformation() {
  std::time_t now = std::time(nullptr);
  const std::tm nowTm = LocalFields(now, true);
  // The answer changes only with the zone setting, the year or the offset in
  // force, so a cached one serves until one of those moves.
  static std::mutex lock;
  static std::string cachedZone;
  static int cachedYear = -1, cachedIsDst = -1;
  static long cachedOffset = 0;
  static bool cached = false;
  static TTimeZoneInformation cachedInfo;
  const char* zone = std::getenv("TZ");
  std::string zoneText = zone ? std::string("=") + zone : std::string();
  std::lock_guard<std::mutex> guard(lock);
  if (!cached || cachedZone != zoneText || cachedYear != nowTm.tm_year || cachedIsDst != nowTm.tm_isdst ||
      cachedOffset != nowTm.tm_gmtoff) {
    cachedInfo = ComputeTimeZoneInformation(now, nowTm);
    cachedZone = zoneText;
    cachedYear = nowTm.tm_year;
    cachedIsDst = nowTm.tm_isdst;
    cachedOffset = nowTm.tm_gmtoff;
    cached = true;
  }
  return cachedInfo;
}

TSystemTime GetLocalTime() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return FromTm(LocalFields(now.tv_sec, true), static_cast<int>(now.tv_nsec / 1000000));
}

TSystemTime GetSystemTime() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm tm;
  ::gmtime_r(&now.tv_sec, &tm);
  return FromTm(tm, static_cast<int>(now.tv_nsec / 1000000));
}

TSystemTime UtcToSystemTime(std::time_t utc) {
  std::tm tm;
  ::gmtime_r(&utc, &tm);
  return FromTm(tm, 0);
}

bool TZoneSetting::IsCurrent() const {
  const char* zone = std::getenv("TZ");
  return zone ? Set && Value == zone : !Set;
}

void TZoneSetting::Take() {
  const char* zone = std::getenv("TZ");
  Set = zone != nullptr;
  Value = zone ? zone : "";
}

std::tm UtcToLocalTm(std::time_t utc) { return LocalFields(utc, true); }

TSystemTime UtcToLocalTime(std::time_t utc) {
  thread_local TOffsetMemo memo;
  const std::time_t quarter = QuarterOf(utc);
  if (memo.Holds(quarter)) return FromTm(CivilFields(utc + memo.Offset), 0);
  const std::tm tm = LocalFields(utc, true);
  memo.Keep(quarter, tm.tm_gmtoff);
  return FromTm(tm, 0);
}

std::time_t SystemTimeToUtc(const TSystemTime& utcFields) {
  std::tm tm{};
  tm.tm_year = utcFields.Year - 1900;
  tm.tm_mon = utcFields.Month - 1;
  tm.tm_mday = utcFields.Day;
  tm.tm_hour = utcFields.Hour;
  tm.tm_min = utcFields.Minute;
  tm.tm_sec = utcFields.Second;
  return ::timegm(&tm);
}

// The system's formats are those of Czech regional settings: the short date
// d.M.yyyy (no leading zeros for day and month) and the long time H:mm:ss.
std::string FormatShortDate(const TSystemTime& t) {
  // A listing writes one for every entry; snprintf into a buffer costs a
  // fraction of joining four strings.
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%u.%u.%04u", static_cast<unsigned>(t.Day),
                                     static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Year));
  return std::string(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

std::string FormatLongTime(const TSystemTime& t) {
  return std::to_string(t.Hour) + ":" + Digits(t.Minute, 2) + ":" + Digits(t.Second, 2);
}

bool ParseShortDate(const std::string& text, TSystemTime& date) {
  std::size_t i = 0, digits = 0;
  int day = 0, month = 0, year = 0;
  SkipBlanks(text, i);
  if (!ReadNumber(text, i, 2, day, digits)) return false;
  if (i >= text.size() || text[i] != '.') return false;
  ++i;
  SkipBlanks(text, i);
  if (!ReadNumber(text, i, 2, month, digits)) return false;
  if (i >= text.size() || text[i] != '.') return false;
  ++i;
  SkipBlanks(text, i);
  if (!ReadNumber(text, i, 4, year, digits)) return false;
  if (digits <= 2) year += year < kTwoDigitYearCutoff ? 2000 : 1900;
  SkipBlanks(text, i);
  if (i != text.size()) return false;
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  date = TSystemTime();
  date.Year = static_cast<uint16_t>(year);
  date.Month = static_cast<uint16_t>(month);
  date.Day = static_cast<uint16_t>(day);
  date.DayOfWeek = static_cast<uint16_t>(DayOfWeek(year, month, day));
  return true;
}
