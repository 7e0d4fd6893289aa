#include "server/net/SvrHttp.h"

#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>

#include "server/net/Misc.h"
#include "server/net/Request.h"
#include "server/net/SvrMain.h"
#include "server/net/XSSL.h"
#include "server/reply/Route.h"
#include "server/reply/SvrHttpErrReply.h"
#include "server/reply/SvrHttpReply.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"

namespace {

constexpr uint16_t kMsgPrepareFailed = 15;
constexpr uint16_t kMsgHandshakeFailed = 16;
// The stack of a connection thread. Its deepest paths are server-side
// includes nested eight levels, each level with its reply objects and the
// 64 KiB block of the file reader, and extensions, which run on this thread
// and were written for the 1 MiB stacks of the system they come from; the
// default of 8 MiB is far above that. A smaller stack also keeps thread
// creation cheap: the C library caches about 40 MiB of freed stacks, which
// is five stacks of 8 MiB but forty of this size, so a busy server reuses
// them instead of mapping a new one for every connection.
constexpr std::size_t kConnectionStackBytes = 1024 * 1024;
// A TLS header line is collected until its CR arrives; this bounds what a
// client can make the server hold that way, far above any real header line.
constexpr std::size_t kMaxTlsLineBytes = 16384;

bool IsGetRequest(const std::string& requestLine) {
  uint8_t method = mtUnknown;
  std::string url;
  ParseRequestLine(requestLine, method, url);
  return method == mtGet;
}

// A decimal count, blanks around it allowed; false for anything else.
// A count too large for 64 bits is still a count: it is reported as the
// largest value, which every limit refuses.
bool ParseDecimal(const std::string& text, long long& value) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  std::size_t last = text.find_last_not_of(" \t");
  value = 0;
  for (std::size_t i = first; i <= last; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    if (value > (std::numeric_limits<long long>::max() - (c - '0')) / 10)
      value = std::numeric_limits<long long>::max();
    else
      value = value * 10 + (c - '0');
  }
  return true;
}

// A received head line may hold horizontal tabs and bytes of 128 and above
// (Windows-1250 texts), no other control byte: a NUL in a header value
// would cut the CGI environment into extra variables, a lone CR or LF
// would reach the log and the gateways as a line end.
bool HasForbiddenHeadByte(const std::string& line) {
  for (unsigned char c : line)
    if ((c < 32 && c != '\t') || c == 127) return true;
  return false;
}

std::string TrimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// True when one of the comma-separated items of a header value is the word
// (in any letter case).
bool HasListItem(const std::string& value, const std::string& word) {
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    if (UpperCase(TrimBlanks(value.substr(start, comma - start))) == word) return true;
    start = comma + 1;
  }
  return false;
}

std::chrono::steady_clock::time_point DeadlineIn(int seconds) {
  return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

// Whole seconds left before the deadline; 0 or less when it has passed.
int SecondsUntil(std::chrono::steady_clock::time_point deadline) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count());
}

// Gives the TLS socket a deadline for its reads (the head's, then the
// body's pace) while the request is read, and takes it away afterwards, so
// that the reply's own reads are not bound by it.
class TTlsReadDeadline {
 public:
  TTlsReadDeadline(TSvrSocket& socket, std::chrono::steady_clock::time_point deadline)
      : Tls(dynamic_cast<TSSLSocket*>(&socket)) {
    Set(deadline);
  }
  ~TTlsReadDeadline() { Set({}); }
  void Set(std::chrono::steady_clock::time_point deadline) {
    if (Tls) Tls->SetReadDeadline(deadline);
  }
  TTlsReadDeadline(const TTlsReadDeadline&) = delete;
  TTlsReadDeadline& operator=(const TTlsReadDeadline&) = delete;

 private:
  TSSLSocket* Tls;
};

