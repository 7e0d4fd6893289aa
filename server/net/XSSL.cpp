#include "server/net/XSSL.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "companion/duravuva/Duravuva.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"

std::atomic<int> TlsReadTimeoutSeconds{kTlsReadTimeoutSeconds};
std::atomic<int> TlsWriteTimeoutSeconds{kTlsWriteTimeoutSeconds};
std::atomic<int> TlsHandshakeTimeoutSeconds{kTlsHandshakeTimeoutSeconds};

namespace {

SSL_CTX* ServerContext = nullptr;  // one per process, never freed

// OpenSSL's memory comes zero-filled, as the library was given it on the
// platform this server comes from. A small header keeps each block's size
// so that a grown block can have its new part zeroed too.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

void* ZeroedAlloc(std::size_t size, const char*, int) {
  if (size == 0) return nullptr;
  auto* base = static_cast<unsigned char*>(std::calloc(1, size + kBlockHeader));
  if (!base) return nullptr;
  std::memcpy(base, &size, sizeof size);
  return base + kBlockHeader;
}

void ZeroedFree(void* block, const char*, int) {
  if (block) std::free(static_cast<unsigned char*>(block) - kBlockHeader);
}

void* ZeroedRealloc(void* block, std::size_t size, const char* file, int line) {
  if (!block) return ZeroedAlloc(size, file, line);
  if (size == 0) {
    ZeroedFree(block, file, line);
    return nullptr;
  }
  auto* base = static_cast<unsigned char*>(block) - kBlockHeader;
  std::size_t old;
  std::memcpy(&old, base, sizeof old);
  auto* grown = static_cast<unsigned char*>(std::realloc(base, size + kBlockHeader));
  if (!grown) return nullptr;
  if (size > old) std::memset(grown + kBlockHeader + old, 0, size - old);
  std::memcpy(grown, &size, sizeof size);
  return grown + kBlockHeader;
}

int AcceptAnyCertificate(int, X509_STORE_CTX*) { return 1; }

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// A service has nobody to type a pass phrase: an encrypted key is refused
// like an unreadable one instead of waiting for an answer at a terminal.
int NoPassPhrase(char*, int, int, void*) { return 0; }

EVP_PKEY* ReadPrivateKey(const std::string& path) {
  BIO* file = BIO_new_file(path.c_str(), "r");
  if (!file) return nullptr;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(file, nullptr, NoPassPhrase, nullptr);
  BIO_free(file);
  return key;
}

void SetTimeout(int handle, int option, int seconds) {
  timeval limit{};
  limit.tv_sec = seconds;
  setsockopt(handle, SOL_SOCKET, option, &limit, sizeof limit);
}

// Switches a descriptor to non-blocking for the life of the object. The
// errno of the TLS call made meanwhile survives the switch back.
class TNonBlockingHandle {
 public:
  explicit TNonBlockingHandle(int handle) : Handle(handle), Flags(::fcntl(handle, F_GETFL)) {
    if (Flags != -1) ::fcntl(Handle, F_SETFL, Flags | O_NONBLOCK);
  }
  ~TNonBlockingHandle() {
    const int saved = errno;
    if (Flags != -1) ::fcntl(Handle, F_SETFL, Flags);
    errno = saved;
  }
  TNonBlockingHandle(const TNonBlockingHandle&) = delete;
  TNonBlockingHandle& operator=(const TNonBlockingHandle&) = delete;

 private:
  int Handle;
  int Flags;
};

}  // namespace

std::string SetUpTLS(const std::string& programDirectory) {
  static bool memorySet = false;
  if (!memorySet) {
    // Refused once OpenSSL has allocated anything; then it keeps its own.
    CRYPTO_set_mem_functions(ZeroedAlloc, ZeroedRealloc, ZeroedFree);
    memorySet = true;
  }
  // The library locks for itself since version 1.1: it takes no locking
  // callback, so the server creates no locks for it.
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);

  std::string directory = ToLinuxPath(programDirectory);
  std::string seed = directory + ".rnd";
  std::string certificate = directory + "cert.pem";
  std::string keyFile = directory + "key.pem";

  RAND_load_file(seed.c_str(), kRandomSeedMaxBytes);  // a missing seed is not an error here

  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) return "Unable to create the TLS context";

  // The file may go on with the certificates of the issuing authorities, in
  // PEM form, which clients need to trust a certificate that is not
  // self-signed; they are sent along in the handshake.
  if (SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) <= 0) {
    SSL_CTX_free(context);
    return "Unable to set certificate file " + certificate;
  }
  // The library refuses a key that does not belong to the certificate while
  // loading it, which would hide the mismatch behind the load failure; the
  // key is read and compared first so that each case keeps its own message.
  std::unique_ptr<EVP_PKEY, PkeyFree> key(ReadPrivateKey(keyFile));
  if (!key) {
    SSL_CTX_free(context);
    return "Unable to set RSA key file " + keyFile;
  }
  X509* cert = SSL_CTX_get0_certificate(context);
  if (EVP_PKEY* publicKey = X509_get_pubkey(cert)) {
    EVP_PKEY_copy_parameters(publicKey, key.get());
    EVP_PKEY_free(publicKey);
  }
  if (X509_check_private_key(cert, key.get()) != 1) {
    SSL_CTX_free(context);
    return "Private key does not match the certificate public key " + keyFile;
  }
  if (SSL_CTX_use_PrivateKey(context, key.get()) <= 0) {
    SSL_CTX_free(context);
    return "Unable to set RSA key file " + keyFile;
  }
  if (!SSL_CTX_check_private_key(context)) {
    SSL_CTX_free(context);
    return "Private key does not match the certificate public key " + keyFile;
  }
  // No temporary RSA keys: the ciphers that asked for them are gone.
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, AcceptAnyCertificate);
  ERR_clear_error();

  if (ServerContext) SSL_CTX_free(ServerContext);
  ServerContext = context;
  return {};
}

