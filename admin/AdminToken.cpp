#include "admin/AdminToken.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "platform/KeyFile.h"

namespace {

// The key file beside the registry database.
constexpr const char* kKeyFileName = "admin.key";
// 256 bits: as long as the HMAC's hash, nothing to gain beyond it.
constexpr std::size_t kKeyBytes = 32;

std::string Hex(const unsigned char* bytes, unsigned int size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (unsigned int i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace

TAdminKey::TAdminKey() {
  std::string key;
  if (LoadOrCreateKeyFile(kKeyFileName, kKeyBytes, key, Error)) Key = std::move(key);
}

std::string TAdminKey::Token(const std::string& what) const {
  if (Key.empty()) return "";
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (HMAC(EVP_sha256(), Key.data(), static_cast<int>(Key.size()),
           reinterpret_cast<const unsigned char*>(what.data()), what.size(), mac,
           &size) == nullptr) {
    return "";
  }
  return Hex(mac, size);
}

bool TAdminKey::Accepts(const std::string& what, const std::string& given) const {
  const std::string expected = Token(what);
  // Every token has the same length, so the length gives nothing away; the
  // bytes are compared without stopping at the first difference.
  return !expected.empty() && given.size() == expected.size() &&
         CRYPTO_memcmp(expected.data(), given.data(), expected.size()) == 0;
}
