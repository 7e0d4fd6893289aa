#pragma once
// THTTPInternalReply: the images and pages built into the program under
// /iswd/, the status page and the restart command.

#include <string>

#include "server/reply/SvrHttpReply.h"

class THTTPInternalReply : public THTTPReply {
 public:
  THTTPInternalReply(TRequestHeader& header, bool isTLS, const std::string& path,
                     TSvrSocket& socket, TMemoryStream& body);
  ~THTTPInternalReply() override;

  void SendBody() override;
  void SendHeader() override;

 private:
  std::string Path;
  TMemoryStream Page;
};
