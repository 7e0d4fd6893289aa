#pragma once
// Drives the real admin.dll the way the server does: loads it, fills an
// extension control block for one request and collects what the extension
// writes. Every test program gets its own registry file.

#include <string>
#include <vector>

#include "common/Isapi.h"

namespace admintest {

struct TCall {
  std::string Query;
  std::string Body;
  // Body bytes put into the block; -1 for all of them.
  long Available = -1;
};

struct TResult {
  std::string Page;        // everything WriteClient received
  int Writes = 0;          // WriteClient calls
  int Reads = 0;           // ReadClient calls
  int SupportCalls = 0;    // ServerSupportFunction calls
  DWORD Status = 0;        // what HttpExtensionProc returned
  DWORD HttpStatus = 0;    // dwHttpStatusCode after the call
  bool Threw = false;      // an exception left HttpExtensionProc
  std::string Error;       // its what()
};

TResult Call(const TCall& call);
inline TResult Get(const std::string& query) { return Call({query, "", -1}); }
inline TResult Post(const std::string& query, const std::string& body) {
  return Call({query, body, -1});
}

// The token field of a page's editing form; empty when the page has none.
std::string FormToken(const std::string& page);
// A form sent as a browser sends it from the page that shows it: that page
// (the query up to "&subaction") is fetched first for the form's token,
// which leads the fields.
TResult Submit(const std::string& query, const std::string& fields);
// Follows the delete link that the list page of `action` shows for `entry`;
// a failure of the test when the page has no such link.
TResult FollowDeleteLink(const std::string& action, const std::string& entry);

// The configuration key of the test's registry.
void DeleteConfigKey();
void CreateConfigKey();  // empty
bool ConfigKeyExists();
void SetInt(const std::string& name, int value);
void SetString(const std::string& name, const std::string& value);
int GetInt(const std::string& name);  // throws when missing
std::string GetString(const std::string& name);
bool HasValue(const std::string& name);
// A list written as the applet writes it: count, then entries 1 to count.
void SetList(const char* word, const std::vector<std::string>& entries);

}  // namespace admintest
