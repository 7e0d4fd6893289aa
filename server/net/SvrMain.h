#pragma once
// The listeners and the process-wide connection counters.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

extern std::atomic<uint32_t> AcceptedConnections;  // since the process started
extern std::atomic<uint16_t> ActiveConnections;    // live connection threads

// How a listener tells whoever started it that it listens (or, kept by a
// restart, accepts again): with the host name, empty when the host has no
// entry. Called from the listener's thread or the starting one with the
// listeners' lock held, so it must only hand the news on.
using TListeningReport = std::function<void(const std::string& hostName)>;

// Starts a listener for each port wanted. A listener that PauseListeners
// kept on the same port accepts again instead, so its port never closes.
// `onListening` replaces the report of earlier starts.
void StartListeners(int port, bool tlsOn, TListeningReport onListening = {});
// Closes every listening socket, kept ones included.
void StopListeners();
// For a restart: the listeners stop accepting and log as if they had ended,
// but keep their sockets open. Clients that connect meanwhile wait in the
// listen queue and are taken, with the settings loaded by then, once
// StartListeners asks for the same ports again.
void PauseListeners();
bool ListenersAreRunning();

constexpr int kTlsPort = 443;
constexpr uint32_t kLastConnectionNumber = 999;  // numbers run 1..999, then 1 again

// A listener's numbering: raises its counter and gives the number of the
// connection just accepted; the counter starts again after the last number.
uint32_t NextConnectionNumber(uint32_t& counter);

// A failed accept (out of descriptors, memory or buffers) is tried again
// after this pause: long enough for connections to end and give their
// descriptors back, short enough that waiting clients hardly notice.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(100);
// Failures no further apart than this form one burst, of which the error
// log gets one record: retries every kAcceptRetryPause would flood it.
constexpr auto kFailureBurstQuiet = std::chrono::seconds(10);

// Descriptors kept out of the connections' share: standard streams, logs,
// the registry database, listening and notify sockets, the event loop's
// descriptors and the sockets of refused connections still being answered.
constexpr long kReservedDescriptors = 64;
// A connection holds its socket and, while a reply runs, usually one more
// (a file, an access file, a pipe); gateways take a few more for a moment,
// which the accept retry covers when they come together.
constexpr long kDescriptorsPerConnection = 2;
// ActiveConnections is 16-bit: above this the count would wrap.
constexpr uint32_t kMaxCountableConnections = UINT16_MAX;

// No bound can use more descriptors than this; the limit is raised no
// further (children inherit it, and some programs walk every descriptor
// number up to it).
constexpr long kMostUsefulDescriptors =
    kReservedDescriptors + kDescriptorsPerConnection * static_cast<long>(kMaxCountableConnections);

// How many connections may be served at once with this many descriptors;
// a connection above it is answered 503 and closed. At least one, so that
// even a tiny limit serves someone.
constexpr uint32_t ConnectionBoundFor(long descriptorLimit) {
  long share = (descriptorLimit - kReservedDescriptors) / kDescriptorsPerConnection;
  return static_cast<uint32_t>(
      std::clamp<long>(share, 1, static_cast<long>(kMaxCountableConnections)));
}
// The bound in force: taken from the descriptor limit whenever the
// listeners start.
uint32_t ConnectionBound();

// Held by each connection thread for its whole life. ActiveConnections is
// set back to 0 by every start while older connections still finish, so the
// bound is checked against this count instead.
class TLiveConnection {
 public:
  TLiveConnection();
  ~TLiveConnection();
  TLiveConnection(const TLiveConnection&) = delete;
  TLiveConnection& operator=(const TLiveConnection&) = delete;
};
uint32_t LiveConnections();
