#include "server/net/Base64u.h"

#include <array>

namespace {

// Nothing here encodes; the decoding tables are derived from the alphabets.
const char kUuAlphabet[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int kTableFirst = 32;           // both tables are indexed by code - 32
constexpr int kUuTableLast = 96;          // "`"
constexpr int kBase64TableLast = 122;     // "z"
constexpr unsigned char kEndMark = 0xFE;  // "=": the data end here
constexpr unsigned char kSkipMark = 0xFF; // not in the alphabet: passed over

// Table value minus 32 is the 6-bit value, as in the uuencode table, where
// " " to "_" stand for themselves and "`" for " ".
std::array<unsigned char, kUuTableLast - kTableFirst + 1> MakeUuTable() {
  std::array<unsigned char, kUuTableLast - kTableFirst + 1> table{};
  // The blank, which older encoders write for 0, is not in the alphabet.
  table[' ' - kTableFirst] = ' ';
  for (int value = 0; value < 64; ++value)
    table[static_cast<unsigned char>(kUuAlphabet[value]) - kTableFirst] =
        static_cast<unsigned char>(value + kTableFirst);
  return table;
}

std::array<unsigned char, kBase64TableLast - kTableFirst + 1> MakeBase64Table() {
  std::array<unsigned char, kBase64TableLast - kTableFirst + 1> table;
  table.fill(kSkipMark);
  for (int value = 0; value < 64; ++value)
    table[static_cast<unsigned char>(kBase64Alphabet[value]) - kTableFirst] =
        static_cast<unsigned char>(value + kTableFirst);
  table['=' - kTableFirst] = kEndMark;
  return table;
}

const auto kUuTable = MakeUuTable();
const auto kBase64Table = MakeBase64Table();

// Puts 6-bit values together into bytes from the most significant bit down.
class TBitPacker {
 public:
  explicit TBitPacker(std::size_t wanted) : Wanted(wanted) {}
  bool Full() const { return Complete >= Wanted; }
  void Add(unsigned value) {
    Bits = (Bits << 6) | (value & 63);
    Pending += 6;
    if (Pending >= 8) {
      Pending -= 8;
      Out += static_cast<char>((Bits >> Pending) & 0xFF);
      ++Complete;
    }
  }
  // The bytes begun so far, a partly filled one included (its low bits zero),
  // never more than wanted.
  std::string Result() {
    std::string result = Out;
    if (Pending > 0 && result.size() < Wanted)
      result += static_cast<char>((Bits << (8 - Pending)) & 0xFF);
    if (result.size() > Wanted) result.resize(Wanted);
    return result;
  }

 private:
  std::size_t Wanted;
  std::size_t Complete = 0;
  unsigned Bits = 0;
  unsigned Pending = 0;
  std::string Out;
};

std::string DecodeUu(const std::string& text) {
  if (text.empty()) return std::string();
  unsigned char first = static_cast<unsigned char>(text[0]);
  if (!((first >= ' ' && first <= 'M') || first == '`')) return std::string();
  TBitPacker packer(static_cast<std::size_t>((first - 32) & 63));
  for (std::size_t i = 1; i < text.size() && !packer.Full(); ++i) {
    int code = static_cast<unsigned char>(text[i]);
    // Outside the table a character stands for 0, like "`".
    unsigned char mapped = code >= kTableFirst && code <= kUuTableLast ? kUuTable[code - kTableFirst] : 32;
    packer.Add(static_cast<unsigned>(mapped - 32));
  }
  return packer.Result();
}

std::string DecodeBase64(const std::string& text) {
  std::size_t end = text.find_last_not_of('=');
  std::size_t lastData = end == std::string::npos ? 0 : end + 1;  // 1-based position
  TBitPacker packer(lastData * 3 / 4);
  for (std::size_t i = 0; i < text.size() && !packer.Full(); ++i) {
    int code = static_cast<unsigned char>(text[i]);
    unsigned char mapped =
        code >= kTableFirst && code <= kBase64TableLast ? kBase64Table[code - kTableFirst] : kSkipMark;
    if (mapped == kSkipMark) continue;
    if (mapped == kEndMark) break;
    packer.Add(static_cast<unsigned>(mapped - 32));
  }
  return packer.Result();
}

}  // namespace

std::string DecodeBlock(int mode, const std::string& text) {
  switch (mode) {
    case 0:
      return DecodeUu(text);
    case 1:
    case 2:
      return DecodeBase64(text);
    default:
      return std::string();
  }
}

std::unique_ptr<TMemoryStream> DecodeLines(const std::vector<std::string>& lines) {
  auto stream = std::make_unique<TMemoryStream>();
  for (const std::string& line : lines) stream->Write(DecodeBlock(1, line));
  return stream;
}

std::string Base64Decode(const std::string& text) {
  // The decoded length is held in 16 bits.
  constexpr std::size_t kLengthMask = 0xFFFF;
  std::unique_ptr<TMemoryStream> stream = DecodeLines({text});
  std::string bytes = stream->Bytes();
  bytes.resize(bytes.size() & kLengthMask);
  return bytes;
}
