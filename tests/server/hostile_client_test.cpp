// Socket tests of slow, broken and hostile clients: each costs the server no
// more than its limits and never holds up anyone else.
#include "server_fixture.h"

#include <atomic>
#include <sys/socket.h>
#include <chrono>
#include <thread>
#include <vector>

class HostileClientTest : public GServerFixture
{
};

TEST_F(HostileClientTest, SlowDrippedHeadHoldsUpNoOneAndIsServedInTheEnd)
{
    StartServer();
    GWireClient slow = Connect();
    const std::string strRequest = SetRequest("dripped", I4Image(12));
    const size_t nHalf = strRequest.size() / 2;
    std::atomic<bool> bSent{false};
    std::thread dripper([&] {
        bSent = slow.SendSlowly(strRequest.substr(0, nHalf), 5);
    });

    // While the head trickles in, others are served as usual.
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_EQ(kStored, Exchange(SetRequest("quick" + std::to_string(i), I4Image(i))));
        EXPECT_EQ(FoundI4(i), Exchange(CommandRequest("get", "quick" + std::to_string(i))));
    }
    dripper.join();
    ASSERT_TRUE(bSent);
    ASSERT_TRUE(slow.SendSlowly(strRequest.substr(nHalf), 2));
    EXPECT_EQ(kStored, slow.ReadReply());
    EXPECT_EQ(FoundI4(12), Exchange(CommandRequest("get", "dripped")));
}

TEST_F(HostileClientTest, StalledRequestIsAnswered408AndClosedAfterTheRequestTimeout)
{
    StartServer({"--request-timeout", "1"});
    GWireClient stalled = Connect();
    ASSERT_TRUE(stalled.Send("POST /set HTTP/1.1\r\ncontent-type: applic"));
    EXPECT_EQ("HTTP/1.1 408 Request Timeout\r\nx-result-reason: request took too long\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(stalled));
}

TEST_F(HostileClientTest, BodyThatNeverArrivesIsClosedAfterTheRequestTimeout)
{
    StartServer({"--request-timeout", "1"});
    GWireClient stalled = Connect();
    ASSERT_TRUE(stalled.Send(SetRequest("never", std::string(200000, 'x')).substr(0, 5000)));
    EXPECT_EQ("HTTP/1.1 408 Request Timeout\r\nx-result-reason: request took too long\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(stalled));
    EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "never")));
}

TEST_F(HostileClientTest, HugeContentLengthIsRefusedWithoutReadingTheBody)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-8\r\n"
                            "content-length: 18446744073709551615\r\nx-param-name: h\r\n\r\nxxxx"));
    EXPECT_EQ("HTTP/1.1 413 Content Too Large\r\nx-result-reason: body larger than the largest value\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
}

TEST_F(HostileClientTest, OverflowingContentLengthIs400)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-8\r\n"
                            "content-length: 99999999999999999999999\r\n\r\n"));
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nx-result-reason: unusable content-length\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
}

TEST_F(HostileClientTest, DisconnectMidBodyStoresNothingAndDisturbsNoOne)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(SetRequest("cut", I4Image(1))));
    for (int i = 0; i < 20; ++i)
    {
        GWireClient client = Connect();
        ASSERT_TRUE(client.Send(SetRequest("cut", std::string(300000, 'c'), 8).substr(0, 1000 + 10000 * i)));
        client.Close();
    }
    // The half-sent values never replaced the stored one.
    EXPECT_EQ(FoundI4(1), Exchange(CommandRequest("get", "cut")));
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "")));
}

TEST_F(HostileClientTest, GarbageIsAnswered400AndClosed)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11)));
    EXPECT_EQ("HTTP/1.1 400 Bad Request\r\nx-result-reason: bad request line\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        ReadUntilServerCloses(client));
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "")));
}

TEST_F(HostileClientTest, ClientThatNeverReadsItsRepliesHoldsUpNoOne)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(SetRequest("wide", std::string(512 * 1024, 'w'), 8)));
    // Asks for the value again and again without reading a byte, until the
    // socket buffers on both sides are full.
    GWireClient hog = Connect();
    const std::string strGets = [] {
        std::string str;
        for (int i = 0; i < 64; ++i)
            str += CommandRequest("get", "wide");
        return str;
    }();
    std::thread thread([&] { hog.Send(strGets); });
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, Exchange(SetRequest("other", I4Image(4))));
    EXPECT_EQ(FoundI4(4), Exchange(CommandRequest("get", "other")));
    // Dropping the hog lets its blocked send return.
    shutdown(hog.Fd(), SHUT_RDWR);
    thread.join();
}

TEST_F(HostileClientTest, ManyHalfSentHeadsHoldUpNoOne)
{
    StartServer();
    std::vector<GWireClient> vecHalf;
    for (int i = 0; i < 200; ++i)
    {
        vecHalf.push_back(Connect());
        ASSERT_TRUE(vecHalf.back().Send("POST /get HTTP/1.1\r\nx-param-na"));
    }
    EXPECT_EQ(kStored, Exchange(SetRequest("k", I4Image(8))));
    EXPECT_EQ(FoundI4(8), Exchange(CommandRequest("get", "k")));
}

TEST_F(HostileClientTest, IdleConnectionIsClosedWhenAnIdleTimeoutIsSet)
{
    StartServer({"--idle-timeout", "1"});
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
    EXPECT_TRUE(client.WaitForClose(10000));
}

TEST_F(HostileClientTest, ErrorReplyReachesAClientStillSendingItsBody)
{
    StartServer({"--max-value-size", "1K"});
    GWireClient client = Connect();
    // The server refuses at the head and closes, while most of the body is
    // still on its way; the reply must not be lost to a reset.
    ASSERT_TRUE(client.Send(SetRequest("a", std::string(100000, 'x'))));
    EXPECT_EQ("HTTP/1.1 413 Content Too Large\r\nx-result-reason: body larger than the largest value\r\n"
              "content-length: 0\r\nconnection: close\r\n\r\n",
        client.ReadReply());
}
