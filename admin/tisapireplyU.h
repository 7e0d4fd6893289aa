#pragma once
// TISAPIReply: the page builder of the administration extension. It holds the
// page being built and the decoded request data, appends fixed pieces of
// HTML and reads form fields out of the request.
//
// The VALUE of an input is escaped here, since it always stands in a quoted
// attribute and often holds request or registry text. Everything else is
// mark-up and passes as it is: a page that puts request or registry text
// into it escapes that text first, with the helper for the place it goes.

#include <cstdint>
#include <string>

// What GetField answers for a field the request does not carry.
inline constexpr const char* kNoData = "<NoDaTa>";

class TISAPIReply {
 public:
  explicit TISAPIReply(const std::string& request);

  std::string Page;
  std::string Request;

  void Add(const std::string& text);
  void AddLine(const std::string& text);
  void AddBreakLine(const std::string& text);
  void AddBreak();
  void AddRule();
  void AddHeading(uint8_t level, const std::string& text);
  void BeginPage(const std::string& title, const std::string& bodyAttributes);
  void EndPage();
  void BeginForm(const std::string& action, const std::string& method, const std::string& name);
  void EndForm();
  void AddTextInput(const std::string& name, uint8_t size, const std::string& value);
  void AddPasswordInput(const std::string& name, uint8_t size, const std::string& value);
  void AddHidden(const std::string& name, const std::string& value);
  void AddSubmit(const std::string& caption);
  void AddLink(const std::string& target, const std::string& text);

  // The value after the first "name=" anywhere in the request (letter case
  // ignored), up to the next "&"; kNoData when the name does not occur.
  std::string GetField(const std::string& name) const;

 private:
  void AddInput(const char* type, const std::string& name, uint8_t size,
                const std::string& value);
};

// Text for the content of an element: "&", "<" and ">" as references.
std::string HtmlText(const std::string& text);
// Text for a double-quoted attribute value: "&" and the quote as references.
std::string HtmlAttribute(const std::string& text);
// Text for a single-quoted script string inside a SCRIPT element: the
// backslash doubled, quotes escaped, line ends and other control bytes as
// escapes, and "<" and ">" as \x3C and \x3E so that no "</script>" can end
// the element early.
std::string ScriptString(const std::string& text);

// Letters, digits, "-" and "/" stay, a blank becomes "+", every other byte
// "%XX" with upper-case hexadecimal digits.
std::string URLEncode(const std::string& text);
