#pragma once
// TSvrSocket: one TCP socket (listening or accepted) with the server's whole
// vocabulary for the wire. Never throws: failures are in LastError (WinSock
// codes) and show as a closed socket, an empty text or a false result.

#include <cstdint>
#include <string>

#include "common/MemoryStream.h"
#include "server/net/ByteSource.h"

class TReadOnlyFile;

// WinSock error codes that the socket layer records.
constexpr int32_t WSAEINTR = 10004;
constexpr int32_t WSAEBADF = 10009;
constexpr int32_t WSAEACCES = 10013;
constexpr int32_t WSAEFAULT = 10014;
constexpr int32_t WSAEINVAL = 10022;
constexpr int32_t WSAEMFILE = 10024;
constexpr int32_t WSAEWOULDBLOCK = 10035;
constexpr int32_t WSAENOTSOCK = 10038;
constexpr int32_t WSAEADDRINUSE = 10048;
constexpr int32_t WSAECONNABORTED = 10053;
constexpr int32_t WSAECONNRESET = 10054;
constexpr int32_t WSAENOTCONN = 10057;
constexpr int32_t WSAETIMEDOUT = 10060;
constexpr int32_t WSAECONNREFUSED = 10061;

// The WinSock code for a Linux errno value.
int32_t WinSockErrorFromErrno(int error);

// A client that stops reading a reply for this long loses the connection,
// rather than holding its thread and socket for ever; slow links still get
// a generous margin. Accepted connections take it from their listener.
constexpr int kSendStallTimeoutSeconds = 60;
// The receive time-out of listening sockets, which the connections they
// accept inherit. A read whose deadline is at least this far blocks in recv
// itself, one system call, rather than trying, polling and reading again;
// the kernel gives it back by this time at the latest, so no deadline is
// overrun. A third of the line wait: the wait for a request or a line
// takes that path, while an idle connection wakes only twice before its
// wait ends (a shorter slice made hundreds of idle connections wake the
// machine hundreds of times a second).
constexpr int kListenerReadSliceMs = 5000;

// A connection closed with unread input is reset by the kernel, and the
// reset can destroy a reply the client has not read yet. After such a
// reply what still comes is read and dropped for at most this long...
constexpr int kLingerSeconds = 2;
// ...and up to this much, so a client cannot keep a closing connection busy.
constexpr std::size_t kLingerMaxBytes = 64 * 1024;

constexpr int kSocketBufferSize = 259;  // the receive buffer
constexpr int kSocketReadSize = 250;    // no read asks for more
// While a reply is held (HoldWrites), its pieces are gathered up to this
// much and leave together: a header and a small body in one segment, a
// large body in a few large writes instead of one per 1024-byte block.
constexpr std::size_t kWriteHoldBytes = 16 * 1024;

struct THostEntry {
  std::string OfficialName;
};

class TSvrSocket : public TByteSource {
 public:
  TSvrSocket();
  virtual ~TSvrSocket();  // does not close: owners call Close first
  TSvrSocket(const TSvrSocket&) = delete;
  TSvrSocket& operator=(const TSvrSocket&) = delete;

  // The four override points of the TLS socket, in slot order.
  virtual bool Handshake();
  virtual bool Prepare();
  virtual int WriteBuf(const void* bytes, int length);
  virtual int ReadBuf(void* buffer, int size, int flags);

  // The request reader's source: takes what is waiting without waiting
  // (no switch of the blocking mode), and waits with poll only when
  // nothing is. A read error or the peer's close closes the socket.
  int ReadSome(char* buffer, int size, TClock::time_point deadline) override;
  bool IsTLS() const override { return false; }

  // From HoldWrites to Flush the send operations gather what they write;
  // it leaves when kWriteHoldBytes are gathered, at Flush, and before the
  // socket is closed. The zero-length write that ends a stream of whole
  // blocks still closes the connection, after what was gathered.
  void HoldWrites() { Holding = true; }
  void Flush();

