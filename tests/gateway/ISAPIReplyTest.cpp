// The ISAPI host: the control block, the four callbacks, both support
// function tables, and failures of libraries and extensions.

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/Module.h"
#include "server/gateway/SvrHttpISAPIReply.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/MainWin.h"
#include "server/shell/MsgCat.h"
#include "tests/gateway/GatewayFixture.h"

namespace {

uint32_t Fnv(const std::string& bytes) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
  return hash;
}

class ISAPIReply : public ::testing::Test {
 protected:
  void SetUp() override {
    ServerSoftware = "1.0.7.0/tovksrv";
    gwtest::AllowExecution(Root.Path());
  }

  // The extension copied beside an access file that allows it.
  std::string Extension(const std::string& name) {
    return gwtest::Sys(gwtest::CopyInto(gwtest::ExtensionDir() + "/" + name + ".dll", Root.Path()));
  }

  std::unique_ptr<THTTPISAPIReply> Serve(gwtest::TRequestContext& c, const std::string& name,
                                       const std::string& extraPath = "") {
    return PreparedReply<THTTPISAPIReply>(c.Context(), extraPath, Extension(name));
  }

  static std::string Body(THTTPReply& reply) {
    auto copy = reply.GetBodyCopy();
    return copy ? copy->Bytes() : "<nil>";
  }

  static std::string Status(const THTTPReply& reply) {
    int16_t code = 0;
    std::string text;
    reply.GetStatus(code, text);
    return std::to_string(code) + " " + text;
  }

  gwtest::TSettingsScope Scope;
  tovktest::TempDir Root;
};

TEST_F(ISAPIReply, HeaderBlockFromWriteClientSetsTheContentType) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/headerbody.dll HTTP/1.0");
  auto reply = Serve(c, "headerbody");
  EXPECT_EQ(Status(*reply), "200 ");
  reply->SendHeader();
  reply->SendBody();
  std::string answer = c.Received();
  EXPECT_NE(answer.find("Content-Type: text/plain\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("Content-Length: 20\r\n"), std::string::npos) << answer;
  EXPECT_EQ(gwtest::ResponseBody(answer), "hello from extension");
}

TEST_F(ISAPIReply, HeaderSentThroughSupportFunctionIsDropped) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/headerbody.dll?ssf3 HTTP/1.0");
  auto reply = Serve(c, "headerbody");
  reply->SendHeader();
  std::string head = c.Received();
  EXPECT_NE(head.find("Content-Type: text/html\r\n"), std::string::npos) << head;
  EXPECT_EQ(Body(*reply), "hello from extension");
}

TEST_F(ISAPIReply, LargeBodyComesInTheBlockAndThenThroughReadClient) {
  std::string payload;
  for (int i = 0; i < 100000; ++i) payload += static_cast<char>(i * 31 % 251);
  gwtest::TRequestContext c;
  c.Request("POST /ext/readbody.dll HTTP/1.0", "Content-Length: 100000\n");
  c.Body.Write(payload);
  auto reply = Serve(c, "readbody");
  EXPECT_EQ(Body(*reply), "TOTAL=100000 AVAIL=49152 READS=49152,1696,0, HASH=" +
                              std::to_string(Fnv(payload)));

  gwtest::TRequestContext small;
  small.Request("POST /ext/readbody.dll?small HTTP/1.0", "Content-Length: 100000\n");
  small.Body.Write(payload);
  auto limited = Serve(small, "readbody");
  EXPECT_EQ(Body(*limited), "TOTAL=100000 AVAIL=49152 READS=1000,49152,696,0, HASH=" +
                                std::to_string(Fnv(payload)));

  gwtest::TRequestContext empty;
  empty.Request("GET /ext/readbody.dll HTTP/1.0");
  auto none = Serve(empty, "readbody");
  EXPECT_EQ(Body(*none), "TOTAL=0 AVAIL=0 READS=F HASH=2166136261");
}

TEST_F(ISAPIReply, ServerVariablesFollowTheTable) {
  gwtest::TRequestContext c;
  c.Request(
      "GET /ext/servervars.dll?SERVER_PROTOCOL+gateway_interface+SCRIPT_NAME+SERVER_PORT+"
      "PATH_TRANSLATED+PATH_INFO+HTTP_HOST+HTTP_ACCEPT+HTTP_USER_AGENT+NO_SUCH+CONTENT_LENGTH "
      "HTTP/1.0",
      "Host: example\nAccept: */*\nUser-Agent: agent/2\n");
  auto reply = Serve(c, "servervars");
  std::string path = gwtest::Sys(Root / "servervars.dll");
  std::string expected =
      "SERVER_PROTOCOL=ok:13:HTTP/1.0\n"
      "gateway_interface=ok:10:ISAPI\n"
      "SCRIPT_NAME=ok:24:/ext/servervars.dll\n"  // length + 5, as the host has always answered
      "SERVER_PORT=ok:9:8080\n"
      "PATH_TRANSLATED=ok:" + std::to_string(path.size() + 5) + ":" + path + "\n"
      "PATH_INFO=false:1413:256:untouched\n"
      "HTTP_HOST=false:1413:256:untouched\n"
      "HTTP_ACCEPT=false:1413:256:untouched\n"
      "HTTP_USER_AGENT=ok:12:agent/2\n"
      "NO_SUCH=false:1413:256:untouched\n"
      "CONTENT_LENGTH=false:1413:256:untouched\n";
  EXPECT_EQ(Body(*reply), expected);
}