// The point by which a body must have come as far as it has: a grace from
// the end of the head, and for every byte received the time it takes at
// the least rate allowed. A slow start is forgiven as long as the average
// catches up, but the time in hand never exceeds the grace: otherwise a
// client that sends most of a large body at once would buy itself hours in
// which a byte every few seconds keeps the connection and its share of the
// body budget.
class TBodyPace {
 public:
  TBodyPace(int graceSeconds, long long bytesPerSecond)
      : Grace(std::chrono::seconds(graceSeconds)),
        Deadline(std::chrono::steady_clock::now() + Grace),
        BytesPerSecond(std::max<long long>(bytesPerSecond, 1)) {}
  void Received(long long bytes) {
    // Carried to the next call, so that many small reads add up to the
    // same time as one large one.
    Owed += bytes * 1000;
    Deadline += std::chrono::milliseconds(Owed / BytesPerSecond);
    Owed %= BytesPerSecond;
    Deadline = std::min(Deadline, std::chrono::steady_clock::now() + Grace);
  }

 private:
  std::chrono::steady_clock::duration Grace;

 public:
  std::chrono::steady_clock::time_point Deadline;

 private:
  long long BytesPerSecond;
  long long Owed = 0;  // thousandths of a byte's worth of time not yet given
};

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(
                             deadline - std::chrono::steady_clock::now())
                             .count();
  return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

// While a reply is written its pieces (the header, then the body in
// 1024-byte blocks) are held back and leave in full segments; releasing the
// hold sends what is left at once. Without it each block would leave as a
// segment of its own, and the client would be woken for the header alone.
void HoldSegments(TSvrSocket& socket, bool hold) {
  if (!socket.Connected) return;
  int value = hold ? 1 : 0;
  ::setsockopt(socket.Handle, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

// The header lines of a request are read with the socket non-blocking (the
// line reader polls); switching once per request rather than once per line
// saves two system calls a line. Replies are written in blocking mode,
// which bounds a stalled write by the send time-out.
class TNonBlockingReads {
 public:
  explicit TNonBlockingReads(TSvrSocket& socket) : Socket(socket) { Socket.SetBlocking(false); }
  ~TNonBlockingReads() { Socket.SetBlocking(true); }
  TNonBlockingReads(const TNonBlockingReads&) = delete;
  TNonBlockingReads& operator=(const TNonBlockingReads&) = delete;

 private:
  TSvrSocket& Socket;
};

// The processors the server may run on, as the process started with them.
cpu_set_t AllowedProcessors() {
  static const cpu_set_t allowed = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) CPU_ZERO(&set);
    return set;
  }();
  return allowed;
}

void* RunConnection(void* connection) {
  // Started on the listener's processor (see Spawn); from here on it may go
  // wherever the scheduler finds room.
  const cpu_set_t allowed = AllowedProcessors();
  if (CPU_COUNT(&allowed) > 0) pthread_setaffinity_np(pthread_self(), sizeof allowed, &allowed);
  std::unique_ptr<TSvrHttpThread> self(static_cast<TSvrHttpThread*>(connection));
  self->Execute();
  return nullptr;
}

}  // namespace

std::atomic<long long> RequestBodyBudgetBytes{kRequestBodyBudgetBytes};
std::atomic<long long> RequestBodyBytesHeld{0};

bool TBodyReservation::Fits(long long bytes) {
  return bytes <= RequestBodyBudgetBytes.load() - RequestBodyBytesHeld.load();
}

bool TBodyReservation::Take(long long bytes) {
  long long held = RequestBodyBytesHeld.load();
  do {
    if (bytes > RequestBodyBudgetBytes.load() - held) return false;
  } while (!RequestBodyBytesHeld.compare_exchange_weak(held, held + bytes));
  Bytes += bytes;
  return true;
}

void TBodyReservation::Release() {
  RequestBodyBytesHeld -= Bytes;
  Bytes = 0;
}

TSvrHttpThread::TSvrHttpThread(int handle, bool isTLS, uint32_t connectionNumber)
    : SocketHandle(handle),
      ConnectionNumber(connectionNumber),
      IsTLS(isTLS),
      StartSettings(CurrentSettings()) {
  ++ActiveConnections;
}

