#include "platform/tovkreg/RegScript.h"

#include <cstdio>

namespace {

const char* const kHeader = "REGEDIT4";
// Files saved by the newer editor carry this line; when such a file is in a
// single-byte code page its lines are the same as ours.
const char* const kNewerHeader = "Windows Registry Editor Version 5.00";
// Hex data lines are wrapped to stay readable in an 80-column editor.
constexpr std::size_t kHexLineWidth = 78;

std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& text) {
  std::size_t start = 0, end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  return text.substr(start, end - start);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexNumber(const std::string& text, std::size_t maxDigits, uint32_t* value) {
  if (text.empty() || text.size() > maxDigits) return false;
  uint32_t result = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    result = result * 16 + static_cast<uint32_t>(digit);
  }
  *value = result;
  return true;
}

std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// Reads a quoted text starting at `at` (on the opening quote); `at` ends
// after the closing quote.
bool ReadQuoted(const std::string& line, std::size_t* at, std::string* text, std::string* fault) {
  text->clear();
  std::size_t i = *at + 1;
  while (i < line.size()) {
    char c = line[i];
    if (c == '"') {
      *at = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= line.size()) break;
      char next = line[i + 1];
      if (next != '\\' && next != '"') {
        *fault = std::string("unknown escape \"\\") + next + "\" in a quoted text (write \\\\ for \\)";
        return false;
      }
      *text += next;
      i += 2;
      continue;
    }
    *text += c;
    ++i;
  }
  *fault = "a quoted text without its closing quote";
  return false;
}

