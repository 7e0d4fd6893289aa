#pragma once
// THTTPCGIReply: runs a gateway program under the CGI/1.1 conventions and
// sends what it writes.

#include <cstdint>
#include <string>

#include "server/gateway/CgiIO.h"
#include "server/reply/SvrHttpReply.h"

class THTTPCGIReply : public THTTPReply {
 public:
  // program: the program to run; document: its script (or, for a
  // stand-alone program, the path info).
  THTTPCGIReply(const TReplyContext& context, const std::string& program,
                const std::string& document);
  ~THTTPCGIReply() override;

  // The access check, then the program's run.
  void Prepare() override;
  void SendBody() override;
  void SendHeader() override;
  std::unique_ptr<TMemoryStream> GetBodyCopy() override;
  void Execute() override;

 protected:
  std::string Program;
  std::string Document;
  TMemoryStream Output;
  int32_t ContentLength = 0;

 private:
  // The CGI variables in their order, as an environment list.
  TEnvList BuildEnvironmentList() const;
  // Reads the body for the program, works out its directory and command
  // line and runs it; false when it did not start or wrote to standard error.
  bool RunProgram();
};
