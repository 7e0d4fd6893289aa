#include "server/net/SvrSock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <typeinfo>

#include "platform/FileRead.h"
#include "platform/FileSend.h"

namespace {

constexpr int kSendBlockSize = 1024;    // SendStream writes in blocks of this size
// A file is read and written in blocks of up to this size: a large file
// then takes few calls, and how it is cut is not seen on the wire.
constexpr int64_t kFileBlockBytes = 64 * 1024;
constexpr int kHostNameBufferSize = 100;
constexpr int kPollPauseMs = 100;       // one ReadLine attempt waits at most this long
constexpr int kAttemptsPerSecond = 1000 / kPollPauseMs;
// Connections the kernel completes and holds until the listener takes them.
// Five was all the sockets library of the original platform allowed; on
// Linux a queue that short overflows whenever a few clients connect while
// the listener is creating a thread, and each dropped connection attempt is
// retried by its client only after 1 s, then 3 s. The system's own limit
// keeps bursts of new connections from costing seconds.
constexpr int kListenBacklogSize = SOMAXCONN;

int32_t LastSocketError() { return WinSockErrorFromErrno(errno); }

}  // namespace

int32_t WinSockErrorFromErrno(int error) {
  switch (error) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case ENFILE: return 10024;
    case EAGAIN: return 10035;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return 10035;
#endif
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case EPIPE: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    case EUSERS: return 10068;
    case EDQUOT: return 10069;
    case ESTALE: return 10070;
    case EREMOTE: return 10071;
    default: return error;
  }
}

TSvrSocket::TSvrSocket() = default;

TSvrSocket::~TSvrSocket() = default;

bool TSvrSocket::Handshake() { return true; }

bool TSvrSocket::Prepare() { return true; }

int TSvrSocket::WriteBuf(const void* bytes, int length) {
  // MSG_NOSIGNAL: a peer that has gone must show as an error, not end the
  // process with SIGPIPE.
  const int flags = MSG_NOSIGNAL | (MoreFollows ? MSG_MORE : 0);
  return static_cast<int>(::send(Handle, bytes, static_cast<std::size_t>(length), flags));
}

int TSvrSocket::ReadBuf(void* buffer, int size, int flags) {
  return static_cast<int>(::recv(Handle, buffer, static_cast<std::size_t>(size), flags));
}

void TSvrSocket::SetBlocking(bool wanted) {
  if (wanted == Blocking || !Connected) return;
  int argument = wanted ? 0 : 1;
  LastResult = ::ioctl(Handle, FIONBIO, &argument);
  LastError = LastResult == -1 ? LastSocketError() : 0;
  Blocking = wanted;
}

void TSvrSocket::Close() {
  // What a reply gathered goes before the end it is closed with.
  if (Connected && !Held.empty()) SendHeld();
  if (Connected) {
    LastResult = ::close(Handle);
    if (LastResult == -1) LastError = LastSocketError();
  }
  Connected = false;
  Handle = -1;
}

void TSvrSocket::Attach(int handle, bool blocking) {
  Connected = true;
  Blocking = blocking;
  Handle = handle;
}

int TSvrSocket::WriteAll(const void* bytes, int length) {
  if (Holding && length > 0) {
    const std::size_t count = static_cast<std::size_t>(length);
    if (Held.size() + count > kWriteHoldBytes && !SendHeld()) return -1;
    if (count <= kWriteHoldBytes) {
      Held.append(static_cast<const char*>(bytes), count);
      return length;
    }
  }
  if (!SendHeld()) return -1;
  return WriteNow(bytes, length);
}

bool TSvrSocket::SendHeld() {
  if (Held.empty()) return true;
  if (!Connected) {
    Held.clear();
    return false;
  }
  std::string out;
  out.swap(Held);
  return WriteNow(out.data(), static_cast<int>(out.size())) == static_cast<int>(out.size());
}

void TSvrSocket::Flush() {
  Holding = false;
  SendHeld();
}

