// The page builder on its own: the templates of its pieces, the field
// look-up and the link encoding.

#include <gtest/gtest.h>

#include "admin/tisapireplyU.h"

TEST(TISAPIReply, PageFrameAndEmptyBodyAttributes) {
  TISAPIReply reply("");
  reply.BeginPage("T", "");
  reply.EndPage();
  EXPECT_EQ(reply.Page,
            "<HTML><HEAD>\r\n<TITLE>T</TITLE>\r\n</HEAD>\r\n<BODY bgcolor=white>\r\n"
            "</BODY></HTML>\r\n");
  TISAPIReply other("");
  other.BeginPage("T", "bgcolor=red");
  EXPECT_NE(other.Page.find("<BODY bgcolor=red>\r\n"), std::string::npos) << other.Page;
}

TEST(TISAPIReply, OptionalAttributesAreLeftOutOnlyWhereTheTemplateSays) {
  TISAPIReply reply("");
  reply.BeginForm("a.dll?x=1", "POST", "");
  reply.BeginForm("a.dll", "GET", "nast");
  reply.AddTextInput("co", 22, "");
  reply.AddTextInput("Port", 5, "80");
  reply.AddPasswordInput("passwd", 45, "tajne");
  reply.AddHidden("kam", "");
  reply.AddSubmit("Ulož data");
  reply.AddHeading(2, "x");
  reply.AddBreakLine("a");
  reply.AddRule();
  reply.EndForm();
  EXPECT_EQ(reply.Page,
            "<FORM ACTION=\"a.dll?x=1\" METHOD=\"POST\">\r\n"
            "<FORM ACTION=\"a.dll\" METHOD=\"GET\" NAME=\"nast\">\r\n"
            "<INPUT TYPE=text NAME=\"co\" SIZE=\"22\">\r\n"
            "<INPUT TYPE=text NAME=\"Port\" SIZE=\"5\" VALUE=\"80\">\r\n"
            "<INPUT TYPE=password NAME=\"passwd\" SIZE=\"45\" VALUE=\"tajne\">\r\n"
            "<INPUT TYPE=hidden NAME=\"kam\" VALUE=\"\">\r\n"
            "<INPUT TYPE=submit VALUE=\"Ulož data\">\r\n"
            "<H2>x</H2>\r\n"
            "a<BR>\r\n"
            "<HR>\r\n"
            "</FORM>\r\n");
}

TEST(TISAPIReply, LinkTargetMayCarryFurtherAttributes) {
  TISAPIReply reply("");
  reply.AddLink("admin.dll?action=mime\" TARGET=\"edit", "Mime");
  EXPECT_EQ(reply.Page, "<A HREF=\"admin.dll?action=mime\" TARGET=\"edit\">Mime</A>");
}

TEST(TISAPIReplyGetField, IgnoresCaseAndEndsAtAmpersand) {
  const TISAPIReply reply("action=zastupci&subaction=smaz&co=a,b");
  EXPECT_EQ(reply.GetField("co"), "a,b");
  EXPECT_EQ(reply.GetField("CO"), "a,b");
  EXPECT_EQ(reply.GetField("Action"), "zastupci");
  EXPECT_EQ(reply.GetField("typ"), kNoData);
}

TEST(TISAPIReplyGetField, PlainSubstringFirstOccurrenceAndEmptyValue) {
  EXPECT_EQ(TISAPIReply("xco=1&co=2").GetField("co"), "1");
  EXPECT_EQ(TISAPIReply("port=").GetField("port"), "");
  EXPECT_EQ(TISAPIReply("a=1&port=&b=2").GetField("port"), "");
  // The value keeps its own letter case while the name is matched without it.
  EXPECT_EQ(TISAPIReply("PATH=C:\\Dir").GetField("path"), "C:\\Dir");
  // Letters with diacritics are not case-folded.
  EXPECT_EQ(TISAPIReply("č=1").GetField("Č"), kNoData);
}

TEST(URLEncode, KeepsOnlyLettersDigitsDashAndSlash) {
  EXPECT_EQ(URLEncode("* (HTTP),/cgi/,c:\\x\\"), "%2A+%28HTTP%29%2C/cgi/%2Cc%3A%5Cx%5C");
  EXPECT_EQ(URLEncode("Az09-/"), "Az09-/");
  EXPECT_EQ(URLEncode("a.b_c"), "a%2Eb%5Fc");
  EXPECT_EQ(URLEncode(std::string("\x00\x0a\xe8\xff", 4)), "%00%0A%E8%FF");
  EXPECT_EQ(URLEncode("%+&="), "%25%2B%26%3D");
}

TEST(TISAPIReply, EscapesForEachPlace) {
  EXPECT_EQ(HtmlText("a&<b>\"'"), "a&amp;&lt;b&gt;\"'");
  EXPECT_EQ(HtmlAttribute("a&<b>\"'"), "a&amp;<b>&quot;'");
  EXPECT_EQ(ScriptString(std::string("\\'\"\r\n\t\x7f<>\xe8", 10)),
            "\\\\\\'\\\"\\r\\n\\x09\\x7F\\x3C\\x3E\xe8");
  TISAPIReply reply("");
  reply.AddTextInput("a", 5, "x\"y&z");
  reply.AddPasswordInput("b", 5, "\">");
  EXPECT_EQ(reply.Page,
            "<INPUT TYPE=text NAME=\"a\" SIZE=\"5\" VALUE=\"x&quot;y&amp;z\">\r\n"
            "<INPUT TYPE=password NAME=\"b\" SIZE=\"5\" VALUE=\"&quot;>\">\r\n");
}
