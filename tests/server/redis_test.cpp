// Socket tests of what only the Redis store does: sharing, keys, expiry as
// Redis keeps it, and losing Redis and getting it back.
#include "server_fixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <hiredis/hiredis.h>
#include <thread>
#include <vector>

namespace
{

constexpr const char* kUnavailable =
    "HTTP/1.1 503 Service Unavailable\r\nx-result-reason: store unavailable\r\ncontent-length: 0\r\n\r\n";

// Asks Redis directly, as an operator would.
long long RedisInteger(unsigned short nPort, const char* szCommand, const std::string& strKey)
{
    redisContext* pContext = redisConnect("127.0.0.1", nPort);
    if (pContext == nullptr || pContext->err != 0)
    {
        redisFree(pContext);
        return -100;
    }
    auto* pReply = static_cast<redisReply*>(redisCommand(pContext, "%s %b", szCommand, strKey.data(), strKey.size()));
    const long long n = pReply != nullptr && pReply->type == REDIS_REPLY_INTEGER ? pReply->integer : -100;
    freeReplyObject(pReply);
    redisFree(pContext);
    return n;
}

} // namespace

class RedisStoreTest : public GServerFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SharedRedis().Start()) << "redis-server did not start";
        m_strPrefix = TestKeyPrefix();
        m_vecStoreArgs = {"--store", SharedRedis().Url(), "--key-prefix", m_strPrefix};
    }

    std::string m_strPrefix;
};

TEST_F(RedisStoreTest, TwoServersOnOneRedisSeeEachOthersValues)
{
    StartServer();
    GServerProcess other;
    ASSERT_TRUE(other.Start(m_vecStoreArgs));
    GWireClient a = Connect();
    GWireClient b;
    ASSERT_TRUE(b.Connect(other.Port()));

    ASSERT_TRUE(a.Send(SetRequest("shared", I4Image(31), 3, 0, "k")));
    EXPECT_EQ(kStored, a.ReadReply());
    ASSERT_TRUE(b.Send(CommandRequest("get", "shared", "k")));
    EXPECT_EQ(FoundI4(31), b.ReadReply());
    ASSERT_TRUE(b.Send(SetRequest("shared", I4Image(32), 3, 0, "k") + CommandRequest("del", "gone")));
    EXPECT_EQ(kStored, b.ReadReply());
    EXPECT_EQ(kStored, b.ReadReply());
    ASSERT_TRUE(a.Send(CommandRequest("get", "shared", "k")));
    EXPECT_EQ(FoundI4(32), a.ReadReply());
    ASSERT_TRUE(b.Send(CommandRequest("del", "shared", "k")));
    EXPECT_EQ(kStored, b.ReadReply());
    ASSERT_TRUE(a.Send(CommandRequest("get", "shared", "k")));
    EXPECT_EQ(kNotFound, a.ReadReply());
    EXPECT_EQ(0, other.Stop());
}

TEST_F(RedisStoreTest, NamesAndCookiesThatLookAlikeStayApart)
{
    struct GCase
    {
        const char* szWhat;
        const char* szCookie;   // null: the shared space
        std::string strName;
        const char* szKey;      // after the prefix
    };
    const GCase cases[] = {
        {"shared space", nullptr, "a:b", "s:a:b"},
        {"cookie a, name b", "a", "b", "c1:a:b"},
        {"cookie a:b, name empty", "a:b", "", "c3:a:b:"},
        {"cookie a, name :b", "a", ":b", "c1:a::b"},
        {"empty cookie, name a:b", "", "a:b", "c0::a:b"},
        {"name that spells a cookie key", nullptr, "c1:a:b", "s:c1:a:b"},
        {"bytes beyond ASCII", "\xe9", std::string("n\xff", 2), "c1:\xe9:n\xff"},
    };
    StartServer();
    GWireClient client = Connect();
    int n = 0;
    for (const GCase& c : cases)
    {
        ASSERT_TRUE(client.Send(SetRequest(c.strName, I4Image(n++), 3, 0, c.szCookie)));
        EXPECT_EQ(kStored, client.ReadReply()) << c.szWhat;
    }
    n = 0;
    for (const GCase& c : cases)
    {
        ASSERT_TRUE(client.Send(CommandRequest("get", c.strName, c.szCookie)));
        EXPECT_EQ(FoundI4(n++), client.ReadReply()) << c.szWhat;
        EXPECT_EQ(1, RedisInteger(SharedRedis().Port(), "EXISTS", m_strPrefix + c.szKey)) << c.szWhat;
    }
}