  void SetBlocking(bool wanted);
  void Close();
  void Attach(int handle, bool blocking);
  void SendString(const std::string& text);
  void SendLine(const std::string& text);
  // Sends the file as long as it is when opened (see the overload).
  void SendFile(const std::string& fileName);
  // Sends exactly `length` bytes of the open file, in blocks of up to 64 KiB,
  // and not one more however the file has grown. A file that ends sooner
  // (or cannot be read) closes the socket: the client was told the length,
  // and padding or a short body on a kept-alive connection would make the
  // next reply be read as part of this one. A negative length sends the
  // file to its end.
  void SendFile(TReadOnlyFile& file, int64_t length);
  void SendStream(TMemoryStream& stream);
  // Reads at most `most` bytes (never more than kSocketReadSize), so that a
  // body is taken to its announced end and not a byte beyond it.
  std::string ReceiveChunk(int most = kSocketReadSize);
  bool ReadLinePart(std::string& text);
  bool ReadLine(std::string& text, int timeoutSeconds);
  // Waits up to timeoutMs for data (or the peer's close) to be readable;
  // false when none came or the socket is not connected.
  bool WaitReadable(int timeoutMs);
  // True when bytes the peer sent are waiting unread on the connection
  // (below any TLS layer); false when none are, or the peer has closed.
  bool HasUnreadInput();
  // A blocking send that cannot go on for this long fails; the write then
  // closes the socket instead of waiting for a peer that never reads.
  void SetSendTimeout(int seconds);
  // Ends a connection whose peer may still be sending: our side is shut
  // for writing, and what arrives is read and dropped until the peer
  // closes, `seconds` have passed or `maxBytes` came; then the socket is
  // closed. Closing with unread input makes the kernel reset the
  // connection, and a reset can destroy a reply the client has not yet
  // read. The bytes are dropped below any TLS layer.
  void LingeringClose(int seconds, std::size_t maxBytes);
  bool GetHostEntry(THostEntry& entry);
  bool Bind(int port);
  void Listen(int port);
  // Accepts a connection; its peer's address is then in AcceptedPeer.
  int Accept();
  std::string PeerAddress();
  std::string ErrorText() const;

  int32_t Handle = -1;
  bool Connected = false;
  int32_t LastError = 0;
  bool Blocking = true;
  unsigned char Buffer[kSocketBufferSize] = {};
  int32_t LastResult = 0;
  // The peer of the connection Accept returned last, as PeerAddress names
  // it; empty after a failed accept.
  std::string AcceptedPeer;
  // The kernel's receive time-out on this socket when it is known (one
  // accepted from a listener of ours has kListenerReadSliceMs); 0 when it
  // is not, and a read must never block without a poll.
  int ReadSliceMs = 0;
  // Set by the connection while its reader holds bytes the client sent
  // beyond the request being answered: a close then drains as it does for
  // unread input still in the kernel.
  bool InputHeldAbove = false;

 protected:
  // Sends all the bytes, with the would-block retry; closes on a zero
  // result and on any failure, so that nothing is written after a part that
  // did not go. Returns the count sent, 0 or -1.
  int WriteAll(const void* bytes, int length);
  // After a send that failed with LastError: true when the same bytes are
  // to go again (a signal came, or a non-blocking socket has no room yet,
  // which it waits for); otherwise the socket is closed, the failure kept
  // in LastError and LastResult -1.
  bool RetryAfterSendFailure();
  // WriteAll without the gathering.
  int WriteNow(const void* bytes, int length);
  // Sends what was gathered; false when the socket failed (and is closed).
  bool SendHeld();
  // SendFile of a plain socket, from the file to the socket in the kernel.
  void SendFileDirect(TReadOnlyFile& file, int64_t length);
  // Takes one LF if it is the next byte waiting: the end of a line whose CR
  // came in an earlier segment.
  bool TakeLeadingLF();

 private:
  bool Holding = false;
  std::string Held;
  // The plain send tells the kernel that more follows at once (the file
  // after a reply's header), so both may share a segment.
  bool MoreFollows = false;
};

std::string WinSockErrorText(int32_t code);
