#pragma once
// A connected loopback pair for the socket and connection tests: the
// client end is a plain descriptor, the server end the accepted handle.

#include <string>

namespace nettest {

struct TLoopbackPair {
  TLoopbackPair();
  ~TLoopbackPair();
  TLoopbackPair(const TLoopbackPair&) = delete;
  TLoopbackPair& operator=(const TLoopbackPair&) = delete;

  int Client = -1;
  int Server = -1;  // handed over to the code under test, which closes it
  void CloseClient();
  // Reads what is waiting within the time, up to `most` bytes or the peer's close.
  std::string ReadSome(int waitMs, std::size_t most = 1 << 20);
  // True when the server end has been closed (the client reads end of file).
  bool ServerClosed(int waitMs);
};

}  // namespace nettest
