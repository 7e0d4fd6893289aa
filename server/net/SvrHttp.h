#pragma once
// TSvrHttpThread: serves one accepted connection in a thread of its own,
// which owns and frees its state when the connection ends.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"

class THTTPReply;

class TSvrHttpThread {
 public:
  // Raises ActiveConnections; runs in the listener's thread.
  TSvrHttpThread(int handle, bool isTLS, uint32_t connectionNumber);
  ~TSvrHttpThread();
  // Starts the detached thread that owns this object; on failure closes the
  // handle and lowers the count. Returns false when no thread could start.
  static bool Spawn(int handle, bool isTLS, uint32_t connectionNumber);

  bool Terminated() const { return TerminateRequested.load(); }
  void Terminate() { TerminateRequested = true; }

  void Execute();

  std::unique_ptr<TSvrSocket> Socket;
  int SocketHandle;
  uint32_t ConnectionNumber;
  bool IsTLS;
  std::string PeerAddr;
  std::vector<std::string> Lines;
  uint8_t Method = 0;
  std::string Url;
  TRequestHeader Header;
  TMemoryStream Body;

 private:
  std::atomic<bool> TerminateRequested{false};
};