// "01,ff,2a" (blanks allowed around the commas); empty is no bytes.
bool ParseHexBytes(const std::string& list, std::string* bytes, std::string* fault) {
  bytes->clear();
  std::string rest = TrimBlanks(list);
  if (rest.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = rest.find(',', start);
    std::string item = TrimBlanks(rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    uint32_t byte = 0;
    if (!ParseHexNumber(item, 2, &byte)) {
      *fault = "\"" + item + "\" is not a hexadecimal byte";
      return false;
    }
    bytes->push_back(static_cast<char>(byte));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

std::string HexLines(std::string line, const std::string& bytes) {
  std::string out;
  static const char* const digits = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    std::string item{digits[b >> 4], digits[b & 15]};
    if (i > 0) {
      // Room for ",xx" and the ",\" that would end the line.
      if (line.size() + 3 + 2 > kHexLineWidth) {
        out += line + ",\\\n";
        line = "  ";
      } else {
        line += ",";
      }
    }
    line += item;
  }
  return out + line + "\n";
}

std::string ValueLine(const RegValue& value) {
  std::string line = value.Name.empty() ? "@=" : "\"" + Escape(value.Name) + "\"=";
  const std::string& data = value.Data;
  if (value.Type == REG_SZ && !data.empty() && data.find('\0') == data.size() - 1 &&
      !HasLineBreak(data))
    return line + "\"" + Escape(data.substr(0, data.size() - 1)) + "\"\n";
  if (value.Type == REG_DWORD && data.size() == 4) {
    uint32_t number = 0;
    for (std::size_t i = 0; i < 4; ++i) number |= static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    char text[16];
    std::snprintf(text, sizeof text, "dword:%08x", number);
    return line + text + "\n";
  }
  // Every other value, a text without its single closing NUL among them, is
  // written as its bytes so that it comes back exactly.
  if (value.Type == REG_BINARY) return HexLines(line + "hex:", data);
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", value.Type);
  return HexLines(line + prefix, data);
}

bool ExportKey(HKEY root, HKEY key, std::string* text, std::string* error, int32_t* rc) {
  std::string path = RegKeyPath(key);
  if (HasLineBreak(path)) {
    *error = "the key name \"" + path + "\" holds a line break, which a .reg file cannot carry";
    return false;
  }
  std::vector<RegValue> values;
  std::vector<std::string> subkeys;
  if ((*rc = RegEnumValues(key, &values)) != ERROR_SUCCESS) return false;
  if ((*rc = RegEnumKeys(key, &subkeys)) != ERROR_SUCCESS) return false;
  *text += "[" + FullKeyName(root, path) + "]\n";
  for (const auto& value : values) {
    if (HasLineBreak(value.Name)) {
      *error = "the value name \"" + value.Name + "\" holds a line break, which a .reg file cannot carry";
      return false;
    }
    *text += ValueLine(value);
  }
  *text += "\n";
  for (const auto& name : subkeys) {
    HKEY sub = nullptr;
    if ((*rc = RegOpenKeyEx(key, name, KEY_READ, &sub)) != ERROR_SUCCESS) return false;
    bool ok = ExportKey(root, sub, text, error, rc);
    RegCloseKey(sub);
    if (!ok) return false;
  }
  return true;
}

class ScriptParser {
 public:
  ScriptParser(const std::string& text, std::vector<RegScriptOp>* ops, RegScriptError* error)
      : Ops(ops), Error(error) {
    std::size_t start = 0;
    // A byte-order mark from an editor is not part of the header.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Lines.push_back(line);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }

  bool Run() {
    Ops->clear();
    std::size_t n = 0;
    while (n < Lines.size() && TrimBlanks(Lines[n]).empty()) ++n;
    if (n >= Lines.size() || (TrimBlanks(Lines[n]) != kHeader && TrimBlanks(Lines[n]) != kNewerHeader))
      return Fail(static_cast<int>(n < Lines.size() ? n + 1 : 1), std::string("the file does not begin with ") + kHeader);
    for (++n; n < Lines.size(); ++n) {
      int lineNumber = static_cast<int>(n + 1);
      std::string line = TrimBlanks(Lines[n]);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        if (!Section(line, lineNumber)) return false;
      } else if (line[0] == '"' || line[0] == '@') {
        if (!Value(line, lineNumber, &n)) return false;
      } else {
        return Fail(lineNumber, "neither a [key] nor a \"name\"=value line");
      }
    }
    return true;
  }

 private:
  bool Fail(int line, const std::string& text) {
    Error->Line = line;
    Error->Text = text;
    return false;
  }

  bool Section(const std::string& line, int lineNumber) {
    std::size_t close = line.rfind(']');
    if (close == std::string::npos || !TrimBlanks(line.substr(close + 1)).empty())
      return Fail(lineNumber, "a key line must end with \"]\"");
    std::string name = line.substr(1, close - 1);
    bool remove = !name.empty() && name[0] == '-';
    if (remove) name.erase(0, 1);
    RegKeyName key;
    if (!ParseKeyName(name, &key)) return Fail(lineNumber, "\"" + name + "\" is not a key name");
    if (key.Root == HKEY_CLASSES_ROOT) return Fail(lineNumber, "HKEY_CLASSES_ROOT is read-only");
    if (remove && key.Path.empty()) return Fail(lineNumber, "a root key cannot be deleted");
    RegScriptOp op;
    op.What = remove ? RegScriptOp::DeleteKey : RegScriptOp::CreateKey;
    op.Key = key;
    op.Line = lineNumber;
    Ops->push_back(op);
    HaveKey = !remove;
    Current = key;
    return true;
  }

  bool Value(const std::string& line, int lineNumber, std::size_t* n) {
    if (!HaveKey) return Fail(lineNumber, "a value line outside of any [key] it could belong to");
    RegScriptOp op;
    op.Key = Current;
    op.Line = lineNumber;
    std::string fault;
    std::size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (!ReadQuoted(line, &at, &op.Value.Name, &fault)) {
      return Fail(lineNumber, fault);
    }
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at >= line.size() || line[at] != '=') return Fail(lineNumber, "\"=\" expected after the value name");
    ++at;
    while (at < line.size() && IsBlank(line[at])) ++at;
    std::string data = line.substr(at);
    std::string upper = Upper(data);

    if (TrimBlanks(data) == "-") {
      op.What = RegScriptOp::DeleteValue;
    } else if (!data.empty() && data[0] == '"') {
      std::size_t end = 0;
      std::string text;
      if (!ReadQuoted(data, &end, &text, &fault)) return Fail(lineNumber, fault);
      if (!TrimBlanks(data.substr(end)).empty()) return Fail(lineNumber, "text after the closing quote");
      op.What = RegScriptOp::SetValue;
      op.Value.Type = REG_SZ;
      op.Value.Data = text + std::string(1, '\0');
    } else if (upper.compare(0, 6, "DWORD:") == 0) {
      uint32_t number = 0;
      if (!ParseHexNumber(TrimBlanks(data.substr(6)), 8, &number))
        return Fail(lineNumber, "dword: wants one to eight hexadecimal digits");
      op.What = RegScriptOp::SetValue;
      op.Value.Type = REG_DWORD;
      op.Value.Data.assign(4, '\0');
      for (std::size_t i = 0; i < 4; ++i) op.Value.Data[i] = static_cast<char>((number >> (8 * i)) & 0xff);
    } else if (upper.compare(0, 3, "HEX") == 0) {
      std::size_t colon = data.find(':');
      if (colon == std::string::npos) return Fail(lineNumber, "hex data without \":\"");
      std::string kind = data.substr(3, colon - 3);
      uint32_t type = REG_BINARY;
      if (!kind.empty()) {
        if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
            !ParseHexNumber(kind.substr(1, kind.size() - 2), 8, &type))
          return Fail(lineNumber, "hex(TYPE): wants a hexadecimal type number");
      }
      std::string list = data.substr(colon + 1);
      // A list ending in "\" goes on in the next line.
      for (;;) {
        std::string trimmed = TrimBlanks(list);
        if (trimmed.empty() || trimmed.back() != '\\') break;
        if (*n + 1 >= Lines.size() || TrimBlanks(Lines[*n + 1]).empty())
          return Fail(lineNumber, "the hex data ends in \"\\\" but no line with more data follows");
        trimmed.pop_back();
        list = trimmed + TrimBlanks(Lines[++*n]);
      }
      op.What = RegScriptOp::SetValue;
      op.Value.Type = type;
      if (!ParseHexBytes(list, &op.Value.Data, &fault)) return Fail(lineNumber, fault);
    } else {
      return Fail(lineNumber, "the value is neither \"text\", dword:, hex: nor -");
    }
    Ops->push_back(op);
    return true;
  }

  std::vector<std::string> Lines;
  std::vector<RegScriptOp>* Ops;
  RegScriptError* Error;
  bool HaveKey = false;
  RegKeyName Current;
};

