#include "server/net/SvrMain.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/ResourceLimits.h"
#include "platform/SocketHandle.h"
#include "server/net/Misc.h"
#include "server/net/SvrHttp.h"
#include "server/net/SvrRefuse.h"
#include "server/net/SvrSock.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"

std::atomic<uint32_t> AcceptedConnections{0};
std::atomic<uint16_t> ActiveConnections{0};

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kMsgTlsListening = 31;
constexpr uint16_t kMsgPlainListening = 32;
constexpr uint16_t kMsgListenerEnded = 33;
// How long StopListeners waits for the listeners to give their ports back;
// a listener closes its socket as soon as its accept returns, so this is
// only ever reached when a listener thread is stuck elsewhere.
constexpr auto kStopWait = std::chrono::seconds(2);
// What the accept of a stopped listener fails with (its socket was shut
// down); a paused listener logs its end with the same error.
constexpr int32_t kStoppedAcceptError = WSAEINVAL;

std::atomic<uint32_t> LiveCount{0};
std::atomic<uint32_t> Bound{ConnectionBoundFor(0)};
std::atomic<bool> ListenersRunning{false};

// Accepting: takes connections. Parked: kept by a restart, takes none and
// holds the connection it may have accepted meanwhile. Stopping: ends and
// logs its end. Released: a kept socket given up; its end was logged when
// it was parked, so it ends without a record.
enum class TMode { Accepting, Parked, Stopping, Released };

// One record per burst of failures (see kFailureBurstQuiet).
class TBurstLog {
 public:
  bool StartsBurst() {
    const Clock::time_point now = Clock::now();
    const bool starts = !Seen || now - Last > kFailureBurstQuiet;
    Seen = true;
    Last = now;
    return starts;
  }

 private:
  bool Seen = false;
  Clock::time_point Last;
};

// Errors of one connection that went away before it was taken: the next
// accept is tried at once.
bool ConcernsOneConnection(int32_t error) {
  return error == WSAECONNABORTED || error == WSAECONNRESET || error == WSAEWOULDBLOCK ||
         error == WSAEINTR;
}

class TServerThread;

// The listeners' shared state, under ListenerLock. The listener of each
// kind (plain, TLS) that StartListeners works with sits in its slot:
// running, or kept by a restart. LiveListeners lists the threads not yet finished; each owns
// its object and takes itself off both lists, under the lock, as its last
// step, so the main thread may use any listener it finds listed.
std::mutex ListenerLock;
std::condition_variable ListenerChanged;
std::array<TServerThread*, 2> Slots{};
std::vector<TServerThread*> LiveListeners;
// Told by each listener that starts listening or accepting again; set by
// StartListeners, under the lock.
TListeningReport OnListening;

class TServerThread {
 public:
  TServerThread(int port, bool isTLS) : Port(isTLS ? kTlsPort : port), IsTLS(isTLS) {}

  // Runs a new listener in a detached thread that owns it; under the lock.
  static void Start(int port, bool isTLS);
  void Execute();

  // Under the lock, from the main thread.
  void Pause();
  void Resume();
  void End();  // Stopping, or Released when parked

  int32_t Port;
  TSvrSocket Socket;
  uint32_t ConnectionNumber = 0;
  int32_t LastHandle = -1;
  bool IsTLS;

  // Under the lock: what the main thread and the listener share.
  TMode Mode = TMode::Accepting;
  bool Listened = false;      // past its listen and host look-up
  bool ListenFailed = false;  // has no port: it ends, it is never kept
  int32_t ListeningHandle = -1;
  std::string HostName;

 private:
  std::size_t Kind() const { return IsTLS ? 1 : 0; }
  void Announce();
  void LogEnd(int32_t error);
  void Take(int handle);
  void Finish();

  TBurstLog AcceptFailures;
  TBurstLog Refusals;
};

