#include "server/reply/SvrHttpInternalReply.h"

#include <gtest/gtest.h>

#include "server/net/MD5.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/reply/resources/BuiltinResources.h"
#include "server/shell/MainWin.h"
#include "server/shell/MsgCat.h"
#include "tests/reply/ReplyTestSupport.h"

using replytest::BodyOf;
using replytest::HeadOf;
using replytest::TConnection;

namespace {

struct TAnswer {
  std::string Head, Body;
};

TAnswer Internal(const std::string& path) {
  TConnection connection("GET /iswd/x HTTP/1.0");
  THTTPInternalReply reply(connection.Context(), path);
  reply.Prepare();
  int16_t code = 0;
  std::string text;
  EXPECT_FALSE(reply.GetStatus(code, text)) << path;
  reply.SendHeader();
  reply.SendBody();
  std::string sent = connection.Sent();
  return {HeadOf(sent), BodyOf(sent)};
}

// Width and height from a GIF's logical screen descriptor.
std::pair<int, int> GifSize(const std::string& gif) {
  auto byte = [&gif](std::size_t i) { return static_cast<unsigned char>(gif[i]); };
  return {byte(6) | byte(7) << 8, byte(8) | byte(9) << 8};
}

class InternalReply : public ::testing::Test {
 protected:
  void SetUp() override {
    replytest::WriteConfig({{"MIME num", 2}, {"MIME 1", "gif,image/gif"},
                            {"MIME 2", "html,text/html"}, {"Alias num", 0}, {"App num", 0},
                            {"Virt num", 0}, {"DefaultHTML", ""}, {"Port", 80},
                            {"ProtFile", "c:\\"}, {"SSLon", 0}, {"NewLogFile", 0},
                            {"KeepAlive", 0}});
    CreateSettings();
  }
  void TearDown() override { FreeSettings(); }
};

}  // namespace

TEST_F(InternalReply, ImagesByNameInAnyCaseWithTheirSizes) {
  const std::pair<const char*, std::pair<int, int>> images[] = {
      {"BIGDIR_GIF", {34, 28}}, {"DIR_GIF", {15, 13}},    {"ELSE_GIF", {13, 16}},
      {"LOGO_GIF", {184, 82}},  {"PAVOUK_GIF", {49, 40}}, {"POZADI2_GIF", {92, 82}}};
  for (const auto& [name, size] : images) {
    TAnswer upper = Internal(std::string("\\iswd\\") + name);
    EXPECT_EQ(upper.Body.substr(0, 6), "GIF89a") << name;
    EXPECT_EQ(GifSize(upper.Body), size) << name;
    EXPECT_NE(upper.Head.find("Content-Type: image/gif\r\n"), std::string::npos) << upper.Head;
    EXPECT_NE(upper.Head.find("Content-Length: " + std::to_string(upper.Body.size()) + "\r\n"),
              std::string::npos)
        << upper.Head;
  }
  EXPECT_EQ(Internal("\\iswd\\logo_gif").Body, Internal("\\iswd\\LOGO_GIF").Body);
  EXPECT_EQ(Internal("\\iswd\\sub\\dir_gif").Body, Internal("\\iswd\\dir_gif").Body)
      << "only the last part of the path counts";
}

