#pragma once
// THTTPErrReply: the answer to every request that does not end in 200,
// either a custom page from errfiles (served by a nested reply) or the
// built-in page made from the catalogue's texts for the status.

#include <memory>
#include <string>

#include "server/reply/SvrHttpReply.h"

class THTTPErrReply : public THTTPReply {
 public:
  THTTPErrReply(TRequestHeader& header, bool isTLS, TSvrHttpThread* thread,
                const std::string& messageText, uint16_t status, TSvrSocket& socket,
                TMemoryStream& body);
  ~THTTPErrReply() override;

  void SendBody() override;
  void SendHeader() override;

 private:
  uint16_t Status;
  std::string Title;
  std::string Description;
  std::string MessageText;
  std::unique_ptr<THTTPReply> Nested;
  TSvrHttpThread* Thread;
};
