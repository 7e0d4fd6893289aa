#include "server/net/Misc.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// Decodes and reports both the result and the text afterwards.
std::pair<bool, std::string> Decode(const std::string& text, bool pathMode) {
  std::string copy = text;
  bool ok = PercentDecode(copy, pathMode);
  return {ok, copy};
}

TSystemTime Fields(int year, int month, int day, int hour, int minute, int second, int weekday) {
  TSystemTime t;
  t.Year = static_cast<uint16_t>(year);
  t.Month = static_cast<uint16_t>(month);
  t.Day = static_cast<uint16_t>(day);
  t.Hour = static_cast<uint16_t>(hour);
  t.Minute = static_cast<uint16_t>(minute);
  t.Second = static_cast<uint16_t>(second);
  t.DayOfWeek = static_cast<uint16_t>(weekday);
  return t;
}

TEST(PercentDecode, EscapedSlashDecodesInBothModes) {
  EXPECT_EQ(Decode("/a%2fb", true), std::make_pair(true, std::string("/a/b")));
  EXPECT_EQ(Decode("a%2Fb", false), std::make_pair(true, std::string("a/b")));
  EXPECT_EQ(Decode("%41%4a%3F", false), std::make_pair(true, std::string("AJ?")));
}

TEST(PercentDecode, IncompleteOrBadEscapeFailsAndLeavesInput) {
  for (const char* bad : {"/a%2", "/a%", "%G1", "%1G", "/x%%41"}) {
    auto [ok, text] = Decode(bad, true);
    EXPECT_FALSE(ok) << bad;
    EXPECT_EQ(text, bad) << "a failed decode must leave the text as it was";
  }
}

TEST(PercentDecode, RefusesPlainQuestionMarkHashAndSemicolon) {
  for (const char* bad : {"/a?b=1", "/a#top", "/a;b", "/a\"b", "/a<b", "/a>b", "/a\x01", "/a\x7f"}) {
    EXPECT_FALSE(Decode(bad, true).first) << bad;
    EXPECT_FALSE(Decode(bad, false).first) << bad;
  }
}

TEST(PercentDecode, NationalCharactersPass) {
  EXPECT_EQ(Decode("/my file", true), std::make_pair(true, std::string("/my file")));
  EXPECT_EQ(Decode("\xE1\xFE", false), std::make_pair(true, std::string("\xE1\xFE")));
  EXPECT_EQ(Decode("/a\\b", true).first, true);
  EXPECT_EQ(Decode("$-._!'()*,", false).first, true);
}

TEST(PercentDecode, PathModeAloneAcceptsReservedPathCharacters) {
  EXPECT_TRUE(Decode("/a&b+c:d=e@f", true).first);
  for (const char* c : {"/", "&", "+", ":", "=", "@"}) EXPECT_FALSE(Decode(c, false).first) << c;
  std::string segment = "a%2Fb";
  EXPECT_TRUE(PercentDecodeSegment(segment));
  EXPECT_EQ(segment, "a/b");
}

TEST(PercentDecode, DecodesEscapedControlBytesForTheCallerToRefuse) {
  auto [ok, text] = Decode("/secret.txt%00.html", true);
  EXPECT_TRUE(ok);
  EXPECT_EQ(text, std::string("/secret.txt\0.html", 17));
}

TEST(RemoveParentSegments, RemovesSegmentAndItsParent) {
  struct Case {
    const char* in;
    bool ok;
    const char* out;
  } cases[] = {
      {"/a/b/../c", true, "/a/c"},     {"/a/..", true, ""},
      {"/../x", false, "/x"},          {"/a/..b", true, "b"},
      {"/a/./b", true, "/a/./b"},      {"/a/b/c/../../d", true, "/a/d"},
      {"/a/b", true, "/a/b"},          {"/a/../../x", false, "/x"},
  };
  for (const Case& c : cases) {
    std::string path = c.in;
    EXPECT_EQ(RemoveParentSegments(path), c.ok) << c.in;
    EXPECT_EQ(path, c.out) << c.in;
  }
}

TEST(RemoveParentSegments, BackslashSegmentsCannotClimbOut) {
  std::string path = "/a\\..\\..\\etc\\passwd";
  EXPECT_FALSE(RemoveParentSegments(path)) << "came out as " << path;
  path = "/a/b\\..\\c";
  EXPECT_TRUE(RemoveParentSegments(path));
  EXPECT_EQ(path, "/a\\c");
}

