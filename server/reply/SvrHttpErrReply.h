#pragma once
// THTTPErrReply: the answer to every request that does not end in 200,
// either a custom page from errfiles (served by a nested reply) or the
// built-in page made from the catalogue's texts for the status.

#include <memory>
#include <string>

#include "server/reply/SvrHttpReply.h"

class THTTPErrReply : public THTTPReply {
 public:
  THTTPErrReply(const TReplyContext& context, const std::string& messageText, uint16_t status);
  ~THTTPErrReply() override;

  void SendBody() override;
  void SendHeader() override;
  // The status's texts, and the custom page when the status has one.
  void Prepare() override;

 private:
  uint16_t Status;
  std::string Title;
  std::string Description;
  std::string MessageText;
  std::unique_ptr<THTTPReply> Nested;
};