int32_t ApplyOne(const RegScriptOp& op) {
  HKEY key = nullptr;
  int32_t rc = ERROR_SUCCESS;
  switch (op.What) {
    case RegScriptOp::CreateKey:
      rc = RegCreateKeyEx(op.Key.Root, op.Key.Path, KEY_ALL_ACCESS, &key);
      break;
    case RegScriptOp::DeleteKey:
      rc = RegDeleteTree(op.Key.Root, op.Key.Path);
      // Deleting what is not there leaves the registry as the file wants it.
      if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
      break;
    case RegScriptOp::SetValue:
      rc = RegOpenKeyEx(op.Key.Root, op.Key.Path, KEY_ALL_ACCESS, &key);
      if (rc == ERROR_SUCCESS) rc = RegSetValueEx(key, op.Value.Name, op.Value.Type, op.Value.Data);
      break;
    case RegScriptOp::DeleteValue:
      rc = RegOpenKeyEx(op.Key.Root, op.Key.Path, KEY_ALL_ACCESS, &key);
      if (rc == ERROR_SUCCESS) rc = RegDeleteValue(key, op.Value.Name);
      if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
      break;
  }
  if (key) RegCloseKey(key);
  return rc;
}

}  // namespace

bool ParseKeyName(const std::string& text, RegKeyName* key) {
  std::size_t slash = text.find('\\');
  std::string root = Upper(text.substr(0, slash));
  if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") key->Root = HKEY_LOCAL_MACHINE;
  else if (root == "HKCU" || root == "HKEY_CURRENT_USER") key->Root = HKEY_CURRENT_USER;
  else if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") key->Root = HKEY_CLASSES_ROOT;
  else return false;
  key->Path = slash == std::string::npos ? "" : text.substr(slash + 1);
  if (!key->Path.empty() && key->Path.back() == '\\') key->Path.pop_back();
  if (key->Path.empty()) return true;
  // One closing "\" is allowed and dropped; a second one, like "\\" inside,
  // would stand for a key without a name.
  if (key->Path.front() == '\\' || key->Path.back() == '\\' ||
      key->Path.find("\\\\") != std::string::npos)
    return false;
  return key->Path.find('\0') == std::string::npos;
}

std::string RootLongName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  return "";
}

std::string FullKeyName(HKEY root, const std::string& path) {
  return path.empty() ? RootLongName(root) : RootLongName(root) + "\\" + path;
}

bool ParseRegScript(const std::string& text, std::vector<RegScriptOp>* ops, RegScriptError* error) {
  return ScriptParser(text, ops, error).Run();
}

bool ApplyRegScript(const std::vector<RegScriptOp>& ops, RegScriptError* error) {
  if (int32_t rc = RegBeginTransaction(); rc != ERROR_SUCCESS) {
    *error = {0, RegErrorText(rc)};
    return false;
  }
  for (const auto& op : ops) {
    if (int32_t rc = ApplyOne(op); rc != ERROR_SUCCESS) {
      RegRollbackTransaction();
      *error = {op.Line, RegErrorText(rc)};
      return false;
    }
  }
  if (int32_t rc = RegCommitTransaction(); rc != ERROR_SUCCESS) {
    *error = {0, RegErrorText(rc)};
    return false;
  }
  return true;
}

int32_t ExportRegScript(const RegKeyName& name, std::string* text, std::string* error) {
  text->clear();
  error->clear();
  // One transaction keeps the picture whole while others write; a store
  // this user may only read is exported without one, and the MIME view
  // needs none.
  bool transaction = name.Root != HKEY_CLASSES_ROOT && RegBeginTransaction() == ERROR_SUCCESS;
  HKEY key = nullptr;
  int32_t rc = RegOpenKeyEx(name.Root, name.Path, KEY_READ, &key);
  if (rc == ERROR_SUCCESS) {
    *text = std::string(kHeader) + "\n\n";
    if (!ExportKey(name.Root, key, text, error, &rc) && rc == ERROR_SUCCESS) rc = ERROR_INVALID_PARAMETER;
    RegCloseKey(key);
  }
  if (transaction) RegRollbackTransaction();
  if (rc != ERROR_SUCCESS) {
    text->clear();
    if (error->empty()) *error = RegErrorText(rc);
  }
  return rc;
}

std::string RegErrorText(int32_t code) {
  switch (code) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED: return "The system was unable to find the specified registry key or value.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_CANTWRITE: return "The registry store " + RegistryDatabasePath() + " could not be written.";
    case ERROR_REGISTRY_IO_FAILED: return "The registry store " + RegistryDatabasePath() + " cannot be opened.";
    default: return "Registry error " + std::to_string(code) + ".";
  }
}