void TServerThread::Start(int port, bool isTLS) {
  auto listener = std::make_unique<TServerThread>(port, isTLS);
  TServerThread* own = listener.get();
  try {
    std::thread([own] {
      std::unique_ptr<TServerThread> self(own);
      self->Execute();
    }).detach();
  } catch (const std::system_error& error) {
    LogError(std::string("Server: ") + error.what());
    ListenersRunning = false;  // as a listener that ended on its own
    return;
  }
  listener.release();
  Slots[own->Kind()] = own;
  LiveListeners.push_back(own);
}

void TServerThread::Announce() {
  if (OnListening) OnListening(HostName);
  LogError(GetMsg(IsTLS ? kMsgTlsListening : kMsgPlainListening) + HostName);
}

void TServerThread::LogEnd(int32_t error) {
  LogError("Server: (WSA" + std::to_string(error) + ") " + WinSockErrorText(error));
  LogError(SubstituteArgument(GetMsg(kMsgListenerEnded), std::to_string(ConnectionNumber)));
}

void TServerThread::Pause() {
  if (Mode != TMode::Accepting) return;
  Mode = TMode::Parked;
  if (Listened) LogEnd(kStoppedAcceptError);
}

void TServerThread::Resume() {
  Mode = TMode::Accepting;
  ConnectionNumber = 0;
  // One that has not listened yet announces itself when it does.
  if (Listened) Announce();
  ListenerChanged.notify_all();
}

void TServerThread::End() {
  if (Mode == TMode::Accepting) Mode = TMode::Stopping;
  if (Mode == TMode::Parked) Mode = TMode::Released;
  // On Linux close() from another thread does not make a blocked accept
  // return, and would free the descriptor number for reuse while the
  // listener still holds it; shutdown makes accept fail at once, and the
  // listener then closes its own socket.
  if (ListeningHandle != -1) ShutdownSocket(ListeningHandle);
  ListenerChanged.notify_all();
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

  std::unique_lock<std::mutex> lock(ListenerLock);
  HostName = hostName;
  Listened = true;
  ListenFailed = !open;
  if (open) ListeningHandle = Socket.Handle;
  // A listener parked before it listened is announced when it resumes.
  if (Mode != TMode::Parked && Mode != TMode::Released) Announce();
  // A stop that came before the handle was known could not wake the accept.
  if (open && (Mode == TMode::Stopping || Mode == TMode::Released))
    ShutdownSocket(ListeningHandle);
  ConnectionNumber = 0;

  for (;;) {
    lock.unlock();
    const int handle = Socket.Accept();
    lock.lock();
    // A connection taken just as a restart began waits here for the
    // settings the restart loads.
    ListenerChanged.wait(lock, [this] { return Mode != TMode::Parked; });
    if (Mode != TMode::Accepting) {
      CloseSocketHandle(handle);
      break;
    }
    // Descriptor 0 is a valid connection on Linux (a service may run with
    // standard input closed), so only -1 means failure.
    if (handle >= 0) {
      Take(handle);
      continue;
    }
    if (!open) break;
    if (ConcernsOneConnection(Socket.LastError)) continue;
    // Out of descriptors, memory or buffers: the listener waits for
    // connections to end and tries again; it never gives up on its own.
    if (AcceptFailures.StartsBurst())
      LogError("Server: (WSA" + std::to_string(Socket.LastError) + ") " + Socket.ErrorText() +
               "; accept is tried again every " + std::to_string(kAcceptRetryPause.count()) +
               " ms");
    ListenerChanged.wait_for(lock, kAcceptRetryPause,
                             [this] { return Mode != TMode::Accepting; });
  }
  Finish();
}

