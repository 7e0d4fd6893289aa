#pragma once
// TSvrHttpThread: serves one accepted connection in a thread of its own,
// which owns and frees its state when the connection ends.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/MemoryStream.h"
#include "server/net/RequestReader.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrMain.h"
#include "server/net/SvrSock.h"

class THTTPReply;
class TSvrSetupHolder;
struct TReplyContext;

class TSvrHttpThread {
 public:
  // Raises ActiveConnections; runs in the listener's thread.
  TSvrHttpThread(int handle, bool isTLS, uint32_t connectionNumber, std::string peer = {},
                 int readSliceMs = 0);
  ~TSvrHttpThread();
  // Hands the connection to a thread of its own (one left waiting by an
  // ended connection, or a new one), which then owns this object; on
  // failure closes the handle and lowers the count. Returns false when no
  // thread could start.
  // `peer` is the address accept gave, or empty to ask the socket;
  // `readSliceMs` the receive time-out the socket inherited (0: none).
  static bool Spawn(int handle, bool isTLS, uint32_t connectionNumber, std::string peer = {},
                    int readSliceMs = 0);

  bool Terminated() const { return TerminateRequested.load(); }
  void Terminate() { TerminateRequested = true; }

  void Execute();

  // Reads the next request through the connection's reader: true when a
  // request is ready to be handled, false when the connection ends without
  // a reply. TLS connections are read by the same reader; the second name
  // is kept for callers that read a TLS connection's one request.
  bool ReadRequest();
  bool ReadRequestTLS() { return ReadRequest(); }
  // Parses Lines, chooses the reply, sends it and logs the request.
  void HandleRequest();

  std::unique_ptr<TSvrSocket> Socket;
  int SocketHandle;
  uint32_t ConnectionNumber;
  bool IsTLS;
  std::string PeerAddr;
  int ReadSliceMs;
  std::vector<std::string> Lines;
  uint8_t Method = 0;
  std::string Url;
  TRequestHeader Header;
  TMemoryStream Body;

  // The time-outs of the reader (tests shorten them; they are taken when
  // the first request is read).
  int LineTimeoutSeconds = kHeaderLineTimeoutSeconds;
  int BodyIdleSeconds = kBodyIdleTimeoutSeconds;
  int HeadTimeoutSeconds = kRequestHeadTimeoutSeconds;
  // The pace a body must keep and the drain of a connection closed with
  // input unread; tests shorten them too.
  int BodyGraceSeconds = kBodyRateGraceSeconds;
  long long BodyMinBytesPerSecond = kMinBodyBytesPerSecond;
  int LingerSeconds = kLingerSeconds;
  // The settings current when the listener took the connection. A restart
  // frees them only after the listener has stopped, so a connection it took
  // is served with them even when its thread starts after the free.
  std::shared_ptr<TSvrSetupHolder> StartSettings;
  // Set by the reader when it refuses the request (400, 413, 501, 503); 0
  // otherwise. A refused request's body is never read.
  uint16_t ReaderStatus = 0;
  // The connection ends after the current reply.
  bool CloseAfterReply = false;
  // Counts this connection against the listeners' bound while it lives.
  TLiveConnection Live;

 private:
  void Serve();
  // Ends a connection after a reply, draining input the reader left.
  void CloseAfterAnswer();
  // The reply for the request: the reader's refusal, or the route's.
  std::unique_ptr<THTTPReply> ChooseReply(const TReplyContext& context);
  std::unique_ptr<THTTPReply> ErrorReply(const TReplyContext& context, uint16_t code,
                                         const std::string& text);

  std::atomic<bool> TerminateRequested{false};
  // Created over Socket when the first request is read; keeps what a
  // request leaves for the next one.
  std::unique_ptr<TRequestReader> Reader;
};
