#pragma once
// TNTRegistry: the registry wrapper that the server, the applet and the
// administration extension use to reach the configuration key.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Registry.h"

class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TNTRegistry {
 public:
  TNTRegistry();  // root HKEY_CURRENT_USER, lazy write on
  ~TNTRegistry();
  TNTRegistry(const TNTRegistry&) = delete;
  TNTRegistry& operator=(const TNTRegistry&) = delete;

  void SetRootKey(HKEY root);
  HKEY GetRootKey() const { return RootKey; }
  // Opens a key below the root ("\..." absolute) or below the open key.
  bool OpenKey(const std::string& key, bool canCreate);
  void CloseKey();
  const std::string& GetCurrentPath() const { return CurrentPath; }
  bool HasCurrentKey() const { return CurrentKey != nullptr; }

  // Reading and writing values of the open key; failures throw
  // ERegistryException with the texts of the registry wrapper.
  std::string ReadString(const std::string& name);
  int32_t ReadInteger(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  bool ValueExists(const std::string& name);
  void GetKeyNames(std::vector<std::string>& names);

  bool LazyWrite = true;

 private:
  HKEY RootKey;
  HKEY CurrentKey = nullptr;
  std::string CurrentPath;
  bool CloseRootKey = false;
};
