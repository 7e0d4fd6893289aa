#include "tests/admin/AdminHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "common/NTRegistry.h"
#include "admin/AdminToken.h"
#include "admin/tisapireplyU.h"
#include "common/RegNames.h"
#include "platform/Module.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

namespace admintest {
namespace {

// The most body the host puts into the block; the rest would come through
// ReadClient, which the extension never calls.
constexpr DWORD kHostBlockLimit = 49152;

// One registry file for the whole test program, set before anything opens
// the registry (admin.dll carries its own copy of the registry code, which
// reads $TOVK_REGISTRY as this program's copy does).
class TRegistryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Dir = std::make_unique<tovktest::TempDir>();
    ::setenv("TOVK_REGISTRY", (*Dir / "registry.db").c_str(), 1);
  }
  void TearDown() override { Dir.reset(); }

 private:
  std::unique_ptr<tovktest::TempDir> Dir;
};
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TRegistryEnvironment);

PFN_HTTPEXTENSIONPROC Extension() {
  static PFN_HTTPEXTENSIONPROC proc = [] {
    HMODULE module = LoadLibrary(ToSystemPath(TOVK_ADMIN_DLL));
    if (module == nullptr) {
      ADD_FAILURE() << "cannot load " << TOVK_ADMIN_DLL << ": " << LastModuleError();
      return PFN_HTTPEXTENSIONPROC{nullptr};
    }
    auto version =
        reinterpret_cast<PFN_GETEXTENSIONVERSION>(GetProcAddress(module, "GetExtensionVersion"));
    HSE_VERSION_INFO info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_TRUE(version != nullptr && version(&info) == TRUE);
    EXPECT_EQ(info.dwExtensionVersion, 0x5A5A5A5Au) << "GetExtensionVersion writes nothing";
    return reinterpret_cast<PFN_HTTPEXTENSIONPROC>(GetProcAddress(module, "HttpExtensionProc"));
  }();
  return proc;
}

BOOL WINAPI WriteClient(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD reserved) {
  auto* result = static_cast<TResult*>(conn);
  EXPECT_EQ(reserved, 0u);
  result->Page.append(static_cast<const char*>(buffer), *bytes);
  ++result->Writes;
  return TRUE;
}

BOOL WINAPI ReadClient(HCONN conn, LPVOID, LPDWORD size) {
  ++static_cast<TResult*>(conn)->Reads;
  *size = 0;
  return FALSE;
}

BOOL WINAPI ServerSupportFunction(HCONN conn, DWORD, LPVOID, LPDWORD, LPDWORD) {
  ++static_cast<TResult*>(conn)->SupportCalls;
  return FALSE;
}

BOOL WINAPI GetServerVariable(HCONN, LPSTR name, LPVOID buffer, LPDWORD size) {
  const std::string value = std::strcmp(name, "SERVER_PROTOCOL") == 0 ? "HTTP/1.0"
                            : std::strcmp(name, "GATEWAY_INTERFACE") == 0 ? "ISAPI"
                                                                          : "";
  if (value.empty() || *size <= value.size()) return FALSE;
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  *size = static_cast<DWORD>(value.size() + 5);
  return TRUE;
}

TNTRegistry& OpenConfig(TNTRegistry& reg) {
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  if (!reg.OpenKey(reg::kServerKey, true)) throw ERegistryException("cannot open the test key");
  return reg;
}

}  // namespace

