#pragma once
// TLS: the one server context, set up when the program starts from the key
// files beside it, and TSSLSocket, the socket of connections accepted on the
// TLS port.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "server/net/SvrSock.h"

struct ssl_st;

// Bounds on a silent TLS peer: the handshake and every read give up after
// this long without data, so an idle client cannot hold a thread for ever.
constexpr int kTlsReadTimeoutSeconds = 15;
// A peer that stops reading what we send is given longer, for slow links.
constexpr int kTlsWriteTimeoutSeconds = 60;
// The whole handshake must be done within this time. The read time-out
// alone would let a client that sends its hello a byte every 14 s hold the
// connection for an hour; a real handshake is a few small records each way.
constexpr int kTlsHandshakeTimeoutSeconds = 15;
// The most of ".rnd" that seeds the random generator.
constexpr int kRandomSeedMaxBytes = 1048576;

// The time-outs a TLS socket takes when it is prepared (tests shorten them).
extern std::atomic<int> TlsReadTimeoutSeconds;   // kTlsReadTimeoutSeconds
extern std::atomic<int> TlsWriteTimeoutSeconds;  // kTlsWriteTimeoutSeconds
extern std::atomic<int> TlsHandshakeTimeoutSeconds;  // kTlsHandshakeTimeoutSeconds

// Result of the set-up: empty when the context is ready, else the message
// that ends the program ("Unable to set certificate file " + path, ...).
std::string SetUpTLS(const std::string& programDirectory);
// Runs SetUpTLS for the program's own directory; on failure shows the
// message box and ends the process. Called before the entry.
void InitTLSOrExit();

class TSSLSocket : public TSvrSocket {
 public:
  TSSLSocket() = default;
  ~TSSLSocket() override;

  bool Handshake() override;
  bool Prepare() override;
  int WriteBuf(const void* bytes, int length) override;
  int ReadBuf(void* buffer, int size, int flags) override;
  // The request reader's source: a TLS read that gives up when the peer
  // stays silent for the read time-out or the deadline passes, however the
  // peer spreads its bytes. A failure closes the socket.
  int ReadSome(char* buffer, int size, TClock::time_point deadline) override;
  bool IsTLS() const override { return true; }

 private:
  // Runs a TLS call with the socket switched to non-blocking, waiting for
  // the socket between tries: a blocking call would wait the full read
  // time-out again for every byte that trickles in. Gives up when the
  // peer stays silent for the read time-out or the deadline passes.
  int CallBefore(const std::function<int()>& call, std::chrono::steady_clock::time_point deadline);
  // A failed or timed-out TLS call leaves the connection unusable: later
  // calls fail at once instead of waiting on the peer again.
  int Failure(int result, bool writing);

  ssl_st* Ssl = nullptr;
  bool Broken = false;
};
