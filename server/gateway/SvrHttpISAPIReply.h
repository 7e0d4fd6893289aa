#pragma once
// THTTPISAPIReply runs a file that is itself an extension library (loaded
// for the request); THTTPISAPIExtReply runs a script through a library the
// settings holder preloaded.

#include <string>

#include "common/Isapi.h"
#include "server/reply/SvrHttpReply.h"

class THTTPISAPIReply : public THTTPReply {
 public:
  THTTPISAPIReply(const TReplyContext& context, const std::string& extraPath,
                  const std::string& translatedPath);
  ~THTTPISAPIReply() override;

  // The access check, then the extension's run.
  void Prepare() override;
  void SendBody() override;
  void SendHeader() override;
  std::unique_ptr<TMemoryStream> GetBodyCopy() override;
  void Execute() override;
  virtual void RunExtension();

 protected:
  // Fills the control block, calls the entry point, and turns an exception
  // out of it into 500.
  void CallExtension(PFN_HTTPEXTENSIONPROC proc);
  // ServerSupportFunction; the two classes answer different tables.
  virtual BOOL SupportFunction(DWORD request, LPVOID buffer, LPDWORD size, LPDWORD dataType);
  // GetServerVariable's table; false for a name it does not hold.
  bool ServerVariable(const std::string& upperName, std::string& value);

  friend struct TIsapiCallbacks;

  TMemoryStream Output;
  std::string ExtraPath;
  std::string TranslatedPath;
};

class THTTPISAPIExtReply : public THTTPISAPIReply {
 public:
  THTTPISAPIExtReply(const TReplyContext& context, const std::string& libraryPath,
                     const std::string& extraPath, const std::string& translatedPath);

  void Execute() override;
  void RunExtension() override;

 protected:
  BOOL SupportFunction(DWORD request, LPVOID buffer, LPDWORD size, LPDWORD dataType) override;

 private:
  std::string LibraryPath;
};
