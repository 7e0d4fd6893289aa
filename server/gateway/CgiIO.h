#pragma once
// Child-process I/O for the gateways: the three pipe-relay threads, the
// environment-list helpers, and RunCGIProcess, which runs one program with
// its standard streams on pipes and collects everything it writes.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

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

// list := list + entry + NUL.
void AddEnvLine(std::string& list, const std::string& entry);
// The server's own environment strings, then the list, then one NUL.
std::string BuildEnvBlock(const std::string& list);

// Runs commandLine in workingDirectory with the environment block, feeding
// bodyText on its standard input. The output stream receives all standard
// output; statusText gets the standard-error text appended to what it held
// (or, when the program cannot start, the system's text). True when the
// child started and wrote nothing to standard error; otherwise statusCode
// becomes 500.
bool RunCGIProcess(const std::string& commandLine, const std::string& workingDirectory,
                   const std::string& environmentBlock, const std::string& bodyText,
                   TMemoryStream& output, std::string& statusText, int16_t& statusCode);
