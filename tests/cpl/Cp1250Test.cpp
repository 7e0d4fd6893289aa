#include "cpl/Cp1250.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include "cpl/ChooserEdit.h"
#include "tests/cpl/CplTestSupport.h"

namespace {

// The C library's own table of the code page, as a second opinion; -1 for
// the bytes it leaves undefined.
int32_t LibraryCodePoint(unsigned char byte) {
  iconv_t cd = iconv_open("UTF-32LE", "CP1250");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  char in[1] = {static_cast<char>(byte)};
  char out[4] = {};
  char* inPtr = in;
  char* outPtr = out;
  size_t inLeft = 1, outLeft = 4;
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return -1;
  return static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8 |
         static_cast<unsigned char>(out[2]) << 16;
}

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

}  // namespace

TEST(Cp1250, AgreesWithTheLibraryTableOnEveryDefinedByte) {
  int undefined = 0;
  for (int b = 0; b < 256; ++b) {
    const int32_t expected = LibraryCodePoint(static_cast<unsigned char>(b));
    const char16_t ours = Cp1250ToUnicode(static_cast<unsigned char>(b));
    if (expected < 0) {
      ++undefined;
      EXPECT_TRUE(ours >= 0xE000 && ours <= 0xF8FF) << "byte " << b << " maps to " << int(ours);
    } else {
      EXPECT_EQ(int32_t(ours), expected) << "byte " << b;
    }
  }
  EXPECT_EQ(undefined, 5);
}

TEST(Cp1250, EveryByteComesBackUnchanged) {
  const std::string bytes = AllBytes();
  const QString text = Cp1250ToQString(bytes);
  EXPECT_EQ(text.size(), 256);
  EXPECT_EQ(QStringToCp1250(text), bytes);
}

TEST(Cp1250, LiteralsOfTheProgramReadAsCzech) {
  // The literal is Windows-1250 in the program; through the table it is the
  // same text as the UTF-16 literal.
  EXPECT_EQ(T("Zruš"), Q16(u"Zruš"));
  EXPECT_EQ(T("Nelze mít duplicitní záznamy"), Q16(u"Nelze mít duplicitní záznamy"));
  EXPECT_EQ(std::string("í"), "\xED");
  EXPECT_EQ(QStringToCp1250(Q16(u"Přípona čárkou ŽŠŤ €")), std::string("Přípona čárkou ŽŠŤ €"));
}

TEST(Cp1250, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach) {
  EXPECT_EQ(QStringToCp1250(Q16(u"a\u4E2Db")), "a?b");
  EXPECT_EQ(QStringToCp1250(QString::fromUcs4(U"x\U0001F600y")), "x?y");
  EXPECT_EQ(QStringToCp1250(Q16(u"\u00F8")), "?");  // Latin-1 o with stroke: not Central European
}

TEST(ChooserFilter, TurnsTheFormFilterIntoChooserEntries) {
  EXPECT_EQ(TFilenameEdit::ChooserFilter(T("Spustitelné soubory|*.exe;*.com;*.bat|Všechny soubory (*.*)|*.*")),
            Q16(u"Spustitelné soubory (*.exe *.com *.bat);;Všechny soubory (*.*) (*)"));
  EXPECT_EQ(TFilenameEdit::ChooserFilter(QString()), QString());
}
