#include "tests/tls/TlsTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "tests/support/TestSupport.h"

namespace tlstest {

namespace {

void SetReceiveTimeout(int fd, std::chrono::milliseconds timeout) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

bool MakeKeyPair(const std::string& certificatePath, const std::string& keyPath) {
  // P-256 keys are made in a moment, unlike RSA ones.
  tovktest::RunResult made = tovktest::Run(
      {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", keyPath, "-out",
       certificatePath});
  return made.ExitCode == 0 && tovktest::PathExists(certificatePath) &&
         tovktest::PathExists(keyPath);
}

bool MakeKeyFiles(const std::string& directory) {
  if (!MakeKeyPair(directory + "/cert.pem", directory + "/key.pem")) return false;
  return tovktest::Run({"openssl", "rand", "-out", directory + "/.rnd", "1024"}).ExitCode == 0;
}

TSocketPair::TSocketPair(int clientReceiveBuffer, int serverSendBuffer) {
  tovktest::ConnectLoopbackPair(Server, Client, clientReceiveBuffer);
  if (serverSendBuffer > 0)
    ::setsockopt(Server, SOL_SOCKET, SO_SNDBUF, &serverSendBuffer, sizeof serverSendBuffer);
}

TSocketPair::~TSocketPair() {
  if (Client >= 0) ::close(Client);
}

bool TSocketPair::ServerClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd waiting{Client, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) return false;
    ssize_t n = ::recv(Client, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0 && errno != EAGAIN) return true;  // reset by the closing end
  }
}

TTlsClient::TTlsClient(int fd) : Fd(fd) {
  Context = SSL_CTX_new(TLS_client_method());
  if (!Context) throw std::runtime_error("no TLS client context");
  SSL_CTX_set_verify(Context, SSL_VERIFY_NONE, nullptr);  // the test keys are self-signed
  Ssl = SSL_new(Context);
  SSL_set_fd(Ssl, Fd);
  SSL_set_tlsext_host_name(Ssl, "localhost");
}

TTlsClient::~TTlsClient() {
  SSL_free(Ssl);
  SSL_CTX_free(Context);
}

bool TTlsClient::Handshake() {
  SetReceiveTimeout(Fd, std::chrono::seconds(20));
  bool done = SSL_connect(Ssl) == 1;
  ERR_clear_error();
  return done;
}

bool TTlsClient::Send(const std::string& bytes) {
  if (bytes.empty()) return true;
  bool sent = SSL_write(Ssl, bytes.data(), static_cast<int>(bytes.size())) ==
              static_cast<int>(bytes.size());
  ERR_clear_error();
  return sent;
}

std::string TTlsClient::ReceiveAll(std::chrono::milliseconds timeout) {
  SetReceiveTimeout(Fd, timeout);
  GotCloseNotify = false;
  TimedOut = false;
  std::string got;
  char buffer[16384];
  // Bounded: each read waits at most `timeout`, and a reply of the tests
  // is far below this many records.
  for (int round = 0; round < 100000; ++round) {
    int n = SSL_read(Ssl, buffer, sizeof buffer);
    if (n > 0) {
      got.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    int error = SSL_get_error(Ssl, n);
    GotCloseNotify = error == SSL_ERROR_ZERO_RETURN;
    TimedOut = error == SSL_ERROR_WANT_READ;
    ERR_clear_error();
    break;
  }
  return got;
}

std::string TTlsClient::Receive(std::size_t count, std::chrono::milliseconds timeout) {
  SetReceiveTimeout(Fd, timeout);
  std::string got;
  char buffer[16384];
  while (got.size() < count) {
    int want = static_cast<int>(std::min(count - got.size(), sizeof buffer));
    int n = SSL_read(Ssl, buffer, want);
    if (n <= 0) {
      ERR_clear_error();
      break;
    }
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

int TTlsClient::PeerChainLength() {
  STACK_OF(X509)* chain = SSL_get_peer_cert_chain(Ssl);
  return chain ? sk_X509_num(chain) : 0;
}

std::string CopyProgram(const std::string& directory) {
  for (const char* name : {"tovksrv", "libtovkmsg.so", "libtovklog.so", "libduravuva.so"}) {
    std::error_code failed;
    std::filesystem::copy_file(tovktest::BinDir() + "/" + name, directory + "/" + name,
                               std::filesystem::copy_options::overwrite_existing, failed);
    if (failed) return {};
  }
  return directory + "/tovksrv";
}

std::string TlsExchange(int port, const std::string& request,
                        std::chrono::milliseconds timeout) {
  int fd = tovktest::ConnectLoopback(port);
  if (fd < 0) return {};
  std::string answer;
  {
    TTlsClient client(fd);
    if (client.Handshake() && client.Send(request)) answer = client.ReceiveAll(timeout);
  }
  ::close(fd);
  return answer;
}

}  // namespace tlstest
