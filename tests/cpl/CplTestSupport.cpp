#include "tests/cpl/CplTestSupport.h"

#include <QApplication>
#include <cstdlib>
#include <vector>

#include "common/NTRegistry.h"
#include "common/RegNames.h"

namespace cpltest {

TScratchRegistry::TScratchRegistry() {
  setenv("TOVK_REGISTRY", (Temp / "registry.db").c_str(), 1);
  SetMimeTypes("");
}

TScratchRegistry::~TScratchRegistry() {
  unsetenv("TOVK_REGISTRY");
  unsetenv("TOVK_MIME_TYPES");
}

void TScratchRegistry::SetMimeTypes(const std::string& text) {
  tovktest::WriteFile(Temp / "mime.types", text);
  setenv("TOVK_MIME_TYPES", (Temp / "mime.types").c_str(), 1);
}

namespace {

struct TKey {
  TNTRegistry Registry;
  bool Open;
  explicit TKey(bool create) {
    Registry.SetRootKey(HKEY_LOCAL_MACHINE);
    Open = Registry.OpenKey(reg::kServerKey, create);
  }
};

}  // namespace

bool KeyExists() { return TKey(false).Open; }

std::optional<int32_t> Integer(const std::string& name) {
  TKey key(false);
  if (!key.Open || !key.Registry.ValueExists(name)) return std::nullopt;
  try {
    return key.Registry.ReadInteger(name);
  } catch (const ERegistryException&) {
    return std::nullopt;
  }
}

std::optional<std::string> String(const std::string& name) {
  TKey key(false);
  if (!key.Open || !key.Registry.ValueExists(name)) return std::nullopt;
  try {
    return key.Registry.ReadString(name);
  } catch (const ERegistryException&) {
    return std::nullopt;
  }
}

void PutInteger(const std::string& name, int32_t value) { TKey(true).Registry.WriteInteger(name, value); }

void PutString(const std::string& name, const std::string& value) {
  TKey(true).Registry.WriteString(name, value);
}

void PutList(const char* word, const std::vector<std::string>& entries) {
  TKey key(true);
  key.Registry.WriteInteger(reg::CountName(word), static_cast<int32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i)
    key.Registry.WriteString(reg::EntryName(word, static_cast<int>(i) + 1), entries[i]);
}

void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  // Tests never open windows on a real display.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "cpltest";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

}  // namespace cpltest
