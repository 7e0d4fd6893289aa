#pragma once
// Helpers shared by the tests: throwaway directories, files, child
// processes with captured output, and free loopback ports.

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace tovktest {

// Where the build put the programs, and the source tree.
std::string BinDir();     // build/bin
std::string SourceDir();  // the checkout

// A fresh directory under $TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return Root; }
  std::string operator/(const std::string& name) const { return Root + "/" + name; }

 private:
  std::string Root;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);  // empty when missing
bool PathExists(const std::string& path);
void MakeDirs(const std::string& path);

struct RunResult {
  int ExitCode = -1;  // the exit status, or 128 + signal
  std::string Out;
  std::string Err;
  bool TimedOut = false;
};

// The environment of a child: ours with `changes` laid over it. Built before
// fork, because after fork in a process with threads only async-signal-safe
// calls are allowed (setenv and putenv allocate, and another thread may have
// held the allocator's lock at the fork).
class ChildEnvironment {
 public:
  explicit ChildEnvironment(const std::map<std::string, std::string>& changes);
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;
  char** Envp() { return Pointers.data(); }

 private:
  std::vector<std::string> Assignments;
  std::vector<char*> Pointers;
};

// Runs a program (no shell) with extra environment variables set on top of
// ours, feeding `input` on standard input; kills it after `timeout`.
RunResult Run(const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& env = {},
              const std::string& input = "",
              std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Starts a program (argv[0] its path; no shell) with our environment plus
// `env` on top, standard input from /dev/null and standard output and error
// appended to `outputPath`; the child's pid, or -1.
int SpawnWithOutput(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::string& outputPath);

// Processes of a process group that still run: a member that has ended but
// waits to be collected by a parent other than `collector` counts as gone
// (an orphan is collected by init, which a test sandbox may lack). True
// once none is left, waiting at most `timeout`.
bool ProcessGroupGone(int group, int collector,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
// The number of threads of a process (its /proc task entries).
int ThreadCount(int pid);

// A connected loopback TCP pair: `client` connected to `server`, the
// accepted end. A receive buffer for the client is set before connecting,
// so the window it offers is small from the start (0 leaves the default).
// Throws std::runtime_error when the pair cannot be made.
void ConnectLoopbackPair(int& server, int& client, int clientReceiveBuffer = 0);

// A loopback TCP port that nothing listens on right now.
int FreePort();

// Connects to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(int port);
// Sends all bytes; false when the connection broke.
bool SendAll(int fd, const std::string& bytes);
// Reads until the peer closes or the time runs out.
std::string ReceiveAll(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(20));
// One request on a new connection; the whole answer until close.
std::string HttpExchange(int port, const std::string& request,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace tovktest
