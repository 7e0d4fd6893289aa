// The real tovksrv, copied with its libraries into a directory of its own,
// against key files that cannot be used: it says so and ends at once,
// before it looks at its configuration or any port.

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "tests/tls/TlsTestSupport.h"

namespace {

using namespace std::chrono_literals;

class TlsStart : public ::testing::Test {
 protected:
  void SetUp() override {
    Program = tlstest::CopyProgram(Dir.Path());
    ASSERT_FALSE(Program.empty()) << "tovksrv and its libraries are built in "
                                  << tovktest::BinDir();
    ASSERT_TRUE(tlstest::MakeKeyPair(Keys / "cert.pem", Keys / "key.pem"));
    ASSERT_TRUE(tlstest::MakeKeyPair(Keys / "other-cert.pem", Keys / "other-key.pem"));
    tovktest::WriteFile(Dir / ".rnd", std::string(1024, 'r'));
  }
  // Started by hand, as a service manager would, so that only the key
  // files can stop it.
  tovktest::RunResult RunProgram() {
    return tovktest::Run({Program}, {{"TOVK_REGISTRY", Dir / "registry.db"},
                                     {"TOVK_DRIVE_C", Dir.Path()},
                                     {"NOTIFY_SOCKET", "@tovktest-tls-none"}},
                         "", 20s);
  }
  tovktest::TempDir Dir;
  tovktest::TempDir Keys;
  std::string Program;
};

TEST_F(TlsStart, WithoutTheCertificateTheProgramNamesItAndEnds) {
  tovktest::WriteFile(Dir / "key.pem", tovktest::ReadFile(Keys / "key.pem"));
  tovktest::RunResult run = RunProgram();
  EXPECT_FALSE(run.TimedOut);
  EXPECT_NE(run.ExitCode, 0);
  EXPECT_NE(run.Err.find("Unable to set certificate file " + Dir / "cert.pem"), std::string::npos)
      << run.Err;
}

TEST_F(TlsStart, AnUnreadableKeyIsNamedAndEndsTheProgram) {
  tovktest::WriteFile(Dir / "cert.pem", tovktest::ReadFile(Keys / "cert.pem"));
  tovktest::WriteFile(Dir / "key.pem", "garbage\n");
  tovktest::RunResult run = RunProgram();
  EXPECT_FALSE(run.TimedOut);
  EXPECT_NE(run.ExitCode, 0);
  EXPECT_NE(run.Err.find("Unable to set RSA key file " + Dir / "key.pem"), std::string::npos)
      << run.Err;
}

TEST_F(TlsStart, AKeyOfAnotherCertificateIsAMismatchAndEndsTheProgram) {
  tovktest::WriteFile(Dir / "cert.pem", tovktest::ReadFile(Keys / "cert.pem"));
  tovktest::WriteFile(Dir / "key.pem", tovktest::ReadFile(Keys / "other-key.pem"));
  tovktest::RunResult run = RunProgram();
  EXPECT_FALSE(run.TimedOut);
  EXPECT_NE(run.ExitCode, 0);
  EXPECT_NE(run.Err.find("Private key does not match the certificate public key " +
                         Dir / "key.pem"),
            std::string::npos)
      << run.Err;
}

TEST_F(TlsStart, UsableKeysGetPastTheTlsSetUp) {
  // The check that the failures above come from the keys: with a good pair
  // the copy goes on to the service start, which fails here for want of a
  // service manager, without a word about the keys.
  tovktest::WriteFile(Dir / "cert.pem", tovktest::ReadFile(Keys / "cert.pem"));
  tovktest::WriteFile(Dir / "key.pem", tovktest::ReadFile(Keys / "key.pem"));
  tovktest::RunResult run = tovktest::Run(
      {Program}, {{"TOVK_REGISTRY", Dir / "registry.db"}, {"TOVK_DRIVE_C", Dir.Path()}}, "", 20s);
  EXPECT_FALSE(run.TimedOut);
  EXPECT_EQ(run.Err.find("Unable to set"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find("Private key"), std::string::npos) << run.Err;
}

}  // namespace