void TServerThread::Take(int handle) {
  LastHandle = handle;
  ++AcceptedConnections;
  const uint32_t bound = Bound.load();
  if (LiveCount.load() >= bound) {
    if (Refusals.StartsBurst())
      LogError("Server: " + std::to_string(bound) +
               " connections are being served, the most the descriptor limit allows; "
               "new connections get 503");
    // A TLS client would need a handshake before it could read the page,
    // which is just what a crowd must not cost: it is closed unanswered.
    if (IsTLS)
      CloseSocketHandle(handle);
    else
      RefuseConnection(handle);
    return;
  }
  // Constructed under the lock: once PauseListeners has returned, no
  // connection of the old settings is still on its way to its thread.
  TSvrHttpThread::Spawn(handle, IsTLS, NextConnectionNumber(ConnectionNumber), Socket.AcceptedPeer,
                        kListenerReadSliceMs);
}

void TServerThread::Finish() {
  if (Mode != TMode::Released) LogEnd(Socket.LastError);
  if (ListeningHandle != -1) {
    Socket.Close();
    ListeningHandle = -1;
  }
  // A listener that ended on its own (its port could not be had) ends the
  // run; one that was stopped leaves the flag to whoever stopped it.
  if (Mode == TMode::Accepting) ListenersRunning = false;
  if (Slots[Kind()] == this) Slots[Kind()] = nullptr;
  std::erase(LiveListeners, this);
  ListenerChanged.notify_all();
}

// Waits, with the lock held by `lock`, until no listener that was told to
// end is left; their ports can then be bound again.
void WaitForEndingListeners(std::unique_lock<std::mutex>& lock) {
  ListenerChanged.wait_for(lock, kStopWait, [] {
    for (const TServerThread* listener : LiveListeners)
      if (listener->Mode == TMode::Stopping || listener->Mode == TMode::Released) return false;
    return true;
  });
}

}  // namespace

uint32_t NextConnectionNumber(uint32_t& counter) {
  ++counter;
  uint32_t number = counter;
  if (counter >= kLastConnectionNumber) counter = 0;
  return number;
}

void StartListeners(int port, bool tlsOn, TListeningReport onListening) {
  std::unique_lock<std::mutex> lock(ListenerLock);
  if (ListenersRunning) return;
  OnListening = std::move(onListening);
  // Set before the threads run, so that a listener failing at once leaves
  // the flag cleared as it should.
  ListenersRunning = true;
  Bound = ConnectionBoundFor(DescriptorLimit());
  const std::array<bool, 2> wanted{true, tlsOn};
  std::array<bool, 2> kept{false, false};
  for (std::size_t kind = 0; kind < Slots.size(); ++kind) {
    TServerThread* listener = Slots[kind];
    if (!listener) continue;
    const int wantedPort = kind == 0 ? port : kTlsPort;
    if (wanted[kind] && listener->Mode == TMode::Parked && listener->Port == wantedPort &&
        !listener->ListenFailed) {
      listener->Resume();
      kept[kind] = true;
    } else {
      listener->End();
    }
  }
  WaitForEndingListeners(lock);
  if (!kept[0]) TServerThread::Start(port, false);
  if (tlsOn && !kept[1]) TServerThread::Start(port, true);
}

void PauseListeners() {
  std::lock_guard<std::mutex> guard(ListenerLock);
  for (TServerThread* listener : Slots)
    if (listener) listener->Pause();
  ListenersRunning = false;
}

void StopListeners() {
  {
    std::unique_lock<std::mutex> lock(ListenerLock);
    for (TServerThread* listener : Slots)
      if (listener) listener->End();
    ListenersRunning = false;
    // Running connections are left alone; only the listeners are waited
    // for, so that a start can bind their ports again straight away. A
    // listener that ended on its own may still be writing its last log
    // record, so it is waited for as well: the caller may be about to end
    // the process.
    ListenerChanged.wait_for(lock, kStopWait, [] { return LiveListeners.empty(); });
  }
  StopRefusals();
}

bool ListenersAreRunning() { return ListenersRunning; }

uint32_t ConnectionBound() { return Bound.load(); }

TLiveConnection::TLiveConnection() { ++LiveCount; }
TLiveConnection::~TLiveConnection() { --LiveCount; }
uint32_t LiveConnections() { return LiveCount.load(); }
