// RunCGIProcess and the environment block: what reaches the child, what
// comes back, and that nothing hangs or is lost.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "server/gateway/CgiIO.h"
#include "server/net/MD5.h"
#include "tests/gateway/GatewayFixture.h"

namespace {

struct TRun {
  bool Clean = false;
  TMemoryStream Output;
  std::string StatusText;
  int16_t StatusCode = 200;
};

void RunChild(TRun& run, const std::string& program, const std::vector<std::string>& args,
              const std::string& body = "", const std::string& directory = "",
              const TEnvList& list = {}, int timeLimitMs = kCgiTimeLimitMs) {
  TCgiCommand command{program, args, directory, BuildEnvBlock(list)};
  run.Clean = RunCGIProcess(command, body, timeLimitMs, run.Output, run.StatusText, run.StatusCode);
}

// Arguments reach the child as written, so the script is named in Linux form.
std::string Script(const std::string& name) { return gwtest::ScriptDir() + "/" + name; }

TEST(EnvBlock, ServerVariablesComeFirstThenTheList) {
  setenv("TOVK_GW_MARK", "server-side", 1);
  TEnvList list;
  AddEnvLine(list, "QUERY_STRING=a=b");
  AddEnvLine(list, "CONTENT_LENGTH=0");
  TEnvList block = BuildEnvBlock(list);
  ASSERT_GT(block.size(), list.size());
  EXPECT_EQ(TEnvList(block.end() - 2, block.end()), list);

  TRun run;
  RunChild(run, "/usr/bin/env", {}, "", "", list);
  const std::string& out = run.Output.Bytes();
  std::size_t mark = out.find("TOVK_GW_MARK=server-side\n");
  std::size_t query = out.find("QUERY_STRING=a=b\nCONTENT_LENGTH=0\n");
  ASSERT_NE(mark, std::string::npos) << out;
  ASSERT_NE(query, std::string::npos) << out;
  EXPECT_LT(mark, query);
  EXPECT_TRUE(run.Clean);
  unsetenv("TOVK_GW_MARK");
}

TEST(RunCGIProcess, LargeBodyReachesStandardInputWhole) {
  std::string body;
  for (int i = 0; i < 100000; ++i) body += static_cast<char>('A' + (i * 7) % 26);
  TRun run;
  RunChild(run, "/usr/bin/python3", {Script("stdin.py")}, body);
  EXPECT_TRUE(run.Clean) << run.StatusText;
  EXPECT_NE(run.Output.Bytes().find("LEN=100000\nMD5=" + MD5Hex(body.data(), body.size())),
            std::string::npos)
      << run.Output.Bytes();
}

TEST(RunCGIProcess, EmptyBodyMeansEndOfInputAtOnce) {
  TRun run;
  RunChild(run, "/usr/bin/python3", {Script("stdin.py")});
  EXPECT_NE(run.Output.Bytes().find("LEN=0\n"), std::string::npos) << run.Output.Bytes();
}

TEST(RunCGIProcess, ChildThatNeverReadsItsBodyDoesNotHoldTheServer) {
  // Far more than a pipe holds: the writer must give up once the child ends.
  std::string body(8 * 1024 * 1024, 'b');
  TRun run;
  RunChild(run, "/bin/sh", {Script("noread.sh")}, body);
  EXPECT_TRUE(run.Clean) << run.StatusText;
  EXPECT_EQ(run.Output.Bytes(), "Content-Type: text/plain\r\n\r\nignored the body\n");
}

TEST(RunCGIProcess, FloodOfOutputArrivesComplete) {
  const std::size_t count = 6 * 1024 * 1024 + 123;
  TRun run;
  RunChild(run, "/usr/bin/perl", {Script("flood.pl"), std::to_string(count)});
  EXPECT_TRUE(run.Clean) << run.StatusText;
  const std::string head = "Content-Type: application/octet-stream\r\n\r\n";
  ASSERT_EQ(run.Output.Size(), head.size() + count);
  EXPECT_EQ(run.Output.Bytes().substr(0, head.size()), head);
  EXPECT_EQ(run.Output.Bytes().substr(head.size(), 12), "012345678901");
}

TEST(RunCGIProcess, OutputWrittenJustBeforeExitIsNeverLost) {
  // A child that writes and ends at once: its last bytes arrive after it has
  // ended, and must still be read.
  for (int i = 0; i < 30; ++i) {
    TRun run;
    RunChild(run, "/usr/bin/printf", {"round-" + std::to_string(i)});
    ASSERT_EQ(run.Output.Bytes(), "round-" + std::to_string(i));
  }
}

TEST(RunCGIProcess, ChildThatDiesKeepsWhatItWrote) {
  TRun run;
  RunChild(run, "/bin/sh", {Script("dies.sh")});
  EXPECT_TRUE(run.Clean);
  EXPECT_EQ(run.Output.Bytes(), "Content-Type: text/plain\r\n\r\npartial\n");
}

TEST(RunCGIProcess, StandardErrorFailsTheRunWithItsText) {
  TRun run;
  RunChild(run, "/bin/sh", {Script("stderr.sh")});
  EXPECT_FALSE(run.Clean);
  EXPECT_EQ(run.StatusCode, 500);
  EXPECT_EQ(run.StatusText, "something went wrong");
  EXPECT_EQ(run.Output.Bytes(), "Content-Type: text/plain\r\n\r\nbody\n");
}

TEST(RunCGIProcess, ProgramThatCannotStartGives500WithTheSystemText) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "data.txt", "x");
  TRun run;
  RunChild(run, gwtest::Sys(dir / "data.txt"), {});
  EXPECT_FALSE(run.Clean);
  EXPECT_EQ(run.StatusCode, 500);
  EXPECT_EQ(run.StatusText, SystemErrorText(EACCES));
  EXPECT_EQ(run.Output.Size(), 0u);
}

