#include "server/net/XSSL.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "tests/support/TestSupport.h"
#include "tests/tls/TlsTestSupport.h"

namespace {

using namespace std::chrono_literals;

// SetUpTLS takes the program's directory as the system writes it.
std::string SystemDir(const tovktest::TempDir& dir) { return ToSystemPath(dir.Path()) + "\\"; }

// One good pair and one stranger's, made once for the whole suite.
class SetUpTLSTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Keys = new tovktest::TempDir;
    ASSERT_TRUE(tlstest::MakeKeyPair(*Keys / "cert.pem", *Keys / "key.pem"));
    ASSERT_TRUE(tlstest::MakeKeyPair(*Keys / "other-cert.pem", *Keys / "other-key.pem"));
  }
  static void TearDownTestSuite() {
    delete Keys;
    Keys = nullptr;
  }
  static std::string Key(const std::string& name) { return tovktest::ReadFile(*Keys / name); }

  static tovktest::TempDir* Keys;
  tovktest::TempDir Dir;
};

tovktest::TempDir* SetUpTLSTest::Keys = nullptr;

TEST_F(SetUpTLSTest, AGoodPairIsAcceptedWithOrWithoutASeed) {
  tovktest::WriteFile(Dir / "cert.pem", Key("cert.pem"));
  tovktest::WriteFile(Dir / "key.pem", Key("key.pem"));
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), "") << "no seed file";
  tovktest::WriteFile(Dir / ".rnd", std::string(1024, 'r'));
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), "");
}

TEST_F(SetUpTLSTest, AMissingOrBrokenCertificateIsNamedWithItsPath) {
  tovktest::WriteFile(Dir / "key.pem", Key("key.pem"));
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), "Unable to set certificate file " + Dir / "cert.pem");
  tovktest::WriteFile(Dir / "cert.pem", "-----BEGIN CERTIFICATE-----\nnonsense\n");
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), "Unable to set certificate file " + Dir / "cert.pem");
  // The key alone is not a certificate.
  tovktest::WriteFile(Dir / "cert.pem", Key("key.pem"));
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), "Unable to set certificate file " + Dir / "cert.pem");
}

TEST_F(SetUpTLSTest, AMissingUnreadableOrEncryptedKeyIsNamedWithItsPath) {
  const std::string expected = "Unable to set RSA key file " + Dir / "key.pem";
  tovktest::WriteFile(Dir / "cert.pem", Key("cert.pem"));
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), expected) << "missing";
  tovktest::WriteFile(Dir / "key.pem", "not a key at all\n");
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), expected) << "garbage";
  tovktest::WriteFile(Dir / "key.pem", Key("cert.pem"));
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), expected) << "a certificate instead of a key";

  // A key behind a pass phrase is refused at once: a service has nobody to
  // ask for it.
  tovktest::RunResult locked =
      tovktest::Run({"openssl", "pkey", "-in", *Keys / "key.pem", "-aes256", "-passout",
                     "pass:secret", "-out", Dir / "key.pem"});
  ASSERT_EQ(locked.ExitCode, 0) << locked.Err;
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)), expected) << "encrypted";
}

TEST_F(SetUpTLSTest, AKeyOfAnotherCertificateIsAMismatchNotAnUnreadableKey) {
  tovktest::WriteFile(Dir / "cert.pem", Key("cert.pem"));
  tovktest::WriteFile(Dir / "key.pem", Key("other-key.pem"));
  EXPECT_EQ(SetUpTLS(SystemDir(Dir)),
            "Private key does not match the certificate public key " + Dir / "key.pem");
}

TEST_F(SetUpTLSTest, AFailedSetUpKeepsTheContextThatWorks) {
  tovktest::WriteFile(Dir / "cert.pem", Key("cert.pem"));
  tovktest::WriteFile(Dir / "key.pem", Key("key.pem"));
  ASSERT_EQ(SetUpTLS(SystemDir(Dir)), "");
  tovktest::TempDir empty;
  ASSERT_NE(SetUpTLS(SystemDir(empty)), "");

  tlstest::TSocketPair pair;
  std::thread server([&] {
    TSSLSocket socket;
    socket.Attach(pair.Server, true);
    socket.Prepare();
    EXPECT_TRUE(socket.Handshake());
    socket.Close();
  });
  tlstest::TTlsClient client(pair.Client);
  EXPECT_TRUE(client.Handshake());
  server.join();
}

