#pragma once
// Child processes and their anonymous pipes over posix_spawn and pipe2. A
// child is given its arguments and its environment as lists, never as one
// text to split, and no shell is ever involved. Every pipe end this module
// creates is close-on-exec, so a child keeps only the three ends it
// receives as its standard streams, whichever thread starts it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using HANDLE = int;  // a file descriptor
constexpr HANDLE kNoHandle = -1;

// The Windows codes a caller may look for in GetLastError.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_BROKEN_PIPE = 109;

// A thread's last error, as SetLastError/GetLastError keep it: an errno
// value for the calls of this module, or a Windows code set by a caller.
uint32_t GetLastError();
// Also puts the code into errno: a shared object (an extension) cannot
// reach this program's GetLastError, and reads errno instead.
void SetLastError(uint32_t code);
// The system's text for an error code of GetLastError.
std::string SystemErrorText(uint32_t code);

// Both ends close-on-exec; false (and the last error) on failure.
bool CreatePipe(HANDLE& readEnd, HANDLE& writeEnd);
// Closes the handle once and sets it to kNoHandle; a kNoHandle is left alone.
void CloseHandle(HANDLE& handle);

// Reads at most size bytes, waiting at most timeoutMs for the first byte
// (-1: no limit). Returns the count read, 0 at the end of the stream, -1 on
// an error, and -2 when the time ran out with nothing to read.
constexpr long kPipeTimedOut = -2;
long ReadPipe(HANDLE handle, void* buffer, std::size_t size, int timeoutMs);
// Writes as much as the pipe takes within timeoutMs (-1: no limit); returns
// the count written (possibly 0), or -1 when the reader is gone or the
// write failed. Never raises SIGPIPE.
long WritePipe(HANDLE handle, const void* bytes, std::size_t size, int timeoutMs);
// The bytes waiting in a pipe (PeekNamedPipe's total); -1 on an error.
long PipeBytesAvailable(HANDLE handle);

struct TStartupInfo {
  HANDLE StdInput = kNoHandle;
  HANDLE StdOutput = kNoHandle;
  HANDLE StdError = kNoHandle;
};

struct TProcessInformation {
  int ProcessId = -1;
};

// Starts program (a path in the system's form) with `arguments` as its
// arguments after the program's own name, in `directory` (empty: ours).
// Every argument and every "NAME=value" entry of `environment` reaches the
// child as one string: nothing is split again, so no value can become a
// second argument or variable. A C string cannot hold a NUL, so an entry is
// cut at its first NUL. The environment is exactly the list given. The
// child leads a process group of its own (EndProcessGroup ends it with all
// it started), its signal mask is empty and its signals are at their
// defaults. False, with the last error, when the program could not start.
bool StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, const std::string& directory,
                  const TStartupInfo& startup, TProcessInformation& info);

// WaitForProcess's answer when the time ran out: the child still runs and
// is still ours to wait for or end.
constexpr int kProcessStillRunning = -2;
// Waits at most timeoutMs (-1: no limit) for the child to end and then
// collects it; the exit code, or 128 + signal for a child a signal ended;
// kProcessStillRunning on time-out; -1 when there is no such child.
int WaitForProcess(TProcessInformation& info, int timeoutMs = -1);
// Ends the child's process group: SIGTERM to the group, at most graceMs
// for the child to end, then SIGKILL to whatever of the group is left, and
// collects the child. The child is collected only after the last signal, so
// the group's number cannot have passed to anyone else. The child's status
// as WaitForProcess gives it.
int EndProcessGroup(TProcessInformation& info, int graceMs);

// The process's environment, one "NAME=value" string an entry, in order.
std::vector<std::string> GetEnvironmentStrings();
// The value of one variable of the process's environment; empty when unset.
std::string GetEnvironmentVariable(const std::string& name);
