#include "server/net/SvrMain.h"

#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "server/net/Misc.h"
#include "server/net/SvrHttp.h"
#include "server/net/SvrSock.h"
#include "server/shell/Loging.h"
#include "server/shell/MainWin.h"
#include "server/shell/MsgCat.h"

std::atomic<uint32_t> AcceptedConnections{0};
std::atomic<uint16_t> ActiveConnections{0};

namespace {

constexpr uint16_t kMsgTlsListening = 31;
constexpr uint16_t kMsgPlainListening = 32;
constexpr uint16_t kMsgListenerEnded = 33;
// How long StopListeners waits for the listeners to give their ports back;
// a listener closes its socket as soon as its accept returns, so this is
// only ever reached when a listener thread is stuck elsewhere.
constexpr auto kStopWait = std::chrono::seconds(2);

std::atomic<bool> ListenersRunning{false};
std::atomic<int32_t> PlainHandle{-1};
std::atomic<int32_t> TlsHandle{-1};
std::atomic<bool> TlsListenerCreated{false};
// Raised by every StopListeners: a listener that only comes to store its
// handle after a stop sees the change and stops itself.
std::atomic<uint32_t> StopGeneration{0};

// Listener threads that have not yet finished. A thread is counted before
// it is created and uncounted as its very last step, under the lock, so that
// once StopListeners has seen the count reach zero no listener touches the
// log, its socket or these globals again, even while the process ends.
std::mutex LiveLock;
std::condition_variable LiveChanged;
int LiveListeners = 0;

void ListenerStarting() {
  std::lock_guard<std::mutex> guard(LiveLock);
  ++LiveListeners;
}

void ListenerFinished() {
  std::lock_guard<std::mutex> guard(LiveLock);
  --LiveListeners;
  LiveChanged.notify_all();
}

// Wakes the accept blocked on a listening socket. On Linux close() from
// another thread does not make a blocked accept return, and would free the
// descriptor number for reuse while the listener still holds it; shutdown
// makes accept fail at once, and the listener then closes its own socket.
void WakeAccept(std::atomic<int32_t>& slot) {
  int32_t handle = slot.exchange(-1);
  if (handle != -1) ::shutdown(handle, SHUT_RDWR);
}

class TServerThread {
 public:
  TServerThread(int port, bool isTLS)
      : Port(isTLS ? kTlsPort : port), IsTLS(isTLS), Generation(StopGeneration.load()) {}

  // Runs the listener in a detached thread that owns it.
  static void Start(int port, bool isTLS);
  void Execute();

  int32_t Port;
  TSvrSocket Socket;
  uint32_t ConnectionNumber = 0;
  int32_t LastHandle = -1;
  bool IsTLS;

 private:
  std::atomic<int32_t>& Slot() { return IsTLS ? TlsHandle : PlainHandle; }
  uint32_t Generation;
};

void TServerThread::Start(int port, bool isTLS) {
  auto listener = std::make_unique<TServerThread>(port, isTLS);
  ListenerStarting();
  try {
    std::thread([owned = listener.get()] {
      {
        std::unique_ptr<TServerThread> self(owned);
        self->Execute();
      }
      ListenerFinished();
    }).detach();
    listener.release();
  } catch (const std::system_error& error) {
    ListenerFinished();
    LogError(std::string("Server: ") + error.what());
  }
}

void TServerThread::Execute() {
  // A failed listen is not tested here: the accept below then fails at once
  // and the listener ends with the error logged.
  Socket.Listen(Port);
  const bool open = Socket.Connected;

  // No host entry still leaves a running listener, with an empty name.
  std::string hostName;
  THostEntry entry;
  if (Socket.GetHostEntry(entry)) hostName = entry.OfficialName;
  PostCaptionAndHint("Quillon Web Server - " + hostName);
  LogError(GetMsg(IsTLS ? kMsgTlsListening : kMsgPlainListening) + hostName);

  int32_t own = Socket.Handle;
  if (open) {
    Slot().store(own);
    if (StopGeneration.load() != Generation) {
      int32_t expected = own;
      if (Slot().compare_exchange_strong(expected, -1)) ::shutdown(own, SHUT_RDWR);
    }
  }

  ConnectionNumber = 0;
  for (;;) {
    LastHandle = Socket.Accept();
    // Descriptor 0 is a valid connection on Linux (a service may run with
    // standard input closed), so only -1 means failure.
    if (LastHandle < 0) break;
    ++AcceptedConnections;
    TSvrHttpThread::Spawn(LastHandle, IsTLS, NextConnectionNumber(ConnectionNumber));
  }

  LogError("Server: (WSA" + std::to_string(Socket.LastError) + ") " + Socket.ErrorText());
  if (open) {
    int32_t expected = own;
    Slot().compare_exchange_strong(expected, -1);
    Socket.Close();
  }
  // A listener that ended on its own stops the run; one that StopListeners
  // ended must not clear the flag of a run started after it.
  if (StopGeneration.load() == Generation) ListenersRunning = false;
  LogError(SubstituteArgument(GetMsg(kMsgListenerEnded), std::to_string(ConnectionNumber)));
}

}  // namespace

uint32_t NextConnectionNumber(uint32_t& counter) {
  ++counter;
  uint32_t number = counter;
  if (counter >= kLastConnectionNumber) counter = 0;
  return number;
}

void StartListeners(int port, bool tlsOn) {
  if (ListenersRunning) return;
  // Set before the threads run, so that a listener failing at once leaves
  // the flag cleared as it should.
  ListenersRunning = true;
  TlsListenerCreated = tlsOn;
  TServerThread::Start(port, false);
  if (tlsOn) TServerThread::Start(port, true);
}

void StopListeners() {
  if (ListenersRunning) {
    ++StopGeneration;
    WakeAccept(PlainHandle);
    if (TlsListenerCreated) WakeAccept(TlsHandle);
    ListenersRunning = false;
  }
  // Running connections are left alone; only the listeners are waited for,
  // so that a restart can bind their ports again straight away. A listener
  // that ended on its own may still be writing its last log record, so it
  // is waited for as well: the caller may be about to end the process.
  std::unique_lock<std::mutex> lock(LiveLock);
  LiveChanged.wait_for(lock, kStopWait, [] { return LiveListeners == 0; });
}

bool ListenersAreRunning() { return ListenersRunning; }
