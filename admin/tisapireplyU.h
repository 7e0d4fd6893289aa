#pragma once
// TISAPIReply: the page builder of the administration extension. It holds the
// page being built and the decoded request data, appends fixed pieces of
// HTML and reads form fields out of the request. Nothing is escaped: texts
// pass into the page as they are, the access file of the administration
// directory is what keeps strangers away from these pages.

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

// Letters, digits, "-" and "/" stay, a blank becomes "+", every other byte
// "%XX" with upper-case hexadecimal digits.
std::string URLEncode(const std::string& text);
