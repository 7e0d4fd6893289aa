#pragma once
// TLS helpers for the tests: key pairs made with the openssl program at test
// time, an OpenSSL client on a connected descriptor, and loopback pairs.

#include <chrono>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

namespace tlstest {

// Writes a fresh self-signed certificate and its unencrypted key (PEM) to
// the two paths; false when the openssl program failed.
bool MakeKeyPair(const std::string& certificatePath, const std::string& keyPath);
// MakeKeyPair plus a random seed, as "cert.pem", "key.pem" and ".rnd" in
// the directory.
bool MakeKeyFiles(const std::string& directory);

// A connected loopback TCP pair. The server end is handed to the code
// under test, which closes it.
struct TSocketPair {
  // Buffer sizes of 0 keep the system's; small ones make a reader that
  // stops reading fill the pipe soon.
  explicit TSocketPair(int clientReceiveBuffer = 0, int serverSendBuffer = 0);
  ~TSocketPair();
  TSocketPair(const TSocketPair&) = delete;
  TSocketPair& operator=(const TSocketPair&) = delete;
  int Client = -1;
  int Server = -1;
  // True when the server end was closed within the time (end of file or reset).
  bool ServerClosed(std::chrono::milliseconds timeout);
};

// The client end of a TLS connection. Does not own the descriptor.
class TTlsClient {
 public:
  explicit TTlsClient(int fd);
  ~TTlsClient();
  TTlsClient(const TTlsClient&) = delete;
  TTlsClient& operator=(const TTlsClient&) = delete;

  bool Handshake();
  bool Send(const std::string& bytes);
  // Reads until the server closes, an error, or `timeout` without data.
  std::string ReceiveAll(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Reads exactly `count` bytes unless the connection ends or stays silent
  // for `timeout` first.
  std::string Receive(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // The number of certificates the server sent in the handshake.
  int PeerChainLength();
  // How the last ReceiveAll ended: the server's close-notify, or the
  // connection going without one.
  bool GotCloseNotify = false;
  bool TimedOut = false;

 private:
  int Fd;
  ssl_ctx_st* Context = nullptr;
  ssl_st* Ssl = nullptr;
};

// Copies tovksrv and its three companion libraries from the build into
// `directory`, so that the program finds its key files there (it looks
// beside its real file, which a symbolic link would not move). Returns the
// program's path, empty when a copy failed.
std::string CopyProgram(const std::string& directory);

// Connects to 127.0.0.1:port, completes a TLS handshake, sends `request`
// and returns everything until the server closes; empty on failure.
std::string TlsExchange(int port, const std::string& request,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace tlstest
