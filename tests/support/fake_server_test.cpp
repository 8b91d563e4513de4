// Self-test of GFakeServer, driven by a raw Winsock client on loopback.
#include "tests/support/fake_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

// The raw client keeps reading after a server is gone, so Winsock must outlive every
// server; this holds it for the whole test program (WSAStartup calls nest).
class GWinsockEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        WSADATA wsaData;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsaData));
    }

    void TearDown() override { WSACleanup(); }
};

::testing::Environment* const g_pWinsockEnvironment =
    ::testing::AddGlobalTestEnvironment(new GWinsockEnvironment);

// A blocking loopback client. Its receives give up after 10 s, so a broken server
// fails a test instead of hanging it.
class GRawClient
{
public:
    explicit GRawClient(int nPort)
    {
        m_sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const DWORD nTimeout = 10000;
        setsockopt(m_sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&nTimeout),
            sizeof nTimeout);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(nPort));
        m_bConnected = connect(m_sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }

    ~GRawClient() { Close(); }

    GRawClient(const GRawClient&) = delete;
    GRawClient& operator=(const GRawClient&) = delete;

    bool IsConnected() const { return m_bConnected; }

    void Send(const std::string& s)
    {
        size_t nSent = 0;
        while (nSent < s.size())
        {
            const int n = send(m_sock, s.data() + nSent, static_cast<int>(s.size() - nSent), 0);
            ASSERT_GT(n, 0);
            nSent += static_cast<size_t>(n);
        }
    }

    // Reads until n bytes came or the connection ended.
    std::string ReceiveExactly(size_t n)
    {
        std::string s;
        char aBuffer[4096];
        while (s.size() < n)
        {
            const size_t nWanted = n - s.size() < sizeof aBuffer ? n - s.size() : sizeof aBuffer;
            const int nReceived = recv(m_sock, aBuffer, static_cast<int>(nWanted), 0);
            if (nReceived <= 0)
                break;
            s.append(aBuffer, static_cast<size_t>(nReceived));
        }
        return s;
    }

    // One receive: the byte count, 0 when the server closed, negative on failure.
    int ReceiveOnce()
    {
        char aBuffer[64];
        return recv(m_sock, aBuffer, sizeof aBuffer, 0);
    }

    bool HasSomethingToRead()
    {
        fd_set setRead;
        FD_ZERO(&setRead);
        FD_SET(m_sock, &setRead);
        timeval timeout = {0, 0};
        return select(0, &setRead, nullptr, nullptr, &timeout) == 1;
    }

    void Close()
    {
        if (m_sock != INVALID_SOCKET)
            closesocket(m_sock);
        m_sock = INVALID_SOCKET;
    }

private:
    SOCKET m_sock = INVALID_SOCKET;
    bool m_bConnected = false;
};

// Bounded wait for something the worker does on its own; the bound is only a guard.
template <class Condition>
bool WaitFor(Condition condition)
{
    for (int i = 0; i < 500 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

const std::string g_sNop = "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n";
const std::string g_sOk = "HTTP/1.1 200 OK\r\ncontent-length: 0\r\nx-result-code: 0\r\n\r\n";

}   // namespace

TEST(FakeServerTest, UrlNamesLoopbackPortAndPath)
{
    GFakeServer server;
    EXPECT_GT(server.Port(), 0);
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(server.Port()) + "/", server.Url());
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(server.Port()) + "/cache", server.Url("/cache"));
}

TEST(FakeServerTest, AnswerRecordsTheRequestAndSendsTheReply)
{
    GFakeServer server;
    server.Answer(g_sOk);
    GRawClient client(server.Port());
    ASSERT_TRUE(client.IsConnected());
    client.Send(g_sNop);
    EXPECT_EQ(g_sOk, client.ReceiveExactly(g_sOk.size()));
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(std::vector<std::string>{g_sNop}, server.Requests());
    EXPECT_EQ(g_sNop, server.Received());
    EXPECT_EQ(1, server.Connections());
}

TEST(FakeServerTest, BodyIsReadAsFarAsContentLengthSaysInAnyCase)
{
    GFakeServer server;
    server.Answer("A").Answer("B");
    GRawClient client(server.Port());
    // The body comes in a send of its own; the answer must wait for it.
    client.Send("POST /set HTTP/1.1\r\nContent-LENGTH: 5\r\n\r\n");
    client.Send("hello");
    EXPECT_EQ("A", client.ReceiveExactly(1));
    client.Send("POST /get HTTP/1.1\r\nx-content-length: 3\r\n\r\n");
    EXPECT_EQ("B", client.ReceiveExactly(1));
    EXPECT_TRUE(server.WaitDone());
    const std::vector<std::string> vecExpected = {
        "POST /set HTTP/1.1\r\nContent-LENGTH: 5\r\n\r\nhello",
        "POST /get HTTP/1.1\r\nx-content-length: 3\r\n\r\n",
    };
    EXPECT_EQ(vecExpected, server.Requests());
    EXPECT_EQ(1, server.Connections());
}

