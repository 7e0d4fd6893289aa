#pragma once
// Text placed into a generated page: each of the characters named in
// `special` becomes its character reference, everything else stays as it
// is. Which characters matter depends on where the text goes (element
// text, a double-quoted attribute, both), so the callers say.

#include <string>
#include <string_view>

std::string HtmlReferences(const std::string& text, std::string_view special);
