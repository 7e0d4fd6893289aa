#pragma once
// CreateProcess and its anonymous pipes over posix_spawn and pipe2. The
// command line is split by the Windows command-line rules, its first
// argument is the program, and no shell is ever involved. Every pipe end
// this module creates is close-on-exec, so a child keeps only the three ends
// it receives as its standard streams, whichever thread starts it.

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

// Splits a command line by the Windows rules: blanks and tabs separate;
// double quotes group and are removed; 2n backslashes before a quote give n
// backslashes and the quote groups, 2n+1 give n and a literal quote; other
// backslashes stay; inside quotes "" gives one literal quote.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

struct TStartupInfo {
  HANDLE StdInput = kNoHandle;
  HANDLE StdOutput = kNoHandle;
  HANDLE StdError = kNoHandle;
};

struct TProcessInformation {
  int ProcessId = -1;
};

// Starts the program that the command line names (a Windows-style path),
// with the rest of the line as its arguments. environmentBlock holds
// NAME=value entries each ended by a NUL, the block ended by one more NUL;
// an empty block gives the child our environment. An empty directory keeps
// ours. The child's signal mask is empty and its signals are at their
// defaults. False, with the last error, when the program could not start.
bool CreateProcess(const std::string& commandLine, const std::string& environmentBlock,
                   const std::string& currentDirectory, const TStartupInfo& startup,
                   TProcessInformation& info);
// Waits without a time-out; the exit code, or 128 + signal for a child a
// signal ended; -1 when there is no such child.
int WaitForProcess(TProcessInformation& info);

// The process's environment as GetEnvironmentStringsA gives it: each entry
// followed by a NUL, the block ended by a second NUL.
std::string GetEnvironmentStrings();
