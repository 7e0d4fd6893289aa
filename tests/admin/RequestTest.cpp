// The request data: how the block's query string and body are joined, and
// the URL decoding with its failure rule.

#include <gtest/gtest.h>

#include <cstring>

#include "admin/AdminPages.h"
#include "admin/AdminRequest.h"
#include "admin/tisapireplyU.h"
#include "platform/Paths.h"

namespace {

std::string Assemble(std::string query, std::string body, long available = -1) {
  EXTENSION_CONTROL_BLOCK ecb;
  std::memset(&ecb, 0, sizeof ecb);
  ecb.lpszQueryString = query.data();
  ecb.cbTotalBytes = static_cast<DWORD>(body.size());
  ecb.cbAvailable = available >= 0 ? static_cast<DWORD>(available) : ecb.cbTotalBytes;
  ecb.lpbData = body.empty() ? nullptr : reinterpret_cast<LPBYTE>(body.data());
  return AssembleRequestData(ecb);
}

}  // namespace

TEST(AssembleRequestData, JoinsQueryAndBodyWithoutLineEnds) {
  EXPECT_EQ(URLDecode(Assemble("action=mime&subaction=add", "ext=htm&typ=text%2Fhtml")),
            "action=mime&subaction=add&ext=htm&typ=text/html");
  EXPECT_EQ(Assemble("", "action=mime&ext=a"), "action=mime&ext=a");
  EXPECT_EQ(Assemble("q=1", "a=1\r\n&b=\r\n2\r\n"), "q=1&a=1&b=2");
  EXPECT_EQ(Assemble("q=1", ""), "q=1");
  EXPECT_EQ(Assemble("", ""), "");
}

TEST(AssembleRequestData, TakesOnlyTheBytesTheBlockHolds) {
  EXPECT_EQ(Assemble("q=1", "abcdef", 3), "q=1&abc");
  EXPECT_EQ(Assemble("", "abcdef", 0), "");
}

TEST(URLDecode, DecodesEscapesAndPlus) {
  EXPECT_EQ(URLDecode("a+b%41"), "a bA");
  EXPECT_EQ(URLDecode("%2a%2A%e8"), "**\xe8");
  EXPECT_EQ(URLDecode("%25%32"), "%2") << "decoded bytes are not decoded again";
  EXPECT_EQ(URLDecode("x%4"), std::string("x\x04")) << "a lone digit at the very end";
}

TEST(URLDecode, FailsOnAPercentWithoutTwoDigits) {
  EXPECT_THROW(URLDecode("a%"), EURLDecodeError);
  EXPECT_THROW(URLDecode("%G1"), EURLDecodeError);
  EXPECT_THROW(URLDecode("%4G"), EURLDecodeError);
  EXPECT_THROW(URLDecode("%4&x=1"), EURLDecodeError);
}

TEST(URLDecode, InvertsURLEncodeForEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(URLDecode(URLEncode(all)), all);
}

TEST(FullPathName, ResolvesDotsBelowItsRoot) {
  EXPECT_EQ(FullPathName("c:\\logs\\..\\www\\.\\"), "c:\\www");
  EXPECT_EQ(FullPathName("c:\\.."), "c:\\");
  EXPECT_EQ(FullPathName("\\srv\\www\\a\\..\\..\\.."), "\\");
  EXPECT_EQ(FullPathName("/srv//www/"), "\\srv\\www");
  const std::string program = ProgramDirectory();
  EXPECT_EQ(FullPathName("sub") + "\\", program + "sub\\");
  EXPECT_EQ(FullPathName("") + "\\", program);
}

TEST(ParseInteger, AcceptsWholeIntegerTextsOnly) {
  int32_t v = 0;
  EXPECT_TRUE(ParseInteger("8080", v));
  EXPECT_EQ(v, 8080);
  EXPECT_TRUE(ParseInteger(" -12", v));
  EXPECT_EQ(v, -12);
  EXPECT_TRUE(ParseInteger("$1F", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(ParseInteger("0x10", v));
  EXPECT_EQ(v, 16);
  EXPECT_TRUE(ParseInteger("2147483647", v));
  for (const char* bad : {"", "abc", "12a", "8080 ", "-", "$", "2147483648", "99999999999",
                          kNoData}) {
    EXPECT_FALSE(ParseInteger(bad, v)) << bad;
  }
}
