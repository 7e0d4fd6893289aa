// The real tovksrv with TLS switched on, talked to with curl, openssl
// s_client and raw connections. HTTPS always listens on port 443, so these
// tests need root, a free port 443, and run one at a time (the CTest
// resource lock port443).

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "server/shell/MsgCat.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/tls/TlsTestSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kTlsPort = 443;

bool Port443Free() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kTlsPort);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return free;
}

// True when the peer has closed the connection (end of file or reset);
// false while it stays open and silent.
bool PeerClosed(int fd) {
  pollfd waiting{fd, POLLIN, 0};
  if (::poll(&waiting, 1, 0) <= 0) return false;
  char byte;
  ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
  return n == 0 || (n < 0 && errno != EAGAIN);
}

// curl over HTTPS to localhost, certificate not checked (it is the build's
// self-signed one); the body, then a line with the status code.
tovktest::RunResult Curl(const std::string& url) {
  return tovktest::Run({"curl", "-4", "-k", "-s", "-S", "--max-time", "20", "-o", "-", "-w",
                        "\n%{http_code}", url});
}

std::string StatusOf(const tovktest::RunResult& curl) {
  std::size_t end = curl.Out.rfind('\n');
  return end == std::string::npos ? std::string() : curl.Out.substr(end + 1);
}

// A copy of tovksrv run as a service, as ServerProcess runs the built one,
// with the registry and directories of a ServerProcess that is not started.
class TCopiedServer {
 public:
  TCopiedServer(tovktest::ServerProcess& config, std::string program)
      : Config(config), Program(std::move(program)) {}
  ~TCopiedServer() { Stop(); }

  bool Start() {
    std::map<std::string, std::string> env = Config.Env;
    env["TOVK_REGISTRY"] = Config.RegistryPath();
    env["NOTIFY_SOCKET"] = Manager.Address();
    Child = tovktest::SpawnWithOutput({Program}, env, Config.Dir() / "copy.out");
    if (Child < 0) return false;
    return Manager.WaitForLine("READY=1", 20s);
  }

  int Stop() {
    if (Child <= 0) return -1;
    ::kill(Child, SIGTERM);
    int status = 0;
    for (int round = 0; round < 1000; ++round) {  // 20 s
      if (waitpid(Child, &status, WNOHANG) == Child) {
        Child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    ::kill(Child, SIGKILL);
    waitpid(Child, &status, 0);
    Child = -1;
    return 128 + SIGKILL;
  }

 private:
  tovktest::ServerProcess& Config;
  std::string Program;
  tovktest::NotifySocket Manager;
  pid_t Child = -1;
};

class TlsServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "HTTPS listens on port 443, which needs root";
    if (!Port443Free()) GTEST_SKIP() << "port 443 is taken";
    // The document root asks for TLS; its "open" directory is for plain
    // connections only.
    const std::string www = Server.DocRoot();
    tovktest::MakeDirs(www + "/open");
    tovktest::WriteFile(www + "/http.aut", "[ostatni]\r\nisSSL=1\r\n");
    tovktest::WriteFile(www + "/index.html", "<p>over TLS</p>");
    tovktest::WriteFile(www + "/open/index.html", "<p>plain</p>");
    const std::string tlsAlias = "* (HTTPS),/," + tovktest::ServerProcess::SystemPath(www) + "\\";
    ASSERT_TRUE(Server.ImportReg(Server.BaseConfig() +
                                 "\"SSLon\"=dword:00000001\n"
                                 "\"Alias num\"=dword:00000002\n"
                                 "\"Alias 2\"=\"" +
                                 tovktest::ServerProcess::RegEscape(tlsAlias) + "\"\n"))
        << Server.LastToolOutput;
  }

  tovktest::ServerProcess Server;
};

