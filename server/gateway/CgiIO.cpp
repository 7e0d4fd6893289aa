#include "server/gateway/CgiIO.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "server/shell/Loging.h"

namespace {

// The status text of a program ended at the time limit.
std::string TimeLimitText(int timeLimitMs) {
  const int seconds = (timeLimitMs + 999) / 1000;
  return "Skript neskončil do " + std::to_string(seconds) + " s a byl ukončen.";
}

}  // namespace

// A thread started here would run Execute before the subclass exists, so
// every relay starts at Resume, suspended or not.
TNewIOThread::TNewIOThread(bool) {}

TNewIOThread::~TNewIOThread() {
  if (Worker.joinable()) {
    Terminate();
    Worker.join();
  }
}

void TNewIOThread::Resume() {
  if (Started) return;
  Started = true;
  Worker = std::thread([this] { Execute(); });
}

void TNewIOThread::WaitFor() {
  if (Worker.joinable()) Worker.join();
}

void TNewIOThread::RelayUntilEnd() {
  char piece[kPipeChunk];
  for (;;) {
    // The flag is read before the wait: a wait that then finds nothing
    // began after the child had ended, so nothing the child wrote is left.
    bool wasTerminated = Terminated();
    long n = ReadPipe(PipeHandle, piece, sizeof piece, kRelayPollMs);
    if (n > 0) {
      Append(piece, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) return;  // every write end is closed
    if (n == kPipeTimedOut) {
      if (wasTerminated) return;
      continue;
    }
    if (wasTerminated) return;
    Failed(GetLastError());
    // A failing pipe fails again at once; do not turn that into a spin.
    std::this_thread::sleep_for(std::chrono::milliseconds(kRelayPollMs));
  }
}

void TPipeReadStdThread::Append(const char* bytes, std::size_t count) {
  Output->Write(bytes, count);
}

void TPipeReadStdThread::Failed(uint32_t code) {
  // Part of the output the client receives, as the original relay did.
  Output->Write("DEBUG PIPE READ ERR:" + std::to_string(code));
}

void TPipeWriteStdThread::Execute() {
  // Written in pieces with a bounded wait, so that a child which never reads
  // its input, or has ended, cannot hold this thread: a broken pipe ends the
  // write, and so does the terminate flag, which the owner sets once the
  // child has ended.
  constexpr std::size_t kWritePiece = 65536;
  std::size_t done = 0;
  while (done < Text.size()) {
    std::size_t piece = std::min(kWritePiece, Text.size() - done);
    long n = WritePipe(PipeHandle, Text.data() + done, piece, kRelayPollMs);
    if (n < 0) break;
    done += static_cast<std::size_t>(n);
    if (n == 0 && Terminated()) break;
  }
  CloseHandle(PipeHandle);
}

TPipeWriteStdThread::~TPipeWriteStdThread() {
  Terminate();
  WaitFor();
  CloseHandle(PipeHandle);  // when the thread never ran
}

void AddEnvLine(TEnvList& list, const std::string& entry) { list.push_back(entry); }

TEnvList BuildEnvBlock(const TEnvList& list) {
  TEnvList block = GetEnvironmentStrings();
  block.insert(block.end(), list.begin(), list.end());
  return block;
}

int CgiTimeLimitMs() {
  const std::string shorter = GetEnvironmentVariable(kCgiTimeLimitVariable);
  char* end = nullptr;
  const long value = std::strtol(shorter.c_str(), &end, 10);
  if (shorter.empty() || *end != '\0' || value <= 0 || value >= kCgiTimeLimitMs)
    return kCgiTimeLimitMs;
  return static_cast<int>(value);
}

bool RunCGIProcess(const TCgiCommand& command, const std::string& bodyText, int timeLimitMs,
                   TMemoryStream& output, std::string& statusText, int16_t& statusCode) {
  HANDLE inRead = kNoHandle, inWrite = kNoHandle;
  HANDLE outRead = kNoHandle, outWrite = kNoHandle;
  HANDLE errRead = kNoHandle, errWrite = kNoHandle;
  auto closeAll = [&] {
    for (HANDLE* h : {&inRead, &inWrite, &outRead, &outWrite, &errRead, &errWrite}) CloseHandle(*h);
  };
  TProcessInformation child;
  std::unique_ptr<TPipeWriteStdThread> writer;
  std::unique_ptr<TPipeReadStdThread> reader;
  std::unique_ptr<TPipeReadErrThread> errorReader;
  try {
    if (!CreatePipe(inRead, inWrite) || !CreatePipe(outRead, outWrite) ||
        !CreatePipe(errRead, errWrite)) {
      statusText = SystemErrorText(GetLastError());
      statusCode = 500;
      closeAll();
      return false;
    }
    TStartupInfo startup;
    startup.StdInput = inRead;
    startup.StdOutput = outWrite;
    startup.StdError = errWrite;
    if (!StartProcess(command.Program, command.Arguments, command.Environment,
                      command.WorkingDirectory, startup, child)) {
      statusText = SystemErrorText(GetLastError());
      statusCode = 500;
      closeAll();
      return false;
    }
    // The child holds its own copies; ours go now, so that the child's end
    // is the pipe's end: its output ends, and a body it does not read breaks,
    // as soon as it exits or closes the stream.
    CloseHandle(inRead);
    CloseHandle(outWrite);
    CloseHandle(errWrite);

    if (!bodyText.empty()) {
      writer = std::make_unique<TPipeWriteStdThread>(true);
      writer->Text = bodyText;
      writer->PipeHandle = inWrite;  // the writer closes it
      inWrite = kNoHandle;
      writer->Resume();
    } else {
      CloseHandle(inWrite);  // the child sees the end of its input at once
    }
    reader = std::make_unique<TPipeReadStdThread>(true);
    reader->Output = &output;
    reader->PipeHandle = outRead;
    reader->Resume();
    errorReader = std::make_unique<TPipeReadErrThread>(true);
    errorReader->Text = statusText;
    errorReader->PipeHandle = errRead;
    errorReader->Resume();

    const bool overran = WaitForProcess(child, timeLimitMs) == kProcessStillRunning;
    if (overran) {
      // Its group goes with it: the pipes' other ends close, and the relays
      // below end at the end of their streams.
      EndProcessGroup(child, kCgiTerminateGraceMs);
      LogError("CGI TIME LIMIT: " + command.Program);
    }

    // Joined in the order writer, error reader, output reader. The flag
    // comes before the wait: the child has ended, so nobody reads the rest
    // of the body.
    if (writer) {
      writer->Terminate();
      writer->WaitFor();
      writer.reset();
    }
    errorReader->Terminate();
    errorReader->WaitFor();
    statusText = errorReader->Text;
    errorReader.reset();
    CloseHandle(errRead);
    reader->Terminate();
    reader->WaitFor();
    reader.reset();
    CloseHandle(outRead);

    if (overran) statusText += TimeLimitText(timeLimitMs);
    bool clean = statusText.empty();
    if (!clean) statusCode = 500;
    return clean;
  } catch (...) {
    LogError("CGI SHELL: 500");
    // Nobody will read what a child that was started still writes: it is
    // ended with its group and collected, so that none is left behind. The
    // relays end on their flags (their destructors set them).
    writer.reset();
    CloseHandle(inWrite);
    if (child.ProcessId > 0) EndProcessGroup(child, kCgiTerminateGraceMs);
    errorReader.reset();
    reader.reset();
    closeAll();
    return false;
  }
}
