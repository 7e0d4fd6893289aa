// A whole plain connection: the input is what the client sends before it
// closes its side; the connection thread's body reads the requests, maps
// them onto a small served tree and answers them, all in this process.
// The same input then goes through the reader as a TLS connection uses
// it, which carries one request.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
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

// A control byte other than a tab in the first line makes the request one
// that is refused (400) or not answered at all (the line never ends, or is
// too long to be read); `end` is what ends a line for the reader.
bool FirstLineIsForbidden(const std::string& input, const std::string& end) {
  const std::size_t stop = input.find(end);
  if (stop == std::string::npos) return false;
  for (std::size_t i = 0; i < stop; ++i) {
    const unsigned char c = static_cast<unsigned char>(input[i]);
    if ((c < 32 && c != '\t') || c == 127) return true;
  }
  return false;
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

// Runs one connection over a socket pair fed with the input; what the
// client received.
template <typename Serve>
std::string Exchange(const std::string& input, Serve serve) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return std::string();
  SendAll(ends[1], input);
  ::shutdown(ends[1], SHUT_WR);
  std::string answer;
  std::thread reader([&] { answer = ReadToEnd(ends[1]); });
  serve(ends[0]);
  reader.join();
  ::close(ends[1]);
  return answer;
}

void CheckAnswer(const std::string& input, const std::string& answer, const char* lineEnd) {
  FUZZ_CHECK(answer.empty() || answer.rfind("HTTP/1.0 ", 0) == 0, answer);
  if (!answer.empty()) FUZZ_CHECK(answer.find("\r\n\r\n") != std::string::npos, answer);
  FUZZ_CHECK(!tovkfuzz::ShowsOutsideMark(answer), input + "\n--- answer:\n" + answer);
  if (FirstLineIsForbidden(input, lineEnd))
    FUZZ_CHECK(answer.empty() || answer.rfind("HTTP/1.0 400", 0) == 0,
               input + "\n--- answer:\n" + answer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tovkfuzz::ServedTree();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string input = tovkfuzz::AsText(data, size);
  const uint16_t before = ActiveConnections.load();
  const long long heldBefore = RequestBodyBytesHeld.load();

  std::string answer = Exchange(input, [&](int handle) {
    TSvrHttpThread connection(handle, false, 1);
    connection.LineTimeoutSeconds = 1;
    connection.BodyIdleSeconds = 1;
    connection.HeadTimeoutSeconds = 2;
    connection.Execute();  // closes the server's end when the connection is over
    FUZZ_CHECK(!connection.Socket, input);
  });
  FUZZ_CHECK(ActiveConnections.load() == before, input);
  CheckAnswer(input, answer, "\r\n");

  // The reader works on any socket; a plain one shows what a TLS
  // connection makes of the same bytes. It carries one request.
  answer = Exchange(input, [&](int handle) {
    TSvrHttpThread connection(handle, true, 2);
    connection.HeadTimeoutSeconds = 2;
    connection.Socket = std::make_unique<TSvrSocket>();
    connection.Socket->Attach(handle, true);
    if (connection.ReadRequestTLS()) connection.HandleRequest();
    connection.Socket->Close();
    --ActiveConnections;  // Execute, which would lower it, does not run here
  });
  FUZZ_CHECK(ActiveConnections.load() == before, input);
  CheckAnswer(input, answer, "\r");
  FUZZ_CHECK(RequestBodyBytesHeld.load() == heldBefore, input);
  return 0;
}
