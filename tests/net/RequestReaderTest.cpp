// The request reader fed through its byte source from strings: each read
// hands over the next piece, as the network would.

#include "server/net/RequestReader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

class TPieces : public TByteSource {
 public:
  explicit TPieces(std::deque<std::string> pieces) : Pieces(std::move(pieces)) {}
  int ReadSome(char* buffer, int size, TClock::time_point) override {
    ++Reads;
    if (Pieces.empty()) return 0;  // the peer has closed
    std::string& next = Pieces.front();
    const std::size_t count = std::min(next.size(), static_cast<std::size_t>(size));
    std::memcpy(buffer, next.data(), count);
    next.erase(0, count);
    if (next.empty()) Pieces.pop_front();
    return static_cast<int>(count);
  }
  bool IsTLS() const override { return false; }
  std::deque<std::string> Pieces;
  int Reads = 0;
};

struct TReading {
  explicit TReading(std::deque<std::string> pieces) : Source(std::move(pieces)) {}
  // The next request, as the connection takes it: what the last one left
  // is cleared first.
  bool Next() {
    Lines.clear();
    return Reader.Read();
  }
  TPieces Source;
  std::vector<std::string> Lines;
  TMemoryStream Body;
  uint16_t Status = 0;
  bool Close = false;
  std::atomic<bool> Terminated{false};
  TRequestReader Reader{Source, TReaderOutput{Lines, Body, Status, Close}, {1, 2, 1, 1, 1},
                        Terminated};
};

TEST(RequestReader, RequestsSharingAReadAndLinesSplitAcrossReads) {
  TReading r({"GET /a HTTP/1.0\r\n\r\nGET /b HTTP/1.0\r\nHost: h\r\n\r\nGET /c HT",
              "TP/1.0\r", "\nHost: x\r\n\r", "\n"});
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Lines, std::vector<std::string>{"GET /a HTTP/1.0"});
  EXPECT_EQ(r.Source.Reads, 1);
  EXPECT_TRUE(r.Reader.InputLeftUnread()) << "the next requests wait in the buffer";
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Lines, (std::vector<std::string>{"GET /b HTTP/1.0", "Host: h"}));
  EXPECT_EQ(r.Source.Reads, 1) << "a request already buffered costs no read";
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Lines, (std::vector<std::string>{"GET /c HTTP/1.0", "Host: x"}));
  EXPECT_FALSE(r.Reader.InputLeftUnread());
  EXPECT_EQ(r.Status, 0);
  EXPECT_FALSE(r.Next()) << "the peer closed";

  // Only CR LF ends a line: a lone LF stays in it, and is refused there.
  TReading lf({"GET /a HTTP/1.0\nHost: h\r\n\r\n"});
  ASSERT_TRUE(lf.Next());
  EXPECT_EQ(lf.Status, 400);
  EXPECT_TRUE(lf.Lines.empty());
}

TEST(RequestReader, HeadLinesUpTo397CharactersAreRead) {
  const std::string fits = "GET /" + std::string(kMaxHeadLineChars - 14, 'a') + " HTTP/1.0";
  ASSERT_EQ(fits.size(), 397u);
  TReading r({fits.substr(0, 200), fits.substr(200) + "\r\n\r\n"});
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Lines, std::vector<std::string>{fits});

  const std::string longer = "GET /a" + fits.substr(5);
  TReading whole({longer + "\r\n\r\n"});
  EXPECT_FALSE(whole.Next());
  // Refused as soon as it is too long, before its end has come.
  TReading pieces({longer.substr(0, 300), longer.substr(300), "\r\n\r\n"});
  EXPECT_FALSE(pieces.Next());
  EXPECT_EQ(pieces.Source.Pieces.size(), 1u);
}

TEST(RequestReader, BodyEndsAtItsAnnouncedLength) {
  TReading r({"POST /f HTTP/1.0\r\nContent-Length: 7\r\n\r\nabc", "defgGET /n HTTP/1.0\r\n\r\n"});
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Body.Bytes(), "abcdefg");
  ASSERT_TRUE(r.Next());
  EXPECT_EQ(r.Lines, std::vector<std::string>{"GET /n HTTP/1.0"});
  EXPECT_EQ(r.Body.Bytes(), "") << "a request without a body has none";

  {
    TReading cut({"POST /f HTTP/1.0\r\nContent-Length: 7\r\n\r\nabc"});
    EXPECT_FALSE(cut.Next()) << "a body cut short by the peer's close is no request";
  }
  EXPECT_EQ(RequestBodyBytesHeld.load(), 0) << "the reader gives its share back";
}

}  // namespace
