#include <gtest/gtest.h>

#include <cstring>

#include "server/net/Base64u.h"
#include "server/net/MD5.h"

namespace {

// The system has no encoder; the tests need one to build large inputs.
std::string Base64Encode(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

TEST(Base64Decode, CredentialsComeBack) {
  std::string decoded = Base64Decode(Base64Encode("novak:tajn\xE9 heslo"));
  EXPECT_EQ(decoded, "novak:tajn\xE9 heslo");
  EXPECT_EQ(decoded.substr(0, decoded.find(':')), "novak");
  EXPECT_EQ(Base64Decode("QWxhZGRpbjpvcGVuIHNlc2FtZQ=="), "Aladdin:open sesame");
}

TEST(Base64Decode, PaddingGivesExactByteCount) {
  EXPECT_EQ(Base64Decode("QQ=="), "A");
  EXPECT_EQ(Base64Decode("QUI="), "AB");
  EXPECT_EQ(Base64Decode("QUJD"), "ABC");
  EXPECT_EQ(Base64Decode(""), "");
  EXPECT_EQ(Base64Decode("===="), "");
}

TEST(Base64Decode, FirstEqualsSignEndsTheData) {
  EXPECT_EQ(Base64Decode("QUJD=QUJD"), "ABC");
  EXPECT_EQ(Base64Decode("QUJD==QUJD"), "ABC");
}

TEST(Base64Decode, SkipsCharactersOutsideTheAlphabet) {
  EXPECT_EQ(Base64Decode("dXNl\r\ncjpw\r\nYXNz"), "user:pass");
  EXPECT_EQ(Base64Decode("dX Nl~cj\x01pwYXNz"), "user:pass");
  EXPECT_EQ(Base64Decode("dXNl\xE1\xFF" "cjpwYXNz"), "user:pass");
}

TEST(Base64Decode, LengthIsHeldInSixteenBits) {
  std::string big(65536 + 2, 'x');
  EXPECT_EQ(Base64Decode(Base64Encode(big)).size(), 2u);
  std::string below(65535, 'y');
  EXPECT_EQ(Base64Decode(Base64Encode(below)), below);
}

TEST(DecodeBlock, ModesOneAndTwoAreBase64OthersEmpty) {
  EXPECT_EQ(DecodeBlock(1, "YWJj"), "abc");
  EXPECT_EQ(DecodeBlock(2, "YWJj"), "abc");
  EXPECT_EQ(DecodeBlock(3, "YWJj"), "");
  EXPECT_EQ(DecodeBlock(-1, "YWJj"), "");
}

TEST(DecodeBlock, UuencodedLine) {
  EXPECT_EQ(DecodeBlock(0, "#86)C"), "abc");
  // "`" stands for 0 like the blank.
  EXPECT_EQ(DecodeBlock(0, "\"86`"), "a`");
  EXPECT_EQ(DecodeBlock(0, "\"86 "), "a`");
  EXPECT_EQ(DecodeBlock(0, "`"), "");
  EXPECT_EQ(DecodeBlock(0, "a86)C"), "") << "a length character above M is refused";
  EXPECT_EQ(DecodeBlock(0, ""), "");
}

TEST(DecodeLines, AppendsEveryLine) {
  std::unique_ptr<TMemoryStream> stream = DecodeLines({"YWJj", "ZGVm", "Zw=="});
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Bytes(), "abcdefg");
}

TEST(MD5HexString, Rfc1321Vectors) {
  EXPECT_EQ(MD5HexString(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(MD5HexString("a"), "0CC175B9C0F1B6A831C399E269772661");
  EXPECT_EQ(MD5HexString("abc"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(MD5HexString("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
  EXPECT_EQ(MD5HexString("abcdefghijklmnopqrstuvwxyz"), "C3FCD3D76192E4007DFB496CCA67E13B");
  EXPECT_EQ(MD5HexString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "D174AB98D277D9F5A5611C2C9F419D9F");
  EXPECT_EQ(MD5HexString("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(MD5HexString, LongInputCrossesPieceBoundaries) {
  EXPECT_EQ(MD5HexString(std::string(1000000, 'a')), "7707D6AE4E027C70EEA2A935C2296F21");
}

TEST(MD5Update, SplitFeedingGivesTheSameDigest) {
  std::string data;
  for (int i = 0; i < 20000; ++i) data += static_cast<char>(i * 7 + i / 256);
  TMD5Context context;
  MD5Init(context);
  // Uneven pieces so that block boundaries fall everywhere.
  std::size_t at = 0, step = 1;
  while (at < data.size()) {
    std::size_t n = std::min(step, data.size() - at);
    MD5Update(context, reinterpret_cast<const unsigned char*>(data.data() + at), n);
    at += n;
    step = step * 3 % 131 + 1;
  }
  unsigned char digest[16];
  MD5Final(digest, context);
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : digest) hex += std::string{kHex[b >> 4], kHex[b & 15]};
  EXPECT_EQ(hex, MD5HexString(data));

  unsigned char zeros[sizeof context] = {};
  EXPECT_EQ(std::memcmp(&context, zeros, sizeof context), 0) << "the context is wiped after the final step";
}

}  // namespace