TResult Call(const TCall& call) {
  TResult result;
  PFN_HTTPEXTENSIONPROC proc = Extension();
  if (proc == nullptr) return result;

  std::string method = call.Body.empty() ? "GET" : "POST";
  std::string query = call.Query;
  std::string empty;
  std::string translated = "c:\\admin\\admin.dll";
  std::string contentType = call.Body.empty() ? "" : "application/x-www-form-urlencoded";
  std::vector<BYTE> body(call.Body.begin(), call.Body.end());

  EXTENSION_CONTROL_BLOCK ecb;
  std::memset(&ecb, 0, sizeof ecb);
  ecb.cbSize = sizeof ecb;
  ecb.dwVersion = HSE_VERSION;
  ecb.ConnID = &result;
  ecb.dwHttpStatusCode = 200;
  ecb.lpszMethod = method.data();
  ecb.lpszQueryString = query.data();
  ecb.lpszPathInfo = empty.data();
  ecb.lpszPathTranslated = translated.data();
  ecb.cbTotalBytes = static_cast<DWORD>(body.size());
  ecb.cbAvailable = call.Available >= 0
                        ? static_cast<DWORD>(call.Available)
                        : std::min(static_cast<DWORD>(body.size()), kHostBlockLimit);
  ecb.lpbData = body.empty() ? nullptr : body.data();
  ecb.lpszContentType = contentType.data();
  ecb.GetServerVariable = GetServerVariable;
  ecb.WriteClient = WriteClient;
  ecb.ReadClient = ReadClient;
  ecb.ServerSupportFunction = ServerSupportFunction;

  try {
    result.Status = proc(&ecb);
  } catch (const std::exception& e) {
    result.Threw = true;
    result.Error = e.what();
  } catch (...) {
    result.Threw = true;
  }
  result.HttpStatus = ecb.dwHttpStatusCode;
  return result;
}

std::string FormToken(const std::string& page) {
  const std::string field =
      std::string("<INPUT TYPE=hidden NAME=\"") + kTokenField + "\" VALUE=\"";
  const std::size_t at = page.find(field);
  if (at == std::string::npos) return "";
  const std::size_t from = at + field.size();
  return page.substr(from, page.find('"', from) - from);
}

TResult Submit(const std::string& query, const std::string& fields) {
  const std::string token = FormToken(Get(query.substr(0, query.find("&subaction"))).Page);
  EXPECT_FALSE(token.empty()) << "no form token on the page of " << query;
  return Post(query, std::string(kTokenField) + "=" + token + "&" + fields);
}

TResult FollowDeleteLink(const std::string& action, const std::string& entry) {
  const std::string page = Get("action=" + action).Page;
  const std::string start = "<A HREF=\"admin.dll?action=" + action + "&subaction=smaz&";
  const std::string end = "&co=" + URLEncode(entry) + "\">";
  for (std::size_t at = page.find(start); at != std::string::npos; at = page.find(start, at + 1)) {
    const std::size_t close = page.find("\">", at);
    if (close == std::string::npos) break;
    if (page.compare(close + 2 - end.size(), end.size(), end) != 0) continue;
    const std::size_t query = at + std::strlen("<A HREF=\"admin.dll?");
    return Get(page.substr(query, close - query));
  }
  ADD_FAILURE() << "no delete link for " << entry << " on the page of " << action;
  return TResult{};
}

void DeleteConfigKey() { RegDeleteTree(HKEY_LOCAL_MACHINE, reg::kServerKey); }

void CreateConfigKey() {
  TNTRegistry reg;
  OpenConfig(reg);
}

bool ConfigKeyExists() {
  TNTRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  return reg.OpenKey(reg::kServerKey, false);
}

void SetInt(const std::string& name, int value) {
  TNTRegistry reg;
  OpenConfig(reg).WriteInteger(name, value);
}

void SetString(const std::string& name, const std::string& value) {
  TNTRegistry reg;
  OpenConfig(reg).WriteString(name, value);
}

int GetInt(const std::string& name) {
  TNTRegistry reg;
  return OpenConfig(reg).ReadInteger(name);
}

std::string GetString(const std::string& name) {
  TNTRegistry reg;
  return OpenConfig(reg).ReadString(name);
}

bool HasValue(const std::string& name) {
  TNTRegistry reg;
  return OpenConfig(reg).ValueExists(name);
}

void SetList(const char* word, const std::vector<std::string>& entries) {
  TNTRegistry reg;
  OpenConfig(reg).WriteInteger(reg::CountName(word), static_cast<int>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    reg.WriteString(reg::EntryName(word, static_cast<int>(i + 1)), entries[i]);
  }
}

}  // namespace admintest
