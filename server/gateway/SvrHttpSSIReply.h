#pragma once
// THTTPSSIReply: a document with server-side includes, processed line by
// line into one buffered text/html page.

#include <string>

#include "server/reply/SvrHttpReply.h"

// How deeply documents may include documents. Real pages nest a few levels
// (a page, its frame, a fragment); a page that includes itself, directly or
// through others, stops here instead of recursing, and because each level
// may include several times, the bound must stay small.
constexpr int kMaxIncludeDepth = 8;

class THTTPSSIReply : public THTTPReply {
 public:
  THTTPSSIReply(const TReplyContext& context, const std::string& documentPath);
  ~THTTPSSIReply() override;

  // The access check, then the document's processing.
  void Prepare() override;
  void SendBody() override;
  void SendHeader() override;
  std::unique_ptr<TMemoryStream> GetBodyCopy() override;
  void Execute() override;

 private:
  // One line of the document, directives expanded, into the output.
  void ProcessLine(std::string line);
  // A directive's output; null when it produced none.
  std::unique_ptr<TMemoryStream> RunDirective(const std::string& directive);
  std::unique_ptr<TMemoryStream> Include(const std::string& directive);
  std::string Echo(const std::string& directive);
  // The local path of #FLASTMOD and #FSIZE; false when neither FILE nor
  // VIRTUAL gives one. `refusal` is what stands in for a target that
  // #INCLUDE would not show either, empty when it may be looked at.
  bool TargetPath(const std::string& directive, std::string& path, std::string& refusal);
  // The marker for a target the request may not see, empty when it may.
  std::string AccessRefusal(const std::string& path, const std::string& shown);

  std::string DocumentPath;
  TMemoryStream Output;
};
