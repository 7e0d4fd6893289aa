#include "tests/net/NetTestPair.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace nettest {

TLoopbackPair::TLoopbackPair() {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("loopback listener failed");
  Client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(Client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("loopback connect failed");
  Server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ::close(listener);
  if (Server < 0) throw std::runtime_error("loopback accept failed");
}

TLoopbackPair::~TLoopbackPair() { CloseClient(); }

void TLoopbackPair::CloseClient() {
  if (Client >= 0) ::close(Client);
  Client = -1;
}

std::string TLoopbackPair::ReadSome(int waitMs, std::size_t most) {
  std::string got;
  char buffer[4096];
  while (got.size() < most) {
    pollfd waiting{Client, POLLIN, 0};
    if (::poll(&waiting, 1, waitMs) <= 0) break;
    ssize_t n = ::recv(Client, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

bool TLoopbackPair::ServerClosed(int waitMs) {
  char buffer[4096];
  for (int round = 0; round < 1000; ++round) {
    pollfd waiting{Client, POLLIN, 0};
    if (::poll(&waiting, 1, waitMs) <= 0) return false;
    ssize_t n = ::recv(Client, buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n < 0) return true;  // reset by the closing end
  }
  return false;
}

}  // namespace nettest
