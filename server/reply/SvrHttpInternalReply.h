#pragma once
// THTTPInternalReply: the images and pages built into the program under
// /iswd/, the status page and the restart command.

#include <string>

#include "server/reply/SvrHttpReply.h"

class THTTPInternalReply : public THTTPReply {
 public:
  THTTPInternalReply(const TReplyContext& context, const std::string& path);
  ~THTTPInternalReply() override;

  void SendBody() override;
  void SendHeader() override;
  void Prepare() override;

 private:
  std::string Path;
  TMemoryStream Page;
};
