#include "server/net/SvrRefuse.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/MemoryStream.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"
#include "server/reply/SvrHttpErrReply.h"
#include "server/reply/SvrSetupHolder.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kRefusalStatus = 503;
// While connections are pending the thread looks for new ones this often.
constexpr int kRefusalPollMs = 50;
// What a refused client sends is read and dropped in blocks of this size.
constexpr std::size_t kDrainBlockBytes = 4096;
// How long StopRefusals waits for the thread: it sees the request within
// one poll, so this is only reached when the thread is stuck elsewhere.
constexpr auto kStopWait = std::chrono::seconds(2);

// Collects what a reply writes instead of sending it.
class TCaptureSocket : public TSvrSocket {
 public:
  TCaptureSocket() { Connected = true; }
  int WriteBuf(const void* bytes, int length) override {
    Written.append(static_cast<const char*>(bytes), static_cast<std::size_t>(length));
    return length;
  }
  std::string Written;
};

struct TRefusal {
  int Handle;
  std::string Unsent;
  Clock::time_point Deadline;
  bool WriteShut = false;
};

std::mutex Lock;
std::condition_variable Finished;
std::deque<int> Waiting;     // handed over, not yet taken by the thread
std::size_t Pending = 0;     // handed over and not yet closed
bool ThreadRunning = false;
bool Dropping = false;       // StopRefusals asks for everything to be closed

// Sends what the socket takes now; true while the connection goes on.
bool SendSome(TRefusal& refusal) {
  while (!refusal.Unsent.empty()) {
    ssize_t sent = ::send(refusal.Handle, refusal.Unsent.data(), refusal.Unsent.size(),
                          MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    refusal.Unsent.erase(0, static_cast<std::size_t>(sent));
  }
  // The page is out: tell the client, and keep reading until it closes.
  if (!refusal.WriteShut) ::shutdown(refusal.Handle, SHUT_WR);
  refusal.WriteShut = true;
  return true;
}

// Reads and drops what the client sent; true while it has not closed.
bool Drain(TRefusal& refusal) {
  char block[kDrainBlockBytes];
  for (;;) {
    ssize_t got = ::recv(refusal.Handle, block, sizeof block, MSG_DONTWAIT);
    if (got > 0) continue;
    if (got == 0) return false;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  }
}

void Forget(std::size_t count) {
  std::lock_guard<std::mutex> guard(Lock);
  Pending -= count;
}

// The 503 answer, header and built-in page, as it goes on the wire.
std::string RefusalAnswer() {
  // The built-in page only: a custom error page may run a program, which
  // is just what an overloaded server cannot afford for a connection it
  // does not serve. A holder of its own has no custom pages.
  TSettingsPin noCustomPages(std::make_shared<TSvrSetupHolder>());
  TMemoryStream body;
  const TRequest request = TRequest::FromHeader(TRequestHeader(), body, "", false);
  TCaptureSocket capture;
  THTTPErrReply reply(TReplyContext{request, capture, Settings()}, "", kRefusalStatus);
  reply.Prepare();
  reply.SendHeader();
  reply.SendBody();
  return capture.Written;
}

// Takes new connections, or ends the thread (false) when there is nothing
// left or everything is to be dropped; decided under the lock, so that a
// connection handed over meanwhile always finds a running thread.
bool TakeWaiting(std::vector<TRefusal>& open) {
  std::vector<int> fresh;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Dropping) {
      for (const TRefusal& refusal : open) ::close(refusal.Handle);
      for (int handle : Waiting) ::close(handle);
      open.clear();
      Waiting.clear();
      Pending = 0;
    }
    if (open.empty() && Waiting.empty()) {
      ThreadRunning = false;
      Finished.notify_all();
      return false;
    }
    fresh.assign(Waiting.begin(), Waiting.end());
    Waiting.clear();
  }
  if (fresh.empty()) return true;
  std::string answer;
  try {
    answer = RefusalAnswer();
  } catch (const std::exception&) {
    // Without a page the connections are still closed in time.
  }
  for (int handle : fresh) {
    ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) | O_NONBLOCK);
    open.push_back({handle, answer, Clock::now() + kRefusalLinger});
  }
  return true;
}

void RunRefusals() {
  std::vector<TRefusal> open;
  std::vector<pollfd> watched;
  while (TakeWaiting(open)) {
    watched.clear();
    for (TRefusal& refusal : open) {
      short events = POLLIN;
      if (!refusal.Unsent.empty()) events |= POLLOUT;
      watched.push_back({refusal.Handle, events, 0});
    }
    ::poll(watched.data(), watched.size(), kRefusalPollMs);
    const Clock::time_point now = Clock::now();
    std::size_t closed = 0;
    for (std::size_t i = open.size(); i-- > 0;) {
      TRefusal& refusal = open[i];
      bool goesOn = SendSome(refusal);
      if (goesOn && watched[i].revents != 0) goesOn = Drain(refusal);
      if (goesOn && now < refusal.Deadline) continue;
      ::close(refusal.Handle);
      open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
      ++closed;
    }
    if (closed > 0) Forget(closed);
  }
}

}  // namespace

void RefuseConnection(int handle) {
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Pending < kMaxPendingRefusals) {
      ++Pending;
      Waiting.push_back(handle);
      if (ThreadRunning) return;
      try {
        std::thread(RunRefusals).detach();
        ThreadRunning = true;
        return;
      } catch (const std::system_error&) {
        Waiting.pop_back();
        --Pending;
      }
    }
  }
  // Too many being answered already, or no thread: the connection is
  // closed unanswered rather than held.
  ::close(handle);
}

void StopRefusals() {
  std::unique_lock<std::mutex> lock(Lock);
  if (!ThreadRunning) return;
  Dropping = true;
  Finished.wait_for(lock, kStopWait, [] { return !ThreadRunning; });
  Dropping = false;
}