TSvrHttpThread::~TSvrHttpThread() = default;

bool TSvrHttpThread::Spawn(int handle, bool isTLS, uint32_t connectionNumber) {
  std::unique_ptr<TSvrHttpThread> connection;
  std::string failure;
  try {
    connection = std::make_unique<TSvrHttpThread>(handle, isTLS, connectionNumber);
    pthread_attr_t attributes;
    int result = pthread_attr_init(&attributes);
    if (result == 0) {
      pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
      pthread_attr_setstacksize(&attributes, kConnectionStackBytes);
      // A new thread is placed on the least loaded processor, where it may
      // wait a whole time slice for a busy program to give way; the
      // listener's own processor is free at once, since the listener goes
      // straight back to waiting in accept. The connection starts there.
      // The full set is taken here, in the listener, before any thread
      // has been narrowed to one processor.
      (void)AllowedProcessors();
      const int processor = sched_getcpu();
      cpu_set_t here;
      CPU_ZERO(&here);
      bool placed = false;
      if (processor >= 0 && processor < CPU_SETSIZE) {
        CPU_SET(processor, &here);
        placed = pthread_attr_setaffinity_np(&attributes, sizeof here, &here) == 0;
      }
      pthread_t thread;
      result = pthread_create(&thread, &attributes, &RunConnection, connection.get());
      if (result == EINVAL && placed) {
        // The processor was taken away meanwhile: start it anywhere.
        const cpu_set_t allowed = AllowedProcessors();
        pthread_attr_setaffinity_np(&attributes, sizeof allowed, &allowed);
        result = pthread_create(&thread, &attributes, &RunConnection, connection.get());
      }
      pthread_attr_destroy(&attributes);
    }
    if (result == 0) {
      connection.release();  // the thread owns it now
      return true;
    }
    failure = std::strerror(result);
  } catch (const std::exception& error) {
    failure = error.what();
  }
  // Out of threads or memory: this connection is dropped, the server goes on.
  LogError("Server: connection " + std::to_string(connectionNumber) + " not served (" + failure +
           ")");
  TSvrSocket socket;
  socket.Attach(handle, true);
  socket.Close();
  if (connection) --ActiveConnections;
  return false;
}

void TSvrHttpThread::Execute() {
  // The settings this connection started with stay valid until it ends,
  // whatever a reload does meanwhile.
  TSettingsPin pin(std::move(StartSettings));
  try {
    Serve();
  } catch (const std::exception& error) {
    LogError("Connection " + std::to_string(ConnectionNumber) + ": " + error.what());
  } catch (...) {
    LogError("Connection " + std::to_string(ConnectionNumber) + ": unknown error");
  }
  if (Socket) {
    Socket->Close();
    Socket.reset();
  } else {
    TSvrSocket socket;  // the error came before the socket object existed
    socket.Attach(SocketHandle, true);
    socket.Close();
  }
  BodyShare.Release();
  --ActiveConnections;
}

void TSvrHttpThread::Serve() {
  if (IsTLS)
    Socket = std::make_unique<TSSLSocket>();
  else
    Socket = std::make_unique<TSvrSocket>();
  Socket->Attach(SocketHandle, true);
  // The TLS socket bounds its own writes.
  if (!IsTLS) Socket->SetSendTimeout(kSendStallTimeoutSeconds);
  if (!Socket->Prepare()) {
    Socket->Close();
    LogError(GetMsg(kMsgPrepareFailed));
    return;
  }
  PeerAddr = Socket->PeerAddress();
  if (!Socket->Handshake()) {
    Socket->Close();
    LogError(PeerAddr + GetMsg(kMsgHandshakeFailed));
    return;
  }

  Lines.clear();
  bool answered = false;
  for (;;) {
    bool ready = IsTLS ? ReadRequestTLS() : ReadRequest();
    answered = ready;
    if (ready) HandleRequest();
    // A request that was not read leaves a cleared header, so a failed read
    // always ends the connection here.
    const bool keepAlive = UpperCase(Header.Get(rqConnection)) == "KEEP-ALIVE";
    if (keepAlive) {
      Lines.clear();
      Body.Clear();
      Header.Clear();
      // The next request names its own user, or none: the log must not show
      // the previous request's user for it.
      Header.UserName.clear();
    }
    if (!Socket->Connected || !keepAlive || IsTLS || !Settings().KeepAlive || CloseAfterReply)
      break;
  }
  Lines.clear();
  if (answered) CloseAfterAnswer();
}

