#include "server/net/SvrHttp.h"

#include <algorithm>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>

#include "platform/WorkerThreads.h"
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
// A connection's thread, its connection ended, waits this long for the
// next one instead of ending: creating and ending a thread costs a dozen
// system calls, more than the rest of a small request.
constexpr int kConnectionThreadWaitSeconds = 30;
// At most this many threads wait so; a burst beyond it ends the extra ones.
// Each waiting thread holds the pages its stack has touched, some tens of
// KiB, so the waiting threads cost a few MiB at the most.
constexpr std::size_t kWaitingConnectionThreads = 64;

void RunConnection(void* connection) {
  std::unique_ptr<TSvrHttpThread> self(static_cast<TSvrHttpThread*>(connection));
  self->Execute();
}

}  // namespace

TSvrHttpThread::TSvrHttpThread(int handle, bool isTLS, uint32_t connectionNumber,
                               std::string peer, int readSliceMs)
    : SocketHandle(handle),
      ConnectionNumber(connectionNumber),
      IsTLS(isTLS),
      PeerAddr(std::move(peer)),
      ReadSliceMs(readSliceMs),
      StartSettings(CurrentSettings()) {
  ++ActiveConnections;
}

TSvrHttpThread::~TSvrHttpThread() = default;

bool TSvrHttpThread::Spawn(int handle, bool isTLS, uint32_t connectionNumber, std::string peer,
                           int readSliceMs) {
  // Never destroyed: its waiting threads may outlast every other static.
  static TWorkerThreads& threads =
      *new TWorkerThreads(kConnectionStackBytes, kWaitingConnectionThreads,
                          std::chrono::seconds(kConnectionThreadWaitSeconds));
  std::unique_ptr<TSvrHttpThread> connection;
  std::string failure;
  try {
    connection = std::make_unique<TSvrHttpThread>(handle, isTLS, connectionNumber, std::move(peer),
                                                  readSliceMs);
    if (threads.Run(&RunConnection, connection.get(), failure)) {
      connection.release();  // the thread owns it now
      return true;
    }
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
  if (Reader) Reader->ReleaseBody();
  --ActiveConnections;
}

void TSvrHttpThread::Serve() {
  if (IsTLS)
    Socket = std::make_unique<TSSLSocket>();
  else
    Socket = std::make_unique<TSvrSocket>();
  // The send stall bound and the no-delay mode come with the accepted
  // socket from its listener (Listen); the TLS socket sets its own bounds.
  Socket->Attach(SocketHandle, true);
  Socket->ReadSliceMs = ReadSliceMs;
  if (!Socket->Prepare()) {
    Socket->Close();
    LogError(GetMsg(kMsgPrepareFailed));
    return;
  }
  if (PeerAddr.empty()) PeerAddr = Socket->PeerAddress();
  if (!Socket->Handshake()) {
    Socket->Close();
    LogError(PeerAddr + GetMsg(kMsgHandshakeFailed));
    return;
  }

  Lines.clear();
  bool answered = false;
  for (;;) {
    bool ready = ReadRequest();
    answered = ready;
    Socket->InputHeldAbove = Reader->InputLeftUnread();
    if (ready) HandleRequest();
    // A request that was not read leaves a cleared header, so a failed read
    // always ends the connection here.
    const bool keepAlive = SameText(Header.Get(rqConnection), "KEEP-ALIVE");
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
  // count as unread as much as a refused request's body, whether the reader
  // holds them already or they are still on their way.
  if ((Reader && Reader->InputLeftUnread()) || Socket->HasUnreadInput())
    Socket->LingeringClose(LingerSeconds, kLingerMaxBytes);
}

bool TSvrHttpThread::ReadRequest() {
  if (!Reader) {
    const TReaderLimits limits{LineTimeoutSeconds, HeadTimeoutSeconds, BodyIdleSeconds,
                               BodyGraceSeconds, BodyMinBytesPerSecond};
    Reader = std::make_unique<TRequestReader>(
        *Socket, TReaderOutput{Lines, Body, ReaderStatus, CloseAfterReply}, limits,
        TerminateRequested);
  }
  return Reader->Read();
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
  Socket->HoldWrites();
  reply->SendHeader();
  // Without a length the client can tell the end of the body only by the
  // connection's end (error pages are sent so).
  if (reply->Response().Get(rsContentLength).empty()) CloseAfterReply = true;
  LogAccess(PeerAddr, request.Get(rqHost), request.Header.UserName, request.RequestLine(),
            reply->Response().StatusCode, reply->Response().Get(rsContentLength),
            request.Get(rqReferer), request.Get(rqUserAgent));
  if (request.Method != mtHead) reply->SendBody();
  Socket->Flush();
  reply.reset();
  // The connection loop decides on keep-alive by the request's header.
  Header = std::move(request.Header);
}
