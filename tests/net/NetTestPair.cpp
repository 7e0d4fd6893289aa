#include "tests/net/NetTestPair.h"

#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace nettest {

TLoopbackPair::TLoopbackPair() { tovktest::ConnectLoopbackPair(Server, Client); }

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