void TSvrHttpThread::CloseAfterAnswer() {
  if (!Socket->Connected) return;
  // Bytes sent after the request (a second one on a connection that ends)
  // count as unread as much as a refused request's body.
  if (InputLeftUnread || Socket->WaitReadable(0))
    Socket->LingeringClose(LingerSeconds, kLingerMaxBytes);
}

void TSvrHttpThread::Refuse(uint16_t code) {
  if (ReaderStatus == 0) ReaderStatus = code;
  CloseAfterReply = true;
  // The refusal comes before the end of the request; whatever the client
  // still sends is never read.
  InputLeftUnread = true;
}

void TSvrHttpThread::StartRequest() {
  Body.Clear();
  BodyShare.Release();
  ReaderStatus = 0;
  InputLeftUnread = false;
}

bool TSvrHttpThread::KeepBodyBytes(const std::string& bytes) {
  if (!BodyShare.Take(static_cast<long long>(bytes.size()))) {
    // The other connections' bodies filled the budget while this one came:
    // it is refused, and what it held goes back at once.
    Refuse(503);
    Body.Clear();
    BodyShare.Release();
    return false;
  }
  Body.Write(bytes);
  return true;
}

bool TSvrHttpThread::TakeHeadLine(const std::string& line, bool& getMark,
                                  TBodyAnnouncement& body) {
  if (HasForbiddenHeadByte(line)) {
    // The line itself is dropped: it reaches neither the header nor the log.
    Refuse(400);
    return false;
  }
  Lines.push_back(line);
  if (Lines.size() == 1)
    getMark = IsGetRequest(line);
  else
    NoteHeaderLine(line, body);
  if (Lines.size() > kMaxRequestLines) {
    Refuse(400);
    return false;
  }
  return true;
}

void TSvrHttpThread::NoteHeaderLine(const std::string& line, TBodyAnnouncement& body) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  const std::string name = UpperCase(line.substr(0, colon));
  const std::string value = line.substr(colon + 1);
  if (name == "CONTENT-LENGTH") {
    long long length = 0;
    if (!ParseDecimal(value, length) || (body.LengthSeen && body.Length != length)) {
      // The end of the body is not known, so nothing after it could be
      // told apart from it.
      Refuse(400);
      return;
    }
    body.LengthSeen = true;
    body.Length = length;
  } else if (name == "TRANSFER-ENCODING") {
    // Only bodies of a stated length are read; the chunks of a coded body
    // would be taken for the next request.
    Refuse(501);
  } else if (name == "CONNECTION") {
    if (HasListItem(value, "CLOSE")) {
      // Answered all the same; the connection ends after the reply.
      LogError("Request pipe closed by client (Connection: close)");
      CloseAfterReply = true;
    }
  } else {
    // A blank before the colon makes another name for the header object,
    // but some clients and proxies would still read these two as what
    // frames the body; a request that means two things is refused.
    const std::string trimmed = TrimBlanks(name);
    if (trimmed != name && (trimmed == "CONTENT-LENGTH" || trimmed == "TRANSFER-ENCODING"))
      Refuse(400);
  }
}