TEST(FakeServerTest, BytesAfterARequestStartTheNextOne)
{
    GFakeServer server;
    server.Answer("1").Answer("2");
    GRawClient client(server.Port());
    client.Send("POST /a HTTP/1.1\r\ncontent-length: 2\r\n\r\nxyPOST /b HTTP/1.1\r\n\r\n");
    EXPECT_EQ("12", client.ReceiveExactly(2));
    EXPECT_TRUE(server.WaitDone());
    const std::vector<std::string> vecExpected = {
        "POST /a HTTP/1.1\r\ncontent-length: 2\r\n\r\nxy",
        "POST /b HTTP/1.1\r\n\r\n",
    };
    EXPECT_EQ(vecExpected, server.Requests());
}

TEST(FakeServerTest, SegmentsArriveWholeAndInOrder)
{
    GFakeServer server;
    server.Delay(1).AnswerInSegments({"HTTP/1.1 2", "00 OK\r\n", "", "x-result-code: 0\r\n\r\n"}, 20);
    GRawClient client(server.Port());
    client.Send(g_sNop);
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\n\r\n", client.ReceiveExactly(37));
    EXPECT_TRUE(server.WaitDone());
}

TEST(FakeServerTest, CloseAfterRequestRecordsItAndAnswersNothing)
{
    GFakeServer server;
    server.CloseAfterRequest();
    GRawClient client(server.Port());
    client.Send(g_sNop);
    EXPECT_EQ(0, client.ReceiveOnce());
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(std::vector<std::string>{g_sNop}, server.Requests());
}

TEST(FakeServerTest, CloseNowClosesAConnectionBeforeAnythingArrives)
{
    GFakeServer server;
    server.CloseNow();
    GRawClient client(server.Port());
    EXPECT_EQ(0, client.ReceiveOnce());
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(1, server.Connections());
    EXPECT_EQ("", server.Received());
}

TEST(FakeServerTest, AcceptThenCloseNowClosesThatConnection)
{
    GFakeServer server;
    server.Accept().CloseNow().Answer(g_sOk);
    GRawClient first(server.Port());
    EXPECT_EQ(0, first.ReceiveOnce());
    GRawClient second(server.Port());
    second.Send(g_sNop);
    EXPECT_EQ(g_sOk, second.ReceiveExactly(g_sOk.size()));
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(2, server.Connections());
}

TEST(FakeServerTest, AcceptTakesOnlyAConnectionNoStepHasUsed)
{
    GFakeServer server;
    server.Answer("A").Accept().CloseNow().Answer("B");
    GRawClient first(server.Port());
    first.Send(g_sNop);
    EXPECT_EQ("A", first.ReceiveExactly(1));
    GRawClient second(server.Port());
    EXPECT_EQ(0, second.ReceiveOnce());
    first.Send(g_sNop);
    EXPECT_EQ("B", first.ReceiveExactly(1));
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(2, server.Connections());
}

TEST(FakeServerTest, CloseNowAfterTheClientClosedNeedsNothing)
{
    GFakeServer server;
    server.Answer("A").CloseNow();
    {
        GRawClient client(server.Port());
        client.Send(g_sNop);
        EXPECT_EQ("A", client.ReceiveExactly(1));
    }
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(1, server.Connections());
}

TEST(FakeServerTest, BytesNoStepAskedForAreStillReceived)
{
    GFakeServer server;
    GRawClient client(server.Port());
    client.Send("stray");
    EXPECT_TRUE(WaitFor([&] { return server.Received() == "stray"; }));
    EXPECT_EQ(1, server.Connections());
    EXPECT_TRUE(server.Requests().empty());
    client.Send(" POST /nop HTTP/1.1\r\n\r\n");
    server.Answer("A");
    EXPECT_EQ("A", client.ReceiveExactly(1));
    EXPECT_EQ(std::vector<std::string>{"stray POST /nop HTTP/1.1\r\n\r\n"}, server.Requests());
}

TEST(FakeServerTest, SilentConnectionStaysOpenUntilTheServerIsDestroyed)
{
    auto pServer = std::make_unique<GFakeServer>();
    pServer->ReadRequestAndStaySilent();
    GRawClient client(pServer->Port());
    client.Send(g_sNop);
    EXPECT_TRUE(pServer->WaitDone());
    EXPECT_FALSE(client.HasSomethingToRead());
    EXPECT_EQ(std::vector<std::string>{g_sNop}, pServer->Requests());
    pServer.reset();
    EXPECT_LE(client.ReceiveOnce(), 0);
}