TEST_F(RedisStoreTest, TimeoutBecomesTheKeysExpiryAndZeroNone)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("lasting", I4Image(1), 3, 0) + SetRequest("brief", I4Image(2), 3, 100)
        + SetRequest("renewed", I4Image(3), 3, 100) + SetRequest("renewed", I4Image(4), 3, 0)));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(kStored, client.ReadReply());
    const unsigned short nPort = SharedRedis().Port();
    EXPECT_EQ(-1, RedisInteger(nPort, "TTL", m_strPrefix + "s:lasting"));
    const long long nBrief = RedisInteger(nPort, "TTL", m_strPrefix + "s:brief");
    EXPECT_TRUE(nBrief > 90 && nBrief <= 100) << nBrief;
    EXPECT_EQ(-1, RedisInteger(nPort, "TTL", m_strPrefix + "s:renewed"));
}

TEST_F(RedisStoreTest, UnreachableRedisGives503AndTheServerCarriesOn)
{
    GRedisProcess absent;   // never started: its port has nobody listening
    ASSERT_TRUE(absent.Start());
    const std::string strUrl = absent.Url();
    absent.Stop();
    m_vecStoreArgs = {"--store", strUrl};
    StartServer();
    GWireClient client = Connect();
    // The body of a set that fails is still read, so the connection stays usable.
    ASSERT_TRUE(client.Send(SetRequest("n", I4Image(1)) + CommandRequest("get", "n") + CommandRequest("del", "n")
        + CommandRequest("nop", "")));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kUnavailable, client.ReadReply());
    EXPECT_EQ(kStored, client.ReadReply());
}

TEST_F(RedisStoreTest, RedisStoppedAndRestartedUnderLoadGives503sThenServesAgain)
{
    StartServer();
    std::atomic<bool> bStop{false};
    std::atomic<int> nStored{0};
    std::atomic<int> nUnavailable{0};
    std::atomic<int> nOther{0};
    std::vector<std::thread> vecClients;
    for (int t = 0; t < 4; ++t)
    {
        vecClients.emplace_back([&, t] {
            GWireClient client;
            if (!client.Connect(m_server.Port()))
            {
                ++nOther;
                return;
            }
            const std::string strName = "load" + std::to_string(t);
            for (int i = 0; i < 200000 && !bStop; ++i)
            {
                const std::string strReply = client.Send(SetRequest(strName, I4Image(i)) + CommandRequest("get", strName))
                    ? client.ReadReply() + client.ReadReply() : std::string();
                if (strReply == kStored + FoundI4(i))
                    ++nStored;
                else if (strReply.find(kUnavailable) != std::string::npos)
                    ++nUnavailable;
                else
                    ++nOther;
                if (nUnavailable > 0 && i % 16 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    auto WaitFor = [](const std::function<bool()>& fnDone) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (!fnDone() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return fnDone();
    };
    EXPECT_TRUE(WaitFor([&] { return nStored >= 200; }));
    SharedRedis().Stop();
    EXPECT_TRUE(WaitFor([&] { return nUnavailable >= 50; }));
    ASSERT_TRUE(SharedRedis().Start());
    const int nStoredBefore = nStored;
    EXPECT_TRUE(WaitFor([&] { return nStored >= nStoredBefore + 200; }));
    bStop = true;
    for (std::thread& thread : vecClients)
        thread.join();
    EXPECT_EQ(0, nOther);

    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("after", I4Image(5)) + CommandRequest("get", "after")));
    EXPECT_EQ(kStored, client.ReadReply());
    EXPECT_EQ(FoundI4(5), client.ReadReply());
}
