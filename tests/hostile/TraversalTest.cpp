// Paths that try to leave the served directories or reach an access file:
// dot segments in every spelling the decoders might meet, separators of
// both kinds, encoded once and twice, overlong UTF-8 forms, NUL bytes,
// absolute URLs and drive paths. No answer may carry a byte of the files
// outside, nor the access file's secret.

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "tests/hostile/HostileServer.h"

namespace {

using hostile::HostileServer;
using hostile::kAccessSecret;
using hostile::kOutsideMarker;
using hostile::StatusOf;

// The Base64 text a browser sends for demo:demo, and the rights an access
// file gives for it: the upper-case MD5 digest of that text.
const std::string kDemoAuthorization = "Authorization: Basic ZGVtbzpkZW1v\r\n";
const std::string kDemoRights = "28C6A03C7F2AF2F70660E4177861B72D";

std::string HeaderOf(const std::string& answer, const std::string& name) {
  std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
  std::size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  return head.substr(at, head.find("\r\n", at) - at);
}

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

  std::string Get(const std::string& target, const std::string& headers = "",
                  const std::string& method = "GET") {
    return Site.Get(method + " " + target + " HTTP/1.0\r\n" + headers + "\r\n");
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

TEST_F(Traversal, RedirectionsNeverNameAnotherHost) {
  // A browser reads "//host/" and "/\host/" as another host.
  for (const std::string target : {"//evil.example/../sub", "///evil.example/../sub",
                                   "/%2fevil.example/../sub", "/\\evil.example/../sub",
                                   "/%5cevil.example/%2e%2e/sub", "//sub"}) {
    std::string answer = Get(target);
    ASSERT_EQ(StatusOf(answer), 301) << target << "\n" << answer;
    std::string location = HeaderOf(answer, "Location");
    ASSERT_GE(location.size(), 2u) << target << "\n" << answer;
    EXPECT_EQ(location[0], '/') << target << ": " << location;
    EXPECT_TRUE(location[1] != '/' && location[1] != '\\') << target << ": " << location;
  }
  EXPECT_EQ(HeaderOf(Get("/sub"), "Location"), "/sub/");
}

TEST_F(Traversal, TheRequestsURLStaysInItsPlaceInLinksAndRealm) {
  for (const std::string target : {"//sub/", "//x%2F..%2Fsub/", "/\\sub/", "///sub/"}) {
    std::string listing = Get(target);
    ASSERT_EQ(StatusOf(listing), 200) << target << "\n" << listing;
    EXPECT_NE(listing.find("page.txt"), std::string::npos) << listing;
    for (std::size_t at = listing.find("href=\""); at != std::string::npos;
         at = listing.find("href=\"", at + 1)) {
      std::string link = listing.substr(at + 6, 2);
      EXPECT_TRUE(link[0] == '/' && link[1] != '/' && link[1] != '\\') << target << ": " << link;
    }
  }
  std::string refused = Get("/sub/\",x=\"\\/../../guarded.txt");
  ASSERT_EQ(StatusOf(refused), 401) << refused;
  std::string realm = HeaderOf(refused, "WWW-Authenticate");
  EXPECT_EQ(realm.rfind("Basic realm=\"", 0), 0u) << realm;
  EXPECT_EQ(realm.find_first_of("\"\\", 13), realm.size() - 1) << realm;
}

TEST_F(Traversal, AccessFilesGuardListingsInAnyCaseAndAreNeverServed) {
  const std::string www = Site.Process().DocRoot();
  tovktest::MakeDirs(www + "/locked");
  tovktest::WriteFile(www + "/locked/a.txt", "locked file");
  tovktest::WriteFile(www + "/locked/HTTP.AUT", "[prava]\n*.*=" + kDemoRights + "\n");
  std::string refused = Get("/locked/");
  EXPECT_EQ(StatusOf(refused), 401) << refused;
  EXPECT_FALSE(HeaderOf(refused, "WWW-Authenticate").empty()) << refused;
  EXPECT_EQ(StatusOf(Get("/locked/a.txt")), 401);
  std::string listing = Get("/locked/", kDemoAuthorization);
  EXPECT_EQ(StatusOf(listing), 200) << listing;
  EXPECT_NE(listing.find("a.txt"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("HTTP.AUT"), std::string::npos) << listing;
  for (const char* method : {"GET", "HEAD", "POST"}) {
    std::string own = Get("/locked/HTTP.AUT", kDemoAuthorization, method);
    EXPECT_EQ(StatusOf(own), 403) << method << "\n" << own;
    EXPECT_EQ(own.find(kDemoRights), std::string::npos) << own;
  }

  tovktest::MakeDirs(www + "/unlisted");
  tovktest::WriteFile(www + "/unlisted/a.txt", "open file");
  tovktest::WriteFile(www + "/unlisted/http.aut", "[ostatni]\nvypis=0\n");
  EXPECT_EQ(StatusOf(Get("/unlisted/")), 403);
  EXPECT_EQ(StatusOf(Get("/unlisted/a.txt")), 200) << "vypis=0 keeps the files open";

  // Root reads every file, so "there but unreadable" is a link to nothing.
  tovktest::MakeDirs(www + "/broken");
  tovktest::WriteFile(www + "/broken/a.txt", "unguarded?");
  ASSERT_EQ(::symlink((www + "/broken/gone").c_str(), (www + "/broken/http.aut").c_str()), 0);
  for (const char* target : {"/broken/", "/broken/a.txt"}) {
    std::string answer = Get(target);
    EXPECT_EQ(StatusOf(answer), 403) << target << "\n" << answer;
    EXPECT_EQ(answer.find("unguarded?"), std::string::npos) << answer;
  }
}

TEST_F(Traversal, ListedNamesAreTextAndTheirLinksOpenThem) {
  const std::string dir = Site.Process().DocRoot() + "/names";
  const std::vector<std::string> names = {"<img src=x onerror=alert(1)>", "a b&c%\"d.txt",
                                          "100%25.txt", "\x9A\xE1rka.txt"};
  for (const std::string& name : names) tovktest::WriteFile(dir + "/" + name, "file " + name);
  std::string listing = Get("/names/");
  ASSERT_EQ(StatusOf(listing), 200) << listing;
  EXPECT_EQ(listing.find("<img src=x"), std::string::npos) << listing;
  EXPECT_NE(listing.find("&lt;img src=x onerror=alert(1)&gt;</a>"), std::string::npos) << listing;
  // Every link of a row, followed as a browser would, gives its file.
  std::set<std::string> opened;
  const std::string marker = "<a href=\"/names/";
  for (std::size_t at = listing.find(marker); at != std::string::npos;
       at = listing.find(marker, at + 1)) {
    std::size_t start = listing.find('"', at) + 1;
    std::string link = listing.substr(start, listing.find('"', start) - start);
    if (link == "/names/..") continue;
    std::string answer = Get(link);
    EXPECT_EQ(StatusOf(answer), 200) << link << "\n" << answer;
    std::size_t body = answer.find("\r\n\r\n");
    if (body != std::string::npos) opened.insert(answer.substr(body + 4));
  }
  for (const std::string& name : names)
    EXPECT_TRUE(opened.count("file " + name)) << "no link opened " << name << "\n" << listing;
}

TEST_F(Traversal, BuiltInCommandsHonourTheirDirectorysAccessFile) {
  // /iswd/ maps into the document root through the alias of "/".
  const std::string iswd = Site.Process().DocRoot() + "/iswd";
  tovktest::MakeDirs(iswd);
  tovktest::WriteFile(iswd + "/http.aut",
                      "[prava]\nreload=" + kDemoRights + "\ninfo=" + kDemoRights + "\n");
  // Only the last part of the path names the command, so the other ways to
  // reach it must meet the same file.
  for (const char* target : {"/iswd/reload", "/ISWD/RELOAD", "/iswd/sub/reload", "/x/iswd/reload",
                             "/iswd/info", "/sub/iswd/info"}) {
    for (const char* method : {"GET", "HEAD"}) {
      std::string answer = Get(target, "", method);
      EXPECT_EQ(StatusOf(answer), 401) << method << " " << target << "\n" << answer;
    }
  }
  EXPECT_EQ(Site.Process().ErrorLog().find("adavek na restart"), std::string::npos)
      << "a refused reload restarts nothing\n" << Site.Process().ErrorLog();
  EXPECT_EQ(StatusOf(Get("/iswd/logo_gif")), 200) << "names without a key stay open";
  std::string info = Get("/iswd/info", kDemoAuthorization);
  EXPECT_EQ(StatusOf(info), 200) << info;
  EXPECT_NE(info.find("<h3>"), std::string::npos) << info;
}

TEST(TraversalVirtual, AnotherServersHostCannotReachWhatTheDefaultServerGuards) {
  // www.b.test maps only /b/, so its /iswd/ falls back to the built-in
  // directory that has no access file; the default server's file still holds.
  HostileServer site;
  const std::string www = site.Process().DocRoot();
  tovktest::MakeDirs(www + "/iswd");
  tovktest::MakeDirs(www + "/b");
  tovktest::WriteFile(www + "/iswd/http.aut",
                      "[prava]\nreload=" + kDemoRights + "\ninfo=" + kDemoRights + "\n");
  const std::string other = tovktest::ServerProcess::RegEscape(
      "www.b.test (HTTP),/b/," + tovktest::ServerProcess::SystemPath(www + "/b") + "\\");
  ASSERT_TRUE(site.Start("\"Virt num\"=dword:00000001\n\"Virt 1\"=\"www.b.test,HTTP\"\n"
                         "\"Alias num\"=dword:00000003\n\"Alias 3\"=\"" + other + "\"\n"))
      << site.Process().Output();
  for (const char* target : {"/iswd/reload", "/iswd/info", "/b/iswd/reload"}) {
    std::string answer =
        site.Get(std::string("GET ") + target + " HTTP/1.0\r\nHost: www.b.test\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 401) << target << "\n" << answer;
  }
  std::string info = site.Get("GET /iswd/info HTTP/1.0\r\nHost: www.b.test\r\n" +
                              kDemoAuthorization + "\r\n");
  EXPECT_EQ(StatusOf(info), 200) << info;
  EXPECT_EQ(site.Process().ErrorLog().find("adavek na restart"), std::string::npos)
      << site.Process().ErrorLog();
}

}  // namespace
