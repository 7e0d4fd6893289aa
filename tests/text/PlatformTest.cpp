#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>

#include "platform/FileSearch.h"
#include "platform/Module.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/TimeZone.h"
#include "tests/support/TestSupport.h"

namespace {

// Sets (or removes) an environment variable for one test and restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : Name(name) {
    if (const char* old = std::getenv(name)) Old = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
    ::tzset();
  }
  ~ScopedEnv() {
    if (Old)
      ::setenv(Name.c_str(), Old->c_str(), 1);
    else
      ::unsetenv(Name.c_str());
    ::tzset();
  }

 private:
  std::string Name;
  std::optional<std::string> Old;
};

std::set<std::string> SearchNames(const std::string& pattern) {
  std::set<std::string> names;
  TFileSearch search;
  TSearchRec rec;
  for (bool more = search.FindFirst(pattern, rec); more && names.size() < 1000; more = search.FindNext(rec))
    names.insert(rec.Name);
  return names;
}

TEST(Paths, DriveLetterIsRemovedWithoutMapping) {
  ScopedEnv drive("TOVK_DRIVE_C", nullptr);
  EXPECT_EQ(ToLinuxPath("c:\\www\\a.htm"), "/www/a.htm");
  EXPECT_EQ(ToLinuxPath("C:\\www\\"), "/www/");
  EXPECT_EQ(ToLinuxPath("/srv/www"), "/srv/www");
  EXPECT_EQ(ToLinuxPath("docs\\a b.txt"), "docs/a b.txt");
}

TEST(Paths, DriveVariableNamesTheUpperCaseLetter) {
  ScopedEnv drive("TOVK_DRIVE_C", "/srv/c");
  EXPECT_EQ(ToLinuxPath("c:\\www\\a.htm"), "/srv/c/www/a.htm");
  EXPECT_EQ(ToLinuxPath("C:\\www"), "/srv/c/www");
  EXPECT_EQ(ToLinuxPath("c:www"), "/srv/c/www");
  EXPECT_EQ(ToLinuxPath("d:\\x"), "/x") << "other drives are not mapped";
  ScopedEnv slash("TOVK_DRIVE_C", "/srv/c/");
  EXPECT_EQ(ToLinuxPath("c:\\www"), "/srv/c/www");
}

TEST(Paths, SystemFormAndExistence) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "a.txt", "12345");
  std::string systemDir = ToSystemPath(dir.Path());
  EXPECT_EQ(systemDir.find('/'), std::string::npos);
  EXPECT_TRUE(FileExists(systemDir + "\\a.txt"));
  EXPECT_FALSE(FileExists(systemDir + "\\A.TXT")) << "opening a named file is exact";
  EXPECT_FALSE(FileExists(systemDir)) << "a directory is not a file";
  EXPECT_TRUE(DirectoryExists(systemDir));
  EXPECT_FALSE(DirectoryExists(systemDir + "\\a.txt"));
  EXPECT_EQ(FileSize(systemDir + "\\a.txt"), 5);
  EXPECT_EQ(FileSize(systemDir + "\\missing"), -1);
}

TEST(Paths, ProgramDirectoryEndsInBackslash) {
  std::string program = ProgramFileName();
  std::string directory = ProgramDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.back(), '\\');
  EXPECT_EQ(program.compare(0, directory.size(), directory), 0) << program << " vs " << directory;
  EXPECT_TRUE(FileExists(program));
  EXPECT_TRUE(DirectoryExists(directory));
}

