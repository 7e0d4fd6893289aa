// The route's choice for a request, asked directly: no reply is built and
// nothing is sent.
#include "server/reply/Route.h"

#include <memory>

#include <gtest/gtest.h>

#include "server/reply/SvrSetupHolder.h"
#include "tests/reply/ReplyTestSupport.h"

using replytest::Sys;
using tovktest::MakeDirs;
using tovktest::TempDir;
using tovktest::WriteFile;

namespace {

TRequest RequestFor(const std::string& line, TMemoryStream& body, bool isTLS = false,
                    const std::string& authorization = "") {
  std::vector<std::string> lines{line};
  if (!authorization.empty()) lines.push_back("Authorization: " + authorization);
  return TRequest::FromLines(lines, body, "127.0.0.1", isTLS, 1);
}

// A document root of its own behind a settings holder of its own.
class Route : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(Www / "dir");
    MakeDirs(Www / "listed");
    MakeDirs(Www / "cgi");
    WriteFile(Www / "a.txt", "a");
    WriteFile(Www / "dir/index.html", "index");
    WriteFile(Www / "cgi/run.cgi", "#!/bin/sh\n");
    WriteFile(Www / "page.shtml", "page");
    Holder->AliasTable = {"*,/," + Sys(Www.Path()) + "\\"};
    Holder->DefaultDocuments = {"index.html"};
    Holder->AppTable = {"cgi,TOVK/EXEC", "pl,/no/such/perl", "xx,TOVK/NONE",
                        "shtml,TOVK/SSI"};
  }

  TRoute Ask(const std::string& line, TRouteScope scope = TRouteScope::Connection) {
    Requests.push_back(std::make_unique<TRequest>(RequestFor(line, Body)));
    return RouteRequest(*Requests.back(), *Holder, scope);
  }

  TempDir Www;
  std::shared_ptr<TSvrSetupHolder> Holder = std::make_shared<TSvrSetupHolder>();
  TMemoryStream Body;
  std::vector<std::unique_ptr<TRequest>> Requests;
};

TEST_F(Route, ChoosesForTheConnectionInItsOrder) {
  TRoute file = Ask("GET /a.txt HTTP/1.0");
  EXPECT_EQ(file.Kind, TRouteKind::File);
  EXPECT_EQ(file.Path, Sys(Www / "a.txt"));
  ASSERT_TRUE(file.Stat.has_value()) << "the route's look travels with it";
  EXPECT_EQ(file.Stat->Size, 1);

  TRoute document = Ask("GET /dir/ HTTP/1.0");
  EXPECT_EQ(document.Kind, TRouteKind::File);
  EXPECT_EQ(document.Path, Sys(Www / "dir/index.html"));
  TRoute toSlash = Ask("GET /dir HTTP/1.0");
  EXPECT_EQ(toSlash.Kind, TRouteKind::Redirect);
  EXPECT_EQ(toSlash.Text, "/dir/");
  EXPECT_EQ(Ask("GET /listed HTTP/1.0").Text, "/listed/");
  TRoute listing = Ask("GET /listed/ HTTP/1.0");
  EXPECT_EQ(listing.Kind, TRouteKind::Listing);
  EXPECT_EQ(listing.Path, Sys(Www / "listed") + "\\");

  EXPECT_EQ(Ask("GET /iswd/logo_gif HTTP/1.0").Kind, TRouteKind::Builtin);
  TRoute cgi = Ask("GET /cgi/run.cgi?q=1 HTTP/1.0");
  EXPECT_EQ(cgi.Kind, TRouteKind::Gateway);
  EXPECT_EQ(cgi.Gateway, TGatewayKind::Exec);
  EXPECT_EQ(cgi.Path, Sys(Www / "cgi/run.cgi")) << "the query is cut from the path";

  TRoute missing = Ask("GET /none.txt HTTP/1.0");
  EXPECT_EQ(missing.Kind, TRouteKind::Error);
  EXPECT_EQ(missing.Code, 404);
  EXPECT_EQ(missing.Text, "/none.txt<P>" + Sys(Www / "none.txt"));
  EXPECT_EQ(Ask("GET /../a.txt HTTP/1.0").Code, 403);
  EXPECT_EQ(Ask("PUT /a.txt HTTP/1.0").Code, 501);
  EXPECT_EQ(Ask("GET /x.pl HTTP/1.0").Code, 500) << "an interpreter that is not there";
  EXPECT_EQ(Ask("GET /x.xx HTTP/1.0").Code, 404) << "a pseudo-interpreter of no row";

  Holder->AliasTable.clear();
  EXPECT_EQ(Ask("GET /a.txt HTTP/1.0").Text, "\"\"") << "a URL that maps to nothing";
}

TEST_F(Route, AnIncludeTakesOnlyFilesAndGateways) {
  EXPECT_EQ(Ask("GET /a.txt HTTP/1.0", TRouteScope::Include).Kind, TRouteKind::File);
  EXPECT_EQ(Ask("GET /page.shtml HTTP/1.0", TRouteScope::Include).Gateway, TGatewayKind::Ssi);
  for (const char* line : {"GET /dir/ HTTP/1.0", "GET /listed HTTP/1.0",
                           "GET /iswd/logo_gif HTTP/1.0", "GET /none.txt HTTP/1.0"}) {
    TRoute route = Ask(line, TRouteScope::Include);
    EXPECT_EQ(route.Kind, TRouteKind::Error) << line;
    EXPECT_EQ(route.Miss, TRouteMiss::NoTarget) << line;
  }
  EXPECT_EQ(Ask("GET /../a.txt HTTP/1.0", TRouteScope::Include).Miss, TRouteMiss::Climbs);
  EXPECT_EQ(Ask("GET /x.pl HTTP/1.0", TRouteScope::Include).Miss, TRouteMiss::NoInterpreter);
  EXPECT_EQ(Ask("GET /x.xx HTTP/1.0", TRouteScope::Include).Miss, TRouteMiss::NoPseudoTarget);
}

TEST_F(Route, ACustomErrorPageIsAFileOrAGateway) {
  EXPECT_EQ(RouteErrorPage(Sys(Www / "a.txt"), *Holder).Kind, TRouteKind::File);
  TRoute ssi = RouteErrorPage(Sys(Www / "page.shtml"), *Holder);
  EXPECT_EQ(ssi.Kind, TRouteKind::Gateway);
  EXPECT_EQ(ssi.Gateway, TGatewayKind::Ssi);
  EXPECT_EQ(RouteErrorPage(Sys(Www / "gone.txt"), *Holder).Kind, TRouteKind::Error);
  EXPECT_EQ(RouteErrorPage(Sys(Www / "err.pl"), *Holder).Kind, TRouteKind::Error);
}

}  // namespace