int TSvrSocket::WriteNow(const void* bytes, int length) {
  const char* next = static_cast<const char*>(bytes);
  int sent = 0;
  for (;;) {
    const int result = WriteBuf(next + sent, length - sent);
    LastError = result == -1 ? LastSocketError() : 0;
    if (result > 0) {
      // A send may take fewer bytes than asked (its time-out ran out part of
      // the way, or a signal came): the rest goes before anything else does.
      sent += result;
      if (sent < length) continue;
      LastResult = sent;
      return sent;
    }
    if (result == 0) {
      // The zero-length write that ends a body of whole blocks closes the
      // connection; bytes the client sent after its request (a trailing
      // line end, a second request) would turn that close into a reset
      // that can destroy the reply, so they are drained first.
      LastResult = 0;
      if (InputHeldAbove || HasUnreadInput())
        LingeringClose(kLingerSeconds, kLingerMaxBytes);
      else
        Close();
      return sent;
    }
    if (RetryAfterSendFailure()) continue;
    return -1;
  }
}

bool TSvrSocket::RetryAfterSendFailure() {
  if (LastError == WSAEINTR) return true;
  if (LastError == WSAEWOULDBLOCK && !Blocking) {
    // The same bytes go again once there is room; waiting for it instead
    // of spinning keeps a slow reader from costing a whole core.
    pollfd waiting{Handle, POLLOUT, 0};
    ::poll(&waiting, 1, kPollPauseMs);
    return true;
  }
  // A blocking socket only reports would-block when its send time-out ran
  // out: the peer has stopped reading. That, or a broken connection or
  // file, ends it here: a later block written after this one would leave a
  // hole in what the client receives.
  if (LastError == WSAEWOULDBLOCK) LastError = WSAETIMEDOUT;
  const int32_t error = LastError;
  Close();
  LastError = error;
  LastResult = -1;
  return false;
}

void TSvrSocket::SendString(const std::string& text) {
  if (!Connected) return;
  WriteAll(text.data(), static_cast<int>(text.size()));
}

void TSvrSocket::SendLine(const std::string& text) { SendString(text + "\r\n"); }

void TSvrSocket::SendFile(const std::string& fileName) {
  TReadOnlyFile file;
  if (!file.Open(fileName)) return;
  SendFile(file, file.SizeWhenOpened());
}

void TSvrSocket::SendFile(TReadOnlyFile& file, int64_t length) {
  // A file larger than what a reply gathers goes from the file to a plain
  // socket in the kernel. Any other socket (TLS, or one that collects what
  // it is given) gets the bytes through WriteBuf.
  if (typeid(*this) == typeid(TSvrSocket) && file.Descriptor() >= 0 &&
      (length < 0 || static_cast<int64_t>(Held.size()) + length >
                         static_cast<int64_t>(kWriteHoldBytes))) {
    SendFileDirect(file, length);
    return;
  }
  const int blockSize =
      static_cast<int>(length < 0 ? kFileBlockBytes : std::clamp<int64_t>(length, 1, kFileBlockBytes));
  const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(blockSize);
  char* const block = buffer.get();
  int64_t left = length;
  // Unlike a stream, a file ends without a write of nothing: a length that
  // is a multiple of the block size leaves the connection open.
  while (Connected && (length < 0 || left > 0)) {
    const int wanted =
        length < 0 ? blockSize : static_cast<int>(std::min<int64_t>(left, blockSize));
    // A block is filled whole even where a read returns less.
    int count = 0;
    int64_t got = 1;
    while (count < wanted && (got = file.Read(block + count, wanted - count)) > 0)
      count += static_cast<int>(got);
    if (count > 0 && WriteAll(block, count) <= 0) return;
    left -= count;
    if (count < wanted) {
      // The end of the file, or a read failure; to its end is all that was
      // asked when no length was announced.
      if (length >= 0 || got < 0) Close();
      return;
    }
  }
}

void TSvrSocket::SendFileDirect(TReadOnlyFile& file, int64_t length) {
  // What was gathered (the header) leaves first, marked as more to come, so
  // that it shares a segment with the first bytes of the file.
  MoreFollows = true;
  const bool sent = SendHeld();
  MoreFollows = false;
  if (!sent) return;
  int64_t left = length;
  while (Connected && (length < 0 || left > 0)) {
    const int64_t wanted = length < 0 ? std::numeric_limits<int64_t>::max() : left;
    const int64_t got = SendFileBytes(Handle, file.Descriptor(), wanted);
    if (got > 0) {
      left -= got;
      continue;
    }
    if (got == 0) {
      // The end of the file: sooner than announced closes, as in SendFile.
      if (length >= 0) Close();
      return;
    }
    LastError = LastSocketError();
    if (RetryAfterSendFailure()) continue;
    return;
  }
}

