#pragma once
// Stateless HTTP text helpers: dates, log stamps, percent-decoding, parent
// segment removal and template substitution.

#include <string>
#include <string_view>

#include "platform/TimeZone.h"

// ASCII-only upper-casing: letters with diacritics stay as they are.
std::string UpperCase(const std::string& text);
char UpperChar(char c);
// Case-insensitive (ASCII) equality and search; Pos is 1-based, 0 when absent.
bool SameText(std::string_view a, std::string_view b);
std::size_t Pos(const std::string& needle, const std::string& haystack);
std::size_t PosText(const std::string& needle, const std::string& haystack);  // ignoring case

std::string PadNumber(long long number, int width);
std::string MonthName(int month);  // 1..12
std::string HttpDate(const TSystemTime& gmt);
// HttpDate of the present second.
std::string HttpDateNow();
std::string LogTimeStamp();
// The stamp of LogTimeStamp for a given local time and zone.
std::string FormatLogTimeStamp(const TSystemTime& local, const TTimeZoneInformation& zone);
bool PercentDecode(std::string& text, bool pathMode);
bool PercentDecodeSegment(std::string& text);
std::string SubstituteArgument(const std::string& templ, const std::string& argument);
bool RemoveParentSegments(std::string& path);
// A ".." segment (between "/" or "\\") left in a mapped path would climb out
// of the alias's directory: RemoveParentSegments only sees "/.." in the URL,
// and the prefix of an alias need not end at a segment boundary ("/docs"
// then "../x").
bool HasParentSegment(const std::string& path);
