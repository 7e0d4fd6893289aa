// The administration extension's request data: the query string and the
// form body joined, URL-decoded as a whole, and its form fields looked up.
// The input is the query string up to its first NUL byte, then the body.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "admin/AdminRequest.h"
#include "admin/tisapireplyU.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// The fields the pages read.
const char* const kFieldNames[] = {"action", "subaction", "add", "bpath", "cim", "co", "DefDoc",
                                   "files", "goto", "host", "kam", "KeepAlive", "NewLogFile",
                                   "passwd", "port", "ProtFile", "SSL", "svr", "user", "ext", "typ",
                                   "name", "app", "klic"};

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = tovkfuzz::AsText(data, size);
  const std::size_t nul = input.find('\0');
  const std::string query = input.substr(0, nul);
  const std::string body = nul == std::string::npos ? std::string() : input.substr(nul + 1);

  // The block as the host fills it; the body in a buffer of its exact size,
  // so a read past what the host put there is caught. A client may announce
  // more than the host read in (the first body byte decides here).
  std::unique_ptr<BYTE[]> bytes(new BYTE[body.size() + 1]);
  std::memcpy(bytes.get(), body.data(), body.size());
  std::string queryBuffer = query;
  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof ecb;
  ecb.lpszQueryString = queryBuffer.data();
  ecb.cbAvailable = static_cast<DWORD>(body.size());
  ecb.cbTotalBytes = static_cast<DWORD>(body.size()) + (!body.empty() && (body[0] & 1) ? 1000 : 0);
  ecb.lpbData = body.empty() ? nullptr : bytes.get();

  // The query string, then "&" (only after a query string) and the body
  // bytes the block holds, without CR and LF.
  std::string expected = query;
  if (ecb.cbTotalBytes > 0) {
    if (!query.empty()) expected += '&';
    for (char c : body)
      if (c != '\r' && c != '\n') expected += c;
  }
  const std::string assembled = AssembleRequestData(ecb);
  FUZZ_CHECK(assembled == expected, input);

  std::string decoded;
  try {
    decoded = URLDecode(assembled);
    FUZZ_CHECK(decoded.size() <= assembled.size(), input);
  } catch (const EURLDecodeError&) {
    // Refused as a whole: the extension answers with its error page.
    FUZZ_CHECK(assembled.find('%') != std::string::npos, input);
    decoded = assembled;
  }

  // The encoder's output always decodes to what went in.
  FUZZ_CHECK(URLDecode(URLEncode(input)) == input, input);

  // What the pages write back cannot leave the place it goes: no element
  // in text, no closing quote in an attribute, and in a script string no
  // quote without its backslash, no line end and no "</script>".
  for (const char c : HtmlText(decoded)) FUZZ_CHECK(c != '<' && c != '>', input);
  FUZZ_CHECK(HtmlAttribute(decoded).find('"') == std::string::npos, input);
  const std::string script = ScriptString(decoded);
  for (std::size_t i = 0; i < script.size(); ++i) {
    const char c = script[i];
    FUZZ_CHECK(c != '<' && c != '>' && c != '\r' && c != '\n', input);
    if (c == '\\') {
      ++i;  // the escaped character
    } else {
      FUZZ_CHECK(c != '\'' && c != '"', input);
    }
  }

  TISAPIReply reply(decoded);
  const std::string upper = Upper(decoded);
  for (const char* name : kFieldNames) {
    const std::string value = reply.GetField(name);
    if (value == kNoData) {
      FUZZ_CHECK(upper.find(Upper(name) + "=") == std::string::npos ||
                     decoded.find(kNoData) != std::string::npos,
                 input);
      continue;
    }
    FUZZ_CHECK(value.find('&') == std::string::npos, input);
    FUZZ_CHECK(decoded.find(value) != std::string::npos, input);
  }
  return 0;
}