TEST(FileSearch, WildcardsFollowWindowsRules) {
  EXPECT_TRUE(WildcardMatch("*.*", "readme"));
  EXPECT_TRUE(WildcardMatch("*.*", "a.b.c"));
  EXPECT_TRUE(WildcardMatch("*.*", "."));
  EXPECT_TRUE(WildcardMatch("*.*", ".."));
  EXPECT_TRUE(WildcardMatch("err404.*", "ERR404.HTML"));
  EXPECT_TRUE(WildcardMatch("err404.*", "err404"));
  EXPECT_FALSE(WildcardMatch("err404.*", "err4040.html"));
  EXPECT_TRUE(WildcardMatch("*.htm", "Index.HTM"));
  EXPECT_FALSE(WildcardMatch("*.htm", "index.html"));
  EXPECT_TRUE(WildcardMatch("*.", "noext"));
  EXPECT_FALSE(WildcardMatch("*.", "has.ext"));
  EXPECT_TRUE(WildcardMatch("a?c", "abc"));
  EXPECT_FALSE(WildcardMatch("a?c", "abbc"));
  EXPECT_TRUE(WildcardMatch("ab??", "ab")) << "a trailing ? may match nothing";
  EXPECT_TRUE(WildcardMatch("ab?.txt", "ab.txt"));
  EXPECT_FALSE(WildcardMatch("\xE1*", "\xC1x")) << "only ASCII letters fold";
}

TEST(FileSearch, FindsEntriesWithoutRegardToCase) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "ERR404.html", "<p>x</p>");
  tovktest::WriteFile(dir / "err404", "");
  tovktest::WriteFile(dir / "err500.htm", "");
  tovktest::MakeDirs(dir / "sub");
  std::string base = ToSystemPath(dir.Path()) + "\\";

  EXPECT_EQ(SearchNames(base + "err404.*"), (std::set<std::string>{"ERR404.html", "err404"}));
  EXPECT_EQ(SearchNames(base + "*.*"),
            (std::set<std::string>{".", "..", "ERR404.html", "err404", "err500.htm", "sub"}));
  EXPECT_EQ(SearchNames(base + "ERR5*"), (std::set<std::string>{"err500.htm"}));
  EXPECT_TRUE(SearchNames(base + "nothing.*").empty());
  EXPECT_TRUE(SearchNames(base + "nodir\\*.*").empty());
}

