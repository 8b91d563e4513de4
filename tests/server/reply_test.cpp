// Tests of the bytes of reply heads.
#include "reply.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

std::string Head(const GReply& reply)
{
    std::string str;
    AppendReplyHead(reply, str);
    return str;
}

} // namespace

TEST(ReplyTest, StoredSet)
{
    GReply reply;
    reply.nResultCode = 0;
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", Head(reply));
}

TEST(ReplyTest, FoundGetCarriesTypeAndLength)
{
    GReply reply;
    reply.nResultCode = 0;
    reply.nType = 8209;
    reply.nContentLength = 1048576;
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-8209\r\n"
              "content-length: 1048576\r\n\r\n",
        Head(reply));
}

TEST(ReplyTest, RefusedSetCarriesReason)
{
    GReply reply;
    reply.nResultCode = 1;
    reply.szReason = "value too large";
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: value too large\r\ncontent-length: 0\r\n\r\n",
        Head(reply));
}

TEST(ReplyTest, IssuedCookie)
{
    GReply reply;
    reply.nResultCode = 0;
    reply.szCookie = "0123456789abcdef0123456789abcdef";
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: 0123456789abcdef0123456789abcdef\r\n"
              "content-length: 0\r\n\r\n",
        Head(reply));
}

TEST(ReplyTest, ErrorStatusWithCloseHasNoResultCode)
{
    GReply reply;
    reply.nStatus = 413;
    reply.szReason = "body larger than the largest value";
    reply.bClose = true;
    EXPECT_EQ("HTTP/1.1 413 Content Too Large\r\nx-result-reason: body larger than the largest value\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        Head(reply));
}

TEST(ReplyTest, EveryStatusHasItsPhrase)
{
    EXPECT_STREQ("Bad Request", StatusText(400));
    EXPECT_STREQ("Not Found", StatusText(404));
    EXPECT_STREQ("Method Not Allowed", StatusText(405));
    EXPECT_STREQ("Request Timeout", StatusText(408));
    EXPECT_STREQ("Length Required", StatusText(411));
    EXPECT_STREQ("Content Too Large", StatusText(413));
    EXPECT_STREQ("Unsupported Media Type", StatusText(415));
    EXPECT_STREQ("Request Header Fields Too Large", StatusText(431));
    EXPECT_STREQ("Service Unavailable", StatusText(503));
    EXPECT_STREQ("HTTP Version Not Supported", StatusText(505));
}
