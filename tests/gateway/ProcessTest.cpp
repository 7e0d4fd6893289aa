// Child processes: start failures, what a child is given and inherits, exit
// codes, bounded waits and the end of a process group.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/Process.h"
#include "tests/gateway/GatewayFixture.h"

namespace {

using Args = std::vector<std::string>;

struct TChild {
  std::string Out;
  int Exit = -1;
  bool Started = false;
};

TChild RunChild(const std::string& program, const Args& args, const std::string& directory = "",
                const Args& environment = {}) {
  TChild result;
  HANDLE outRead, outWrite;
  if (!CreatePipe(outRead, outWrite)) return result;
  TStartupInfo startup;
  startup.StdOutput = outWrite;
  TProcessInformation info;
  result.Started = StartProcess(program, args, environment, directory, startup, info);
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

TEST(StartProcess, RunsWithoutAShellInTheGivenDirectory) {
  tovktest::TempDir dir;
  TChild child = RunChild("/bin/sh", {"-c", "pwd; echo $0 '*'"}, gwtest::Sys(dir.Path()));
  ASSERT_TRUE(child.Started);
  EXPECT_EQ(child.Out, dir.Path() + "\n/bin/sh *\n");
  EXPECT_EQ(child.Exit, 0);
}

TEST(StartProcess, ReportsExitCodesAndSignals) {
  EXPECT_EQ(RunChild("/bin/sh", {"-c", "exit 7"}).Exit, 7);
  EXPECT_EQ(RunChild("/bin/sh", {"-c", "kill -9 $$"}).Exit, 128 + 9);
}

TEST(StartProcess, FailsForMissingOrNonExecutablePrograms) {
  tovktest::TempDir dir;
  TChild missing = RunChild(gwtest::Sys(dir / "nothing"), {"x"});
  EXPECT_FALSE(missing.Started);
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(SystemErrorText(GetLastError()).empty());

  tovktest::WriteFile(dir / "plain.txt", "not a program");
  EXPECT_FALSE(RunChild(gwtest::Sys(dir / "plain.txt"), {}).Started);
  EXPECT_EQ(GetLastError(), static_cast<uint32_t>(EACCES));
}

TEST(StartProcess, ArgumentsAndVariablesArriveWholeAndSeparate) {
  tovktest::TempDir dir;
  tovktest::MakeDirs(dir / "my tools");
  std::string program = gwtest::CopyInto(gwtest::ScriptDir() + "/env.sh", dir / "my tools");
  TChild child = RunChild(gwtest::Sys(program), {"a \"b\".pl"});
  ASSERT_TRUE(child.Started);
  EXPECT_NE(child.Out.find("ARGC=1\nARG1=a \"b\".pl\n"), std::string::npos) << child.Out;
  EXPECT_EQ(RunChild("/bin/sh", {"-c", "printf '[%s]' \"$@\"", "sh", "x y", "", "-z"}).Out,
            "[x y][][-z]");

  // A value with a NUL cannot carry a second variable behind it, and an
  // "=" inside a value stays in the value.
  Args environment = {"A=1", "B=two words", std::string("HTTP_USER_AGENT=x") + '\0' + "PERL5OPT=-d",
                      "QUERY_STRING=a=b=c"};
  EXPECT_EQ(RunChild("/usr/bin/env", {}, "", environment).Out,
            "A=1\nB=two words\nHTTP_USER_AGENT=x\nQUERY_STRING=a=b=c\n");
}

TEST(StartProcess, ChildInheritsNoOtherPipeEnds) {
  // Ends created for another request (or another thread) stay out of a child.
  HANDLE otherRead, otherWrite;
  ASSERT_TRUE(CreatePipe(otherRead, otherWrite));
  std::string check = "for fd in " + std::to_string(otherRead) + " " + std::to_string(otherWrite) +
                      "; do if [ -e /proc/$$/fd/$fd ]; then echo open; fi; done; echo checked";
  TChild child = RunChild("/bin/sh", {"-c", check});
  EXPECT_EQ(child.Out, "checked\n");
  CloseHandle(otherRead);
  CloseHandle(otherWrite);
  EXPECT_EQ(otherRead, kNoHandle);
}

TEST(StartProcess, BoundedWaitAndTheEndOfAWholeProcessGroup) {
  // The child and its background grandchild both ignore SIGTERM, so only
  // the kill after the grace ends them.
  HANDLE outRead, outWrite;
  ASSERT_TRUE(CreatePipe(outRead, outWrite));
  TStartupInfo startup;
  startup.StdOutput = outWrite;
  TProcessInformation info;
  ASSERT_TRUE(StartProcess("/bin/sh", {"-c", "trap '' TERM; sleep 1000 & echo $$ $!; wait"}, {},
                           "", startup, info));
  CloseHandle(outWrite);
  const int child = info.ProcessId;
  std::string line;
  char piece[64];
  for (int round = 0; round < 100 && line.find('\n') == std::string::npos; ++round) {
    long n = ReadPipe(outRead, piece, sizeof piece, 10000);
    if (n <= 0) break;
    line.append(piece, static_cast<std::size_t>(n));
  }
  int reported = 0, grandchild = 0;
  ASSERT_EQ(std::sscanf(line.c_str(), "%d %d", &reported, &grandchild), 2) << line;
  EXPECT_EQ(reported, child);
  EXPECT_EQ(getpgid(child), child) << "the child leads a group of its own";
  EXPECT_EQ(getpgid(grandchild), child);

  EXPECT_EQ(WaitForProcess(info, 50), kProcessStillRunning);
  EXPECT_EQ(info.ProcessId, child) << "a child still running stays ours";
  EXPECT_EQ(EndProcessGroup(info, 100), 128 + SIGKILL);
  EXPECT_EQ(info.ProcessId, -1);
  EXPECT_TRUE(tovktest::ProcessGroupGone(child, getpid()));
  EXPECT_EQ(ReadPipe(outRead, piece, sizeof piece, 10000), 0) << "every write end is closed";
  CloseHandle(outRead);
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