TEST_F(ISAPIReply, TooSmallBufferIsNeverWrittenBeyondItsSize) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/servervars.dll?small:SERVER_PROTOCOL+small:REQUEST_METHOD HTTP/1.0");
  auto reply = Serve(c, "servervars", "\\more");
  EXPECT_EQ(Body(*reply),
            "small:SERVER_PROTOCOL=false:" + std::to_string(ERROR_INSUFFICIENT_BUFFER) +
                ":9:untouched\n"
                "small:REQUEST_METHOD=ok:8:GET\n");
}

TEST_F(ISAPIReply, PerRequestHostAnswersOnlyTheHeaderRequest) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/support.dll HTTP/1.0");
  auto reply = Serve(c, "support");
  EXPECT_EQ(Body(*reply),
            "1016=0\n1001=0:/some/url\n1001small=0:4:abc\n1012=0::0:0:0:/x\n3=1\n9999=0\n");
}

TEST_F(ISAPIReply, ExceptionInTheExtensionGives500AndTheHostGoesOn) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/throws.dll HTTP/1.0");
  auto reply = Serve(c, "throws");
  EXPECT_EQ(Status(*reply), "500 " + GetMsg(29));

  gwtest::TRequestContext next;
  next.Request("GET /ext/headerbody.dll HTTP/1.0");
  EXPECT_EQ(Status(*Serve(next, "headerbody")), "200 ");
}

TEST_F(ISAPIReply, MissingLibraryOrEntryPointGive500) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/none.dll HTTP/1.0");
  std::string missing = gwtest::Sys(Root / "none.dll");
  THTTPISAPIReply reply(c.Context(), "", missing);
  reply.Prepare();
  EXPECT_EQ(Status(reply), "500 Nemohu nacist knihovnu " + missing);

  gwtest::TRequestContext d;
  d.Request("GET /ext/noproc.dll HTTP/1.0");
  auto noProc = Serve(d, "noproc");
  EXPECT_EQ(Status(*noProc),
            "500 Nemohu nalezt proceduru \"HttpExtensionProc\": " + gwtest::Sys(Root / "noproc.dll"));
}

TEST_F(ISAPIReply, AccessFileIsCheckedBeforeLoading) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/headerbody.dll?x HTTP/1.0");
  std::string library = Extension("headerbody");
  THTTPISAPIReply tls(c.Context(true), "", library);
  tls.Prepare();
  EXPECT_EQ(Status(tls), "403 /ext/headerbody.dll");
  std::remove((Root / "http.aut").c_str());
  THTTPISAPIReply plain(c.Context(), "", library);
  plain.Prepare();
  EXPECT_EQ(Status(plain), "403 /ext/headerbody.dll");
}

class ISAPIExtReply : public ISAPIReply {
 protected:
  // Preloads the extension as the settings holder does for an interpreter.
  std::string Preload(const std::string& name) {
    std::string library = Extension(name);
    auto record = std::make_shared<TModuleRecord>();
    record->FileName = library;
    record->Library = LoadLibrary(library);
    record->ExtensionProc =
        reinterpret_cast<PFN_HTTPEXTENSIONPROC>(GetProcAddress(record->Library, "HttpExtensionProc"));
    Settings().Modules.push_back(record);
    tovktest::WriteFile(Root / "page.isx", "script text");
    return library;
  }
};

TEST_F(ISAPIExtReply, SupportFunctionsMapToTheScriptAndTakeTheHeader) {
  std::string library = Preload("support");
  gwtest::TRequestContext c;
  c.Request("GET /ext/page.isx HTTP/1.0");
  std::string script = gwtest::Sys(Root / "page.isx");
  // The library is named in another letter case than it was loaded with.
  THTTPISAPIExtReply reply(c.Context(), library.substr(0, library.size() - 3) + "DLL", "", script);
  reply.Prepare();
  EXPECT_EQ(Status(reply), "200 ");
  EXPECT_EQ(reply.Response().Get(rsContentType), "text/plain");
  EXPECT_EQ(Body(reply), "1016=1\n1001=1:" + script + "\n1001small=0:" +
                             std::to_string(script.size() + 1) + ":abc\n1012=0:" + script +
                             ":517:10:10:/x\n3=0\n9999=0\n");
}

TEST_F(ISAPIExtReply, LibraryThatIsNotPreloadedGives500) {
  gwtest::TRequestContext c;
  c.Request("GET /ext/page.isx HTTP/1.0");
  tovktest::WriteFile(Root / "page.isx", "script text");
  THTTPISAPIExtReply reply(c.Context(), "\\nowhere\\lib.dll", "", gwtest::Sys(Root / "page.isx"));
  reply.Prepare();
  EXPECT_EQ(Status(reply), "500 Nemohu nalezt proceduru \"HttpExtensionProc\": \\nowhere\\lib.dll");
}

}  // namespace
