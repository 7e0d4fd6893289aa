#include "common/ListEntry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/NTRegistry.h"
#include "common/RegNames.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace listentry;

TEST(ListEntry, EachListKindSplitsIntoItsFields) {
  const TPair mime = ParsePair("tar.gz,application/x-tar; q=0.5, x");
  EXPECT_EQ(mime.First, "tar.gz");
  EXPECT_EQ(mime.Second, "application/x-tar; q=0.5, x") << "the last field keeps its commas";
  EXPECT_EQ(ParsePair("pl,c:\\perl\\perl.exe").Second, "c:\\perl\\perl.exe");

  EXPECT_TRUE(VirtualIsTLS("shop.example,https"));
  EXPECT_FALSE(VirtualIsTLS("shop.example,HTTP"));
  EXPECT_FALSE(VirtualIsTLS("https.example, HTTPS")) << "a blank before the kind is no kind";

  const TAlias alias = ParseAlias("* (HTTPS),/cgi/,c:\\a,b\\");
  EXPECT_EQ(alias.Server, "* (HTTPS)");
  EXPECT_EQ(alias.Prefix, "/cgi/");
  EXPECT_EQ(alias.Directory, "c:\\a,b\\");
  EXPECT_EQ(AliasServer("shop.example", "HTTPS"), "shop.example (HTTPS)");

  const TAliasServer tls = ParseAliasServer("Shop.example (https)");
  EXPECT_EQ(tls.Name, "SHOP.EXAMPLE");
  EXPECT_TRUE(tls.IsTLS);
  const TAliasServer bare = ParseAliasServer("*");
  EXPECT_EQ(bare.Name, "*");
  EXPECT_FALSE(bare.IsTLS);
  EXPECT_EQ(ParseAliasServer("a (HTTP)tail").Name, "AL") << "ten characters go from \" (\" on";
}

TEST(ListEntry, MalformedEntriesReadAsTheServerReadsThem) {
  EXPECT_EQ(ParsePair("nocomma").First, "");
  EXPECT_EQ(ParsePair("nocomma").Second, "nocomma");
  EXPECT_EQ(ParsePair("").Second, "");
  const TAlias oneComma = ParseAlias("srv (HTTPS),/");
  EXPECT_EQ(oneComma.Prefix, "") << "one comma: the prefix is empty";
  EXPECT_EQ(oneComma.Directory, "/");

  // A comma in a field other than the last would read back elsewhere.
  std::string text = "unchanged";
  EXPECT_FALSE(FormatPair({"evil,HTTPS", "HTTP"}, text));
  EXPECT_FALSE(FormatAlias({"a,b (HTTP)", "/", "c:\\"}, text));
  EXPECT_FALSE(FormatAlias({"* (HTTP)", "/a,b", "c:\\"}, text));
  EXPECT_EQ(text, "unchanged");
}

TEST(ListEntry, FieldsRoundTripByteForByte) {
  const std::vector<TPair> pairs = {{"htm", "text/html"}, {"", ""}, {" Pl ", " c:\\a b.exe, -w "},
                                    {"\xE8\x9A", "\xFF,\x01"}};
  for (const TPair& pair : pairs) {
    std::string text;
    ASSERT_TRUE(FormatPair(pair, text));
    EXPECT_EQ(ParsePair(text).First, pair.First);
    EXPECT_EQ(ParsePair(text).Second, pair.Second);
  }
  const TAlias alias = {"www.example.cz (HTTPS)", "/Cgi", "c:\\x,y\\"};
  std::string text;
  ASSERT_TRUE(FormatAlias(alias, text));
  EXPECT_EQ(text, "www.example.cz (HTTPS),/Cgi,c:\\x,y\\");
  const TAlias back = ParseAlias(text);
  EXPECT_EQ(back.Server, alias.Server);
  EXPECT_EQ(back.Prefix, alias.Prefix);
  EXPECT_EQ(back.Directory, alias.Directory);
}

class ListEntryRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TOVK_REGISTRY", (Dir / "registry.db").c_str(), 1);
    Reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(Reg.OpenKey(reg::kServerKey, true));
  }
  void TearDown() override {
    Reg.CloseKey();
    unsetenv("TOVK_REGISTRY");
  }
  tovktest::TempDir Dir;
  TNTRegistry Reg;
};

TEST_F(ListEntryRegistry, CountsBelowOneReadNothingAndOnlyTheirLow16BitsCount) {
  EXPECT_EQ(ListCount(-3), 0);
  EXPECT_EQ(ListCount(0), 0);
  EXPECT_EQ(ListCount(kMaxListEntries), kMaxListEntries);
  EXPECT_EQ(ListCount(65536), 0);
  EXPECT_EQ(ListCount(65536 + 2), 2);
  EXPECT_EQ(ListCount(INT32_MAX), kMaxListEntries);

  EXPECT_THROW(ReadList(Reg, reg::kMime), ERegistryException) << "a missing count fails";
  WriteList(Reg, reg::kMime, {"a,b", "c,d", "e,f"});
  EXPECT_EQ(Reg.ReadInteger("MIME num"), 3);
  Reg.WriteInteger("MIME num", -1);
  EXPECT_TRUE(ReadList(Reg, reg::kMime).empty());
  Reg.WriteInteger("MIME num", 65536 + 2);
  EXPECT_EQ(ReadList(Reg, reg::kMime), (std::vector<std::string>{"a,b", "c,d"}));
  Reg.WriteInteger("MIME num", 4);
  EXPECT_EQ(ReadList(Reg, reg::kMime), (std::vector<std::string>{"a,b", "c,d", "e,f", ""}))
      << "a missing entry reads as empty";

  Reg.WriteInteger("MIME 2", 7);
  std::vector<std::string> seen;
  EXPECT_THROW(ForEachEntry(Reg, reg::kMime, [&seen](const std::string& text) { seen.push_back(text); }),
               ERegistryException);
  EXPECT_EQ(seen, std::vector<std::string>{"a,b"}) << "entries before a failed read are handed on";
}

}  // namespace
