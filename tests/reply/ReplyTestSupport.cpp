#include "tests/reply/ReplyTestSupport.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "platform/Paths.h"
#include "server/reply/SvrSetupHolder.h"
#include "platform/Registry.h"

namespace replytest {

namespace {

// Before the first registry use (static initialisation runs before main):
// a registry of our own, and a zone without offsets for the date stamps.
struct TEnvironment {
  tovktest::TempDir Root;
  TEnvironment() {
    setenv("TOVK_REGISTRY", (Root / "registry.db").c_str(), 1);
    setenv("TZ", "UTC", 1);
  }
};
TEnvironment& Environment() {
  static TEnvironment environment;
  return environment;
}
[[maybe_unused]] const bool kEnvironmentReady = (Environment(), true);

}  // namespace

void DeleteConfig() { RegDeleteTree(HKEY_LOCAL_MACHINE, reg::kServerKey); }

void WriteConfig(const std::map<std::string, TValue>& values) {
  DeleteConfig();
  TNTRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  if (!registry.OpenKey(reg::kServerKey, true)) throw std::runtime_error("cannot create the key");
  for (const auto& [name, value] : values) {
    if (std::holds_alternative<std::string>(value))
      registry.WriteString(name, std::get<std::string>(value));
    else
      registry.WriteInteger(name, std::get<int32_t>(value));
  }
  registry.CloseKey();
}

std::string Sys(const std::string& linuxPath) { return ToSystemPath(linuxPath); }

TConnection::TConnection(const std::string& requestLine) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) throw std::runtime_error("socketpair");
  Socket.Attach(pair[0], true);
  Peer = pair[1];
  Header.RequestLine = requestLine;
}

TConnection::~TConnection() {
  Socket.Close();
  if (Peer >= 0) close(Peer);
}

TReplyContext TConnection::Context(bool isTLS) {
  Requests.push_back(TRequest::FromHeader(Header, Body, Socket.PeerAddress(), isTLS));
  return TReplyContext{Requests.back(), Socket, Settings()};
}

std::string TConnection::Sent() {
  Socket.Close();
  std::string all;
  char buffer[4096];
  for (int rounds = 0; rounds < 10000; ++rounds) {
    pollfd p{Peer, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    ssize_t n = read(Peer, buffer, sizeof buffer);
    if (n <= 0) break;
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

std::string HeadOf(const std::string& response) {
  std::size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? response : response.substr(0, end + 2);
}

std::string BodyOf(const std::string& response) {
  std::size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? "" : response.substr(end + 4);
}

}  // namespace replytest
