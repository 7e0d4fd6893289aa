#include "server/net/SvrSock.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/FileRead.h"
#include "tests/net/NetTestPair.h"
#include "tests/support/TestSupport.h"

namespace {

using nettest::TLoopbackPair;

// The accepted end wrapped as the connection thread wraps it.
struct TAttached {
  TLoopbackPair Pair;
  TSvrSocket Socket;
  TAttached() { Socket.Attach(Pair.Server, true); }
  ~TAttached() { Socket.Close(); }
  void Send(const std::string& bytes) { ASSERT_TRUE(tovktest::SendAll(Pair.Client, bytes)); }
};

TEST(SvrSockReadLine, CompleteLinesComeOneByOne) {
  TAttached c;
  c.Send("GET / HTTP/1.0\r\nHost: a\r\n\r\n");
  std::string line;
  ASSERT_TRUE(c.Socket.ReadLine(line, 2));
  EXPECT_EQ(line, "GET / HTTP/1.0");
  ASSERT_TRUE(c.Socket.ReadLine(line, 2));
  EXPECT_EQ(line, "Host: a");
  ASSERT_TRUE(c.Socket.ReadLine(line, 2)) << "the empty line is a complete line";
  EXPECT_EQ(line, "");
  EXPECT_TRUE(c.Socket.Blocking) << "ReadLine restores blocking mode";
}

TEST(SvrSockReadLine, LoneLineFeedIsNoLineEnd) {
  TAttached c;
  c.Send("abc\ndef\r\n");
  std::string line;
  ASSERT_TRUE(c.Socket.ReadLine(line, 2));
  EXPECT_EQ(line, "abc\ndef");
}

TEST(SvrSockReadLine, LineArrivingInPiecesIsJoined) {
  TAttached c;
  c.Send("Us");
  std::string part;
  EXPECT_FALSE(c.Socket.ReadLinePart(part)) << "a part without CR LF is not a line";
  EXPECT_EQ(part, "Us");
  c.Send("er-Agent: x\r");
  c.Send("\nNext: y\r\n");
  std::string line;
  ASSERT_TRUE(c.Socket.ReadLine(line, 2));
  EXPECT_EQ(line, "er-Agent: x") << "a CR at the end of one piece and its LF in the next end the line";
  ASSERT_TRUE(c.Socket.ReadLine(line, 2));
  EXPECT_EQ(line, "Next: y");
}

TEST(SvrSockReadLine, IncompleteLineTimesOutAndKeepsTheSocket) {
  TAttached c;
  c.Send("no end");
  std::string line;
  EXPECT_FALSE(c.Socket.ReadLine(line, 1));
  EXPECT_TRUE(c.Socket.Connected);
  EXPECT_TRUE(c.Socket.Blocking);
}

TEST(SvrSockReadLine, PeerCloseEndsAtOnceAndClosesTheSocket) {
  TAttached c;
  c.Send("half");
  c.Pair.CloseClient();
  std::string line;
  EXPECT_FALSE(c.Socket.ReadLine(line, 15));
  // A time-out would have left the socket open; the close is what ended it.
  EXPECT_FALSE(c.Socket.Connected);
  EXPECT_EQ(c.Socket.Handle, -1);
}

// One byte per attempt until the CR LF comes into the 250-byte window: with
// ten attempts per second a line of L characters needs L - 247 attempts.
TEST(SvrSockReadLine, LongLineBoundaryFollowsTheTimeOut) {
  struct Case {
    int Seconds;
    std::size_t Length;
    bool Read;
  };
  for (const Case& k : {Case{15, 397, true}, Case{15, 398, false}, Case{1, 257, true},
                        Case{1, 258, false}}) {
    TAttached c;
    c.Send(std::string(k.Length, 'x') + "\r\n");
    std::string line;
    bool read = c.Socket.ReadLine(line, k.Seconds);
    EXPECT_EQ(read, k.Read) << k.Length << " characters with " << k.Seconds << " s";
    if (k.Read) {
      EXPECT_EQ(line.size(), k.Length);
    }
  }
}

TEST(SvrSockReceiveChunk, AtMost250BytesAndEmptyAtClose) {
  TAttached c;
  c.Send(std::string(600, 'b'));
  std::string got;
  for (int i = 0; i < 100 && got.size() < 600; ++i) {
    std::string chunk = c.Socket.ReceiveChunk();
    ASSERT_LE(chunk.size(), 250u);
    ASSERT_FALSE(chunk.empty());
    got += chunk;
  }
  EXPECT_EQ(got, std::string(600, 'b'));
  c.Pair.CloseClient();
  EXPECT_EQ(c.Socket.ReceiveChunk(), "");
  EXPECT_FALSE(c.Socket.Connected);
}

TEST(SvrSockSend, StreamOfExactly1024BytesEndsWithTheClosingEmptyWrite) {
  TAttached c;
  TMemoryStream stream(std::string(1024, 's'));
  c.Socket.SendStream(stream);
  EXPECT_FALSE(c.Socket.Connected) << "the zero-byte final write closes the socket";
  EXPECT_EQ(c.Pair.ReadSome(2000), std::string(1024, 's'));
  EXPECT_TRUE(c.Pair.ServerClosed(2000));

  // Bytes the client sent and nobody read (a line end after a body) are
  // drained before that close, which would otherwise end in a reset.
  TAttached late;
  late.Send("\r\n");
  TMemoryStream again(std::string(2048, 't'));
  late.Socket.SendStream(again);
  EXPECT_FALSE(late.Socket.Connected);
  std::string answer;
  int endError = -1;
  char piece[4096];
  for (int reads = 0; reads < 100; ++reads) {
    const ssize_t got = ::recv(late.Pair.Client, piece, sizeof piece, 0);
    if (got <= 0) {
      endError = got == 0 ? 0 : errno;
      break;
    }
    answer.append(piece, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(answer, std::string(2048, 't'));
  EXPECT_EQ(endError, 0) << "the connection ended in a reset: " << std::strerror(endError);
}

TEST(SvrSockSend, StreamOfOtherLengthsLeavesTheSocketOpen) {
  TAttached c;
  std::string bytes(2500, 'q');
  bytes[0] = 'a';
  bytes[2499] = 'z';
  TMemoryStream stream(bytes);
  c.Socket.SendStream(stream);
  EXPECT_TRUE(c.Socket.Connected);
  EXPECT_EQ(c.Pair.ReadSome(500, bytes.size()), bytes);
}

TEST(SvrSockSend, EmptyStringClosesAndLineAddsCrLf) {
  TAttached c;
  c.Socket.SendLine("hello");
  EXPECT_EQ(c.Pair.ReadSome(500, 7), "hello\r\n");
  c.Socket.SendString("");
  EXPECT_FALSE(c.Socket.Connected);
  c.Socket.SendString("after");  // no socket: nothing happens
  EXPECT_TRUE(c.Pair.ServerClosed(2000));
}

TEST(SvrSockSend, FileGoesWholeAndMissingFileSendsNothing) {
  tovktest::TempDir dir;
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(i % 251);
  tovktest::WriteFile(dir / "f.bin", bytes);
  TAttached c;
  c.Socket.SendFile(dir / "missing.bin");
  c.Socket.SendFile(dir / "f.bin");
  EXPECT_TRUE(c.Socket.Connected);
  EXPECT_EQ(c.Pair.ReadSome(500, bytes.size()), bytes);
}

TEST(SvrSockSend, HeldReplyKeepsItsBytesAndItsEnd) {
  tovktest::TempDir dir;
  std::string bytes;
  for (int i = 0; i < 100003; ++i) bytes += static_cast<char>(i % 253);
  tovktest::WriteFile(dir / "big.bin", bytes);
  // A header gathered, then a file too large to gather: both, in order.
  TAttached c;
  c.Socket.HoldWrites();
  c.Socket.SendString("head\r\n");
  TReadOnlyFile file;
  ASSERT_TRUE(file.Open(dir / "big.bin"));
  c.Socket.SendFile(file, static_cast<int64_t>(bytes.size()));
  c.Socket.Flush();
  EXPECT_TRUE(c.Socket.Connected);
  EXPECT_EQ(c.Pair.ReadSome(2000, bytes.size() + 6), "head\r\n" + bytes);

  // A file shorter than announced: what it has, then the connection's end.
  TAttached shorter;
  TReadOnlyFile again;
  ASSERT_TRUE(again.Open(dir / "big.bin"));
  shorter.Socket.SendFile(again, static_cast<int64_t>(bytes.size()) + 10);
  EXPECT_FALSE(shorter.Socket.Connected);
  EXPECT_EQ(shorter.Pair.ReadSome(2000, bytes.size() + 10), bytes);

  // A gathered stream of whole blocks still ends with the close.
  TAttached stream;
  TMemoryStream block(std::string(1024, 's'));
  stream.Socket.HoldWrites();
  stream.Socket.SendString("h");
  stream.Socket.SendStream(block);
  EXPECT_FALSE(stream.Socket.Connected);
  EXPECT_EQ(stream.Pair.ReadSome(2000, 2000), "h" + std::string(1024, 's'));
}

TEST(SvrSockSend, WriteToGonePeerReportsAnErrorWithoutSignal) {
  TAttached c;
  c.Pair.CloseClient();
  // Without MSG_NOSIGNAL the second write would end the test process.
  for (int i = 0; i < 5 && c.Socket.Connected; ++i) c.Socket.SendString(std::string(1000, 'x'));
  EXPECT_TRUE(c.Socket.LastError == WSAECONNRESET || c.Socket.LastError == 10058)
      << "got " << c.Socket.LastError;
}

TEST(SvrSockPeer, AddressOfLoopbackAndOfNoPeer) {
  TAttached c;
  EXPECT_EQ(c.Socket.PeerAddress(), "127.0.0.1");
  TSvrSocket unconnected;
  EXPECT_EQ(unconnected.PeerAddress(), "?.?.?.?");
  int lone = ::socket(AF_INET, SOCK_STREAM, 0);
  TSvrSocket notConnected;
  notConnected.Attach(lone, true);
  EXPECT_EQ(notConnected.PeerAddress(), "?.?.?.?");
  notConnected.Close();
}

TEST(SvrSockListen, ListensAcceptsAndRefusesAPortInUse) {
  int port = tovktest::FreePort();
  TSvrSocket listener;
  listener.Listen(port);
  ASSERT_TRUE(listener.Connected) << listener.ErrorText();
  EXPECT_NE(::fcntl(listener.Handle, F_GETFD) & FD_CLOEXEC, 0) << "CGI children must not inherit it";

  TSvrSocket second;
  second.Listen(port);
  EXPECT_FALSE(second.Connected);
  EXPECT_EQ(second.LastError, WSAEADDRINUSE);
  EXPECT_EQ(second.ErrorText(), "Address already in use");

  int client = tovktest::ConnectLoopback(port);
  ASSERT_GE(client, 0);
  int accepted = listener.Accept();
  ASSERT_GE(accepted, 0);
  EXPECT_NE(::fcntl(accepted, F_GETFD) & FD_CLOEXEC, 0);
  ::close(accepted);
  ::close(client);

  // What StopListeners does to wake the accept: it fails, it does not block.
  ::shutdown(listener.Handle, SHUT_RDWR);
  EXPECT_EQ(listener.Accept(), -1);
  listener.Close();
  EXPECT_EQ(listener.Handle, -1);
}

TEST(SvrSockListen, BindNeedsASocket) {
  TSvrSocket none;
  EXPECT_FALSE(none.Bind(tovktest::FreePort()));
}

TEST(SvrSockErrors, TextsAndErrnoMapping) {
  EXPECT_EQ(WinSockErrorText(10004), "Interrupted system call");
  EXPECT_EQ(WinSockErrorText(10035), "Operation would block");
  EXPECT_EQ(WinSockErrorText(10059), "Too many references:can't splice");
  EXPECT_EQ(WinSockErrorText(10092), "Winsock DLL cannot support this application");
  EXPECT_EQ(WinSockErrorText(11004), "Valid name, no data record of requested type");
  EXPECT_EQ(WinSockErrorText(0), "Not a Winsock error");
  EXPECT_EQ(WinSockErrorText(10072), "Not a Winsock error");

  EXPECT_EQ(WinSockErrorFromErrno(EINTR), 10004);
  EXPECT_EQ(WinSockErrorFromErrno(EBADF), 10009);
  EXPECT_EQ(WinSockErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(WinSockErrorFromErrno(EWOULDBLOCK), 10035);
  EXPECT_EQ(WinSockErrorFromErrno(ENOTSOCK), 10038);
  EXPECT_EQ(WinSockErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(WinSockErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinSockErrorFromErrno(EPIPE), 10058);
  EXPECT_EQ(WinSockErrorFromErrno(ECONNREFUSED), 10061);
}

TEST(SvrSockBlocking, ModeFollowsTheFlagOnlyWhenConnected) {
  TSvrSocket none;
  none.SetBlocking(false);
  EXPECT_TRUE(none.Blocking) << "an unconnected socket keeps its mode";
  TAttached c;
  c.Socket.SetBlocking(false);
  EXPECT_FALSE(c.Socket.Blocking);
  EXPECT_EQ(c.Socket.ReceiveChunk(), "") << "nothing waiting";
  EXPECT_TRUE(c.Socket.Connected) << "would-block on a non-blocking socket does not close";
  EXPECT_EQ(c.Socket.LastError, WSAEWOULDBLOCK);
}

}  // namespace

namespace {

// Sends that take at most 100 bytes each, as a send whose time-out runs
// out part of the way does, and that time out for good after a number of
// calls; what went out is kept.
struct TShortWrites : TSvrSocket {
  int CallsLeft = 1 << 20;
  std::string Out;
  int WriteBuf(const void* bytes, int length) override {
    if (CallsLeft-- <= 0) {
      errno = EAGAIN;
      return -1;
    }
    const int taken = std::min(length, 100);
    Out.append(static_cast<const char*>(bytes), static_cast<std::size_t>(taken));
    return taken;
  }
};

TEST(SvrSockSend, ShortSendsGoOnWithTheRestAndAFailedOneEndsTheConnection) {
  std::string bytes(5000, 0);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  TMemoryStream stream;
  stream.Write(bytes);
  TLoopbackPair pair;
  TShortWrites whole;
  whole.Attach(pair.Server, true);
  whole.SendStream(stream);
  EXPECT_EQ(whole.Out, bytes);
  EXPECT_TRUE(whole.Connected);

  TLoopbackPair other;
  TShortWrites stalled;
  stalled.CallsLeft = 15;
  stalled.Attach(other.Server, true);
  stalled.SendStream(stream);
  // Eleven calls for the first block of 1024 bytes, four of 100 bytes for
  // the second; then nothing.
  EXPECT_EQ(stalled.Out, bytes.substr(0, 1424)) << "a later block went after one that did not";
  EXPECT_FALSE(stalled.Connected);
  EXPECT_EQ(stalled.LastError, WSAETIMEDOUT);
  whole.Close();
}

TEST(SvrSockSend, PeerThatNeverReadsEndsTheSendAfterItsTimeOut) {
  TAttached c;
  c.Socket.SetSendTimeout(1);
  const std::string block(1 << 20, 'w');
  // The loopback buffers take a few MiB; after that only the time-out ends it.
  for (int i = 0; i < 64 && c.Socket.Connected; ++i) c.Socket.SendString(block);
  EXPECT_FALSE(c.Socket.Connected);
  EXPECT_EQ(c.Socket.LastError, WSAETIMEDOUT);
}

}  // namespace
