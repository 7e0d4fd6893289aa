#pragma once
// Time as Windows reports it: SYSTEMTIME-like records, the time-zone biases
// in minutes (UTC = local time + bias), and the system's short date and long
// time formats (fixed here as the Czech ones: d.M.yyyy and H:mm:ss).

#include <cstdint>
#include <ctime>
#include <string>

struct TSystemTime {
  uint16_t Year = 0, Month = 0, DayOfWeek = 0, Day = 0;  // DayOfWeek: Sunday = 0
  uint16_t Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

struct TTimeZoneInformation {
  int32_t Bias = 0;          // minutes; UTC = local + Bias
  int32_t StandardBias = 0;  // minutes, added outside daylight time (0 on Linux zones)
  int32_t DaylightBias = 0;  // minutes, added in daylight time (-60 for most zones, 0 without DST)
};

// The $TZ in force when something was worked out from the zone, so that
// whoever keeps the result can tell when $TZ has changed since.
class TZoneSetting {
 public:
  bool IsCurrent() const;
  void Take();

 private:
  bool Set = false;
  std::string Value;
};

// From the zone database for $TZ (or /etc/localtime).
TTimeZoneInformation GetTimeZoneInformation();

TSystemTime GetLocalTime();   // now, local
TSystemTime GetSystemTime();  // now, UTC
TSystemTime UtcToSystemTime(std::time_t utc);    // as UTC fields
TSystemTime UtcToLocalTime(std::time_t utc);     // as local fields
// The C library's local fields of a moment, tm_gmtoff among them. Every
// local-time conversion in the process goes through here or the functions
// above, which keep the zone rules under one lock (tzset rebuilds them).
std::tm UtcToLocalTm(std::time_t utc);
std::time_t SystemTimeToUtc(const TSystemTime& utcFields);  // fields taken as UTC

// Calendar facts the date formats share: the days of a month (1..12) of the
// Gregorian calendar, and the English three-letter month names that HTTP
// dates and log stamps use ("Jan".."Dec"; empty outside 1..12).
int DaysInMonth(int year, int month);
std::string MonthAbbreviation(int month);

// The short date and long time formats of the system.
std::string FormatShortDate(const TSystemTime& t);  // e.g. 8.12.2026
std::string FormatLongTime(const TSystemTime& t);   // e.g. 1:05:09
// Parses a date in the short date format (day, month, year separated by "."
// with optional blanks); false when it is not a valid date.
bool ParseShortDate(const std::string& text, TSystemTime& date);
