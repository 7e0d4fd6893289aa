// The CreateProcess stand-in: the Windows command-line split, start
// failures, what a child inherits, and exit codes.

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/Process.h"
#include "tests/gateway/GatewayFixture.h"

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksSeparateAndQuotesGroup) {
  EXPECT_EQ(SplitCommandLine("prog a  b\tc"), (Args{"prog", "a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("\"c:\\Program Files\\x.exe\" \"two words\" z"),
            (Args{"c:\\Program Files\\x.exe", "two words", "z"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d"), (Args{"ab cd"}));
  EXPECT_EQ(SplitCommandLine("x \"\""), (Args{"x", ""}));
}

TEST(SplitCommandLine, TrailingBlankAddsNoArgument) {
  // A stand-alone program is started as "program " with an empty argument.
  EXPECT_EQ(SplitCommandLine("c:\\www\\cgi\\x.cgi "), (Args{"c:\\www\\cgi\\x.cgi"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(SplitCommandLine, BackslashesCountOnlyBeforeAQuote) {
  EXPECT_EQ(SplitCommandLine("a\\\\b"), (Args{"a\\\\b"}));
  EXPECT_EQ(SplitCommandLine("a\\\"b"), (Args{"a\"b"}));                  // 1 -> literal quote
  EXPECT_EQ(SplitCommandLine("\"a\\\\\" b"), (Args{"a\\", "b"}));         // 2 -> 1, quote ends
  EXPECT_EQ(SplitCommandLine("\"a\\\\\\\"b\" c"), (Args{"a\\\"b", "c"}));  // 3 -> 1 + quote
  EXPECT_EQ(SplitCommandLine("\"say \"\"hi\"\"\""), (Args{"say \"hi\""}));
}

struct TChild {
  std::string Out;
  int Exit = -1;
  bool Started = false;
};

TChild RunChild(const std::string& commandLine, const std::string& directory = "",
                const std::string& environment = "") {
  TChild result;
  HANDLE outRead, outWrite;
  if (!CreatePipe(outRead, outWrite)) return result;
  TStartupInfo startup;
  startup.StdOutput = outWrite;
  TProcessInformation info;
  result.Started = CreateProcess(commandLine, environment, directory, startup, info);
  CloseHandle(outWrite);
  if (result.Started) {
    char piece[4096];
    for (int round = 0; round < 10000; ++round) {
      long n = ReadPipe(outRead, piece, sizeof piece, 10000);
      if (n <= 0) break;
      result.Out.append(piece, static_cast<std::size_t>(n));
    }
    result.Exit = WaitForProcess(info);
  }
  CloseHandle(outRead);
  return result;
}

TEST(CreateProcess, RunsWithoutAShellInTheGivenDirectory) {
  tovktest::TempDir dir;
  TChild child = RunChild("/bin/sh -c \"pwd; echo $0 '*'\"", gwtest::Sys(dir.Path()));
  ASSERT_TRUE(child.Started);
  // The quotes were taken by the split, the rest reached sh as one argument.
  EXPECT_EQ(child.Out, dir.Path() + "\n/bin/sh *\n");
  EXPECT_EQ(child.Exit, 0);
}

TEST(CreateProcess, ReportsExitCodesAndSignals) {
  EXPECT_EQ(RunChild("/bin/sh -c \"exit 7\"").Exit, 7);
  EXPECT_EQ(RunChild("/bin/sh -c \"kill -9 $$\"").Exit, 128 + 9);
}

TEST(CreateProcess, FailsForMissingOrNonExecutablePrograms) {
  tovktest::TempDir dir;
  TChild missing = RunChild(gwtest::Sys(dir / "nothing") + " x");
  EXPECT_FALSE(missing.Started);
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(SystemErrorText(GetLastError()).empty());

  tovktest::WriteFile(dir / "plain.txt", "not a program");
  EXPECT_FALSE(RunChild(gwtest::Sys(dir / "plain.txt")).Started);
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EACCES));
}

TEST(CreateProcess, FindsAnUnquotedProgramPathWithBlanks) {
  tovktest::TempDir dir;
  tovktest::MakeDirs(dir / "my tools");
  std::string program = gwtest::CopyInto(gwtest::ScriptDir() + "/env.sh", dir / "my tools");
  TChild child = RunChild(gwtest::Sys(program) + " first");
  ASSERT_TRUE(child.Started);
  EXPECT_NE(child.Out.find("ARGC=1\nARG1=first\n"), std::string::npos) << child.Out;
}

TEST(CreateProcess, ChildGetsTheBlockAsItsWholeEnvironment) {
  std::string block = std::string("A=1") + '\0' + "B=two words" + '\0' + '\0';
  TChild child = RunChild("/usr/bin/env", "", block);
  EXPECT_EQ(child.Out, "A=1\nB=two words\n");
}

TEST(CreateProcess, ChildInheritsNoOtherPipeEnds) {
  // Ends created for another request (or another thread) stay out of a child.
  HANDLE otherRead, otherWrite;
  ASSERT_TRUE(CreatePipe(otherRead, otherWrite));
  std::string check = "/bin/sh -c \"for fd in " + std::to_string(otherRead) + " " +
                      std::to_string(otherWrite) +
                      "; do if [ -e /proc/$$/fd/$fd ]; then echo open; fi; done; echo checked\"";
  TChild child = RunChild(check);
  EXPECT_EQ(child.Out, "checked\n");
  CloseHandle(otherRead);
  CloseHandle(otherWrite);
  EXPECT_EQ(otherRead, kNoHandle);
}

TEST(Pipes, WriteToAPipeWithoutReaderFailsInsteadOfRaisingSigPipe) {
  HANDLE r, w;
  ASSERT_TRUE(CreatePipe(r, w));
  CloseHandle(r);
  EXPECT_EQ(WritePipe(w, "x", 1, 1000), -1);
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EPIPE));
  CloseHandle(w);
}

TEST(Pipes, ReadTimesOutWhenNothingComes) {
  HANDLE r, w;
  ASSERT_TRUE(CreatePipe(r, w));
  char c;
  EXPECT_EQ(ReadPipe(r, &c, 1, 10), kPipeTimedOut);
  EXPECT_EQ(WritePipe(w, "ab", 2, 1000), 2);
  EXPECT_EQ(PipeBytesAvailable(r), 2);
  CloseHandle(w);
  char two[4];
  EXPECT_EQ(ReadPipe(r, two, sizeof two, 1000), 2);
  EXPECT_EQ(ReadPipe(r, two, sizeof two, 1000), 0);  // end of stream
  CloseHandle(r);
}

}  // namespace
