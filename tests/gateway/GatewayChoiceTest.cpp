// The gateway choice: which kind of reply an interpreter text gives.

#include <gtest/gtest.h>

#include "server/gateway/GatewayChoice.h"
#include "tests/gateway/GatewayFixture.h"

namespace {

TEST(ClassifyGateway, PseudoInterpretersNeedTheFile) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "a.cgi", "x");
  std::string file = gwtest::Sys(dir / "a.cgi");
  std::string missing = gwtest::Sys(dir / "b.cgi");
  EXPECT_EQ(ClassifyGateway("tovk/exec", file), TGatewayKind::Exec);
  EXPECT_EQ(ClassifyGateway("TOVK/ISAPI", file), TGatewayKind::Isapi);
  EXPECT_EQ(ClassifyGateway("Tovk/Ssi", file), TGatewayKind::Ssi);
  EXPECT_EQ(ClassifyGateway("TOVK/EXEC", missing), TGatewayKind::MissingPseudo);
  EXPECT_EQ(ClassifyGateway("tovk/send", file), TGatewayKind::MissingPseudo);
}

TEST(ClassifyGateway, ProgramsAreFoundByTheirConfiguredName) {
  tovktest::TempDir dir;
  tovktest::WriteFile(dir / "Ext.dll", "x");
  tovktest::WriteFile(dir / "other.DLL.txt", "x");
  EXPECT_EQ(ClassifyGateway("/usr/bin/perl", "\\x\\y.pl"), TGatewayKind::Cgi);
  // Upper-casing is only for the comparison: the name must exist as written.
  EXPECT_EQ(ClassifyGateway("/USR/BIN/PERL", "\\x\\y.pl"), TGatewayKind::MissingInterpreter);
  EXPECT_EQ(ClassifyGateway(gwtest::Sys(dir / "Ext.dll"), "\\x\\y.isx"), TGatewayKind::IsapiExt);
  EXPECT_EQ(ClassifyGateway(gwtest::Sys(dir / "other.DLL.txt"), "\\x\\y"), TGatewayKind::Cgi);
  EXPECT_EQ(ClassifyGateway(gwtest::Sys(dir / "none.dll"), "\\x\\y"),
            TGatewayKind::MissingInterpreter);
}

TEST(GatewayPathInfo, TakesTheUrlAfterTheFileNameOnlyWithAnExtraPath) {
  EXPECT_EQ(GatewayPathInfo("\\www\\cgi\\x.cgi", "/cgi/x.cgi/more", ""), "");
  EXPECT_EQ(GatewayPathInfo("\\www\\cgi\\x.cgi", "/cgi/x.cgi/more?q", "/more"), "/more");
}

}  // namespace
