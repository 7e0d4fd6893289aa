// Paths that try to leave the served directories or reach an access file:
// dot segments in every spelling the decoders might meet, separators of
// both kinds, encoded once and twice, overlong UTF-8 forms, NUL bytes,
// absolute URLs and drive paths. No answer may carry a byte of the files
// outside, nor the access file's secret.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/hostile/HostileServer.h"

namespace {

using hostile::HostileServer;
using hostile::kAccessSecret;
using hostile::kOutsideMarker;
using hostile::StatusOf;

class Traversal : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Site.Start()) << Site.Process().Output(); }

  // Sends one request for `target` and checks that nothing secret came back.
  void Probe(const std::string& target, const std::string& method = "GET") {
    std::string answer = Site.Get(method + " " + target + " HTTP/1.0\r\n\r\n");
    ++Probes;
    EXPECT_EQ(answer.find(kOutsideMarker), std::string::npos) << target << "\n" << answer;
    EXPECT_EQ(answer.find(kAccessSecret), std::string::npos) << target << "\n" << answer;
    Statuses.insert(StatusOf(answer));
  }

  HostileServer Site;
  int Probes = 0;
  std::set<int> Statuses;
};

TEST_F(Traversal, TheSiteServesWhatItShould) {
  // The controls: without them every probe below would pass on a server
  // that serves nothing at all.
  EXPECT_TRUE(Site.Healthy());
  std::string aliased = Site.Get("GET /al/a.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusOf(aliased), 200) << aliased;
  EXPECT_NE(aliased.find("aliased file"), std::string::npos);
  std::string inside = Site.Get("GET /sub/../index.html HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusOf(inside), 200) << inside;
  std::string guarded = Site.Get("GET /sub/guarded.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusOf(guarded), 401) << guarded;
}

TEST_F(Traversal, NamedFormsNeverLeaveTheRoot) {
  const std::string port = std::to_string(Site.Port());
  const std::vector<std::string> targets = {
      "/../outside.txt", "/../../outside.txt", "/./../outside.txt", "/sub/../../outside.txt",
      "/..\\outside.txt", "/sub\\..\\..\\outside.txt", "\\..\\outside.txt",
      "/%2e%2e/outside.txt", "/%2E%2E/outside.txt", "/.%2e/outside.txt", "/%2e./outside.txt",
      "/..%2foutside.txt", "/..%2Foutside.txt", "/..%5coutside.txt", "/%2e%2e%5coutside.txt",
      "/..%00/outside.txt", "/../outside.txt%00.html", "/%00../outside.txt",
      "/%c0%ae%c0%ae/outside.txt", "/..%c0%afoutside.txt", "/..%c1%9coutside.txt",
      "/%c0%ae%c0%ae%c0%afoutside.txt", "/%e0%80%ae%e0%80%ae/outside.txt",
      "/%252e%252e/outside.txt", "/..%255coutside.txt", "/%252e%252e%252foutside.txt",
      "/iswd/../outside.txt", "/iswd/../../outside.txt", "/iswd/..%5c..%5coutside.txt",
      "/iswd/%2e%2e/%2e%2e/outside.txt", "/iswd/..\\..\\outside.txt",
      "http://localhost/../outside.txt", "http://127.0.0.1:" + port + "/../outside.txt",
      "http://127.0.0.1:" + port + "/%2e%2e/outside.txt", "http://../outside.txt",
      "/al/../outside.txt", "/al/../../outside.txt", "/al/..%5c..%5coutside.txt",
      "/al/%2e%2e/%2e%2e/outside.txt", "/al/..%2f..%2foutside.txt",
      "/.../outside.txt", "/..../outside.txt", "/....//outside.txt", "/..;/outside.txt",
      "//../outside.txt", "/%2f../outside.txt", "/.%2e/.%2e/outside.txt",
      "/../www-outside.txt", "/..%2fwww-outside.txt", "/sub/..%2f..%2fwww-outside.txt",
      "/c:/outside.txt", "/c:\\outside.txt", "/c:%5coutside.txt", "c:\\outside.txt",
      "/c:/http.aut", "c:/http.aut", "/C:%5Chttp.aut", "/c%3a/outside.txt",
      "/\\\\127.0.0.1\\c\\outside.txt", "//127.0.0.1/c/outside.txt",
      "/../outside.txt?x=1", "/..%2foutside.txt#frag", "/%2e%2e/outside.txt/",
      "/sub/http.aut", "/sub/HTTP.AUT", "/sub/http.aut%00", "/sub/http.aut%00.txt",
      "/sub/http.aut%20", "/sub/http.aut.", "/sub/http%2eaut", "/sub/http%2Eaut",
      "/sub/./http.aut", "/sub\\http.aut", "/sub%5chttp.aut", "/sub%2fhttp.aut",
      "/x/../sub/http.aut", "/sub/http.aut/", "/sub/http.aut?x", "/sub/http.aut::$DATA",
      "/sub//http.aut", "/sub/%68ttp.aut", "/sub/%252e/http.aut", "/cgi/http.aut",
      "/sub/http.aut%2500", "/iswd/../sub/http.aut", "/%73ub/http.aut", "/sub/",
  };
  for (const auto& target : targets) Probe(target);
  for (const auto& target : {"/sub/http.aut", "/../outside.txt", "/%2e%2e/outside.txt"}) {
    Probe(target, "HEAD");
    Probe(target, "POST");
  }
  // The server is still there and still right.
  EXPECT_TRUE(Site.Healthy());
  EXPECT_TRUE(Site.Process().Running());
  EXPECT_TRUE(Statuses.count(200)) << "the listing of /sub/ at least is served";
}

TEST_F(Traversal, MixedFormsNeverLeaveTheRoot) {
  // Every combination of a parent segment, a separator, a starting
  // directory and a depth: 6 x 7 x 5 x 2 = 420 requests.
  const std::vector<std::string> parents = {"..", "%2e%2e", ".%2e", "%2E.", "%252e%252e",
                                            "%c0%ae%c0%ae"};
  const std::vector<std::string> separators = {"/", "\\", "%2f", "%5c", "%c0%af", "%255c",
                                               "%5C%5c"};
  const std::vector<std::string> starts = {"/", "/sub/", "/al/", "/iswd/", "/cgi/"};
  for (const auto& parent : parents)
    for (const auto& separator : separators)
      for (const auto& start : starts)
        for (int depth = 2; depth <= 3; ++depth) {
          std::string target = start;
          for (int i = 0; i < depth; ++i) target += parent + separator;
          Probe(target + "outside.txt");
        }
  EXPECT_EQ(Probes, 420);
  EXPECT_TRUE(Site.Healthy());
}

}  // namespace
