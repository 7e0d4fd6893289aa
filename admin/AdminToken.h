#pragma once
// Proof that a changing request comes from the administration pages. The
// extension only sees the server variables of the host, which hold neither
// Host nor Origin, so it cannot tell a page of its own site from a page of
// another site by the request alone (Referer is optional and may be left out
// by the browser). Instead every form and every delete link of the pages
// carries a token that only the pages can make: an HMAC of what the request
// changes, under a per-installation key that lives beside the registry
// database with mode 0600. A page of another site cannot read the pages, so
// it never learns a token. (A check in the host, comparing Origin with Host
// before any extension runs, would put this extension's policy into the
// server for every extension alike, and would pass a browser that sends no
// Origin; the token keeps the rule where the pages are made.)
//
// A token is bound to what it allows: a form's token to the form's action,
// a delete link's token to the link, entry included. A delete link that ends
// up in an access log thus allows nothing but deleting that entry again,
// and the key itself never leaves the process.

#include <string>

// The field that carries the token, in forms and links alike. Pages put it
// before the fields a person types into, so that it is the first occurrence.
inline constexpr const char* kTokenField = "klic";

class TAdminKey {
 public:
  // Loads the installation's key, creating it on first use.
  TAdminKey();

  bool Loaded() const { return !Key.empty(); }
  // Why there is no key, when Loaded() is false.
  const std::string& Problem() const { return Error; }

  // The token for a request that does `what` (a form's action, a delete
  // link without its token); empty when there is no key.
  std::string Token(const std::string& what) const;
  // Whether `given` is the token for `what`, compared in constant time.
  bool Accepts(const std::string& what, const std::string& given) const;

 private:
  std::string Key;
  std::string Error;
};