long long TSvrHttpThread::BodyToRead(bool getMark, const TBodyAnnouncement& body) {
  if (ReaderStatus != 0 || !body.LengthSeen || body.Length <= 0) return 0;
  if (getMark) {
    // A GET body is never read; whatever the client sent of it would be
    // read as the next request, so there is none on this connection.
    CloseAfterReply = true;
    InputLeftUnread = true;
    return 0;
  }
  if (body.Length > kMaxRequestBodyBytes) {
    Refuse(413);
    return 0;
  }
  // Only a body that could be held whole now is begun; its bytes are taken
  // from the budget as they come (KeepBodyBytes).
  if (!TBodyReservation::Fits(body.Length)) {
    Refuse(503);
    return 0;
  }
  return body.Length;
}

bool TSvrHttpThread::ReadRequest() {
  TNonBlockingReads nonBlocking(*Socket);
  StartRequest();
  const auto headDeadline = DeadlineIn(HeadTimeoutSeconds);
  bool getMark = true;
  TBodyAnnouncement announced;
  // The head: a line at a time, each within the line wait and all of them
  // within the head bound, up to the empty line.
  for (;;) {
    const int wait = std::min(LineTimeoutSeconds, SecondsUntil(headDeadline));
    std::string text;
    if (wait <= 0 || !Socket->ReadLine(text, wait)) return false;
    if (text.empty()) break;
    if (!TakeHeadLine(text, getMark, announced)) return true;
    if (Terminated()) return true;
  }
  // An empty line first is no request; a refused one is answered unread.
  if (Lines.empty() || ReaderStatus != 0) return true;
  // The body: the announced bytes and not one more, so that what follows
  // on a kept-alive connection is read as the next request.
  long long remaining = BodyToRead(getMark, announced);
  if (ReaderStatus != 0) return true;
  TBodyPace pace(BodyGraceSeconds, BodyMinBytesPerSecond);
  while (remaining > 0) {
    if (Terminated()) return true;
    // Silent for the idle wait, or behind its pace: the client is gone or
    // holding the connection, and gets no reply.
    const int wait = std::min(BodyIdleSeconds * 1000, MillisecondsUntil(pace.Deadline));
    if (wait <= 0 || !Socket->WaitReadable(wait)) {
      Socket->Close();
      return false;
    }
    const int most = static_cast<int>(std::min<long long>(remaining, kSocketReadSize));
    const std::string chunk = Socket->ReceiveChunk(most);
    if (!KeepBodyBytes(chunk)) return true;
    pace.Received(static_cast<long long>(chunk.size()));
    remaining -= static_cast<long long>(chunk.size());
    // A body cut short by the peer closing is not a request: a gateway must
    // never run on part of what the client meant to send.
    if (!Socket->Connected) return remaining <= 0;
  }
  return true;
}

