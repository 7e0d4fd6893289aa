#include "common/HtmlText.h"

namespace {

const char* ReferenceFor(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return nullptr;
  }
}

}  // namespace

std::string HtmlReferences(const std::string& text, std::string_view special) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const char* reference = ReferenceFor(c);
    if (reference && special.find(c) == std::string_view::npos) reference = nullptr;
    if (reference)
      out += reference;
    else
      out += c;
  }
  return out;
}
