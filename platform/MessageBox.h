#pragma once
// A message box of the server. A service has no desktop, so the text goes to
// standard error and to the event log under the given source name.

#include <string>

void ShowServerMessage(const std::string& sourceName, const std::string& text);