// A server end of a TLS connection on a loopback pair, run in a thread of
// its own, with a client in the test's thread.
class SSLSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);  // as the service does
    ASSERT_TRUE(tlstest::MakeKeyFiles(Keys.Path()));
    ASSERT_EQ(SetUpTLS(SystemDir(Keys)), "");
  }
  void TearDown() override {
    TlsReadTimeoutSeconds = kTlsReadTimeoutSeconds;
    TlsWriteTimeoutSeconds = kTlsWriteTimeoutSeconds;
  }
  tovktest::TempDir Keys;
};

TEST_F(SSLSocketTest, HandshakeReadAndRepliesGoThroughTls) {
  tlstest::TSocketPair pair;
  std::string received;
  bool closedAfterStream = false;
  std::thread server([&] {
    TSSLSocket socket;
    socket.Attach(pair.Server, true);
    ASSERT_TRUE(socket.Prepare());
    ASSERT_TRUE(socket.Handshake());
    received = socket.ReceiveChunk();
    socket.SendLine("first");
    // Two whole blocks: the stream ends with a write of nothing, which
    // closes the socket as on a plain connection.
    TMemoryStream stream(std::string(2048, 's'));
    socket.SendStream(stream);
    closedAfterStream = !socket.Connected;
    socket.Close();
  });
  tlstest::TTlsClient client(pair.Client);
  ASSERT_TRUE(client.Handshake());
  ASSERT_TRUE(client.Send("GET / HTTP/1.0\r\n\r\n"));
  std::string answer = client.ReceiveAll(10s);
  server.join();
  EXPECT_EQ(received, "GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer, "first\r\n" + std::string(2048, 's'));
  EXPECT_TRUE(closedAfterStream);
}

TEST_F(SSLSocketTest, ReadsComeInPiecesOfTheSocketSize) {
  tlstest::TSocketPair pair;
  std::string first, second;
  std::thread server([&] {
    TSSLSocket socket;
    socket.Attach(pair.Server, true);
    socket.Prepare();
    ASSERT_TRUE(socket.Handshake());
    first = socket.ReceiveChunk();
    second = socket.ReceiveChunk();
    socket.Close();
  });
  tlstest::TTlsClient client(pair.Client);
  ASSERT_TRUE(client.Handshake());
  ASSERT_TRUE(client.Send(std::string(300, 'x')));  // one record
  server.join();
  EXPECT_EQ(first.size(), static_cast<std::size_t>(kSocketReadSize));
  EXPECT_EQ(second.size(), 300u - kSocketReadSize);
}

TEST_F(SSLSocketTest, TheCertificateFileMayCarryTheIssuersToo) {
  // A second certificate after the server's own goes out as its chain.
  tovktest::TempDir issuer;
  ASSERT_TRUE(tlstest::MakeKeyPair(issuer / "cert.pem", issuer / "key.pem"));
  tovktest::WriteFile(Keys / "cert.pem", tovktest::ReadFile(Keys / "cert.pem") +
                                             tovktest::ReadFile(issuer / "cert.pem"));
  ASSERT_EQ(SetUpTLS(SystemDir(Keys)), "");
  tlstest::TSocketPair pair;
  std::thread server([&] {
    TSSLSocket socket;
    socket.Attach(pair.Server, true);
    socket.Prepare();
    socket.Handshake();
    socket.Close();
  });
  tlstest::TTlsClient client(pair.Client);
  ASSERT_TRUE(client.Handshake());
  server.join();
  EXPECT_EQ(client.PeerChainLength(), 2);
}

TEST_F(SSLSocketTest, ASilentClientIsCutOffBeforeOrDuringTheHandshake) {
  TlsReadTimeoutSeconds = 1;
  for (const std::string& sent : {std::string(), std::string("\x16\x03\x01\x02\x00", 5)}) {
    tlstest::TSocketPair pair;
    if (!sent.empty()) {
      ASSERT_TRUE(tovktest::SendAll(pair.Client, sent));
    }
    auto handshake = std::async(std::launch::async, [&] {
      TSSLSocket socket;
      socket.Attach(pair.Server, true);
      socket.Prepare();
      bool accepted = socket.Handshake();
      socket.Close();
      return accepted;
    });
    if (handshake.wait_for(20s) != std::future_status::ready) {
      ::shutdown(pair.Client, SHUT_RDWR);  // frees the server before failing
      FAIL() << "the handshake still waits for a silent client (sent " << sent.size()
             << " bytes)";
    }
    EXPECT_FALSE(handshake.get());
    EXPECT_TRUE(pair.ServerClosed(5s));
  }
}

TEST_F(SSLSocketTest, APlainRequestOnTheTlsPortFailsTheHandshake) {
  tlstest::TSocketPair pair;
  ASSERT_TRUE(tovktest::SendAll(pair.Client, "GET / HTTP/1.0\r\n\r\n"));
  auto handshake = std::async(std::launch::async, [&] {
    TSSLSocket socket;
    socket.Attach(pair.Server, true);
    socket.Prepare();
    bool accepted = socket.Handshake();
    // Nothing more goes through a connection whose handshake failed.
    bool wrote = socket.WriteBuf("x", 1) > 0;
    socket.Close();
    return accepted || wrote;
  });
  if (handshake.wait_for(20s) != std::future_status::ready) {
    ::shutdown(pair.Client, SHUT_RDWR);
    FAIL() << "the handshake waits on a client that spoke plain HTTP";
  }
  EXPECT_FALSE(handshake.get());
}

TEST_F(SSLSocketTest, ASilentClientEndsTheReadWithATimeOut) {
  TlsReadTimeoutSeconds = 1;
  tlstest::TSocketPair pair;
  auto read = std::async(std::launch::async, [&] {
    TSSLSocket socket;
    socket.Attach(pair.Server, true);
    socket.Prepare();
    if (!socket.Handshake()) return std::string("no handshake");
    std::string chunk = socket.ReceiveChunk();
    std::string outcome = chunk + (socket.Connected ? " connected" : " closed") + " " +
                          std::to_string(socket.LastError);
    socket.Close();
    return outcome;
  });
  tlstest::TTlsClient client(pair.Client);
  ASSERT_TRUE(client.Handshake());
  if (read.wait_for(20s) != std::future_status::ready) {
    ::shutdown(pair.Client, SHUT_RDWR);
    FAIL() << "the read still waits for a silent client";
  }
  EXPECT_EQ(read.get(), " closed " + std::to_string(WSAETIMEDOUT));
}

TEST_F(SSLSocketTest, AClientThatStopsReadingLosesTheConnectionAfterOneTimeOut) {
  TlsWriteTimeoutSeconds = 1;
  // Small buffers on both ends fill after a few records; the reply is far
  // larger, so that waiting out the time-out once per block would not end.
  tlstest::TSocketPair pair(4096, 4096);
  auto send = std::async(std::launch::async, [&] {
    TSSLSocket socket;
    socket.Attach(pair.Server, true);
    socket.Prepare();
    if (!socket.Handshake()) return std::string("no handshake");
    TMemoryStream stream(std::string(8 << 20, 'b'));
    socket.SendStream(stream);
    std::string outcome = std::string(socket.Connected ? "connected" : "closed") + " " +
                          std::to_string(socket.LastError);
    socket.Close();
    return outcome;
  });
  tlstest::TTlsClient client(pair.Client);
  ASSERT_TRUE(client.Handshake());
  if (send.wait_for(60s) != std::future_status::ready) {
    ::shutdown(pair.Client, SHUT_RDWR);
    FAIL() << "the writer still waits on a client that does not read";
  }
  EXPECT_EQ(send.get(), "closed " + std::to_string(WSAETIMEDOUT));
}

TEST_F(SSLSocketTest, FreeingTheSocketSendsNoCloseNotify) {
  tlstest::TSocketPair pair;
  std::promise<void> freed;
  std::thread server([&] {
    {
      TSSLSocket socket;
      socket.Attach(pair.Server, true);
      socket.Prepare();
      ASSERT_TRUE(socket.Handshake());
      socket.SendString("reply");
      // Freed with the handle still open: anything it sent on the way out
      // would reach the client.
    }
    freed.set_value();
  });
  tlstest::TTlsClient client(pair.Client);
  ASSERT_TRUE(client.Handshake());
  EXPECT_EQ(client.Receive(5, 10s), "reply");
  ASSERT_EQ(freed.get_future().wait_for(20s), std::future_status::ready)
      << "freeing waited for the client";
  server.join();
  pollfd waiting{pair.Client, POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 300), 0) << "the server sent something after the reply";
  ::close(pair.Server);
  client.ReceiveAll(10s);
  EXPECT_FALSE(client.GotCloseNotify);
  EXPECT_FALSE(client.TimedOut);
}

}  // namespace
