#pragma once
// Windows-1250 <-> Unicode for the dialog. The system's texts are
// Windows-1250 bytes; Qt has no such codec without ICU, so this table does
// the conversion. It is a bijection on all 256 bytes: the five bytes that
// Windows-1250 leaves undefined map into the private use area, so whatever
// the registry holds comes back as the same bytes.

#include <QString>
#include <string>
#include <string_view>

// The code point of one Windows-1250 byte.
char16_t Cp1250ToUnicode(unsigned char byte);
// The byte of one code point; false when Windows-1250 cannot write it.
bool UnicodeToCp1250(char32_t codePoint, unsigned char& byte);

QString Cp1250ToQString(std::string_view bytes);
// Characters that Windows-1250 cannot write become "?".
std::string QStringToCp1250(const QString& text);

// Narrow literals are compiled to Windows-1250 bytes, so every text of the
// dialog becomes a QString through the table, never through UTF-8.
inline QString T(const char* literal) { return Cp1250ToQString(literal); }
inline QString T(const std::string& bytes) { return Cp1250ToQString(bytes); }
