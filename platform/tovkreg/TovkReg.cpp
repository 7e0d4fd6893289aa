// tovkreg: the registry tool. Its commands, options, prompts and output
// follow the Windows reg tool, so that scripts and habits carry over.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/tovkreg/RegScript.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

const char* const kDone = "The operation completed successfully.";
const char* const kCanceled = "The operation was canceled by the user.";

const char* const kUsage =
    "TOVKREG operation [parameter list]\n"
    "\n"
    "  Operation  [ QUERY | ADD | DELETE | IMPORT | EXPORT ]\n"
    "\n"
    "Return code:\n"
    "  0 - Successful\n"
    "  1 - Failed\n"
    "\n"
    "For help on a specific operation type:\n"
    "  TOVKREG operation /?\n"
    "\n"
    "KeyName  [ROOT\\]SubKey\n"
    "  ROOT  [ HKLM | HKCU | HKCR ]  or their long forms HKEY_LOCAL_MACHINE,\n"
    "        HKEY_CURRENT_USER, HKEY_CLASSES_ROOT (HKCR is read-only)\n";

const char* const kQueryUsage =
    "TOVKREG QUERY KeyName [/v ValueName | /ve] [/s]\n"
    "\n"
    "  /v   Queries for a specific registry value.\n"
    "  /ve  Queries for the default value (empty value name).\n"
    "  /s   Queries all subkeys and values recursively.\n";

const char* const kAddUsage =
    "TOVKREG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
    "\n"
    "  /v   The value name to add under the selected key.\n"
    "  /ve  Adds the default value (empty value name).\n"
    "  /t   REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "       REG_BINARY or REG_NONE.\n"
    "  /s   The separator of the strings of a REG_MULTI_SZ (default \"\\0\").\n"
    "  /d   The data: a text; a number for REG_DWORD and REG_QWORD (decimal or\n"
    "       0x followed by hexadecimal digits); hexadecimal digits for REG_BINARY.\n"
    "  /f   Overwrites an existing value without asking.\n";

const char* const kDeleteUsage =
    "TOVKREG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n"
    "\n"
    "  /v   Deletes one value of the key.\n"
    "  /ve  Deletes the default value (empty value name).\n"
    "  /va  Deletes all values of the key.\n"
    "  /f   Deletes without asking.\n"
    "  Without /v, /ve or /va the key is deleted with all its subkeys and values.\n";

const char* const kImportUsage =
    "TOVKREG IMPORT FileName\n"
    "\n"
    "  FileName  A REGEDIT4 file. It is applied whole or, when any line is\n"
    "            wrong or any change fails, not at all.\n";

const char* const kExportUsage =
    "TOVKREG EXPORT KeyName FileName [/y]\n"
    "\n"
    "  Writes the key with its subkeys and values as a REGEDIT4 file.\n"
    "  /y  Overwrites an existing file without asking.\n";

std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

void Out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int Fail(const std::string& text) {
  std::fflush(stdout);
  std::string line = "ERROR: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kExitFailure;
}

int SyntaxError(const char* command) {
  return Fail(std::string("Invalid syntax.\nType \"TOVKREG ") + command + " /?\" for usage.");
}

int Succeeded() {
  Out(std::string(kDone) + "\n");
  return kExitSuccess;
}

// Asks a Yes/No question on standard input; the end of the input is No.
bool Confirm(const std::string& question) {
  for (;;) {
    Out(question + " ");
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      Out("\n");
      return false;
    }
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    answer = Upper(answer);
    if (answer == "Y" || answer == "YES") return true;
    if (answer == "N" || answer == "NO") return false;
  }
}

int Canceled() {
  Out(std::string(kCanceled) + "\n");
  return kExitFailure;
}

// The command line of one operation: known switches (with "/" or "-", any
// letter case) and the positional arguments. Anything that is not one of the
// operation's switches is positional, so that a Linux path such as
// /tmp/x.reg is a file name and not an unknown option.
struct Arguments {
  std::vector<std::string> Positional;
  std::vector<std::pair<std::string, std::string>> Switches;  // upper-case name, argument

  bool Has(const std::string& name) const {
    for (const auto& s : Switches)
      if (s.first == name) return true;
    return false;
  }
  const std::string* Get(const std::string& name) const {
    for (const auto& s : Switches)
      if (s.first == name) return &s.second;
    return nullptr;
  }
};

