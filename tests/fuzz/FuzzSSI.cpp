// A document with server-side includes: the input is the document, written
// into the served tree and processed by the SSI reply. Includes reach files
// only (no interpreters are configured here), so a document that includes
// itself gets its own text back rather than running again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/MemoryStream.h"
#include "server/gateway/SvrHttpSSIReply.h"
#include "server/net/SvrHttpHead.h"
#include "server/net/SvrSock.h"
#include "server/reply/SvrSetupHolder.h"
#include "tests/fuzz/FuzzServer.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tovkfuzz::ServedTree();
  CurrentSettings()->AppTable.clear();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = tovkfuzz::AsText(data, size);
  const tovkfuzz::TServedTree& tree = tovkfuzz::ServedTree();
  tovkfuzz::WriteFile(tree.Root + "/fuzz.shtml", input);

  const std::string requestLine = "GET /fuzz.shtml?q=%41 HTTP/1.0";
  TRequestHeader header;
  header.RequestLine = requestLine;
  header.SetField("User-Agent", "fuzz");
  TSvrSocket socket;  // never attached: the page is taken as a copy
  TMemoryStream body;
  const TRequest request = TRequest::FromHeader(header, body, socket.PeerAddress(), false);
  THTTPSSIReply reply(TReplyContext{request, socket, Settings()}, tree.SystemRoot + "fuzz.shtml");
  reply.Prepare();

  int16_t code = 0;
  std::string text;
  reply.GetStatus(code, text);
  FUZZ_CHECK(code == 200, input);
  // An include is a request of its own; the page's request stays as it came.
  FUZZ_CHECK(request.RequestLine() == requestLine, input);

  std::unique_ptr<TMemoryStream> page = reply.GetBodyCopy();
  FUZZ_CHECK(page != nullptr, input);
  const std::string& output = page->Bytes();
  if (input.empty()) FUZZ_CHECK(output.empty(), input);
  FUZZ_CHECK(!tovkfuzz::ShowsOutsideMark(output), input);
  return 0;
}
