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
#include "server/net/SvrMain.h"
#include "server/net/SvrSock.h"

class THTTPReply;
class TSvrSetupHolder;

// Each header line must arrive within this time; it is also the idle time
// allowed between two requests of a kept-alive connection.
constexpr int kHeaderLineTimeoutSeconds = 15;
// A request body that sends nothing for this long ends the connection, so a
// stalled upload cannot hold a thread and a socket for ever.
constexpr int kBodyIdleTimeoutSeconds = 15;
// A client that stops reading a reply for this long loses the connection,
// rather than holding its thread and socket for ever; slow links still get
// a generous margin.
constexpr int kSendStallTimeoutSeconds = 60;
// The header parser counts lines with an 8-bit index; a request with more
// lines is refused rather than parsed in part.
constexpr std::size_t kMaxRequestLines = 255;
// Bodies are buffered whole in memory before a reply runs. 64 MiB is far
// above any form post and leaves room for real file uploads, while one
// request still cannot make the server hold an unbounded amount.
constexpr long long kMaxRequestBodyBytes = 64LL * 1024 * 1024;

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

  // The request readers: true when a request is ready to be handled, false
  // when the connection ends without a reply. TLS cannot peek, so its
  // reader takes chunks and splits the lines itself.
  bool ReadRequest();
  bool ReadRequestTLS();
  // Parses Lines, chooses the reply, sends it and logs the request.
  void HandleRequest();

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

  // The time-outs of the plain reader (tests shorten them).
  int LineTimeoutSeconds = kHeaderLineTimeoutSeconds;
  int BodyIdleSeconds = kBodyIdleTimeoutSeconds;
  // The settings current when the listener took the connection. A restart
  // frees them only after the listener has stopped, so a connection it took
  // is served with them even when its thread starts after the free.
  std::shared_ptr<TSvrSetupHolder> StartSettings;
  // Set by a reader that refuses the request (400, 413); 0 otherwise.
  uint16_t ReaderStatus = 0;
  // The connection ends after the current reply.
  bool CloseAfterReply = false;
  // Counts this connection against the listeners' bound while it lives.
  TLiveConnection Live;

 private:
  void Serve();
  void NoteContentLength(const std::string& line, bool getMark, long long& remaining);
  std::unique_ptr<THTTPReply> ChooseReply();
  std::unique_ptr<THTTPReply> ErrorReply(uint16_t code, const std::string& text);
  std::unique_ptr<THTTPReply> GatewayReply(const std::string& application,
                                           const std::string& file,
                                           const std::string& extraPath,
                                           const std::string& requested);

  std::atomic<bool> TerminateRequested{false};
};
