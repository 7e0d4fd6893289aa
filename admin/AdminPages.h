#pragma once
// The page handlers behind the actions of the administration extension. Each
// one first carries out what the request asks for (save a form, add or
// delete a list entry), then shows the state read back from the registry
// with the form for the next change.
//
// A change (a save, an add, a delete) is made only when the request carries
// the token that the pages put into the form or link for it (see
// AdminToken.h); a request without it changes nothing and its page says so.
// Viewing needs no token. Request and registry text that a page writes back
// is escaped for the place it goes.
//
// The configuration key is opened without creation, with a fresh registry
// object for every open: a missing key skips the saving and the display,
// the rest of the page is still built. A count or integer value that is
// missing or of another type raises ERegistryException, which fails the
// request.

#include <cstdint>
#include <string>

class TISAPIReply;

void SettingsPage(TISAPIReply& reply);         // action=nastaveni
void LogDatabasePage(TISAPIReply& reply);      // action=mysql
void BrowsePage(TISAPIReply& reply);           // action=browse
void MimeListPage(TISAPIReply& reply);         // action=mime
void VirtualListPage(TISAPIReply& reply);      // action=virtual
void AliasListPage(TISAPIReply& reply);        // action=zastupci
void InterpreterListPage(TISAPIReply& reply);  // action=interpreti

// The absolute form of a Windows-style path, with "." and ".." resolved and
// no trailing "\" but at a root ("\" or "c:\"). A relative path is taken
// below the program's directory.
std::string FullPathName(const std::string& path);

// Whole-text integer conversion as the settings form needs it: optional
// leading blanks and sign, decimal or hexadecimal after "$" or "0x", within
// 32 bits. False for anything else.
bool ParseInteger(const std::string& text, int32_t& value);
