// Socket tests of what only the Redis store does: sharing, keys, expiry as
// Redis keeps it, and losing Redis and getting it back.
#include "server_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <hiredis/hiredis.h>
#include <signal.h>
#include <thread>
#include <utility>
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

void RedisConfigSet(unsigned short nPort, const char* szName, const char* szValue)
{
    redisContext* pContext = redisConnect("127.0.0.1", nPort);
    if (pContext != nullptr && pContext->err == 0)
        freeReplyObject(redisCommand(pContext, "CONFIG SET %s %s", szName, szValue));
    redisFree(pContext);
}

bool WaitFor(const std::function<bool()>& fnDone, int nSeconds = 15)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    // Asked once a round: a second asking could see the page's own connection still open.
    bool bDone;
    while (!(bDone = fnDone()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return bDone;
}

std::string TempDir()
{
    char sz[] = "/tmp/harbinet-redis-XXXXXX";
    return mkdtemp(sz) != nullptr ? sz : "";
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

    // One line of the metrics page, such as "harbinet_store_up 1".
    std::string MetricLine(const std::string& strName)
    {
        const std::string strPage = Exchange("GET /metrics HTTP/1.1\r\n\r\n");
        const size_t n = strPage.find("\n" + strName + " ");
        return n == std::string::npos ? std::string() : strPage.substr(n + 1, strPage.find('\n', n + 1) - n - 1);
    }

    std::string SetAndGet(const std::string& strName)
    {
        GWireClient client = Connect();
        if (!client.Send(SetRequest(strName, I4Image(7)) + CommandRequest("get", strName)))
            return std::string();
        const std::string str = client.ReadReply();
        return str + client.ReadReply();
    }

    // A store either serves a set and a get, or refuses both as unavailable.
    using GStoreCase = std::pair<std::vector<std::string>, bool>;

    void StartAndCheck(const std::vector<std::string>& vecArgs, bool bServes)
    {
        m_vecStoreArgs = vecArgs;
        StartServer({"--key-prefix", m_strPrefix});
        EXPECT_EQ(bServes ? kStored + FoundI4(7) : std::string(kUnavailable) + kUnavailable, SetAndGet("n"))
            << vecArgs[1] << " " << vecArgs.back();
    }

    std::string m_strPrefix;
};

constexpr const char* kBusy =
    "HTTP/1.1 503 Service Unavailable\r\nx-result-reason: store busy\r\ncontent-length: 0\r\n\r\n";

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

TEST_F(RedisStoreTest, CredentialsGoFirstAndAreNeverShown)
{
    GRedisProcess redis;
    ASSERT_TRUE(redis.Start({"--requirepass", "Def4ult", "--user", "app", "on", ">S3cret", "~*", "&*", "+@all"}));
    const std::string strHost = "127.0.0.1:" + std::to_string(redis.Port());
    const std::string strDir = TempDir();
    const std::string strFile = strDir + "/password";
    std::ofstream(strFile) << "S3cret\n";
    const GStoreCase cases[] = {
        {{"--store", "redis://app:S3cret@" + strHost}, true},
        {{"--store", "redis://:Def4ult@" + strHost}, true},
        {{"--store", "redis://app@" + strHost, "--redis-password-file", strFile}, true},
        {{"--store", "redis://app:S3cretX@" + strHost}, false},
        {{"--store", "redis://" + strHost}, false},
    };
    for (const auto& [vecArgs, bServes] : cases)
    {
        StartAndCheck(vecArgs, bServes);
        for (int i = 0; i < 20; ++i)
            SetAndGet("n");
        EXPECT_EQ(bServes ? "harbinet_store_up 1" : "harbinet_store_up 0", MetricLine("harbinet_store_up"));
        EXPECT_EQ(0, m_server.Stop());
        // One line when the link goes down, none per request, and no password (either one).
        const std::string strErr = m_server.Stderr();
        EXPECT_EQ(std::string::npos, strErr.find("S3cret")) << strErr;
        EXPECT_EQ(bServes ? 0 : 1, std::count(strErr.begin(), strErr.end(), '\n')) << strErr;
    }
    std::system(("rm -rf " + strDir).c_str());
}

TEST_F(RedisStoreTest, RefusedSelectWritesNothingAnywhereAndBacksOff)
{
    m_vecStoreArgs = {"--store", SharedRedis().Url() + "/20", "--key-prefix", m_strPrefix, "--threads", "1"};
    StartServer();
    GWireClient client = Connect();
    for (int i = 0; i < 30; ++i)
    {
        ASSERT_TRUE(client.Send(SetRequest("n" + std::to_string(i), I4Image(i))));
        EXPECT_EQ(kUnavailable, client.ReadReply());
    }
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(0, RedisInteger(SharedRedis().Port(), "EXISTS", m_strPrefix + "s:n" + std::to_string(i)));
    // Pauses of 0.1, 0.2, 0.4, 0.8 and 1.6 s: six attempts in three seconds, not thirty.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string strName = "harbinet_store_failures_total{kind=\"select\"}";
    const int nAttempts = std::atoi(MetricLine(strName).substr(strName.size()).c_str());
    EXPECT_GE(nAttempts, 3);
    EXPECT_LE(nAttempts, 8);
}

TEST_F(RedisStoreTest, TlsTrustsOnlyTheGivenCaAndTheNameInTheCertificate)
{
    const std::string strDir = TempDir();
    // Two CAs; the server's certificate and a client's from the first.
    const std::string strScript = "cd " + strDir + " && for ca in ca other; do "
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem -days 2 -subj /CN=$ca; done && "
        "for who in server client; do openssl req -newkey rsa:2048 -nodes -keyout $who.key -out $who.csr -subj /CN=$who && "
        "printf 'subjectAltName=IP:127.0.0.1' > ext && openssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key "
        "-CAcreateserial -out $who.pem -days 2 -extfile ext; done";
    ASSERT_EQ(0, std::system((strScript + " >/dev/null 2>&1").c_str()));
    GRedisProcess redis;
    const std::string strTlsPort = std::to_string(FreePort());
    ASSERT_TRUE(redis.Start({"--tls-port", strTlsPort, "--tls-cert-file", strDir + "/server.pem", "--tls-key-file",
        strDir + "/server.key", "--tls-ca-cert-file", strDir + "/ca.pem", "--tls-auth-clients", "optional"}));
    const std::string strTls = "rediss://127.0.0.1:" + strTlsPort;
    const GStoreCase cases[] = {
        {{"--store", strTls, "--redis-tls-ca", strDir + "/ca.pem"}, true},
        {{"--store", strTls, "--redis-tls-ca", strDir + "/ca.pem", "--redis-tls-cert", strDir + "/client.pem",
            "--redis-tls-key", strDir + "/client.key"}, true},
        {{"--store", strTls, "--redis-tls-ca", strDir + "/other.pem"}, false},
        {{"--store", "rediss://localhost:" + strTlsPort, "--redis-tls-ca", strDir + "/ca.pem"}, false},
        {{"--store", "redis://127.0.0.1:" + strTlsPort}, false},
    };
    for (const auto& [vecArgs, bServes] : cases)
    {
        StartAndCheck(vecArgs, bServes);
        EXPECT_EQ(0, m_server.Stop());
    }
    std::system(("rm -rf " + strDir).c_str());
}

TEST_F(RedisStoreTest, SentinelFailoverUnderLoadKeepsEveryReplicatedValue)
{
    GRedisProcess master;
    GRedisProcess replica;
    GRedisProcess sentinels[3];
    const std::string strDir = TempDir();
    ASSERT_TRUE(master.Start({"--dir", strDir}));
    ASSERT_TRUE(replica.Start({"--dir", strDir, "--replicaof", "127.0.0.1", std::to_string(master.Port())}));
    std::string strUrl = "redis-sentinel://";
    for (int i = 0; i < 3; ++i)
    {
        const std::string strConfig = strDir + "/sentinel" + std::to_string(i) + ".conf";
        std::ofstream(strConfig) << "sentinel monitor mymaster 127.0.0.1 " << master.Port() << " 2\n"
            "sentinel down-after-milliseconds mymaster 1000\nsentinel failover-timeout mymaster 5000\n";
        ASSERT_TRUE(sentinels[i].Start({"--dir", strDir, "--sentinel"}, strConfig));
        strUrl += (i != 0 ? ",127.0.0.1:" : "127.0.0.1:") + std::to_string(sentinels[i].Port());
    }
    m_vecStoreArgs = {"--store", strUrl + "/mymaster", "--redis-wait", "1", "--key-prefix", m_strPrefix};
    StartServer();
    std::atomic<bool> bStop{false};
    std::atomic<int> nStored{0};
    std::vector<std::vector<int>> vecStored(4);
    std::vector<std::thread> vecClients;
    for (int t = 0; t < 4; ++t)
        vecClients.emplace_back([&, t] {
            GWireClient client = Connect();
            for (int i = 0; i < 100000 && !bStop; ++i)
            {
                const std::string strName = std::to_string(t) + "." + std::to_string(i);
                if (client.Send(SetRequest(strName, I4Image(i))) && client.ReadReply() == kStored)
                {
                    vecStored[t].push_back(i);
                    ++nStored;
                }
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    EXPECT_TRUE(WaitFor([&] { return nStored >= 300; }));
    master.Stop();
    EXPECT_TRUE(WaitFor([&] { return MetricLine("harbinet_store_failovers_total") == "harbinet_store_failovers_total 1"; }, 30));
    // With no replica left nothing counts as stored, until the old master
    // comes back and the sentinels make it the new master's replica.
    const int nAfterFailover = nStored;
    ASSERT_TRUE(master.Start({"--dir", strDir}));
    EXPECT_TRUE(WaitFor([&] { return nStored >= nAfterFailover + 300; }, 30));
    bStop = true;
    for (std::thread& thread : vecClients)
        thread.join();
    GWireClient client = Connect();
    for (int t = 0; t < 4; ++t)
        for (int i : vecStored[t])
        {
            ASSERT_TRUE(client.Send(CommandRequest("get", std::to_string(t) + "." + std::to_string(i))));
            ASSERT_EQ(FoundI4(i), client.ReadReply()) << t << "." << i;
        }
    std::system(("rm -rf " + strDir).c_str());
}

TEST_F(RedisStoreTest, StalledRedisUnderLargeSetsKeepsTheServerWithinItsBound)
{
    GRedisProcess redis;
    ASSERT_TRUE(redis.Start());
    constexpr unsigned long long nLimit = 4ull << 20;
    m_vecStoreArgs = {"--store", redis.Url(), "--key-prefix", m_strPrefix, "--memory-limit", "4M", "--threads", "1"};
    StartServer();
    SetAndGet("warm");
    const unsigned long long nBaseline = m_server.PeakResidentBytes();
    kill(redis.Pid(), SIGSTOP);
    const std::string strBody = "\x08\x00" + std::string(6, '\0') + std::string(8, '\0') + std::string(256 * 1024, 'v');
    std::vector<GWireClient> vecClients(200);
    for (size_t i = 0; i < vecClients.size(); ++i)
    {
        ASSERT_TRUE(vecClients[i].Connect(m_server.Port()));
        ASSERT_TRUE(vecClients[i].Send(SetRequest("big" + std::to_string(i), strBody, 8)));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Without the bound, 50 MB of bodies would wait on Redis here.
    EXPECT_LT(m_server.PeakResidentBytes(), nBaseline + 3 * nLimit);
    kill(redis.Pid(), SIGCONT);
    int nStored = 0;
    int nBusy = 0;
    for (GWireClient& client : vecClients)
    {
        const std::string strReply = client.ReadReply();
        nStored += strReply == kStored;
        nBusy += strReply == kBusy;
        EXPECT_TRUE(strReply == kStored || strReply == kBusy) << strReply;
    }
    EXPECT_GT(nStored, 0);
    EXPECT_GT(nBusy, 0);
    EXPECT_TRUE(WaitFor([&] { return MetricLine("harbinet_store_held_bytes") == "harbinet_store_held_bytes 0"; }, 5));
}

TEST_F(RedisStoreTest, SetRefusedUnderMaxmemoryDeletesTheOldValue)
{
    StartServer();
    const unsigned short nPort = SharedRedis().Port();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("old", I4Image(1))));
    EXPECT_EQ(kStored, client.ReadReply());
    RedisConfigSet(nPort, "maxmemory-policy", "noeviction");
    RedisConfigSet(nPort, "maxmemory", "1");
    ASSERT_TRUE(client.Send(SetRequest("old", I4Image(2))));
    const std::string strReply = client.ReadReply();
    RedisConfigSet(nPort, "maxmemory", "0");
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: out of memory\r\ncontent-length: 0\r\n\r\n", strReply);
    ASSERT_TRUE(client.Send(CommandRequest("get", "old")));
    EXPECT_EQ(kNotFound, client.ReadReply());
}

TEST_F(RedisStoreTest, ConnectionClosedWhileRedisWorksIsFreed)
{
    StartServer();
    kill(SharedRedis().Pid(), SIGSTOP);
    {
        GWireClient client = Connect();
        ASSERT_TRUE(client.Send(CommandRequest("get", "slow")));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    kill(SharedRedis().Pid(), SIGCONT);
    // The page's own connection is the one left open.
    EXPECT_TRUE(WaitFor([&] { return MetricLine("harbinet_connections_open") == "harbinet_connections_open 1"; }, 5));
}