// `flags` are switches alone, `valued` take the next argument. False on a
// switch given twice or missing its argument.
bool ParseArguments(const std::vector<std::string>& args, const std::vector<std::string>& flags,
                    const std::vector<std::string>& valued, Arguments* parsed) {
  auto among = [](const std::vector<std::string>& list, const std::string& name) {
    for (const auto& item : list)
      if (item == name) return true;
    return false;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string name = arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') ? Upper(arg.substr(1)) : "";
    if (!name.empty() && (among(flags, name) || among(valued, name))) {
      if (parsed->Has(name)) return false;
      std::string value;
      if (among(valued, name)) {
        if (i + 1 >= args.size()) return false;
        value = args[++i];
      }
      parsed->Switches.emplace_back(name, value);
    } else {
      parsed->Positional.push_back(arg);
    }
  }
  return true;
}

bool WantsHelp(const std::vector<std::string>& args) {
  return args.size() == 1 && (args[0] == "/?" || args[0] == "-?");
}

std::string TypeName(uint32_t type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case 5: return "REG_DWORD_BIG_ENDIAN";
    case 6: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case 8: return "REG_RESOURCE_LIST";
    case 9: return "REG_FULL_RESOURCE_DESCRIPTOR";
    case 10: return "REG_RESOURCE_REQUIREMENTS_LIST";
    case REG_QWORD: return "REG_QWORD";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "0x%x", type);
      return text;
    }
  }
}