TEST_F(TlsServer, ServesHttpsWhereTheDirectoryAsksForIt) {
  ASSERT_TRUE(Server.Start()) << Server.Output();
  ASSERT_TRUE(tovktest::WaitForPort(kTlsPort)) << "nothing listens on 443\n" << Server.ErrorLog();

  tovktest::RunResult page = Curl("https://localhost/");
  EXPECT_EQ(StatusOf(page), "200") << page.Out << page.Err;
  EXPECT_NE(page.Out.find("<p>over TLS</p>"), std::string::npos) << page.Out;

  tovktest::RunResult open = Curl("https://localhost/open/");
  EXPECT_EQ(StatusOf(open), "403") << open.Out << open.Err;

  // Over plain HTTP it is the other way round.
  std::string plain = tovktest::HttpExchange(Server.Port(), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(plain.rfind("HTTP/1.0 403", 0), 0u) << plain;
  plain = tovktest::HttpExchange(Server.Port(), "GET /open/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(plain.rfind("HTTP/1.0 200", 0), 0u) << plain;

  tovktest::RunResult handshake = tovktest::Run(
      {"openssl", "s_client", "-connect", "127.0.0.1:443", "-brief"}, {}, "", 20s);
  EXPECT_EQ(handshake.ExitCode, 0) << handshake.Out << handshake.Err;
  EXPECT_NE((handshake.Out + handshake.Err).find("CONNECTION ESTABLISHED"), std::string::npos)
      << handshake.Out << handshake.Err;

  EXPECT_TRUE(tovktest::ServerProcess::WaitForText(Server.LogDir() + "/access.log",
                                                    "\"GET /open/ HTTP/1.1\" 403"))
      << Server.AccessLog();
  EXPECT_NE(Server.ErrorLog().find(GetMsg(31)), std::string::npos) << Server.ErrorLog();
  EXPECT_EQ(Server.Stop(), 0);
}

TEST_F(TlsServer, SilentClientsAreCutOffAndDoNotHoldUpOthers) {
  constexpr int kSilentClients = 50;
  ASSERT_TRUE(Server.Start()) << Server.Output();
  ASSERT_TRUE(tovktest::WaitForPort(kTlsPort)) << Server.ErrorLog();

  const auto connected = Clock::now();
  std::vector<int> silent;
  for (int i = 0; i < kSilentClients; ++i) {
    int fd = tovktest::ConnectLoopback(kTlsPort);
    ASSERT_GE(fd, 0) << "connection " << i;
    silent.push_back(fd);
  }
  struct CloseAll {
    std::vector<int>& Fds;
    ~CloseAll() {
      for (int fd : Fds) ::close(fd);
    }
  } closeAll{silent};

  // While they hang on, others are served over both listeners.
  tovktest::RunResult page = Curl("https://localhost/");
  EXPECT_EQ(StatusOf(page), "200") << page.Out << page.Err;
  std::string plain = tovktest::HttpExchange(Server.Port(), "GET /open/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(plain.rfind("HTTP/1.0 200", 0), 0u) << plain;
  std::string overTls = tlstest::TlsExchange(kTlsPort, "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(overTls.rfind("HTTP/1.0 200", 0), 0u) << overTls;

  // Not dropped at once: they are given the read time-out...
  std::this_thread::sleep_until(connected + 5s);
  int closedEarly = 0;
  for (int fd : silent) closedEarly += PeerClosed(fd) ? 1 : 0;
  EXPECT_EQ(closedEarly, 0) << "silent clients dropped before their time-out";

  // ...and cut off when it has run out (15 seconds).
  const auto deadline = connected + 45s;
  int closed = 0;
  while (Clock::now() < deadline) {
    closed = 0;
    for (int fd : silent) closed += PeerClosed(fd) ? 1 : 0;
    if (closed == kSilentClients) break;
    std::this_thread::sleep_for(200ms);
  }
  EXPECT_EQ(closed, kSilentClients) << "silent clients still connected after 45 s";
  EXPECT_NE(Server.ErrorLog().find("127.0.0.1" + GetMsg(16)), std::string::npos)
      << Server.ErrorLog();

  page = Curl("https://localhost/");
  EXPECT_EQ(StatusOf(page), "200") << page.Out << page.Err;
  EXPECT_EQ(Server.Stop(), 0);
}

TEST_F(TlsServer, WithoutTheSeedFileTlsIsSwitchedOffAndReported) {
  tovktest::TempDir programDir;
  std::string program = tlstest::CopyProgram(programDir.Path());
  ASSERT_FALSE(program.empty());
  // Usable keys, so the program starts; only ".rnd" is missing.
  ASSERT_TRUE(tlstest::MakeKeyPair(programDir / "cert.pem", programDir / "key.pem"));
  TCopiedServer copy(Server, program);
  ASSERT_TRUE(copy.Start()) << tovktest::ReadFile(Server.Dir() / "copy.out");
  ASSERT_TRUE(tovktest::WaitForPort(Server.Port())) << Server.ErrorLog();
  // Both listeners would have started together: once the plain one says
  // so, a TLS one would have too.
  ASSERT_TRUE(tovktest::ServerProcess::WaitForText(Server.LogDir() + "/error.log", GetMsg(32)))
      << Server.ErrorLog();
  std::this_thread::sleep_for(500ms);

  EXPECT_NE(Server.ErrorLog().find(GetMsg(12)), std::string::npos) << Server.ErrorLog();
  EXPECT_EQ(Server.ErrorLog().find(GetMsg(31)), std::string::npos) << Server.ErrorLog();
  EXPECT_LT(tovktest::ConnectLoopback(kTlsPort), 0) << "something listens on 443";
  std::string plain = tovktest::HttpExchange(Server.Port(), "GET /open/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(plain.rfind("HTTP/1.0 200", 0), 0u) << plain;
  EXPECT_EQ(copy.Stop(), 0);
}

}  // namespace
