// A whole plain connection: the input is what the client sends before it
// closes its side; the connection thread's body reads the requests, maps
// them onto a small served tree and answers them, all in this process.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "server/net/SvrHttp.h"
#include "server/net/SvrMain.h"
#include "tests/fuzz/FuzzServer.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// More than the socket buffer takes at once would need a writer thread;
// requests of interest are far shorter.
constexpr std::size_t kMaxInput = 64 * 1024;

void SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

std::string ReadToEnd(int fd) {
  std::string all;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return all;
    all.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tovkfuzz::ServedTree();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string input = tovkfuzz::AsText(data, size);
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  SendAll(ends[1], input);
  ::shutdown(ends[1], SHUT_WR);

  std::string answer;
  std::thread reader([&] { answer = ReadToEnd(ends[1]); });
  const uint16_t before = ActiveConnections.load();
  {
    TSvrHttpThread connection(ends[0], false, 1);
    connection.LineTimeoutSeconds = 1;
    connection.BodyIdleSeconds = 1;
    connection.Execute();  // closes the server's end when the connection is over
    FUZZ_CHECK(!connection.Socket, input);
  }
  reader.join();
  ::close(ends[1]);

  FUZZ_CHECK(ActiveConnections.load() == before, input);
  FUZZ_CHECK(answer.empty() || answer.rfind("HTTP/1.0 ", 0) == 0, answer);
  if (!answer.empty()) FUZZ_CHECK(answer.find("\r\n\r\n") != std::string::npos, answer);
  FUZZ_CHECK(!tovkfuzz::ShowsOutsideMark(answer),
             input + "\n--- answer:\n" + answer);
  return 0;
}
