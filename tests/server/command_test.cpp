// Socket tests of the four commands as the client uses them, with each store.
#include "server_fixture.h"

#include <chrono>
#include <thread>

class CommandTest : public GStoreFixture
{
};

INSTANTIATE_TEST_SUITE_P(Stores, CommandTest, ::testing::Values(EStoreKind::Memory, EStoreKind::Redis), StoreName);

// What the memory limit does; with Redis, its maxmemory decides.
class MemoryLimitTest : public GServerFixture
{
};

TEST_P(CommandTest, SetThenGetGivesBackTypeAndBody)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("user7", I4Image(42), 3, 60, "abc")));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("get", "user7", "abc")));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-3\r\ncontent-length: 24\r\n\r\n"
            + std::string("\x03\0\0\0\0\0\0\0\x2a\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24),
        client.ReadReply());
}

TEST_P(CommandTest, FoundValueBodyIsExactlyTheStoredBytes)
{
    StartServer();
    const std::string strBody("\x08\x00h\x00\xe9\x00\r\n\r\n\x00\xff", 12);
    EXPECT_EQ(kStored, Exchange(SetRequest("s", strBody, 8)));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-8\r\ncontent-length: 12\r\n\r\n"
            + strBody,
        Exchange(CommandRequest("get", "s")));
}

TEST_P(CommandTest, GetOfAbsentNameAnswersOne)
{
    StartServer();
    EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "nothing here")));
}

TEST_P(CommandTest, DeleteAnswersZeroWhetherOrNotTheNameExisted)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(CommandRequest("del", "absent")));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(SetRequest("present", I4Image(1))));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("del", "present")));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("get", "present")));
    EXPECT_EQ(kNotFound, client.ReadReply());
}

TEST_P(CommandTest, NopAnswersZero)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "")));
}

TEST_P(CommandTest, EmptyStringValueRoundTrips)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(SetRequest("e", "", 8)));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-8\r\ncontent-length: 0\r\n\r\n",
        Exchange(CommandRequest("get", "e")));
}

TEST_P(CommandTest, VariantArrayEntriesAreOrdinaryValues)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("list(0)", I4Image(10))));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(SetRequest("list(1)", I4Image(11))));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(SetRequest("list", std::string("\x02\0\0\0", 4), 8204)));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("get", "list")));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-8204\r\ncontent-length: 4\r\n\r\n"
            + std::string("\x02\0\0\0", 4),
        client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("get", "list(1)")));
    EXPECT_EQ(FoundI4(11), client.ReadReply());
}

TEST_P(CommandTest, CookiesSeparateValuesAndNoCookieIsTheSharedSpace)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(SetRequest("n", I4Image(1), 3, 0, "alice")));
    EXPECT_EQ(kStored, Exchange(SetRequest("n", I4Image(2), 3, 0, "bob")));
    EXPECT_EQ(kStored, Exchange(SetRequest("n", I4Image(3))));
    EXPECT_EQ(FoundI4(1), Exchange(CommandRequest("get", "n", "alice")));
    EXPECT_EQ(FoundI4(2), Exchange(CommandRequest("get", "n", "bob")));
    EXPECT_EQ(FoundI4(3), Exchange(CommandRequest("get", "n")));
    EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "n", "")));
    EXPECT_EQ(kStored, Exchange(CommandRequest("del", "n", "alice")));
    EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "n", "alice")));
    EXPECT_EQ(FoundI4(2), Exchange(CommandRequest("get", "n", "bob")));
}

TEST_P(CommandTest, ValueExpiresAfterItsTimeout)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(SetRequest("brief", I4Image(5), 3, 1)));
    EXPECT_EQ(kStored, Exchange(SetRequest("lasting", I4Image(6), 3, 0)));
    EXPECT_EQ(FoundI4(5), Exchange(CommandRequest("get", "brief")));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "brief")));
    EXPECT_EQ(FoundI4(6), Exchange(CommandRequest("get", "lasting")));
}

TEST_P(CommandTest, BasePathIsFollowedDirectlyByTheWord)
{
    StartServer({"--base-path", "/cache"});
    EXPECT_EQ(kStored, Exchange(SetRequest("a", I4Image(7), 3, 0, nullptr, "/cache")));
    EXPECT_EQ(FoundI4(7), Exchange(CommandRequest("get", "a", nullptr, "/cache")));
}