TEST(SubstituteArgument, ReplacesEveryMarkerInOnePass) {
  EXPECT_EQ(SubstituteArgument("a%sb%sc", "X"), "aXbXc");
  EXPECT_EQ(SubstituteArgument("a%sb%sc", "%s"), "a%sb%sc");
  EXPECT_EQ(SubstituteArgument("<P>%s</P>", "x%sy"), "<P>x%sy</P>");
  EXPECT_EQ(SubstituteArgument("no marker 100%", "X"), "no marker 100%");
  EXPECT_EQ(SubstituteArgument("%%s%", "X"), "%X%");
  EXPECT_EQ(SubstituteArgument("", "X"), "");
}

TEST(HttpDate, FormatsRfc1123) {
  EXPECT_EQ(HttpDate(Fields(1994, 11, 6, 8, 49, 37, 0)), "Sun, 06 Nov 1994 08:49:37 GMT");
  // The same moment through the UTC conversion, weekday included.
  EXPECT_EQ(HttpDate(UtcToSystemTime(784111777)), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(HttpDate, YearBelowThousandIsNotPadded) {
  EXPECT_EQ(HttpDate(Fields(999, 1, 2, 3, 4, 5, 3)), "Wed, 02 Jan 999 03:04:05 GMT");
}

TEST(LogTimeStamp, DaylightBiasCountsInEverySeason) {
  TTimeZoneInformation cet;
  cet.Bias = -60;
  cet.DaylightBias = -60;
  EXPECT_EQ(FormatLogTimeStamp(Fields(1998, 12, 6, 17, 5, 9, 0), cet), "[06/Dec/1998:17:05:09 +0200]");
}

TEST(LogTimeStamp, SignAndMinutesOfTheOffset) {
  TTimeZoneInformation zone;
  zone.Bias = 300;
  zone.DaylightBias = -60;
  EXPECT_EQ(FormatLogTimeStamp(Fields(2001, 7, 4, 0, 0, 0, 3), zone), "[04/Jul/2001:00:00:00 -0400]");
  zone.Bias = -330;
  zone.DaylightBias = 0;
  EXPECT_EQ(FormatLogTimeStamp(Fields(2001, 7, 4, 23, 59, 59, 3), zone), "[04/Jul/2001:23:59:59 +0530]");
  zone.Bias = 0;
  EXPECT_EQ(FormatLogTimeStamp(Fields(2001, 1, 1, 1, 1, 1, 1), zone), "[01/Jan/2001:01:01:01 +0000]");
}

TEST(LogTimeStamp, CurrentStampHasTheLogShape) {
  std::regex shape(R"(\[\d\d/[A-Z][a-z][a-z]/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\])");
  std::string stamp = LogTimeStamp();
  EXPECT_TRUE(std::regex_match(stamp, shape)) << stamp;
}

TEST(PadNumber, PadsToWidth) {
  EXPECT_EQ(PadNumber(5, 2), "05");
  EXPECT_EQ(PadNumber(123, 2), "123");
  EXPECT_EQ(PadNumber(0, 0), "0");
  EXPECT_EQ(PadNumber(-5, 3), "-05");
}

TEST(MonthName, CutsTheRun) {
  EXPECT_EQ(MonthName(1), "Jan");
  EXPECT_EQ(MonthName(6), "Jun");
  EXPECT_EQ(MonthName(12), "Dec");
  EXPECT_EQ(MonthName(0), "");
  EXPECT_EQ(MonthName(13), "");
}

TEST(TextHelpers, CaseFoldsAsciiOnly) {
  EXPECT_EQ(UpperCase("abz\xE1\xE8-AZ"), "ABZ\xE1\xE8-AZ");
  EXPECT_TRUE(SameText("Keep-Alive", "KEEP-ALIVE"));
  EXPECT_FALSE(SameText("\xE1", "\xC1")) << "letters with diacritics compare exactly";
  EXPECT_FALSE(SameText("abc", "abcd"));
}

TEST(TextHelpers, PositionsAreOneBased) {
  EXPECT_EQ(Pos("b", "abc"), 2u);
  EXPECT_EQ(Pos("a", "abc"), 1u);
  EXPECT_EQ(Pos("x", "abc"), 0u);
  EXPECT_EQ(Pos("B", "abc"), 0u);
  EXPECT_EQ(PosText("B", "abc"), 2u);
  EXPECT_EQ(PosText(" http/", "GET / HTTP/1.0"), 6u);
}

}  // namespace
