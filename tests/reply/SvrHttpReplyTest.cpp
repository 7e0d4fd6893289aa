#include "server/reply/SvrHttpReply.h"

#include <gtest/gtest.h>

#include "tests/reply/ReplyTestSupport.h"

using replytest::TConnection;

TEST(ReplyBase, UrlPathAndQueryComeFromTheRawRequestLine) {
  TConnection connection("GET /a%20b?x=1&y=/c HTTP/1.0");
  THTTPReply reply(connection.Context());
  reply.Prepare();
  EXPECT_EQ(reply.GetUrlPath(), "/a%20b");
  EXPECT_EQ(reply.GetQueryString(), "x=1&y=/c");
  int16_t code = 0;
  std::string text = "x";
  EXPECT_FALSE(reply.GetStatus(code, text));
  EXPECT_EQ(code, 200);
  EXPECT_EQ(text, "");

  TConnection plain("POST /form");
  THTTPReply noQuery(plain.Context());
  noQuery.Prepare();
  EXPECT_EQ(noQuery.GetQueryString(), "");
  EXPECT_EQ(noQuery.GetUrlPath(), "/form");
}

TEST(ReplyBase, BaseHeaderAddsDateServerAndKeepAlive) {
  TConnection connection("GET / HTTP/1.0");
  connection.Header.Values[rqConnection] = "keep-alive";
  THTTPReply reply(connection.Context());
  reply.Prepare();
  reply.SendHeader();
  std::string sent = connection.Sent();
  EXPECT_NE(sent.find("\r\nDate: "), std::string::npos) << sent;
  EXPECT_NE(sent.find(" GMT\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("\r\nConnection: Keep-Alive\r\n"), std::string::npos) << sent;
  EXPECT_EQ(sent.substr(sent.size() - 4), "\r\n\r\n");
}