bool TSvrHttpThread::ReadRequestTLS() {
  StartRequest();
  const auto headDeadline = DeadlineIn(HeadTimeoutSeconds);
  TTlsReadDeadline readBound(*Socket, headDeadline);
  std::optional<TBodyPace> pace;
  std::string pending;
  bool bodyMode = false;
  long long remaining = 0;
  bool getMark = true;
  TBodyAnnouncement announced;
  // The CR of a line ended the last chunk; its LF may open the next one.
  bool lfDue = false;
  // The body is the announced length and no more: whatever follows it (a
  // second request sent on the same connection) is never read as anything.
  auto takeBody = [&](const std::string& bytes) {
    const std::size_t wanted =
        remaining > 0 ? std::min(bytes.size(), static_cast<std::size_t>(remaining)) : 0;
    if (!KeepBodyBytes(bytes.substr(0, wanted))) return false;
    remaining -= static_cast<long long>(wanted);
    pace->Received(static_cast<long long>(wanted));
    readBound.Set(pace->Deadline);
    return true;
  };
  for (;;) {
    // The TLS socket keeps the head bound, and then the body's pace, within
    // a read; a socket of another kind is held to them between reads.
    const auto deadline = bodyMode ? pace->Deadline : headDeadline;
    if (std::chrono::steady_clock::now() >= deadline) {
      if (bodyMode) Socket->Close();
      return false;
    }
    std::string chunk = Socket->ReceiveChunk();
    // Every TLS read is bounded by the socket's read time-out. A read that
    // fails (silence, a reset, or the peer's close before the request was
    // complete) has closed the socket: nobody is left to get a reply, and a
    // request cut short is not handled as if it were whole.
    if (chunk.empty()) return false;
    if (lfDue && chunk[0] == '\n') chunk.erase(0, 1);
    lfDue = false;
    if (bodyMode) {
      if (!takeBody(chunk)) return true;
    } else {
      pending += chunk;
      std::size_t cr;
      while (!bodyMode && (cr = pending.find('\r')) != std::string::npos) {
        std::string line = pending.substr(0, cr);
        pending.erase(0, cr + 1);
        if (pending.empty())
          lfDue = true;
        else if (pending[0] == '\n')
          pending.erase(0, 1);
        if (line.empty()) {
          bodyMode = true;
          readBound.Set({});
          if (Lines.empty() || ReaderStatus != 0) return true;
          remaining = BodyToRead(getMark, announced);
          if (ReaderStatus != 0) return true;
          pace.emplace(BodyGraceSeconds, BodyMinBytesPerSecond);
          if (!takeBody(pending)) return true;
          pending.clear();
        } else if (!TakeHeadLine(line, getMark, announced)) {
          return true;
        }
        if (Terminated()) return true;
      }
      // A line stays pending until its CR comes, whatever the size of the
      // records it arrives in; only its length is bounded. As on a plain
      // connection, a line too long to be read gets no reply.
      if (!bodyMode && pending.size() > kMaxTlsLineBytes) return false;
    }
    if (Terminated()) return true;
    if (bodyMode && remaining <= 0) return true;
    if (!Socket->Connected) return false;
  }
}

std::unique_ptr<THTTPReply> TSvrHttpThread::ErrorReply(const TReplyContext& context,
                                                       uint16_t code, const std::string& text) {
  return PreparedReply<THTTPErrReply>(context, text, code);
}

std::unique_ptr<THTTPReply> TSvrHttpThread::ChooseReply(const TReplyContext& context) {
  if (ReaderStatus != 0) return ErrorReply(context, ReaderStatus, "");
  if (context.Request.ControlBytes) {
    CloseAfterReply = true;
    return ErrorReply(context, 400, "");
  }
  return MakeReply(RouteRequest(context.Request, context.Setup), context);
}

void TSvrHttpThread::HandleRequest() {
  // No lines and no refusal: the client sent an empty line first.
  if (Lines.empty() && ReaderStatus == 0) return;
  TRequest request = TRequest::FromLines(Lines, Body, PeerAddr, IsTLS, ConnectionNumber);
  Method = request.Method;
  Url = request.Url;
  const TReplyContext context{request, *Socket, Settings()};
  std::unique_ptr<THTTPReply> reply = ChooseReply(context);
  int16_t code = 200;
  std::string text;
  if (reply->GetStatus(code, text)) {
    reply.reset();
    reply = ErrorReply(context, static_cast<uint16_t>(code), text);
  }
  HoldSegments(*Socket, true);
  reply->SendHeader();
  // Without a length the client can tell the end of the body only by the
  // connection's end (error pages are sent so).
  if (reply->Response().Get(rsContentLength).empty()) CloseAfterReply = true;
  LogAccess(PeerAddr, request.Get(rqHost), request.Header.UserName, request.RequestLine(),
            reply->Response().StatusCode, reply->Response().Get(rsContentLength),
            request.Get(rqReferer), request.Get(rqUserAgent));
  if (request.Method != mtHead) reply->SendBody();
  HoldSegments(*Socket, false);
  reply.reset();
  // The connection loop decides on keep-alive by the request's header.
  Header = std::move(request.Header);
}
