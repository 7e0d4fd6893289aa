#include "companion/tovkmsg/TovkMsg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const uint16_t kStatuses[] = {200, 301, 302, 304, 400, 401, 402, 403, 404,
                              405, 408, 413, 414, 500, 501, 503, 505};

std::string Message(uint16_t number) {
  unsigned char text[256];
  std::memset(text, 0xAA, sizeof text);
  GetStrMsg(number, text);
  return std::string(reinterpret_cast<const char*>(text + 1), text[0]);
}

std::pair<std::string, std::string> ErrorTexts(uint16_t status) {
  unsigned char title[256], description[256];
  std::memset(title, 0xAA, sizeof title);
  std::memset(description, 0xAA, sizeof description);
  GetErrMsg(status, title, description);
  return {std::string(reinterpret_cast<const char*>(title + 1), title[0]),
          std::string(reinterpret_cast<const char*>(description + 1), description[0])};
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Windows-1250 text has no UTF-8 sequences: a lead byte of the Czech letters
// (0xC3 to 0xC5) followed by a continuation byte would betray one.
bool LooksLikeUtf8(const std::string& text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    unsigned char lead = static_cast<unsigned char>(text[i]), next = static_cast<unsigned char>(text[i + 1]);
    if (lead >= 0xC3 && lead <= 0xC5 && next >= 0x80 && next <= 0xBF) return true;
  }
  return false;
}

std::vector<uint16_t> UsedNumbers() {
  std::vector<uint16_t> numbers;
  for (uint16_t n = 1; n <= 33; ++n)
    if (n < 9 || (n > 11 && n != 28)) numbers.push_back(n);
  return numbers;
}

TEST(TovkMsg, EveryUsedMessageHasAText) {
  for (uint16_t n : UsedNumbers()) {
    std::string text = Message(n);
    EXPECT_FALSE(text.empty()) << "message " << n;
    EXPECT_EQ(text.find('\0'), std::string::npos) << "message " << n;
    EXPECT_FALSE(LooksLikeUtf8(text)) << "message " << n << " is not Windows-1250";
  }
}

TEST(TovkMsg, FormatMessagesHoldOnePlaceholder) {
  for (uint16_t n : {1, 33}) {
    std::string text = Message(n);
    EXPECT_EQ(Count(text, "%s"), 1u) << "message " << n << ": " << text;
    EXPECT_EQ(Count(text, "%"), 1u) << "message " << n << " has another format mark";
  }
  for (uint16_t n : UsedNumbers()) {
    if (n == 1 || n == 33) continue;
    EXPECT_EQ(Count(Message(n), "%"), 0u) << "message " << n;
  }
}

TEST(TovkMsg, UnknownNumbersAreEmpty) {
  for (uint16_t n : {0, 9, 10, 11, 28, 34, 1000, 65535}) EXPECT_EQ(Message(n), "") << "message " << n;
}

TEST(TovkMsg, EveryStatusHasTitleAndDescription) {
  for (uint16_t status : kStatuses) {
    auto [title, description] = ErrorTexts(status);
    EXPECT_FALSE(title.empty()) << status;
    EXPECT_EQ(title.find('%'), std::string::npos) << status;
    EXPECT_EQ(Count(description, "%s"), 1u) << status << ": " << description;
    EXPECT_EQ(Count(description, "%"), 1u) << status << ": " << description;
    EXPECT_FALSE(LooksLikeUtf8(title + description)) << status;
  }
}

TEST(TovkMsg, UnknownStatusGivesEmptyTexts) {
  for (uint16_t status : {0, 100, 201, 418, 502, 65535}) {
    auto [title, description] = ErrorTexts(status);
    EXPECT_EQ(title, "") << status;
    EXPECT_EQ(description, "") << status;
  }
}

TEST(TovkMsg, TextsAreWindows1250) {
  // "příkazové" in the help title: 0xF8 for ř and 0xED for í.
  std::string help = Message(2);
  EXPECT_NE(help.find('\xED'), std::string::npos) << help;
  EXPECT_NE(help.find('\xF8'), std::string::npos) << help;
  EXPECT_EQ(ErrorTexts(404).first, "Nenalezeno");
}

TEST(TovkMsg, ConcurrentCallersGetTheSameTexts) {
  const std::string expected = Message(22) + ErrorTexts(505).second;
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i)
        if (Message(22) + ErrorTexts(505).second != expected) ++mismatches[t];
    });
  for (std::thread& thread : threads) thread.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