TEST_F(InternalReply, UnknownNameGivesTheErrorPageWith200) {
  const TBuiltinResource* error = FindBuiltinResource("ERROR_HTML");
  ASSERT_NE(error, nullptr);
  std::string page(reinterpret_cast<const char*>(error->Data), error->Size);
  TAnswer answer = Internal("\\iswd\\logo.gif");
  EXPECT_EQ(answer.Body, page);
  EXPECT_EQ(answer.Head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer.Head;
  EXPECT_NE(answer.Head.find("Content-Type: text/html\r\n"), std::string::npos) << answer.Head;
  EXPECT_NE(page.find("/iswd/pozadi2_gif"), std::string::npos);
  EXPECT_NE(page.find("/iswd/logo_gif"), std::string::npos);
  EXPECT_NE(page.find("/iswd/about_html"), std::string::npos);
}

TEST_F(InternalReply, FirstUnderscoreOfTheWholePathTurnsIntoADot) {
  // The directory's "_" turns, so the image is typed by its unchanged name.
  TAnswer answer = Internal("c:\\my_site\\iswd\\logo_gif");
  EXPECT_EQ(answer.Body.substr(0, 6), "GIF89a");
  EXPECT_NE(answer.Head.find("Content-Type: text/html\r\n"), std::string::npos) << answer.Head;
}

TEST_F(InternalReply, StatusPageShowsServerModulesAndCounters) {
  TAnswer answer = Internal("\\iswd\\info");
  EXPECT_EQ(answer.Body.rfind("<html><body bgcolor=white><center><h1>" + ServerSoftware +
                                  "</h1><h3>Informace o zavedených rozšířeních</h3>"
                                  "<table border=1>",
                              0),
            0u)
      << answer.Body;
  EXPECT_NE(answer.Body.find("<h3>Počet právě otevřených přípojek</h3>"), std::string::npos);
  EXPECT_NE(answer.Body.find("<h3>Počet vyřízených dotazů</h3>"), std::string::npos);
  EXPECT_NE(answer.Body.find("<h3>Informace o TOVK_LOG knihovně</h3>"), std::string::npos);
  EXPECT_EQ(answer.Body.substr(answer.Body.size() - 23), "</center></html></body>");
}

TEST_F(InternalReply, ReloadAnswersAtOnceWithText22) {
  TAnswer answer = Internal("\\iswd\\RELOAD");
  EXPECT_EQ(answer.Body, GetMsg(22));
  EXPECT_EQ(answer.Head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer.Head;
}

TEST(InternalReplyAccess, TheMappedDirectorysAccessFileDecidesTlsAndRights) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "iswd/http.aut",
                      "[ostatni]\nisSSL=1\n[prava]\nreload=" + MD5HexString("YWRtaW46YWRtaW4=") +
                          "\n");
  const std::string root = replytest::Sys(dir.Path()) + "\\";
  replytest::WriteConfig({{"MIME num", 0}, {"Alias num", 2}, {"Alias 1", "* (HTTP),/," + root},
                          {"Alias 2", "* (HTTPS),/," + root}, {"App num", 0}, {"Virt num", 0},
                          {"DefaultHTML", ""}, {"Port", 80}, {"ProtFile", "c:\\"}, {"SSLon", 0},
                          {"NewLogFile", 0}, {"KeepAlive", 0}});
  CreateSettings();
  auto status = [&root](const std::string& name, bool isTLS, const std::string& authorization) {
    TConnection connection("GET /iswd/" + name + " HTTP/1.0");
    if (!authorization.empty()) connection.Header.Values[rqAuthorization] = authorization;
    THTTPInternalReply reply(connection.Context(isTLS), root + "iswd\\" + name);
    reply.Prepare();
    int16_t code = 0;
    std::string text;
    reply.GetStatus(code, text);
    return code;
  };
  EXPECT_EQ(status("logo_gif", true, ""), 200);
  EXPECT_EQ(status("logo_gif", false, ""), 403) << "isSSL=1 refuses plain connections";
  EXPECT_EQ(status("reload", true, ""), 401);
  EXPECT_EQ(status("reload", true, "Basic YWRtaW46YWRtaW4="), 200);
  FreeSettings();

  // HTTPS without an alias of its own maps /iswd/ to a directory nobody
  // protects: the rights the plain server's file asks for still hold there.
  tovktest::WriteFile(dir / "iswd/http.aut",
                      "[prava]\nreload=" + MD5HexString("YWRtaW46YWRtaW4=") + "\n");
  replytest::WriteConfig({{"MIME num", 0}, {"Alias num", 1}, {"Alias 1", "* (HTTP),/," + root},
                          {"App num", 0}, {"Virt num", 0}, {"DefaultHTML", ""}, {"Port", 80},
                          {"ProtFile", "c:\\"}, {"SSLon", 1}, {"NewLogFile", 0},
                          {"KeepAlive", 0}});
  CreateSettings();
  EXPECT_EQ(status("reload", true, ""), 401);
  EXPECT_EQ(status("reload", true, "Basic YWRtaW46YWRtaW4="), 200);
  EXPECT_EQ(status("logo_gif", true, ""), 200) << "only the own scheme's file asks for TLS";
  FreeSettings();
}