TEST(FakeServerTest, ScriptGoesOnPastASilentConnection)
{
    GFakeServer server;
    server.ReadRequestAndStaySilent();
    GRawClient silent(server.Port());
    silent.Send(g_sNop);
    // Both clients' requests would do for the first step; let it have the first one.
    EXPECT_TRUE(server.WaitDone());
    server.Answer(g_sOk);
    GRawClient served(server.Port());
    served.Send(g_sNop);
    EXPECT_EQ(g_sOk, served.ReceiveExactly(g_sOk.size()));
    EXPECT_TRUE(server.WaitDone());
    EXPECT_FALSE(silent.HasSomethingToRead());
}

TEST(FakeServerTest, ClientClosingMidRequestIsRecordedAndScriptGoesOn)
{
    GFakeServer server;
    server.Answer("never");
    const std::string sPartial = "POST /set HTTP/1.1\r\ncontent-length: 10\r\n\r\nabc";
    {
        GRawClient quitter(server.Port());
        quitter.Send(sPartial);
    }
    // The next client must not arrive before the first step has seen the close.
    EXPECT_TRUE(server.WaitDone());
    server.Answer(g_sOk);
    GRawClient client(server.Port());
    client.Send(g_sNop);
    EXPECT_EQ(g_sOk, client.ReceiveExactly(g_sOk.size()));
    EXPECT_TRUE(server.WaitDone());
    const std::vector<std::string> vecExpected = {sPartial, g_sNop};
    EXPECT_EQ(vecExpected, server.Requests());
    EXPECT_EQ(sPartial + g_sNop, server.Received());
    EXPECT_EQ(2, server.Connections());
}

TEST(FakeServerTest, ReconnectingClientIsServedByTheNextStep)
{
    GFakeServer server;
    server.Answer("first").Answer("second");
    GRawClient client(server.Port());
    client.Send(g_sNop);
    EXPECT_EQ("first", client.ReceiveExactly(5));
    client.Close();
    GRawClient again(server.Port());
    again.Send(g_sNop);
    EXPECT_EQ("second", again.ReceiveExactly(6));
    EXPECT_TRUE(server.WaitDone());
    EXPECT_EQ(2, server.Connections());
    EXPECT_EQ(2u, server.Requests().size());
}

TEST(FakeServerTest, RequestIsTakenFromWhicheverConnectionBringsIt)
{
    GFakeServer server;
    server.Answer("to second").Answer("to first");
    GRawClient first(server.Port());
    GRawClient second(server.Port());
    second.Send("POST /second HTTP/1.1\r\n\r\n");
    EXPECT_EQ("to second", second.ReceiveExactly(9));
    first.Send("POST /first HTTP/1.1\r\n\r\n");
    EXPECT_EQ("to first", first.ReceiveExactly(8));
    EXPECT_TRUE(server.WaitDone());
    const std::vector<std::string> vecExpected = {
        "POST /second HTTP/1.1\r\n\r\n",
        "POST /first HTTP/1.1\r\n\r\n",
    };
    EXPECT_EQ(vecExpected, server.Requests());
    EXPECT_EQ(2, server.Connections());
}

TEST(FakeServerTest, OverlongHeadIsCutAtTheLimit)
{
    GFakeServer server;
    server.Answer("R").CloseAfterRequest();
    GRawClient client(server.Port());
    const std::string sFlood(70000, 'x');
    client.Send(sFlood);
    EXPECT_EQ("R", client.ReceiveExactly(1));
    client.Close();
    EXPECT_TRUE(server.WaitDone());
    const std::vector<std::string> vecRequests = server.Requests();
    ASSERT_EQ(2u, vecRequests.size());
    EXPECT_EQ(std::string(65536, 'x'), vecRequests[0]);
    EXPECT_EQ(std::string(70000 - 65536, 'x'), vecRequests[1]);
    EXPECT_EQ(sFlood, server.Received());
}

TEST(FakeServerTest, WaitDoneIsFalseWhileAStepWaitsForItsClient)
{
    GFakeServer server;
    server.Answer(g_sOk);
    EXPECT_FALSE(server.WaitDone(100));
    EXPECT_EQ(0, server.Connections());
    EXPECT_TRUE(server.Requests().empty());
}

TEST(FakeServerTest, DestroyingMidRequestDoesNotWait)
{
    GRawClient* pClient = nullptr;
    {
        GFakeServer server;
        server.Answer(g_sOk);
        pClient = new GRawClient(server.Port());
        pClient->Send("POST /set HTTP/1.1\r\ncontent-length: 99999999\r\n\r\n");
    }
    EXPECT_LE(pClient->ReceiveOnce(), 0);
    delete pClient;
}

TEST(FakeServerTest, EmptyScriptAnswersNothing)
{
    GFakeServer server;
    EXPECT_TRUE(server.WaitDone(0));
    EXPECT_EQ(0, server.Connections());
}