bool ParseTypeName(const std::string& text, uint32_t* type) {
  std::string name = Upper(text);
  const std::pair<const char*, uint32_t> known[] = {
      {"REG_SZ", REG_SZ},         {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_MULTI_SZ", REG_MULTI_SZ},
      {"REG_DWORD", REG_DWORD},   {"REG_QWORD", REG_QWORD},         {"REG_BINARY", REG_BINARY},
      {"REG_NONE", REG_NONE},
  };
  for (const auto& [n, t] : known)
    if (name == n) {
      *type = t;
      return true;
    }
  return false;
}

uint64_t LittleEndian(const std::string& bytes) {
  uint64_t number = 0;
  for (std::size_t i = 0; i < bytes.size() && i < 8; ++i)
    number |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  return number;
}

std::string HexBytes(const std::string& bytes) {
  static const char* const digits = "0123456789ABCDEF";
  std::string text;
  for (unsigned char b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

std::string DataText(const RegValue& value) {
  const std::string& data = value.Data;
  char number[32];
  switch (value.Type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return data.substr(0, data.find('\0'));
    case REG_MULTI_SZ: {
      std::vector<std::string> parts;
      std::size_t start = 0;
      while (start < data.size()) {
        std::size_t nul = data.find('\0', start);
        if (nul == start) break;  // the empty string that ends the list
        parts.push_back(data.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
        if (nul == std::string::npos) break;
        start = nul + 1;
      }
      std::string text;
      for (std::size_t i = 0; i < parts.size(); ++i) text += (i ? "\\0" : "") + parts[i];
      return text;
    }
    case REG_DWORD:
      if (data.size() != 4) break;
      std::snprintf(number, sizeof number, "0x%x", static_cast<unsigned>(LittleEndian(data)));
      return number;
    case REG_QWORD:
      if (data.size() != 8) break;
      std::snprintf(number, sizeof number, "0x%llx", static_cast<unsigned long long>(LittleEndian(data)));
      return number;
    default:
      break;
  }
  return HexBytes(data);
}

std::string ValueLine(const RegValue& value) {
  return "    " + (value.Name.empty() ? std::string("(Default)") : value.Name) + "    " + TypeName(value.Type) +
         "    " + DataText(value) + "\n";
}

// The name of a value in the letter case it was created in.
std::string StoredValueName(HKEY key, const std::string& name) {
  std::vector<RegValue> values;
  if (RegEnumValues(key, &values) == ERROR_SUCCESS)
    for (const auto& value : values)
      if (Upper(value.Name) == Upper(name)) return value.Name;
  return name;
}

// Opens the key named on the command line for reading, or says why not.
bool OpenNamedKey(const RegKeyName& name, HKEY* key, int* exitCode) {
  int32_t rc = RegOpenKeyEx(name.Root, name.Path, KEY_READ, key);
  if (rc == ERROR_SUCCESS) return true;
  *exitCode = Fail(RegErrorText(rc));
  return false;
}

int32_t PrintKey(HKEY root, HKEY key, bool recursive) {
  std::string path = RegKeyPath(key);
  std::vector<RegValue> values;
  std::vector<std::string> subkeys;
  if (int32_t rc = RegEnumValues(key, &values); rc != ERROR_SUCCESS) return rc;
  if (int32_t rc = RegEnumKeys(key, &subkeys); rc != ERROR_SUCCESS) return rc;
  std::string text = FullKeyName(root, path) + "\n";
  for (const auto& value : values) text += ValueLine(value);
  text += "\n";
  Out(text);
  for (const auto& sub : subkeys) {
    if (!recursive) {
      Out(FullKeyName(root, path.empty() ? sub : path + "\\" + sub) + "\n");
      continue;
    }
    HKEY child = nullptr;
    if (int32_t rc = RegOpenKeyEx(key, sub, KEY_READ, &child); rc != ERROR_SUCCESS) return rc;
    int32_t rc = PrintKey(root, child, true);
    RegCloseKey(child);
    if (rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

int Query(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return Out(kQueryUsage), kExitSuccess;
  Arguments a;
  RegKeyName name;
  if (!ParseArguments(args, {"VE", "S"}, {"V"}, &a) || a.Positional.size() != 1 ||
      (a.Has("V") && a.Has("VE")) || ((a.Has("V") || a.Has("VE")) && a.Has("S")))
    return SyntaxError("QUERY");
  if (!ParseKeyName(a.Positional[0], &name)) return Fail("Invalid key name.");
  HKEY key = nullptr;
  int exitCode = kExitSuccess;
  if (!OpenNamedKey(name, &key, &exitCode)) return exitCode;
  int32_t rc = ERROR_SUCCESS;
  if (a.Has("V") || a.Has("VE")) {
    RegValue value;
    value.Name = a.Has("V") ? *a.Get("V") : "";
    rc = RegQueryValueEx(key, value.Name, &value.Type, &value.Data);
    if (rc == ERROR_SUCCESS) {
      value.Name = StoredValueName(key, value.Name);
      Out("\n" + FullKeyName(name.Root, RegKeyPath(key)) + "\n" + ValueLine(value) + "\n");
    } else if (rc == ERROR_FILE_NOT_FOUND && value.Name.empty()) {
      Out("\n" + FullKeyName(name.Root, RegKeyPath(key)) + "\n    (Default)    REG_SZ    (value not set)\n\n");
      rc = ERROR_SUCCESS;
    }
  } else {
    Out("\n");
    rc = PrintKey(name.Root, key, a.Has("S"));
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? kExitSuccess : Fail(RegErrorText(rc));
}

// Decimal, or 0x and hexadecimal digits; negative numbers are their two's
// complement, so that a signed 32-bit setting can be written as it reads.
bool ParseNumber(const std::string& text, int bits, uint64_t* number) {
  std::string digits = text;
  bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  if (digits.empty()) return false;
  uint64_t limit = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  uint64_t value = 0;
  for (char c : digits) {
    int d = (c >= '0' && c <= '9') ? c - '0'
            : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (base == 16 && c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                   : -1;
    if (d < 0) return false;
    if (value > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (negative) {
    uint64_t magnitudeLimit = uint64_t{1} << (bits - 1);
    if (value > magnitudeLimit) return false;
    value = (~value + 1) & limit;
  }
  *number = value;
  return true;
}

bool MakeData(uint32_t type, const std::string& text, const std::string& separator, std::string* data,
              std::string* fault) {
  data->clear();
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      *data = text + std::string(1, '\0');
      return true;
    case REG_MULTI_SZ: {
      std::size_t start = 0;
      while (!text.empty()) {
        std::size_t at = text.find(separator, start);
        *data += text.substr(start, at == std::string::npos ? std::string::npos : at - start);
        *data += '\0';
        if (at == std::string::npos) break;
        start = at + separator.size();
      }
      *data += '\0';
      return true;
    }
    case REG_DWORD:
    case REG_QWORD: {
      int bits = type == REG_DWORD ? 32 : 64;
      uint64_t number = 0;
      if (!text.empty() && !ParseNumber(text, bits, &number)) {
        *fault = "Invalid value \"" + text + "\" for " + TypeName(type) + ".";
        return false;
      }
      for (int i = 0; i < bits / 8; ++i) *data += static_cast<char>((number >> (8 * i)) & 0xff);
      return true;
    }
    default: {
      if (text.size() % 2 != 0) {
        *fault = "Invalid value \"" + text + "\" for " + TypeName(type) + ": an even number of hexadecimal digits is needed.";
        return false;
      }
      for (std::size_t i = 0; i < text.size(); i += 2) {
        std::string pair = text.substr(i, 2);
        uint64_t byte = 0;
        if (!ParseNumber("0x" + pair, 8, &byte) || pair[0] == '-') {
          *fault = "Invalid value \"" + text + "\" for " + TypeName(type) + ".";
          return false;
        }
        *data += static_cast<char>(byte);
      }
      return true;
    }
  }
}

int Add(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return Out(kAddUsage), kExitSuccess;
  Arguments a;
  RegKeyName name;
  if (!ParseArguments(args, {"VE", "F"}, {"V", "T", "S", "D"}, &a) || a.Positional.size() != 1 ||
      (a.Has("V") && a.Has("VE")))
    return SyntaxError("ADD");
  if (!ParseKeyName(a.Positional[0], &name)) return Fail("Invalid key name.");
  bool setsValue = a.Has("V") || a.Has("VE") || a.Has("T") || a.Has("D");

  RegValue value;
  if (setsValue) {
    value.Name = a.Has("V") ? *a.Get("V") : "";
    value.Type = REG_SZ;
    if (a.Has("T") && !ParseTypeName(*a.Get("T"), &value.Type)) return Fail("Invalid type \"" + *a.Get("T") + "\".");
    std::string separator = a.Has("S") ? *a.Get("S") : "\\0";
    if (separator.empty() || (a.Has("S") && value.Type != REG_MULTI_SZ)) return SyntaxError("ADD");
    std::string fault;
    if (!MakeData(value.Type, a.Has("D") ? *a.Get("D") : "", separator, &value.Data, &fault)) return Fail(fault);

    HKEY existing = nullptr;
    if (!a.Has("F") && RegOpenKeyEx(name.Root, name.Path, KEY_READ, &existing) == ERROR_SUCCESS) {
      bool exists = RegQueryValueEx(existing, value.Name, nullptr, nullptr) == ERROR_SUCCESS;
      RegCloseKey(existing);
      if (exists && !Confirm("Value " + (value.Name.empty() ? std::string("(Default)") : value.Name) +
                             " exists, overwrite(Yes/No)?"))
        return Canceled();
    }
  } else if (a.Has("S")) {
    return SyntaxError("ADD");
  }

  // The key and its value come together or not at all.
  if (int32_t rc = RegBeginTransaction(); rc != ERROR_SUCCESS) return Fail(RegErrorText(rc));
  HKEY key = nullptr;
  int32_t rc = RegCreateKeyEx(name.Root, name.Path, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_SUCCESS && setsValue) rc = RegSetValueEx(key, value.Name, value.Type, value.Data);
  if (key) RegCloseKey(key);
  if (rc == ERROR_SUCCESS) return (rc = RegCommitTransaction()) == ERROR_SUCCESS ? Succeeded() : Fail(RegErrorText(rc));
  RegRollbackTransaction();
  return Fail(RegErrorText(rc));
}

int Delete(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return Out(kDeleteUsage), kExitSuccess;
  Arguments a;
  RegKeyName name;
  if (!ParseArguments(args, {"VE", "VA", "F"}, {"V"}, &a) || a.Positional.size() != 1 ||
      a.Has("V") + a.Has("VE") + a.Has("VA") > 1)
    return SyntaxError("DELETE");
  if (!ParseKeyName(a.Positional[0], &name)) return Fail("Invalid key name.");
  HKEY key = nullptr;
  int exitCode = kExitSuccess;
  if (!OpenNamedKey(name, &key, &exitCode)) return exitCode;
  std::string full = FullKeyName(name.Root, RegKeyPath(key));
  int32_t rc = ERROR_SUCCESS;

  if (a.Has("V") || a.Has("VE")) {
    std::string valueName = a.Has("V") ? *a.Get("V") : "";
    rc = RegQueryValueEx(key, valueName, nullptr, nullptr);
    if (rc == ERROR_SUCCESS && !a.Has("F") &&
        !Confirm("Delete the registry value " +
                 (valueName.empty() ? std::string("(Default)") : StoredValueName(key, valueName)) +
                 " (Yes/No)?")) {
      RegCloseKey(key);
      return Canceled();
    }
    if (rc == ERROR_SUCCESS) {
      RegCloseKey(key);
      key = nullptr;
      if ((rc = RegOpenKeyEx(name.Root, name.Path, KEY_ALL_ACCESS, &key)) == ERROR_SUCCESS)
        rc = RegDeleteValue(key, valueName);
    }
  } else if (a.Has("VA")) {
    if (!a.Has("F") && !Confirm("Delete all values under the registry key " + full + " (Yes/No)?")) {
      RegCloseKey(key);
      return Canceled();
    }
    RegCloseKey(key);
    key = nullptr;
    std::vector<RegValue> values;
    if ((rc = RegBeginTransaction()) == ERROR_SUCCESS) {
      if ((rc = RegOpenKeyEx(name.Root, name.Path, KEY_ALL_ACCESS, &key)) == ERROR_SUCCESS &&
          (rc = RegEnumValues(key, &values)) == ERROR_SUCCESS)
        for (const auto& value : values)
          if ((rc = RegDeleteValue(key, value.Name)) != ERROR_SUCCESS) break;
      if (rc == ERROR_SUCCESS) rc = RegCommitTransaction();
      else RegRollbackTransaction();
    }
  } else {
    if (name.Path.empty()) {
      RegCloseKey(key);
      return Fail("A root key cannot be deleted.");
    }
    if (!a.Has("F") && !Confirm("Permanently delete the registry key " + full + " (Yes/No)?")) {
      RegCloseKey(key);
      return Canceled();
    }
    rc = RegDeleteTree(name.Root, name.Path);
  }
  if (key) RegCloseKey(key);
  return rc == ERROR_SUCCESS ? Succeeded() : Fail(RegErrorText(rc));
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) return false;
  *bytes = all.str();
  return true;
}

int Import(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return Out(kImportUsage), kExitSuccess;
  if (args.size() != 1) return SyntaxError("IMPORT");
  const std::string& file = args[0];
  std::string text;
  if (!ReadWholeFile(file, &text)) return Fail("Error opening the file " + file + ". There may be a disk or file system error.");
  std::vector<RegScriptOp> ops;
  RegScriptError error;
  // Nothing is written unless the whole file reads cleanly.
  if (!ParseRegScript(text, &ops, &error))
    return Fail(file + ", line " + std::to_string(error.Line) + ": " + error.Text + ". Nothing was imported.");
  if (!ApplyRegScript(ops, &error)) {
    std::string where = error.Line ? file + ", line " + std::to_string(error.Line) + ": " : file + ": ";
    return Fail(where + error.Text + " Nothing was imported.");
  }
  return Succeeded();
}

bool FileExists(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

int Export(const std::vector<std::string>& args) {
  if (WantsHelp(args)) return Out(kExportUsage), kExitSuccess;
  Arguments a;
  RegKeyName name;
  if (!ParseArguments(args, {"Y"}, {}, &a) || a.Positional.size() != 2) return SyntaxError("EXPORT");
  if (!ParseKeyName(a.Positional[0], &name)) return Fail("Invalid key name.");
  const std::string& file = a.Positional[1];
  std::string text, error;
  if (ExportRegScript(name, &text, &error) != ERROR_SUCCESS) return Fail(error);
  if (!a.Has("Y") && FileExists(file) && !Confirm("File " + file + " already exists. Overwrite (Yes/No)?"))
    return Canceled();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) return Fail("Error writing the file " + file + ". There may be a disk or file system error.");
  return Succeeded();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    Fail("Invalid syntax.\nType \"TOVKREG /?\" for usage.");
    return kExitFailure;
  }
  std::string operation = Upper(args[0]);
  args.erase(args.begin());
  if ((operation == "/?" || operation == "-?") && args.empty()) return Out(kUsage), kExitSuccess;
  if (operation == "QUERY") return Query(args);
  if (operation == "ADD") return Add(args);
  if (operation == "DELETE") return Delete(args);
  if (operation == "IMPORT") return Import(args);
  if (operation == "EXPORT") return Export(args);
  return Fail("Invalid syntax.\nType \"TOVKREG /?\" for usage.");
}
