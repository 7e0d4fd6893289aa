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
struct TReplyContext;

// Each header line must arrive within this time; it is also the idle time
// allowed between two requests of a kept-alive connection.
constexpr int kHeaderLineTimeoutSeconds = 15;
// The whole head of a request (its request line and every header line) must
// arrive within this time, the wait for its first line included. The line
// wait alone would let a client that sends a line every 14 s hold the
// connection for an hour over the 255 lines allowed; twice the line wait
// still leaves a request line that takes its full time as long again for
// the rest.
constexpr int kRequestHeadTimeoutSeconds = 2 * kHeaderLineTimeoutSeconds;
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
// All request bodies held in memory at once, by every connection together.
// Connections are not limited in number, so without a budget a few dozen
// clients sending the largest body each could exhaust the memory of the
// machine. 256 MiB lets four bodies of the largest size, or thousands of
// form posts, be held at once, and keeps the total a small server can be
// made to hold well below its memory. Only bytes received count: a length
// announced and never sent holds nothing.
constexpr long long kRequestBodyBudgetBytes = 256LL * 1024 * 1024;
// A body has this long from the end of its head before the rate below
// applies; the idle wait alone would let a body trickled a byte every 14 s
// hold its connection for ever.
constexpr int kBodyRateGraceSeconds = 15;
// Every byte received gives a body this much more time: it must arrive at
// this average rate or better after the grace. A slow but real uplink
// still gets a 64 MiB upload through, while a trickle that would hold a
// connection slot for hours is cut within seconds of its grace.
constexpr long long kMinBodyBytesPerSecond = 512;

// The budget in force (tests make it small) and the part of it held now.
extern std::atomic<long long> RequestBodyBudgetBytes;  // kRequestBodyBudgetBytes
extern std::atomic<long long> RequestBodyBytesHeld;

// A connection's share of the body budget: the bytes of its request's
// body received so far, held while the body is in memory and given back
// when the next request starts or the connection ends.
class TBodyReservation {
 public:
  TBodyReservation() = default;
  ~TBodyReservation() { Release(); }
  TBodyReservation(const TBodyReservation&) = delete;
  TBodyReservation& operator=(const TBodyReservation&) = delete;
  // True when that many bytes would fit beside what all connections hold
  // now; nothing is taken.
  static bool Fits(long long bytes);
  // Adds the bytes to this share; false, taking nothing, when they do not
  // fit beside what all connections hold.
  bool Take(long long bytes);
  void Release();

 private:
  long long Bytes = 0;
};
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

  // The time-outs of the readers (tests shorten them); the head bound is
  // kept by both, the line and idle waits by the plain reader.
  int LineTimeoutSeconds = kHeaderLineTimeoutSeconds;
  int BodyIdleSeconds = kBodyIdleTimeoutSeconds;
  int HeadTimeoutSeconds = kRequestHeadTimeoutSeconds;
  // The pace a body must keep (both readers) and the drain of a connection
  // closed with input unread; tests shorten them too.
  int BodyGraceSeconds = kBodyRateGraceSeconds;
  long long BodyMinBytesPerSecond = kMinBodyBytesPerSecond;
  int LingerSeconds = kLingerSeconds;
  // The settings current when the listener took the connection. A restart
  // frees them only after the listener has stopped, so a connection it took
  // is served with them even when its thread starts after the free.
  std::shared_ptr<TSvrSetupHolder> StartSettings;
  // Set by a reader that refuses the request (400, 413, 501, 503); 0
  // otherwise. A refused request's body is never read.
  uint16_t ReaderStatus = 0;
  // The connection ends after the current reply.
  bool CloseAfterReply = false;
  // Counts this connection against the listeners' bound while it lives.
  TLiveConnection Live;

 private:
  // What the header lines of the request being read say about its body.
  struct TBodyAnnouncement {
    bool LengthSeen = false;
    long long Length = 0;
  };

  void Serve();
  // Both readers: a new request, a received head line, and the end of the
  // head, which tells how many body bytes are to be read (0 for none).
  void StartRequest();
  bool TakeHeadLine(const std::string& line, bool& getMark, TBodyAnnouncement& body);
  void NoteHeaderLine(const std::string& line, TBodyAnnouncement& body);
  long long BodyToRead(bool getMark, const TBodyAnnouncement& body);
  // Takes received body bytes into Body and the budget; false, refusing the
  // request with 503 and dropping what it held, when the budget is spent.
  bool KeepBodyBytes(const std::string& bytes);
  // Ends a connection after a reply, draining input the reader left.
  void CloseAfterAnswer();
  // Refuses the request with the code (the first refusal stands) and ends
  // the connection after the reply.
  void Refuse(uint16_t code);
  // The reply for the request: the reader's refusal, or the route's.
  std::unique_ptr<THTTPReply> ChooseReply(const TReplyContext& context);
  std::unique_ptr<THTTPReply> ErrorReply(const TReplyContext& context, uint16_t code,
                                         const std::string& text);

  std::atomic<bool> TerminateRequested{false};
  TBodyReservation BodyShare;
  // The reader stopped before the end of what the client sent or
  // announced (a refusal, a body left unread).
  bool InputLeftUnread = false;
};
