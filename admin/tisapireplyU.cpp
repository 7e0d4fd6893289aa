#include "admin/tisapireplyU.h"

#include "common/HtmlText.h"

namespace {

constexpr const char* kCRLF = "\r\n";

// Only a to z are upper-cased: letters with diacritics compare exactly.
std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

TISAPIReply::TISAPIReply(const std::string& request) : Request(request) {}

void TISAPIReply::Add(const std::string& text) { Page += text; }

void TISAPIReply::AddLine(const std::string& text) {
  Page += text;
  Page += kCRLF;
}

void TISAPIReply::AddBreakLine(const std::string& text) { AddLine(text + "<BR>"); }

void TISAPIReply::AddBreak() { AddLine("<BR>"); }

void TISAPIReply::AddRule() { AddLine("<HR>"); }

void TISAPIReply::AddHeading(uint8_t level, const std::string& text) {
  const std::string n = std::to_string(level);
  AddLine("<H" + n + ">" + text + "</H" + n + ">");
}

void TISAPIReply::BeginPage(const std::string& title, const std::string& bodyAttributes) {
  AddLine("<HTML><HEAD>");
  AddLine("<TITLE>" + title + "</TITLE>");
  AddLine("</HEAD>");
  AddLine("<BODY " + (bodyAttributes.empty() ? std::string("bgcolor=white") : bodyAttributes) +
          ">");
}

void TISAPIReply::EndPage() { AddLine("</BODY></HTML>"); }

void TISAPIReply::BeginForm(const std::string& action, const std::string& method,
                            const std::string& name) {
  std::string tag = "<FORM ACTION=\"" + action + "\" METHOD=\"" + method + "\"";
  if (!name.empty()) tag += " NAME=\"" + name + "\"";
  AddLine(tag + ">");
}

void TISAPIReply::EndForm() { AddLine("</FORM>"); }

void TISAPIReply::AddInput(const char* type, const std::string& name, uint8_t size,
                           const std::string& value) {
  std::string tag = std::string("<INPUT TYPE=") + type + " NAME=\"" + name + "\" SIZE=\"" +
                    std::to_string(size) + "\"";
  if (!value.empty()) tag += " VALUE=\"" + HtmlAttribute(value) + "\"";
  AddLine(tag + ">");
}

void TISAPIReply::AddTextInput(const std::string& name, uint8_t size, const std::string& value) {
  AddInput("text", name, size, value);
}

void TISAPIReply::AddPasswordInput(const std::string& name, uint8_t size,
                                   const std::string& value) {
  AddInput("password", name, size, value);
}

void TISAPIReply::AddHidden(const std::string& name, const std::string& value) {
  AddLine("<INPUT TYPE=hidden NAME=\"" + name + "\" VALUE=\"" + HtmlAttribute(value) + "\">");
}

void TISAPIReply::AddSubmit(const std::string& caption) {
  AddLine("<INPUT TYPE=submit VALUE=\"" + caption + "\">");
}

void TISAPIReply::AddLink(const std::string& target, const std::string& text) {
  Add("<A HREF=\"" + target + "\">" + text + "</A>");
}

std::string TISAPIReply::GetField(const std::string& name) const {
  // A plain substring search, not tied to a preceding "&": "xco=1&co=2"
  // answers "1" for co. The pages live with that; their field names do not
  // end one another.
  const std::string key = UpperAscii(name) + "=";
  const std::size_t at = UpperAscii(Request).find(key);
  if (at == std::string::npos) return kNoData;
  const std::size_t from = at + key.size();
  const std::size_t end = Request.find('&', from);
  return Request.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::string HtmlText(const std::string& text) { return HtmlReferences(text, "&<>"); }

std::string HtmlAttribute(const std::string& text) {
  // Inside double quotes only the quote ends the value; "<" and ">" are
  // plain there, so "<NoDaTa>" still goes out and comes back as it is.
  return HtmlReferences(text, "&\"");
}

std::string ScriptString(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '"': out += "\\\""; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default:
        if (b < 0x20 || b == 0x7F || c == '<' || c == '>') {
          out += "\\x";
          out += kHex[b >> 4];
          out += kHex[b & 0x0F];
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string URLEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' ||
        b == '/') {
      out += c;
    } else if (b == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return out;
}