void TSvrSocket::SendStream(TMemoryStream& stream) {
  stream.Seek(0);
  char block[kSendBlockSize];
  std::size_t count;
  // A stream whose length is a multiple of the block size ends with a write
  // of zero bytes, and that write closes the socket: the replies rely on the
  // socket being closed after such a body.
  do {
    count = stream.Read(block, kSendBlockSize);
    if (WriteAll(block, static_cast<int>(count)) == 0 || !Connected) break;
  } while (count == static_cast<std::size_t>(kSendBlockSize));
}

std::string TSvrSocket::ReceiveChunk(int most) {
  if (most < 1 || most > kSocketReadSize) most = kSocketReadSize;
  LastResult = ReadBuf(Buffer, most, 0);
  if (LastResult > 0) return std::string(reinterpret_cast<char*>(Buffer), LastResult);
  LastError = LastResult == -1 ? LastSocketError() : 0;
  bool wouldBlock = LastResult == -1 && LastError == WSAEWOULDBLOCK && !Blocking;
  if (!wouldBlock) {
    if (Connected) ::close(Handle);
    Connected = false;
    Handle = -1;
  }
  return std::string();
}

bool TSvrSocket::ReadLinePart(std::string& text) {
  text.clear();
  int peeked = ReadBuf(Buffer, kSocketReadSize, MSG_PEEK);
  LastResult = peeked;
  if (peeked <= 0) {
    LastError = peeked == -1 ? LastSocketError() : 0;
    if (!(peeked == -1 && LastError == WSAEWOULDBLOCK && !Blocking)) Close();
    return false;
  }
  const char* bytes = reinterpret_cast<const char*>(Buffer);
  int crlf = -1;  // 0-based index of the CR of the first CR LF
  for (int i = 0; i + 1 < peeked; ++i) {
    if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
      crlf = i;
      break;
    }
  }
  int take;
  if (crlf >= 0)
    take = crlf + 2;
  else if (peeked < kSocketReadSize)
    take = peeked;
  else
    take = 1;  // a line longer than the window moves in by one byte per attempt

  int got = ReadBuf(Buffer, take, 0);
  LastResult = got;
  if (got <= 0) {
    LastError = got == -1 ? LastSocketError() : 0;
    Close();
    return false;
  }
  std::string read(bytes, got);
  std::size_t end = read.find("\r\n");
  if (end == std::string::npos) {
    text = read;
    return false;
  }
  text = read.substr(0, end);
  return true;
}

int TSvrSocket::ReadSome(char* buffer, int size, TClock::time_point deadline) {
  for (;;) {
    if (!Connected) return 0;
    const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                               deadline - TClock::now())
                               .count();
    // Far enough from its deadline, the read waits in recv, which the
    // kernel ends after ReadSliceMs at the latest; nearer, it only takes
    // what is there and polls for the rest of the time.
    const bool waitInRecv = ReadSliceMs > 0 && left >= ReadSliceMs;
    const ssize_t got =
        ::recv(Handle, buffer, static_cast<std::size_t>(size), waitInRecv ? 0 : MSG_DONTWAIT);
    LastResult = static_cast<int32_t>(got);
    if (got > 0) return static_cast<int>(got);
    LastError = got == -1 ? LastSocketError() : 0;
    if (got == -1 && LastError == WSAEINTR) continue;
    if (got == 0 || LastError != WSAEWOULDBLOCK) {
      Close();
      return 0;
    }
    if (waitInRecv) continue;  // the slice ran out: the deadline decides again
    if (left <= 0) return 0;
    pollfd waiting{Handle, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (ready == 0 || (ready == -1 && errno != EINTR)) return 0;
  }
}

