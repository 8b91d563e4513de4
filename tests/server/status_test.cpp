// Socket tests of every refusal status: which requests get it, its exact
// bytes, and whether the connection survives it.
#include "server_fixture.h"

#include <unistd.h>

class StatusTest : public GServerFixture
{
};

TEST_F(StatusTest, UnknownCommandIs404AndTheConnectionCarriesOn)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /put HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 3\r\n\r\nabc"));
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\nx-result-reason: unknown command\r\ncontent-length: 0\r\n\r\n",
        client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_F(StatusTest, WrongBasePathIs404)
{
    StartServer({"--base-path", "/cache"});
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\nx-result-reason: unknown command\r\ncontent-length: 0\r\n\r\n",
        Exchange(CommandRequest("nop", "", nullptr, "/")));
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "", nullptr, "/cache")));
}

TEST_F(StatusTest, MethodOtherThanPostIs405)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("GET /get HTTP/1.1\r\nhost: 127.0.0.1\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 405 Method Not Allowed\r\nx-result-reason: only POST is accepted\r\ncontent-length: 0\r\n\r\n",
        client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_F(StatusTest, HeadLargerThanTheLimitIs431AndCloses)
{
    StartServer({"--max-head-size", "1024"});
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /get HTTP/1.1\r\nx-param-name: " + std::string(2000, 'n') + "\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 431 Request Header Fields Too Large\r\nx-result-reason: request head too large\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
}

TEST_F(StatusTest, HeadJustWithinTheLimitIsServed)
{
    StartServer({"--max-head-size", "1024"});
    // 20 + 19 + 14 + n + 2 + 2 = 1024 bytes.
    std::string str = "POST /get HTTP/1.1\r\ncontent-length: 0\r\nx-param-name: ";
    str += std::string(1024 - str.size() - 4, 'n') + "\r\n\r\n";
    ASSERT_EQ(1024u, str.size());
    EXPECT_EQ(kNotFound, Exchange(str));
}

TEST_F(StatusTest, PostWithoutLengthIs411AndCloses)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /get HTTP/1.1\r\nhost: 127.0.0.1\r\nx-param-name: a\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 411 Length Required\r\nx-result-reason: content-length required\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
}

TEST_F(StatusTest, UnusableLengthIs400AndCloses)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-3\r\ncontent-length: 2 4\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nx-result-reason: unusable content-length\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
}

TEST_F(StatusTest, MalformedHeadIs400AndCloses)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /get HTTP/1.1\nhost: x\n\n"));
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nx-result-reason: line not ended by CR LF\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
}

TEST_F(StatusTest, MissingValueTypeIs415AndTheBodyIsSkipped)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /set HTTP/1.1\r\ncontent-length: 24\r\nx-param-name: a\r\n\r\n" + I4Image(1)));
    EXPECT_EQ("HTTP/1.1 415 Unsupported Media Type\r\nx-result-reason: content-type required\r\n"
              "content-length: 0\r\n\r\n",
        client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("get", "a")));
    EXPECT_EQ(kNotFound, client.ReadReply());
}

TEST_F(StatusTest, UnusableValueTypeIs415)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /set HTTP/1.1\r\ncontent-type: text/plain\r\ncontent-length: 5\r\n"
                            "x-param-name: a\r\n\r\nhello"));
    EXPECT_EQ("HTTP/1.1 415 Unsupported Media Type\r\nx-result-reason: content-type is not application/x-variant-<n>\r\n"
              "content-length: 0\r\n\r\n",
        client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_F(StatusTest, BodyLargerThanTheLargestValueIs413AndCloses)
{
    StartServer({"--max-value-size", "1K"});
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("a", std::string(1025, 'x'))));
    EXPECT_EQ("HTTP/1.1 413 Content Too Large\r\nx-result-reason: body larger than the largest value\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
    EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "a")));
}

TEST_F(StatusTest, BodyOfExactlyTheLargestValueIsStored)
{
    StartServer({"--max-value-size", "1K"});
    EXPECT_EQ(kStored, Exchange(SetRequest("a", std::string(1024, 'x'), 8)));
}

TEST_F(StatusTest, UnusableTimeoutIs400AndTheConnectionCarriesOn)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("a", I4Image(1), 3, -1)));
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nx-result-reason: unusable x-param-timeout\r\ncontent-length: 0\r\n\r\n",
        client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("get", "a")));
    EXPECT_EQ(kNotFound, client.ReadReply());
}

TEST_F(StatusTest, OtherHttpVersionIs505AndCloses)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /nop HTTP/2.0\r\ncontent-length: 0\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 505 HTTP Version Not Supported\r\nx-result-reason: only HTTP/1.x is spoken here\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
}

TEST_F(StatusTest, ConnectionBeyondTheLimitIs503)
{
    StartServer({"--max-connections", "2"});
    GWireClient first = Connect();
    GWireClient second = Connect();
    ASSERT_TRUE(first.Send(CommandRequest("nop", "")));
    ASSERT_TRUE(second.Send(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, first.ReadReply());
    EXPECT_EQ(kStored, second.ReadReply());

    GWireClient third = Connect();
    EXPECT_EQ("HTTP/1.1 503 Service Unavailable\r\nx-result-reason: too many connections\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(third));
    third.Close();

    // A place that frees up is available again.
    first.Close();
    bool bServed = false;
    for (int nTry = 0; nTry < 500 && !bServed; ++nTry)
    {
        GWireClient again = Connect();
        again.Send(CommandRequest("nop", ""));
        bServed = again.ReadReply() == kStored;
        if (!bServed)
            usleep(10000);
    }
    EXPECT_TRUE(bServed);
}
