// Socket tests of what general HTTP clients meet: Expect: 100-continue and
// the metrics page.
#include "server_fixture.h"

class HttpClientTest : public GServerFixture
{
};

namespace
{

// A set head as curl writes it for a large body: the body waits for 100 Continue.
std::string ExpectingSet(const std::string& strWord, size_t nLength, const char* szType = "application/x-variant-8")
{
    std::string str = "POST /" + strWord + " HTTP/1.1\r\nhost: 127.0.0.1\r\nx-param-name: big\r\n";
    if (szType != nullptr)
        str += std::string("content-type: ") + szType + "\r\n";
    return str + "content-length: " + std::to_string(nLength) + "\r\nExpect: 100-continue\r\n\r\n";
}

} // namespace

TEST_F(HttpClientTest, BodyThatIsWantedIsAskedForWithContinue)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(ExpectingSet("set", 4)));
    EXPECT_EQ("HTTP/1.1 100 Continue\r\n\r\n", client.ReadReply());
    ASSERT_TRUE(client.Send("abcd"));
    EXPECT_EQ(kStored, client.ReadReply());
    // A body sent along with its head is not asked for again.
    ASSERT_TRUE(client.Send(ExpectingSet("set", 2) + "xy" + CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
    EXPECT_EQ(kStored, client.ReadReply());
    // Nor is an empty one, nor one that another command brought along.
    ASSERT_TRUE(client.Send(ExpectingSet("set", 0) + ExpectingSet("del", 1) + "z"));
    EXPECT_EQ(kStored, client.ReadReply());
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_F(HttpClientTest, RefusalBeforeTheBodyIsAnsweredAtOnceAndCloses)
{
    struct GCase
    {
        const char* szWhat;
        std::string strHead;
        std::string strReply;
    };
    const GCase cases[] = {
        {"too large", ExpectingSet("set", 300000),
            "HTTP/1.1 413 Content Too Large\r\nx-result-reason: body larger than the largest value\r\n"
            "content-length: 0\r\nconnection: close\r\n\r\n"},
        {"unknown command", ExpectingSet("put", 10),
            "HTTP/1.1 404 Not Found\r\nx-result-reason: unknown command\r\ncontent-length: 0\r\nconnection: close\r\n\r\n"},
        {"no content-type", ExpectingSet("set", 10, nullptr),
            "HTTP/1.1 415 Unsupported Media Type\r\nx-result-reason: content-type required\r\n"
            "content-length: 0\r\nconnection: close\r\n\r\n"},
        {"over the memory limit", ExpectingSet("set", 100000),
            "HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: value too large\r\n"
            "content-length: 0\r\nconnection: close\r\n\r\n"},
    };
    StartServer({"--memory-limit", "64K", "--max-value-size", "200K"});
    for (const GCase& c : cases)
    {
        GWireClient client = Connect();
        ASSERT_TRUE(client.Send(c.strHead));
        EXPECT_EQ(c.strReply, ReadUntilServerCloses(client)) << c.szWhat;
    }
}

TEST_F(HttpClientTest, MetricsPageCountsWhatHappened)
{
    StartServer({"--threads", "2"});
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("m", I4Image(1)) + CommandRequest("get", "m") + CommandRequest("get", "none")
        + CommandRequest("del", "m") + "POST /zap HTTP/1.1\r\ncontent-length: 0\r\n\r\n"));
    for (int i = 0; i < 5; ++i)
        client.ReadReply();
    ASSERT_TRUE(client.Send("GET /metrics HTTP/1.1\r\nhost: 127.0.0.1\r\n\r\n"));
    const std::string strReply = client.ReadReply();
    EXPECT_EQ(0u, strReply.find("HTTP/1.1 200 OK\r\ncontent-type: text/plain; version=0.0.4; charset=utf-8\r\n"))
        << strReply;
    for (const char* szLine : {"\nharbinet_requests_total{command=\"set\",outcome=\"ok\"} 1\n",
             "\nharbinet_requests_total{command=\"get\",outcome=\"failed\"} 1\n",
             "\nharbinet_requests_total{command=\"del\",outcome=\"ok\"} 1\n",
             "\nharbinet_requests_total{command=\"other\",outcome=\"refused\"} 1\n",
             "\nharbinet_get_hits_total 1\n", "\nharbinet_get_misses_total 1\n", "\nharbinet_stored_items 0\n",
             "\nharbinet_store_errors_total 0\n", "\nharbinet_connections_open 1\n",
             "\nharbinet_request_duration_seconds_count 5\n", "\nharbinet_request_duration_seconds_bucket{le=\"+Inf\"} 5\n"})
        EXPECT_NE(std::string::npos, strReply.find(szLine)) << szLine;

    EXPECT_EQ(0, m_server.Stop());
    StartServer({"--metrics", "off"});
    EXPECT_EQ("HTTP/1.1 405 Method Not Allowed\r\nx-result-reason: only POST is accepted\r\ncontent-length: 0\r\n\r\n",
        Exchange("GET /metrics HTTP/1.1\r\n\r\n"));
}
