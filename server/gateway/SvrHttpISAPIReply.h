#pragma once
// THTTPISAPIReply runs a file that is itself an extension library (loaded
// for the request); THTTPISAPIExtReply runs a script through a library the
// settings holder preloaded.

#include <string>

#include "common/Isapi.h"
#include "server/reply/SvrHttpReply.h"

class THTTPISAPIReply : public THTTPReply {
 public:
  THTTPISAPIReply(TRequestHeader& header, bool isTLS, TSvrHttpThread* thread,
                  const std::string& extraPath, const std::string& translatedPath,
                  TSvrSocket& socket, TMemoryStream& body);
  ~THTTPISAPIReply() override;

  void SendBody() override;
  void SendHeader() override;
  std::unique_ptr<TMemoryStream> GetBodyCopy() override;
  void Execute() override;
  virtual void RunExtension();

 protected:
  // For the Ext variant: construct without running, so that its own fields
  // are set before the checks and the run.
  struct DeferRun {};
  THTTPISAPIReply(DeferRun, TRequestHeader& header, bool isTLS, TSvrHttpThread* thread,
                  const std::string& extraPath, const std::string& translatedPath,
                  TSvrSocket& socket, TMemoryStream& body);
  void CheckAccessAndRun();

  TMemoryStream Output;
  std::string ExtraPath;
  std::string TranslatedPath;
  TSvrHttpThread* Thread;
};

class THTTPISAPIExtReply : public THTTPISAPIReply {
 public:
  THTTPISAPIExtReply(TRequestHeader& header, bool isTLS, TSvrHttpThread* thread,
                     const std::string& libraryPath, const std::string& extraPath,
                     const std::string& translatedPath, TSvrSocket& socket, TMemoryStream& body);

  void Execute() override;
  void RunExtension() override;

 private:
  std::string LibraryPath;
};
