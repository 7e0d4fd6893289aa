#pragma once
// The text form of registry keys used by tovkreg: key names such as
// "HKLM\software\x", and REGEDIT4 files, read and written with their bytes as
// they stand (Windows-1250 texts are never converted).

#include <string>
#include <vector>

#include "platform/Registry.h"

// A key as the tool and the files name it: a root and the path below it.
struct RegKeyName {
  HKEY Root = nullptr;
  std::string Path;  // without a leading or trailing "\"; "" is the root itself
};

// "HKLM\software\x" or "HKEY_LOCAL_MACHINE\software\x" (likewise HKCU and
// HKCR), the root name in any letter case; false for anything else.
bool ParseKeyName(const std::string& text, RegKeyName* key);
// "HKEY_LOCAL_MACHINE" and the like.
std::string RootLongName(HKEY root);
// The root's long name, "\" and the path (just the root's name for the root).
std::string FullKeyName(HKEY root, const std::string& path);

struct RegScriptOp {
  enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
  Kind What = CreateKey;
  RegKeyName Key;
  RegValue Value;  // the name alone for DeleteValue
  int Line = 0;    // where the file says it, 1-based
};

struct RegScriptError {
  int Line = 0;  // 0 when the failure is not tied to a line
  std::string Text;
};

// Parses a whole REGEDIT4 text; on the first fault returns false and says
// where and what.
bool ParseRegScript(const std::string& text, std::vector<RegScriptOp>* ops, RegScriptError* error);

// Applies parsed operations in one store transaction: all of them or none.
bool ApplyRegScript(const std::vector<RegScriptOp>& ops, RegScriptError* error);

// The REGEDIT4 text of a key and everything below it, which ParseRegScript
// and ApplyRegScript read back to the same keys, names, types and bytes.
int32_t ExportRegScript(const RegKeyName& key, std::string* text, std::string* error);

// The tool's text for a registry result code.
std::string RegErrorText(int32_t code);