void InitTLSOrExit() {
  std::string failure = SetUpTLS(ProgramDirectory());
  if (failure.empty()) return;
  ShowServerMessage("tovk", failure);  // before the entry names the service
  std::exit(1);
}

TSSLSocket::~TSSLSocket() {
  if (Ssl) {
    // Shut down both ways without a close-notify exchange, so a peer that
    // never sends one does not hold the connection.
    SSL_set_shutdown_hook(Ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    SSL_free(Ssl);
  }
}

bool TSSLSocket::Prepare() {
  if (!ServerContext) return true;  // Handshake then fails
  Ssl = SSL_new(ServerContext);
  if (Ssl) SSL_set_fd(Ssl, Handle);
  // Blocking reads and writes with time-outs: the handshake and every read
  // give up on a peer that stays silent, every write on one that stops
  // reading.
  SetTimeout(Handle, SO_RCVTIMEO, TlsReadTimeoutSeconds.load());
  SetTimeout(Handle, SO_SNDTIMEO, TlsWriteTimeoutSeconds.load());
  return true;
}

bool TSSLSocket::Handshake() {
  if (!Ssl) return false;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(TlsHandshakeTimeoutSeconds.load());
  bool accepted = CallBefore([this] { return SSL_accept(Ssl); }, deadline) > 0;
  ERR_clear_error();
  if (!accepted) Broken = true;
  return accepted;
}

int TSSLSocket::CallBefore(const std::function<int()>& call,
                           std::chrono::steady_clock::time_point deadline) {
  TNonBlockingHandle nonBlocking(Handle);
  for (;;) {
    const int result = call();
    if (result > 0) return result;
    const int error = SSL_get_error(Ssl, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
      return Failure(result, false);
    ERR_clear_error();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const long long idleMs = TlsReadTimeoutSeconds.load() * 1000LL;
    int ready = 0;
    if (left.count() > 0) {
      pollfd waiting{Handle, static_cast<short>(error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT),
                     0};
      ready = ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left.count(), idleMs)));
      if (ready == -1 && errno == EINTR) continue;
    }
    if (ready <= 0) {
      // Silent too long, or out of time: the connection is given up.
      Broken = true;
      errno = ready == 0 ? ETIMEDOUT : errno;
      return -1;
    }
  }
}

int TSSLSocket::Failure(int result, bool writing) {
  const int error = SSL_get_error(Ssl, result);
  const int savedErrno = errno;
  ERR_clear_error();
  if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && !Blocking) {
    errno = EAGAIN;  // the caller waits and calls again with the same bytes
    return -1;
  }
  // Anything else leaves the connection object unusable. A time-out in
  // particular must not be retried: OpenSSL would resend the unsent record
  // and wait out the whole time-out again for every block of a reply.
  Broken = true;
  switch (error) {
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      // A blocking socket only asks to be called again when its time-out
      // ran out. A write reports it as would-block, which the socket layer
      // takes on a blocking socket for a send time-out and answers by
      // closing; a read reports the time-out itself.
      errno = writing ? EAGAIN : ETIMEDOUT;
      return -1;
    case SSL_ERROR_SYSCALL:
      if (savedErrno == 0) return 0;  // the peer went without a close-notify
      errno = savedErrno == EAGAIN ? (writing ? EAGAIN : ETIMEDOUT) : savedErrno;
      return -1;
    default:
      errno = ECONNRESET;
      return -1;
  }
}

int TSSLSocket::WriteBuf(const void* bytes, int length) {
  if (!Ssl || Broken) {
    errno = Ssl ? ECONNRESET : ENOTCONN;
    return -1;
  }
  if (length == 0) return 0;  // as a plain send of nothing
  int written = SSL_write(Ssl, bytes, length);
  return written > 0 ? written : Failure(written, true);
}

int TSSLSocket::ReadBuf(void* buffer, int size, int) {
  if (!Ssl || Broken) {
    errno = Ssl ? ECONNRESET : ENOTCONN;
    return -1;
  }
  int read = SSL_read(Ssl, buffer, size);
  return read > 0 ? read : Failure(read, false);
}

int TSSLSocket::ReadSome(char* buffer, int size, TClock::time_point deadline) {
  if (!Connected) return 0;
  int read = -1;
  if (Ssl && !Broken) read = CallBefore([&] { return SSL_read(Ssl, buffer, size); }, deadline);
  LastResult = read;
  if (read > 0) return read;
  LastError = read == -1 ? WinSockErrorFromErrno(errno) : 0;
  // Nothing more can be read from a connection whose TLS read failed.
  Close();
  return 0;
}