TEST(RunCGIProcess, WorkingDirectoryIsTheGivenOne) {
  tovktest::TempDir dir;
  TRun run;
  RunChild(run, "/bin/pwd", {}, "", gwtest::Sys(dir.Path()) + "\\");
  EXPECT_EQ(run.Output.Bytes(), dir.Path() + "\n");
}

TEST(RunCGIProcess, BackgroundGrandchildDoesNotKeepTheRequestWaiting) {
  // The grandchild keeps standard output and error open long after the
  // child has ended; the relays stop once the child is gone.
  TRun run;
  RunChild(run, "/bin/sh", {"-c", "sleep 3 & echo done"});
  EXPECT_TRUE(run.Clean) << run.StatusText;
  EXPECT_EQ(run.Output.Bytes(), "done\n");
}

TEST(RunCGIProcess, RunawayProgramIsEndedWithItsWholeGroup) {
  // It and its grandchild ignore SIGTERM, so the kill after the grace is
  // what ends them; the relays end with them, and the run reports it.
  tovktest::TempDir dir;
  constexpr int kLimitMs = 300;
  TRun run;
  auto started = std::chrono::steady_clock::now();
  RunChild(run, "/bin/sh", {Script("runaway.sh")}, "", gwtest::Sys(dir.Path()), {}, kLimitMs);
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(run.Clean);
  EXPECT_EQ(run.StatusCode, 500);
  EXPECT_EQ(run.StatusText, "Skript neskončil do 1 s a byl ukončen.");
  EXPECT_EQ(run.Output.Bytes(), "Content-Type: text/plain\r\n\r\nstarted\n");
  EXPECT_GE(took, std::chrono::milliseconds(kLimitMs));
  EXPECT_LT(took, std::chrono::milliseconds(kLimitMs + kCgiTerminateGraceMs) + std::chrono::seconds(20));
  const int group = std::atoi(tovktest::ReadFile(dir / "runaway.pid").c_str());
  ASSERT_GT(group, 0);
  EXPECT_TRUE(tovktest::ProcessGroupGone(group, getpid()));
}

TEST(CgiTimeLimit, TheVariableCanOnlyShortenTheBound) {
  const std::pair<const char*, int> cases[] = {
      {"1500", 1500}, {"0", kCgiTimeLimitMs}, {"-5", kCgiTimeLimitMs}, {"12x", kCgiTimeLimitMs},
      {"999999999", kCgiTimeLimitMs}, {"", kCgiTimeLimitMs}};
  for (const auto& [value, expected] : cases) {
    setenv(kCgiTimeLimitVariable, value, 1);
    EXPECT_EQ(CgiTimeLimitMs(), expected) << "'" << value << "'";
  }
  unsetenv(kCgiTimeLimitVariable);
  EXPECT_EQ(CgiTimeLimitMs(), kCgiTimeLimitMs);
}

}  // namespace
