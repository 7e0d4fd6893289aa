#pragma once
// THTTPSSIReply: a document with server-side includes, processed line by
// line into one buffered text/html page.

#include <string>

#include "server/reply/SvrHttpReply.h"

class THTTPSSIReply : public THTTPReply {
 public:
  THTTPSSIReply(TRequestHeader& header, bool isTLS, TSvrHttpThread* thread,
                const std::string& documentPath, TSvrSocket& socket, TMemoryStream& body);
  ~THTTPSSIReply() override;

  void SendBody() override;
  void SendHeader() override;
  std::unique_ptr<TMemoryStream> GetBodyCopy() override;
  void Execute() override;

 private:
  TSvrHttpThread* Thread;
  std::string DocumentPath;
  TMemoryStream Output;
};