bool TSvrSocket::WaitReadable(int timeoutMs) {
  if (!Connected) return false;
  pollfd waiting{Handle, POLLIN, 0};
  int result = ::poll(&waiting, 1, timeoutMs);
  return result > 0;
}

bool TSvrSocket::HasUnreadInput() {
  if (!Connected) return false;
  // A peek, not a poll: a peer that has only closed its side is readable to
  // poll but has nothing left to be reset by, and needs no lingering.
  char next;
  return ::recv(Handle, &next, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void TSvrSocket::SetSendTimeout(int seconds) {
  if (!Connected) return;
  timeval limit{seconds, 0};
  LastResult = ::setsockopt(Handle, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (LastResult == -1) LastError = LastSocketError();
}

void TSvrSocket::LingeringClose(int seconds, std::size_t maxBytes) {
  if (!Connected) return;
  if (!SendHeld()) return;  // failed, and closed
  if (::shutdown(Handle, SHUT_WR) == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char dropped[kSocketBufferSize];
    std::size_t taken = 0;
    while (taken < maxBytes) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd waiting{Handle, POLLIN, 0};
      const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
      if (ready == -1 && errno == EINTR) continue;
      if (ready <= 0) break;
      const ssize_t got = ::recv(Handle, dropped, sizeof dropped, MSG_DONTWAIT);
      if (got == -1 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (got <= 0) break;  // the peer's close, or a reset
      taken += static_cast<std::size_t>(got);
    }
  }
  Close();
}

bool TSvrSocket::ReadLine(std::string& text, int timeoutSeconds) {
  bool wasBlocking = Blocking;
  if (wasBlocking) SetBlocking(false);
  text.clear();
  const int attempts = timeoutSeconds * kAttemptsPerSecond;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    std::string part;
    bool complete = ReadLinePart(part);
    if (complete) {
      text += part;
      if (wasBlocking) SetBlocking(true);
      return true;
    }
    if (!Connected) return false;
    text += part;
    // A CR that came at the end of one segment and its LF at the start of
    // the next would otherwise never be seen as a line end, and the two
    // header lines would run together.
    if (!text.empty() && text.back() == '\r' && TakeLeadingLF()) {
      text.pop_back();
      if (wasBlocking) SetBlocking(true);
      return true;
    }
    if (!Connected) return false;
    // Waits for data rather than sleeping blindly: a line that is already
    // there or arrives meanwhile is taken at once; each attempt still costs
    // at most 100 ms, so the time-out keeps its length.
    WaitReadable(kPollPauseMs);
  }
  if (wasBlocking) SetBlocking(true);
  return false;
}

bool TSvrSocket::TakeLeadingLF() {
  int peeked = ReadBuf(Buffer, 1, MSG_PEEK);
  if (peeked <= 0) {
    LastError = peeked == -1 ? LastSocketError() : 0;
    if (!(peeked == -1 && LastError == WSAEWOULDBLOCK && !Blocking)) Close();
    return false;
  }
  if (Buffer[0] != '\n') return false;
  int got = ReadBuf(Buffer, 1, 0);
  if (got <= 0) {
    LastError = got == -1 ? LastSocketError() : 0;
    Close();
    return false;
  }
  return true;
}

bool TSvrSocket::GetHostEntry(THostEntry& entry) {
  char name[kHostNameBufferSize] = {};
  LastResult = ::gethostname(name, sizeof name - 1);
  if (LastResult == -1) {
    LastError = LastSocketError();
    return false;
  }
  // getaddrinfo rather than gethostbyname: several listener threads may ask
  // at once, and only the former is safe for that.
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    LastError = 11001;
    return false;
  }
  entry.OfficialName = found->ai_canonname ? found->ai_canonname : name;
  ::freeaddrinfo(found);
  return true;
}

bool TSvrSocket::Bind(int port) {
  if (!Connected) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  LastResult = ::bind(Handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (LastResult == -1) {
    LastError = LastSocketError();
    return false;
  }
  return true;
}

void TSvrSocket::Listen(int port) {
  LastError = 0;
  // Close-on-exec: CGI children must not inherit the server's sockets.
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle == -1) {
    LastError = LastSocketError();
    return;
  }
  Handle = handle;
  Connected = true;
  // SO_REUSEADDR lets a restarted server bind its port again at once, while
  // connections of the previous run still linger in TIME_WAIT.
  int on = 1;
  ::setsockopt(Handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Accepted sockets inherit these two and the receive time-out set below,
  // which saves as many calls on every connection. No-delay: a reply that
  // is larger than what is gathered (HoldWrites) leaves in several writes,
  // and with Nagle's rule the last would wait for the ACK of the one
  // before, which a client that delays its ACKs holds back some 40 ms on
  // every kept-alive request. The send time-out bounds a blocking send to
  // a client that stopped reading.
  ::setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  SetSendTimeout(kSendStallTimeoutSeconds);
  timeval slice{kListenerReadSliceMs / 1000, (kListenerReadSliceMs % 1000) * 1000};
  ::setsockopt(Handle, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
  bool ok = Bind(port);
  if (ok) {
    LastResult = ::listen(Handle, kListenBacklogSize);
    if (LastResult != 0) {
      LastError = LastSocketError();
      ok = false;
    }
  }
  if (!ok) {
    int32_t error = LastError;
    Close();
    LastError = error;
  }
}

namespace {

// The peer of an IPv4 address as four decimal bytes; "?.?.?.?" for another
// family.
std::string DottedAddress(const sockaddr_in& address) {
  if (address.sin_family != AF_INET) return "?.?.?.?";
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address.sin_addr.s_addr);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

}  // namespace

int TSvrSocket::Accept() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  int handle;
  // A signal that happens to arrive is no reason to end the listener; its
  // stop comes through shutdown (EINVAL), never through EINTR.
  do {
    length = sizeof address;
    handle = ::accept4(Handle, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  } while (handle == -1 && errno == EINTR);
  if (handle == -1) {
    LastError = LastSocketError();
    AcceptedPeer.clear();
    return handle;
  }
  AcceptedPeer = DottedAddress(address);
  return handle;
}

std::string TSvrSocket::PeerAddress() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (Handle == -1 ||
      ::getpeername(Handle, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return "?.?.?.?";
  return DottedAddress(address);
}

std::string TSvrSocket::ErrorText() const { return WinSockErrorText(LastError); }

std::string WinSockErrorText(int32_t code) {
  switch (code) {
    case 10004: return "Interrupted system call";
    case 10009: return "Bad file number";
    case 10013: return "Permission denied";
    case 10014: return "Bad address";
    case 10022: return "Invalid argument";
    case 10024: return "Too many open files";
    case 10035: return "Operation would block";
    case 10036: return "Operation now in progress";
    case 10037: return "Operation already in progress";
    case 10038: return "Socket operation on nonsocket";
    case 10039: return "Destination address required";
    case 10040: return "Message too long";
    case 10041: return "Protocol wrong type for socket";
    case 10042: return "Protocol not available";
    case 10043: return "Protocol not supported";
    case 10044: return "Socket not supported";
    case 10045: return "Operation not supported on socket";
    case 10046: return "Protocol family not supported";
    case 10047: return "Address family not supported";
    case 10048: return "Address already in use";
    case 10049: return "Can't assign requested address";
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10052: return "Network dropped connection on reset";
    case 10053: return "Software caused connection abort";
    case 10054: return "Connection reset by peer";
    case 10055: return "No buffer space available";
    case 10056: return "Socket is already connected";
    case 10057: return "Socket is not connected";
    case 10058: return "Can't send after socket shutdown";
    case 10059: return "Too many references:can't splice";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10062: return "Too many levels of symbolic links";
    case 10063: return "File name is too long";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    case 10066: return "Directory is not empty";
    case 10067: return "Too many processes";
    case 10068: return "Too many users";
    case 10069: return "Disk quota exceeded";
    case 10070: return "Stale NFS file handle";
    case 10071: return "Too many levels of remote in path";
    case 10091: return "Network subsystem is unusable";
    case 10092: return "Winsock DLL cannot support this application";
    case 10093: return "Winsock not initialized";
    case 11001: return "Host not found";
    case 11002: return "Non authoritative - host not found";
    case 11003: return "Non recoverable error";
    case 11004: return "Valid name, no data record of requested type";
    default: return "Not a Winsock error";
  }
}
