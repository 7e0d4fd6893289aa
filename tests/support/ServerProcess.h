#pragma once
// End-to-end helpers: the real tovksrv run as a service, with the test as
// its service manager, in a throwaway directory of its own.
//
//   tovktest::ServerProcess server;          // registry, logs/, www/, a free port
//   server.ImportReg(server.BaseConfig());   // Port, ProtFile, alias / -> www
//   ASSERT_TRUE(server.Start());             // READY=1 and the port accepts
//   std::string page = tovktest::HttpExchange(server.Port(), "GET / HTTP/1.0\r\n\r\n");
//   EXPECT_EQ(0, server.Stop());             // SIGTERM, bounded wait, exit status

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace tovktest {

using namespace std::chrono_literals;

// The manager's end of NOTIFY_SOCKET: collects every datagram a service
// sends (READY=1, STATUS=..., STOPPING=1, EXTEND_TIMEOUT_USEC=...).
class NotifySocket {
 public:
  NotifySocket();
  ~NotifySocket();
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  const std::string& Address() const { return Name; }  // the value of NOTIFY_SOCKET
  std::vector<std::string> Messages();                  // one per datagram, in order
  // Every line of every message, in order ("READY=1", "STATUS=...").
  std::vector<std::string> Lines();
  // Waits until a line equal to `line` has come.
  bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout = 20s);
  // Waits until a STATUS= text containing `part` has come.
  bool WaitForStatus(const std::string& part, std::chrono::milliseconds timeout = 20s);
  std::string LastStatus();  // the text of the last STATUS= line

 private:
  void Receive();
  std::string Name;
  int Fd = -1;
  int StopFd = -1;
  std::thread Reader;
  std::mutex Lock;
  std::condition_variable Arrived;
  std::vector<std::string> Received;
};

class ServerProcess {
 public:
  ServerProcess();
  ~ServerProcess();  // stops a server still running (killing it if it hangs)
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const TempDir& Dir() const { return Root; }
  std::string RegistryPath() const { return Root / "registry.db"; }
  std::string LogDir() const { return Root / "logs"; }
  std::string DocRoot() const { return Root / "www"; }
  int Port() const { return HttpPort; }

  // A Linux path as the system writes it ("/a/b" -> "\a\b"), and the same
  // escaped for a REGEDIT4 text ("\\a\\b").
  static std::string SystemPath(const std::string& linuxPath);
  static std::string RegEscape(const std::string& text);

  // A REGEDIT4 text with the key header and every value the server reads:
  // Port, ProtFile (the log directory), DefaultHTML "index.html", SSLon,
  // NewLogFile and KeepAlive off, MIME entries for html, txt and gif, no App
  // or Virt entries, and one alias "*,/," to the document root. Append
  // "\"Name\"=..." lines to extend or override it (the last one wins).
  std::string BaseConfig() const;
  // Imports a REGEDIT4 text into this server's registry with the real
  // tovkreg; false (with its output in LastToolOutput) when that fails.
  bool ImportReg(const std::string& regText);
  // Runs tovkreg with these arguments against this server's registry.
  RunResult RegTool(const std::vector<std::string>& args);
  std::string LastToolOutput;

  // Extra environment for the server (TOVK_REGISTRY is always set;
  // TOVK_DRIVE_C starts as the directory "c" of Dir()).
  std::map<std::string, std::string> Env;

  // Starts tovksrv under our NOTIFY_SOCKET and waits for READY=1 and, when
  // `waitForPort`, for Port() to accept.
  bool Start(bool waitForPort = true, std::chrono::milliseconds timeout = 20s);
  // Starts tovksrv the same way without waiting for anything.
  bool Launch();
  bool Running();
  pid_t Pid() const { return Child; }
  void Signal(int signalNumber);
  // SIGTERM, then waits; the exit status (128 + signal when it had to be
  // killed after the timeout; the status it ended with when it had already
  // ended; -1 when it never ran).
  int Stop(std::chrono::milliseconds timeout = 20s);
  // Waits for the process to end by itself; its exit status, -1 on timeout.
  int Wait(std::chrono::milliseconds timeout = 20s);

  NotifySocket& Notify() { return Manager; }
  std::string AccessLog() const { return ReadFile(LogDir() + "/access.log"); }
  std::string ErrorLog() const { return ReadFile(LogDir() + "/error.log"); }
  // What the server wrote to its standard output and error (the event log).
  std::string Output() const { return ReadFile(Root / "server.out"); }
  // Waits until the file contains `text`.
  static bool WaitForText(const std::string& path, const std::string& text,
                          std::chrono::milliseconds timeout = 20s);

 private:
  TempDir Root;
  NotifySocket Manager;
  int HttpPort;
  pid_t Child = -1;
  int ExitStatus = -1;
};

// Waits until 127.0.0.1:port accepts a connection (or, with `open` false,
// until it refuses one).
bool WaitForPort(int port, bool open = true, std::chrono::milliseconds timeout = 20s);

}  // namespace tovktest
