#pragma once
// TRequestReader: reads the requests of one connection, head lines and
// body, from a byte source (the plain or the TLS socket) through a buffer
// of its own, and says what the connection is to do with each.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/MemoryStream.h"
#include "server/net/ByteSource.h"

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

// A head line of up to this many characters (its CR LF not counted) is
// read; a longer one ends the connection without a reply. Clients of this
// server have always had to keep to it, and it is far above any real
// request or header line; it also bounds what a line can make us hold.
constexpr std::size_t kMaxHeadLineChars = 397;
// The most one read asks of the source: a whole request head usually, and
// large enough that a body of megabytes takes few reads.
constexpr int kReaderBlockBytes = 16 * 1024;
// The buffer: a read, and the part of a line still waiting for its end.
constexpr std::size_t kReaderBufferBytes = kReaderBlockBytes + kMaxHeadLineChars + 2;

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

// The time bounds of a request being read.
struct TReaderLimits {
  int LineSeconds;         // each head line, from the end of the one before
  int HeadSeconds;         // the whole head, the wait for its first line included
  int BodyIdleSeconds;     // silence within a body
  int BodyGraceSeconds;    // a body's time before its pace applies
  long long BodyMinBytesPerSecond;  // the pace
};

// Where the reader puts what it makes of a request: the connection's own
// fields, which the reply side reads.
struct TReaderOutput {
  std::vector<std::string>& Lines;  // request line and header lines, no empty ones
  TMemoryStream& Body;
  uint16_t& Status;                 // a refusal (400, 413, 501, 503), else 0
  bool& CloseAfterReply;            // the connection ends after the reply
};

class TRequestReader {
 public:
  TRequestReader(TByteSource& source, TReaderOutput output, const TReaderLimits& limits,
                 const std::atomic<bool>& terminated);
  TRequestReader(const TRequestReader&) = delete;
  TRequestReader& operator=(const TRequestReader&) = delete;

  // Reads the next request. True when there is one to handle (possibly
  // refused, or none at all when an empty line came first); false when the
  // connection ends without a reply (silence, the peer's close, a line too
  // long, a body cut short).
  bool Read();
  // True when the client sent, or announced, more than was read as
  // requests: closing then must drain it, or the reset could destroy the
  // reply.
  bool InputLeftUnread() const { return LeftUnread || Start < End; }
  // Gives the body's share of the budget back (the connection is over).
  void ReleaseBody() { BodyShare.Release(); }

 private:
  using TClock = std::chrono::steady_clock;
  struct TBodyAnnouncement {
    bool LengthSeen = false;
    long long Length = 0;
  };
  enum class TLine { Complete, TooLong, Ended };

  void StartRequest();
  // The next head line from the buffer, reading more until the deadline.
  TLine NextLine(std::string& line, TClock::time_point deadline);
  // Reads more from the source into the buffer; false when nothing came.
  bool Fill(TClock::time_point deadline);
  bool TakeHeadLine(const std::string& line, bool& getMark, TBodyAnnouncement& body);
  void NoteHeaderLine(const std::string& line, TBodyAnnouncement& body);
  long long BodyToRead(bool getMark, const TBodyAnnouncement& body);
  // Reads the announced body; false when it did not come whole.
  bool ReadBody(long long remaining);
  // Takes received body bytes into Body and the budget; false, refusing the
  // request with 503 and dropping what it held, when the budget is spent.
  bool KeepBodyBytes(const char* bytes, std::size_t count);
  void Refuse(uint16_t code);

  TByteSource& Source;
  TReaderOutput Out;
  TReaderLimits Limits;
  const std::atomic<bool>& Terminated;
  TBodyReservation BodyShare;
  // Bytes received and not yet taken are Storage[Start, End); what a
  // request leaves is the beginning of the next one on a kept-alive
  // connection. Allocated at the first read.
  std::unique_ptr<char[]> Storage;
  std::size_t Start = 0;
  std::size_t End = 0;
  bool LeftUnread = false;
};
