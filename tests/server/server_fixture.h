// Base fixture of the socket tests: starts a private harbinet-server on a free
// loopback port and stops it by pid afterwards.
#pragma once

#include "redis_process.h"
#include "server_process.h"
#include "wire_client.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

class GServerFixture : public ::testing::Test
{
protected:
    void StartServer(const std::vector<std::string>& vecArgs = {})
    {
        std::vector<std::string> vecAll = vecArgs;
        vecAll.insert(vecAll.end(), m_vecStoreArgs.begin(), m_vecStoreArgs.end());
        ASSERT_TRUE(m_server.Start(vecAll)) << "harbinet-server did not start";
    }

    void TearDown() override
    {
        if (m_server.Pid() > 0)
            EXPECT_EQ(0, m_server.Stop()) << "harbinet-server did not stop cleanly";
    }

    GWireClient Connect()
    {
        GWireClient client;
        EXPECT_TRUE(client.Connect(m_server.Port()));
        return client;
    }

    // One request on a connection of its own, and its reply.
    std::string Exchange(const std::string& strRequest)
    {
        GWireClient client = Connect();
        EXPECT_TRUE(client.Send(strRequest));
        return client.ReadReply();
    }

    // Everything the server sends before it closes the connection, which it
    // must do within ten seconds.
    std::string ReadUntilServerCloses(GWireClient& client)
    {
        bool bClosed = false;
        std::string str = client.ReadUntilClosed(10000, bClosed);
        EXPECT_TRUE(bClosed) << "the server left the connection open";
        return str;
    }

    GServerProcess m_server;
    std::vector<std::string> m_vecStoreArgs;   // added to every start
};

enum class EStoreKind
{
    Memory,
    Redis,
};

// For a suite that runs once with each store: the Redis run gets the shared
// redis-server and keys of its own.
class GStoreFixture : public GServerFixture, public ::testing::WithParamInterface<EStoreKind>
{
protected:
    void SetUp() override
    {
        if (GetParam() != EStoreKind::Redis)
            return;
        ASSERT_TRUE(SharedRedis().Start()) << "redis-server did not start";
        m_vecStoreArgs = {"--store", SharedRedis().Url(), "--key-prefix", TestKeyPrefix()};
    }
};

inline void PrintTo(EStoreKind kind, std::ostream* pStream)
{
    *pStream << (kind == EStoreKind::Redis ? "redis" : "memory");
}

inline std::string StoreName(const ::testing::TestParamInfo<EStoreKind>& info)
{
    return info.param == EStoreKind::Redis ? "Redis" : "Memory";
}

constexpr const char* kStored = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n";
constexpr const char* kNotFound = "HTTP/1.1 200 OK\r\nx-result-code: 1\r\ncontent-length: 0\r\n\r\n";

// The found reply for a VT_I4 body.
inline std::string FoundI4(int n)
{
    return "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-3\r\ncontent-length: 24\r\n\r\n"
        + I4Image(n);
}
