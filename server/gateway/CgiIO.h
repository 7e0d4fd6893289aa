#pragma once
// Child-process I/O for the gateways: the three pipe-relay threads, the
// environment-list helpers, and RunCGIProcess, which runs one program with
// its standard streams on pipes and collects everything it writes.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/MemoryStream.h"
#include "platform/Process.h"

// One relay thread over the server's end of a pipe. It is created
// suspended, filled, then resumed; the owner sets the terminate flag, waits
// for it and frees it. The readers never close their pipe handles.
class TNewIOThread {
 public:
  explicit TNewIOThread(bool createSuspended);  // the thread runs from Resume on
  virtual ~TNewIOThread();  // joins a thread that still runs
  TNewIOThread(const TNewIOThread&) = delete;
  TNewIOThread& operator=(const TNewIOThread&) = delete;

  void Resume();
  void WaitFor();
  void Terminate() { TerminateFlag = true; }
  bool Terminated() const { return TerminateFlag.load(); }

  HANDLE PipeHandle = kNoHandle;

 protected:
  virtual void Execute() = 0;
  // Reads the pipe until its end of stream, or until a wait that began after
  // the terminate flag was set has found nothing (a grandchild may hold the
  // pipe open). Calls Append for each piece and Failed for a read error.
  void RelayUntilEnd();
  virtual void Append(const char*, std::size_t) {}
  virtual void Failed(uint32_t) {}

 private:
  std::atomic<bool> TerminateFlag{false};
  std::thread Worker;
  bool Started = false;
};

// Copies the child's standard output into the reply's output stream.
class TPipeReadStdThread : public TNewIOThread {
 public:
  using TNewIOThread::TNewIOThread;
  TMemoryStream* Output = nullptr;  // the reply's

 protected:
  void Execute() override { RelayUntilEnd(); }
  void Append(const char* bytes, std::size_t count) override;
  void Failed(uint32_t code) override;
};

// Feeds the request body to the child's standard input. Unlike the other
// relays it owns its pipe end and closes it once the body is written, so
// that a child reading to the end of its input sees that end.
class TPipeWriteStdThread : public TNewIOThread {
 public:
  using TNewIOThread::TNewIOThread;
  ~TPipeWriteStdThread() override;
  std::string Text;

 protected:
  void Execute() override;
};

// Collects the child's standard error.
class TPipeReadErrThread : public TNewIOThread {
 public:
  using TNewIOThread::TNewIOThread;
  std::string Text;

 protected:
  void Execute() override { RelayUntilEnd(); }
  void Append(const char* bytes, std::size_t count) override { Text.append(bytes, count); }
};

// The relays move at most this much per read (the pipe chunk of the server).
constexpr std::size_t kPipeChunk = 250;
// How long a relay waits for data before it looks at its terminate flag.
constexpr int kRelayPollMs = 20;

// A child's environment: one "NAME=value" string an entry, in order. It
// reaches the child entry by entry, so a value can never add a variable.
using TEnvList = std::vector<std::string>;

// list := list + entry.
void AddEnvLine(TEnvList& list, const std::string& entry);
// The server's own environment strings, then the list.
TEnvList BuildEnvBlock(const TEnvList& list);

// What RunCGIProcess starts. The arguments follow the program's own name.
struct TCgiCommand {
  std::string Program;
  std::vector<std::string> Arguments;
  std::string WorkingDirectory;  // empty: the server's
  TEnvList Environment;
};

// How long a CGI program may run. Its output is buffered whole, so the
// client sees nothing until it ends: a form handler ends in seconds, a
// client that has heard nothing for a minute has mostly given up, and a
// program that has not ended by then is stuck and holds a connection
// thread, three relay threads, pipes and a process until it is ended.
constexpr int kCgiTimeLimitMs = 60 * 1000;
// Between the request to end (SIGTERM) and the kill (SIGKILL): time enough
// for a program to remove its temporary files, short enough that one which
// ignores the request does not hold the connection much longer.
constexpr int kCgiTerminateGraceMs = 2 * 1000;
// An environment variable of the server that can only shorten the bound,
// so that tests need not wait a minute for a runaway program; unset in
// service.
constexpr const char* kCgiTimeLimitVariable = "TOVK_CGI_TIME_LIMIT_MS";
// kCgiTimeLimitMs, or the shorter positive bound the variable gives.
int CgiTimeLimitMs();

// Runs the command, feeding bodyText on its standard input. The output
// stream receives all standard output; statusText gets the standard-error
// text appended to what it held (or, when the program cannot start, the
// system's text). A program still running after timeLimitMs is ended with
// its whole process group, and statusText says so. True when the child
// started, ended in time and wrote nothing to standard error; otherwise
// statusCode becomes 500.
bool RunCGIProcess(const TCgiCommand& command, const std::string& bodyText, int timeLimitMs,
                   TMemoryStream& output, std::string& statusText, int16_t& statusCode);
