// The server's Czech texts. The source is UTF-8; the compiler writes the
// literals as Windows-1250 bytes, which is what the callers expect.

#include "companion/tovkmsg/TovkMsg.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#define TOVKMSG_EXPORT __attribute__((visibility("default")))

namespace {

// A short string counts its bytes in one byte.
constexpr std::size_t kMaxText = 255;

struct TMessage {
  uint16_t Number;
  const char* Text;
};

// Numbers 1 and 33 are format strings with exactly one "%s" and no other "%".
// Texts the server appends something to (16, 18, 27, 30, 31, 32) end where
// that continues.
constexpr TMessage kMessages[] = {
    {1, "Neznámý parametr %s. Seznam parametrů vypíše parametr /?."},
    {2, "Quillon Web Server - parametry příkazové řádky"},
    {3, "/I   nainstaluje server jako službu systému (tovk)"},
    {4, "/R   zastaví službu serveru a odinstaluje ji"},
    {5, "/?   vypíše tuto nápovědu"},
    {6, "Server byl zapnut."},
    {7, "Server byl vypnut."},
    {8, "Quillon web server (vypnut)"},
    {12, "Chybí soubor s certifikátem nebo klíčem (cert.pem, key.pem, .rnd), HTTPS nebude "
         "k dispozici."},
    {13, "Skrýt protokol"},
    {14, "Ukázat protokol"},
    {15, "Nelze připravit soket pro nové spojení."},
    {16, ": navázání zabezpečeného spojení selhalo."},
    {17, "Nelze přečíst soubor přístupových práv http.aut."},
    {18, "Stránku vytvořil server "},
    {19, "Obsah adresáře"},
    {20, "Obsah adresáře"},
    {21, "<tr><th></th><th>Název</th><th>Velikost (bajty)</th><th>Datum změny</th></tr>"},
    {22, "<HTML><HEAD><TITLE>Restart serveru</TITLE></HEAD><BODY><H2>Restart serveru</H2>"
         "<P>Server za několik sekund načte nové nastavení a znovu se spustí.</P></BODY></HTML>"},
    {23, "Požadavek na restart serveru"},
    {24, "[SSI: direktiva nedala žádný výstup]"},
    {25, "Chyba SSI"},
    {26, "[SSI: cesta vede mimo kořenový adresář]"},
    {27, "[SSI: nenalezeno \""},
    {29, "Výjimka v rozšíření ISAPI"},
    {30, "Nelze uvolnit knihovnu rozšíření "},
    {31, "Server HTTPS naslouchá na počítači "},
    {32, "Server HTTP naslouchá na počítači "},
    {33, "Naslouchání skončilo, poslední číslo spojení: %s"},
};

struct TStatusTexts {
  uint16_t Status;
  const char* Title;
  const char* Description;  // one "%s" where the reply's message text goes
};

constexpr TStatusTexts kStatuses[] = {
    {200, "OK", "Požadavek na %s byl úspěšně vyřízen."},
    {301, "Trvale přesunuto", "Dokument %s byl trvale přesunut na jinou adresu."},
    {302, "Dočasně přesunuto", "Dokument %s je dočasně k dispozici na jiné adrese."},
    {304, "Nezměněno", "Dokument %s se od vaší poslední návštěvy nezměnil."},
    {400, "Chybný požadavek", "Server požadavku nerozuměl. %s"},
    {401, "Vyžadováno ověření",
     "Přístup k dokumentu %s vyžaduje přihlášení platným jménem a heslem."},
    {402, "Vyžadována platba", "Přístup k dokumentu %s je zpoplatněn."},
    {403, "Přístup zakázán", "K dokumentu %s nemáte na tomto serveru přístup."},
    {404, "Nenalezeno", "Požadovaný dokument %s nebyl na tomto serveru nalezen."},
    {405, "Nepovolená metoda", "Metoda požadavku není pro dokument %s povolena."},
    {408, "Vypršel čas požadavku", "Server se nedočkal dokončení požadavku. %s"},
    {413, "Příliš velký požadavek", "Požadavek je větší, než server dokáže zpracovat. %s"},
    {414, "Příliš dlouhá adresa", "Adresa požadavku je delší, než server dokáže zpracovat. %s"},
    {500, "Vnitřní chyba serveru", "Při vyřizování požadavku došlo k chybě serveru. %s"},
    {501, "Neimplementováno", "Server metodu tohoto požadavku nepodporuje. %s"},
    {503, "Služba nedostupná", "Služba je dočasně nedostupná, zkuste to prosím později. %s"},
    {505, "Nepodporovaná verze HTTP",
     "Server nepodporuje verzi protokolu HTTP, kterou požadavek používá. %s"},
};

constexpr bool Fits(const char* text) { return std::string_view(text).size() <= kMaxText; }

constexpr bool AllMessagesFit() {
  for (const TMessage& m : kMessages)
    if (!Fits(m.Text)) return false;
  return true;
}

constexpr bool AllStatusTextsFit() {
  for (const TStatusTexts& s : kStatuses)
    if (!Fits(s.Title) || !Fits(s.Description)) return false;
  return true;
}

static_assert(AllMessagesFit(), "a message is longer than a short string holds");
static_assert(AllStatusTextsFit(), "a status text is longer than a short string holds");

void PutShortString(const char* text, unsigned char* out) {
  std::size_t length = std::strlen(text);
  if (length > kMaxText) length = kMaxText;
  out[0] = static_cast<unsigned char>(length);
  std::memcpy(out + 1, text, length);
}

}  // namespace

extern "C" {

TOVKMSG_EXPORT void GetStrMsg(uint16_t number, unsigned char* result) {
  if (result == nullptr) return;
  for (const TMessage& m : kMessages) {
    if (m.Number == number) {
      PutShortString(m.Text, result);
      return;
    }
  }
  result[0] = 0;
}

TOVKMSG_EXPORT void GetErrMsg(uint16_t status, unsigned char* title, unsigned char* description) {
  for (const TStatusTexts& s : kStatuses) {
    if (s.Status == status) {
      if (title != nullptr) PutShortString(s.Title, title);
      if (description != nullptr) PutShortString(s.Description, description);
      return;
    }
  }
  if (title != nullptr) title[0] = 0;
  if (description != nullptr) description[0] = 0;
}

}  // extern "C"