TEST(FileSearch, ReportsAttributesSizeAndTime) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "page.htm", "0123456789");
  tovktest::WriteFile(dir / ".hidden", "");
  tovktest::WriteFile(dir / "locked.txt", "");
  ::chmod((dir / "locked.txt").c_str(), 0444);
  tovktest::MakeDirs(dir / "sub");
  std::string base = ToSystemPath(dir.Path()) + "\\";

  TSearchRec rec;
  ASSERT_TRUE(GetFileInfo(base + "page.htm", rec));
  EXPECT_EQ(rec.Name, "page.htm");
  EXPECT_EQ(rec.Size, 10);
  EXPECT_EQ(rec.Attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(rec.Attributes & FILE_ATTRIBUTE_ARCHIVE, 0u);
  EXPECT_EQ(rec.Attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
  EXPECT_LE(std::abs(rec.LastWriteTime - std::time(nullptr)), 60);

  ASSERT_TRUE(GetFileInfo(base + "sub\\", rec));
  EXPECT_EQ(rec.Name, "sub");
  EXPECT_NE(rec.Attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(rec.Size, 0);
  ASSERT_TRUE(GetFileInfo(base + ".hidden", rec));
  EXPECT_NE(rec.Attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  ASSERT_TRUE(GetFileInfo(base + "locked.txt", rec));
  EXPECT_NE(rec.Attributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(GetFileInfo(base + "missing", rec));

  TFileSearch search;
  ASSERT_TRUE(search.FindFirst(base + "..", rec));
  EXPECT_EQ(rec.Attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << "\"..\" is not a hidden entry";
}

TEST(Profile, ReadsValuesLikeTheWindowsReader) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "http.aut",
                      "; access file\r\n"
                      "[Prava]\r\n"
                      "  Index.HTML =  ABCDEF0123  \r\n"
                      "*.*=\"  quoted  \"\r\n"
                      "empty=\r\n"
                      "index.html=second\r\n"
                      "[ostatni]\n"
                      "isSSL=1\n"
                      "text=\xE8\xE1st \"p\xF8\xED\"\n"
                      "[prava]\n"
                      "later=ignored\n");
  std::string file = ToSystemPath(dir / "http.aut");
  EXPECT_EQ(ReadProfileString(file, "prava", "index.html", "<none>"), "ABCDEF0123");
  EXPECT_EQ(ReadProfileString(file, "PRAVA", "*.*", "<none>"), "  quoted  ");
  EXPECT_EQ(ReadProfileString(file, "prava", "empty", "<none>"), "");
  EXPECT_EQ(ReadProfileString(file, "prava", "missing", "<none>"), "<none>");
  EXPECT_EQ(ReadProfileString(file, "prava", "later", "<none>"), "<none>") << "only the first section counts";
  EXPECT_EQ(ReadProfileString(file, "OSTATNI", "ISSSL", "0"), "1");
  EXPECT_EQ(ReadProfileString(file, "ostatni", "text", ""), "\xE8\xE1st \"p\xF8\xED\"");
  EXPECT_EQ(ReadProfileString(file, "charset", "*.*", "<nic>"), "<nic>");
  EXPECT_EQ(ReadProfileString(file, "access file", "x", "d"), "d") << "a comment is not a section";
}

TEST(Profile, MissingFileGivesDefault) {
  tovktest::TempDir dir;
  EXPECT_EQ(ReadProfileString(ToSystemPath(dir / "none.aut"), "prava", "*.*", "<none>"), "<none>");
  EXPECT_EQ(ReadProfileString(ToSystemPath(dir / "no\\dir.aut"), "prava", "*.*", "<none>"), "<none>");
}

TEST(Profile, UnreadableFileThrows) {
  tovktest::TempDir dir;
  tovktest::MakeDirs(dir / "http.aut");
  EXPECT_THROW(ReadProfileString(ToSystemPath(dir / "http.aut"), "prava", "*.*", "<none>"), EProfileError);
  if (::geteuid() != 0) {
    tovktest::WriteFile(dir / "closed.aut", "[prava]\n*.*=x\n");
    ::chmod((dir / "closed.aut").c_str(), 0);
    EXPECT_THROW(ReadProfileString(ToSystemPath(dir / "closed.aut"), "prava", "*.*", ""), EProfileError);
  }
}

TEST(TimeZone, BiasesFromTheZoneRules) {
  struct Case {
    const char* zone;
    int bias, daylightBias;
  } cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", -60, -60},
      {"EST5EDT,M3.2.0,M11.1.0", 300, -60},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", -600, -60},  // daylight time at the turn of the year
      {"JST-9", -540, 0},
      {"IST-5:30", -330, 0},
      {"UTC0", 0, 0},
  };
  for (const Case& c : cases) {
    ScopedEnv tz("TZ", c.zone);
    TTimeZoneInformation info = GetTimeZoneInformation();
    EXPECT_EQ(info.Bias, c.bias) << c.zone;
    EXPECT_EQ(info.StandardBias, 0) << c.zone;
    EXPECT_EQ(info.DaylightBias, c.daylightBias) << c.zone;
  }
}

TEST(TimeZone, ConversionsAndFormats) {
  ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  TSystemTime utc = UtcToSystemTime(784111777);  // 6 Nov 1994 08:49:37 UTC, a Sunday
  EXPECT_EQ(utc.Year, 1994);
  EXPECT_EQ(utc.Month, 11);
  EXPECT_EQ(utc.Day, 6);
  EXPECT_EQ(utc.DayOfWeek, 0);
  EXPECT_EQ(SystemTimeToUtc(utc), 784111777);
  TSystemTime local = UtcToLocalTime(784111777);
  EXPECT_EQ(local.Hour, 9);
  EXPECT_EQ(FormatShortDate(local), "6.11.1994");
  EXPECT_EQ(FormatLongTime(local), "9:49:37");
  EXPECT_EQ(UtcToLocalTime(1720000000).Hour, (UtcToSystemTime(1720000000).Hour + 2) % 24) << "summer time";
  TSystemTime now = GetSystemTime();
  EXPECT_LE(std::abs(SystemTimeToUtc(now) - std::time(nullptr)), 5);
}

TEST(TimeZone, LocalTimesAgreeWithTheCLibraryAcrossZoneChanges) {
  // Conversions of nearby moments reuse the offset of their quarter hour;
  // they must still agree with localtime_r on both sides of every change,
  // before 1970, across leap days, and when $TZ changes in between.
  const char* zones[] = {"CET-1CEST,M3.5.0,M10.5.0/3", "NPT-5:45", "AEST-10AEDT,M10.1.0,M4.1.0/3",
                         "<-0044>0:44"};
  const std::time_t starts[] = {-86400 * 400 - 1, 951782400 - 7200, 1711846800 - 4000,
                                1729990800 - 4000, 1743310800 - 3000};
  for (const char* zone : zones) {
    ScopedEnv tz("TZ", zone);
    ::tzset();
    for (std::time_t start : starts) {
      for (std::time_t t = start; t < start + 4 * 3600; t += 599) {
        std::tm expected;
        ::localtime_r(&t, &expected);
        const TSystemTime local = UtcToLocalTime(t);
        const std::string where = std::string(zone) + " at " + std::to_string(t);
        ASSERT_EQ(local.Year, expected.tm_year + 1900) << where;
        ASSERT_EQ(local.Month, expected.tm_mon + 1) << where;
        ASSERT_EQ(local.Day, expected.tm_mday) << where;
        ASSERT_EQ(local.DayOfWeek, expected.tm_wday) << where;
        ASSERT_EQ(local.Hour, expected.tm_hour) << where;
        ASSERT_EQ(local.Minute, expected.tm_min) << where;
        ASSERT_EQ(local.Second, expected.tm_sec) << where;
      }
    }
  }
}

TEST(TimeZone, ParseShortDateAcceptsTheCzechForm) {
  TSystemTime d;
  ASSERT_TRUE(ParseShortDate("8.12.2026", d));
  EXPECT_EQ(d.Day, 8);
  EXPECT_EQ(d.Month, 12);
  EXPECT_EQ(d.Year, 2026);
  EXPECT_EQ(d.DayOfWeek, 2) << "8 December 2026 is a Tuesday";
  EXPECT_EQ(d.Hour, 0);
  ASSERT_TRUE(ParseShortDate("01. 02. 1999", d));
  EXPECT_EQ(d.Day, 1);
  EXPECT_EQ(d.Month, 2);
  EXPECT_EQ(d.Year, 1999);
  ASSERT_TRUE(ParseShortDate("29.2.2024", d));
  ASSERT_TRUE(ParseShortDate("1.1.49", d));
  EXPECT_EQ(d.Year, 2049);
  ASSERT_TRUE(ParseShortDate("1.1.50", d));
  EXPECT_EQ(d.Year, 1950);
}

TEST(TimeZone, ParseShortDateRefusesWhatIsNotADate) {
  TSystemTime d;
  for (const char* bad : {"", "<nic>", "29.2.2023", "31.4.2024", "0.1.2024", "1.13.2024", "1.0.2024",
                          "2024-01-01", "1.1", "1.1.2024x", "1..2024", "1.1.12345", "Mon, 01 Jan 2024"})
    EXPECT_FALSE(ParseShortDate(bad, d)) << bad;
}

TEST(Module, LoadsResolvesAndFreesALibrary) {
  HMODULE module = LoadLibrary(ToSystemPath(tovktest::BinDir() + "/libtovkmsg.so"));
  ASSERT_NE(module, nullptr) << LastModuleError();
  using TGetStrMsg = void (*)(uint16_t, unsigned char*);
  auto getStrMsg = reinterpret_cast<TGetStrMsg>(GetProcAddress(module, "GetStrMsg"));
  ASSERT_NE(getStrMsg, nullptr) << LastModuleError();
  unsigned char text[256] = {};
  getStrMsg(6, text);
  EXPECT_GT(text[0], 0);
  EXPECT_EQ(GetProcAddress(module, "NoSuchEntry"), nullptr);
  EXPECT_NE(LastModuleError().find("NoSuchEntry"), std::string::npos) << LastModuleError();
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(Module, MissingLibraryFails) {
  tovktest::TempDir dir;
  EXPECT_EQ(LoadLibrary(ToSystemPath(dir / "admin.dll")), nullptr);
  EXPECT_FALSE(LastModuleError().empty());
  tovktest::WriteFile(dir / "broken.dll", "not an ELF file");
  EXPECT_EQ(LoadLibrary(ToSystemPath(dir / "broken.dll")), nullptr);
  EXPECT_FALSE(LastModuleError().empty());
  EXPECT_FALSE(FreeLibrary(nullptr));
}

}  // namespace