TEST_P(CommandTest, PipelinedRequestsAreAnsweredInOrder)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("p", I4Image(9)) + CommandRequest("get", "p") + CommandRequest("del", "p")
        + CommandRequest("get", "p") + "POST /zap HTTP/1.1\r\ncontent-length: 2\r\n\r\nzz" + CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
    EXPECT_EQ(FoundI4(9), client.ReadReply());
    EXPECT_EQ(kStored, client.ReadReply());
    EXPECT_EQ(kNotFound, client.ReadReply());
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\nx-result-reason: unknown command\r\ncontent-length: 0\r\n\r\n", client.ReadReply());
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_P(CommandTest, RequestSplitAtEveryByteIsAssembled)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.SendSlowly(SetRequest("split", I4Image(77)), 1));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.SendSlowly(CommandRequest("get", "split"), 1));
    EXPECT_EQ(FoundI4(77), client.ReadReply());
}

TEST_P(CommandTest, LargeValueRoundTrips)
{
    StartServer();
    std::string strBody(1024 * 1024, '\0');
    for (size_t i = 0; i < strBody.size(); ++i)
        strBody[i] = static_cast<char>((i * 131) >> 3);
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("big", strBody, 8209)));
    EXPECT_EQ(kStored, client.ReadReply());
    ASSERT_TRUE(client.Send(CommandRequest("get", "big") + CommandRequest("get", "big")));
    const std::string strHead =
        "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-8209\r\ncontent-length: 1048576\r\n\r\n";
    EXPECT_TRUE(client.ReadReply() == strHead + strBody);
    EXPECT_TRUE(client.ReadReply() == strHead + strBody);
}

TEST_F(MemoryLimitTest, ValueTooLargeForTheMemoryLimitIsRefusedWithOne)
{
    StartServer({"--memory-limit", "64K", "--max-value-size", "1M"});
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("huge", std::string(100000, 'h'), 8)));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: value too large\r\ncontent-length: 0\r\n\r\n",
        client.ReadReply());
    ASSERT_TRUE(client.Send(SetRequest("small", I4Image(3))));
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_F(MemoryLimitTest, RefusedSetDropsTheOldValueOfThatName)
{
    StartServer({"--memory-limit", "64K", "--max-value-size", "1M"});
    EXPECT_EQ(kStored, Exchange(SetRequest("n", I4Image(1))));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: value too large\r\ncontent-length: 0\r\n\r\n",
        Exchange(SetRequest("n", std::string(100000, 'h'), 8)));
    // Not the earlier value: the caller asked for it to be replaced.
    EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "n")));
}

TEST_P(CommandTest, RequestBodyOfGetIsSkipped)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send("POST /nop HTTP/1.1\r\ncontent-length: 5\r\n\r\nPOST " + CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_P(CommandTest, ConnectionsOfOneWorkerTakeTurnsWhileNeighboursComeAndGo)
{
    StartServer({"--threads", "1"});
    GWireClient a = Connect();
    GWireClient b = Connect();
    GWireClient c = Connect();
    for (int i = 0; i < 50; ++i)
    {
        // After a read that emptied its socket a connection waits to be told
        // of new bytes; the next requests arrive before its next read starts,
        // while the worker serves the others, and well after.
        ASSERT_TRUE(a.Send(SetRequest("a", I4Image(i))));
        ASSERT_TRUE(b.Send(SetRequest("b", I4Image(-i))));
        EXPECT_EQ(kStored, a.ReadReply());
        ASSERT_TRUE(a.Send(CommandRequest("get", "a")));
        EXPECT_EQ(kStored, b.ReadReply());
        if (i % 10 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(b.Send(CommandRequest("get", "b")));
        ASSERT_TRUE(c.Send(CommandRequest("nop", "")));
        EXPECT_EQ(FoundI4(i), a.ReadReply());
        EXPECT_EQ(FoundI4(-i), b.ReadReply());
        EXPECT_EQ(kStored, c.ReadReply());
    }

    // A client that leaves right after its reply takes nobody with it.
    ASSERT_TRUE(b.Send(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, b.ReadReply());
    b.Close();

    // A head longer than the usual input buffer, then a set whose body comes
    // only after its head has been read.
    const std::string strLongName(6000, 'n');
    ASSERT_TRUE(a.Send(SetRequest(strLongName, I4Image(6000))));
    EXPECT_EQ(kStored, a.ReadReply());
    const std::string strSet = SetRequest("late", I4Image(17));
    ASSERT_TRUE(c.Send(strSet.substr(0, strSet.size() - 24)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(c.Send(strSet.substr(strSet.size() - 24)));
    EXPECT_EQ(kStored, c.ReadReply());

    ASSERT_TRUE(a.Send(CommandRequest("get", strLongName)));
    EXPECT_EQ(FoundI4(6000), a.ReadReply());
    ASSERT_TRUE(c.Send(CommandRequest("get", "late")));
    EXPECT_EQ(FoundI4(17), c.ReadReply());
}
