// Open and Close: URL forms, the liveness test, every failure and the state each one leaves.
#include "tests/client/wire_test.h"

#include <string>
#include <vector>

namespace
{

class OpenTest : public GWireTest
{
protected:
    // After a nop on "/old" whose connection is no longer live: Open on "/new"
    // succeeds and its nop goes over a second connection.
    void ExpectOpenOnNewConnection()
    {
        ASSERT_EQ(S_OK, OpenFake("/new"));
        m_server.Answer(g_szReplyOk);
        EXPECT_EQ(S_OK, Noop(L""));
        EXPECT_EQ("POST /oldnop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n"
                  "POST /newnop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n",
                  ReceivedWhenDone());
        EXPECT_EQ(2, m_server.Connections());
    }
};

TEST_F(OpenTest, OpenConnectsAndTheConnectionCarriesCommands)
{
    EXPECT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

TEST_F(OpenTest, OpenOnLiveConnectionReportsAlreadyConnectedAndKeepsIt)
{
    ASSERT_EQ(S_OK, OpenFake("/first"));
    EXPECT_TRUE(IsReported(OpenFake("/second"), "0x80040200", L"Already connected."));
    // The URL is not even looked at, and NULL is no exception.
    EXPECT_TRUE(IsReported(Open(L"not a url"), "0x80040200", L"Already connected."));
    EXPECT_TRUE(IsReported(Open(static_cast<const wchar_t*>(nullptr)), "0x80040200", L"Already connected."));

    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"x"));
    EXPECT_EQ("POST /firstnop HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: x\r\n"
              "\r\n",
              ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

TEST_F(OpenTest, OpenNullOrEmptyOnClosedObjectReportsInvalidUrl)
{
    EXPECT_TRUE(IsReported(Open(static_cast<const wchar_t*>(nullptr)), "0x80040202", L"Invalid URL."));
    EXPECT_TRUE(IsReported(Open(L""), "0x80040202", L"Invalid URL."));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
}

TEST_F(OpenTest, UrlsOfNeitherFormReportInvalidUrlAndLeaveTheObjectClosed)
{
    const std::string sPort = std::to_string(m_server.Port());
    const std::vector<std::string> vecUrls = {
        "HTTP://127.0.0.1:" + sPort + "/",
        "Http://127.0.0.1:" + sPort + "/",
        "https://127.0.0.1:" + sPort + "/",
        "ftp://127.0.0.1:" + sPort + "/",
        " http://127.0.0.1:" + sPort + "/",
        "http:/127.0.0.1:" + sPort + "/",
        "127.0.0.1:" + sPort + "/",
        // No path after the port; nor after a host without port.
        "http://127.0.0.1:" + sPort,
        "http://127.0.0.1:" + sPort + " ",
        "http://127.0.0.1",
        "http://localhost",
        // No host.
        "http://",
        "http:///",
        // A port that is no number makes the whole text the host, which has no path.
        "http://127.0.0.1:port",
        // A path of 127 bytes, and a host of 127 bytes.
        "http://127.0.0.1:" + sPort + "/" + std::string(126, 'p'),
        "http://" + std::string(119, 'h') + ".invalid/",
    };
    for (const std::string& sUrl : vecUrls)
    {
        SCOPED_TRACE(sUrl);
        EXPECT_TRUE(IsReported(Open(sUrl), "0x80040202", L"Invalid URL."));
        EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    }

    // Whatever the scans wrote is gone: the next good URL is all that is sent.
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

TEST_F(OpenTest, PathOf126BytesIsAccepted)
{
    const std::string sPath = "/" + std::string(125, 'p');
    ASSERT_EQ(S_OK, OpenFake(sPath.c_str()));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ("POST /" + std::string(125, 'p') + "nop HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: \r\n"
              "\r\n",
              ReceivedWhenDone());
}

// A host of 126 bytes passes the scan and goes to the name lookup (which cannot find
// this one); one more byte and the URL itself is refused.
TEST_F(OpenTest, HostOf126BytesIsLookedUp)
{
    const std::string sHost = std::string(60, 'h') + "." + std::string(57, 'h') + ".invalid";
    ASSERT_EQ(126u, sHost.size());
    EXPECT_TRUE(IsReported(Open("http://" + sHost + "/"), "0x80040203", L"Invalid host name."));
    EXPECT_TRUE(IsReported(Open("http://h" + sHost + "/"), "0x80040202", L"Invalid URL."));
}

TEST_F(OpenTest, HostNameThatDoesNotResolveReportsInvalidHostName)
{
    EXPECT_TRUE(IsReported(Open(L"http://nosuchhost.invalid/"), "0x80040203", L"Invalid host name."));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    const std::string sUrl = "http://nosuchhost.invalid:" + std::to_string(m_server.Port()) + "/cache";
    EXPECT_TRUE(IsReported(Open(sUrl), "0x80040203", L"Invalid host name."));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));

    // Neither the failed host nor the failed path is left behind.
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(OpenTest, HostNameIsLookedUpAndSentAsTheHostHeader)
{
    ASSERT_EQ(S_OK, Open("http://localhost:" + std::to_string(m_server.Port()) + "/"));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ("POST /nop HTTP/1.1\r\n"
              "host: localhost\r\n"
              "content-length: 0\r\n"
              "x-param-name: \r\n"
              "\r\n",
              ReceivedWhenDone());
}

TEST_F(OpenTest, ClosedPortReportsConnectError)
{
    const int nPort = FindClosedPort();
    ASSERT_NE(0, nPort);
    EXPECT_TRUE(IsReported(Open("http://127.0.0.1:" + std::to_string(nPort) + "/cache"), "0x80040205",
                           L"Connect error."));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

// Only the low 16 bits of the port count: 65536 more, or 65536 less (a negative
// number), reach the same port.
TEST_F(OpenTest, PortKeepsItsLow16Bits)
{
    const int nPort = m_server.Port();
    ASSERT_EQ(S_OK, Open("http://127.0.0.1:" + std::to_string(nPort + 65536) + "/"));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"up"));
    m_pHarbinet->Close();
    ASSERT_EQ(S_OK, Open("http://127.0.0.1:" + std::to_string(nPort - 65536) + "/"));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"down"));
    EXPECT_EQ("POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: up\r\n\r\n"
              "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: down\r\n\r\n",
              ReceivedWhenDone());
    EXPECT_EQ(2, m_server.Connections());
}

// The port is read like %d (white space and a sign before it) and the path like %s
// (anything after the digits, up to white space).
TEST_F(OpenTest, PortAndPathFollowScanfRules)
{
    const std::string sPort = std::to_string(m_server.Port());
    ASSERT_EQ(S_OK, Open("http://127.0.0.1: +" + sPort + "/a b"));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    m_pHarbinet->Close();
    ASSERT_EQ(S_OK, Open("http://127.0.0.1:" + sPort + "cache/"));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ("POST /anop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n"
              "POST cache/nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n",
              ReceivedWhenDone());
}

TEST_F(OpenTest, CloseOnClosedObjectReturnsOk)
{
    EXPECT_EQ(S_OK, m_pHarbinet->Close());
    EXPECT_EQ(S_OK, m_pHarbinet->Close());
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
}

TEST_F(OpenTest, CloseDropsTheConnectionAndOpenMakesANewOne)
{
    ASSERT_EQ(S_OK, OpenFake("/one"));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(S_OK, m_pHarbinet->Close());
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));
    ASSERT_EQ(S_OK, OpenFake("/two"));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ("POST /onenop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n"
              "POST /twonop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n",
              ReceivedWhenDone());
    EXPECT_EQ(2, m_server.Connections());
}

// A connection that the server has closed while it sat idle is not live: Open replaces
// it instead of answering "Already connected.".
TEST_F(OpenTest, OpenReplacesConnectionThatTheServerClosed)
{
    ASSERT_EQ(S_OK, OpenFake("/old"));
    m_server.Answer(g_szReplyOk).CloseNow().Delay(50);
    EXPECT_EQ(S_OK, Noop(L""));
    ASSERT_TRUE(m_server.WaitDone());

    ExpectOpenOnNewConnection();
}

// A reply whose bytes run on past its announced body. The body is longer than the head
// buffer, so however the bytes arrive, the head read cannot take the excess, and the
// drain reads exactly the announced length: the excess stays unread on the connection.
std::string ReplyWithExcess(const std::string& sExcess)
{
    return "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 10000\r\n\r\n" + std::string(10000, 'b')
        + sExcess;
}

// Bytes that nobody asked for make a connection unusable for the next exchange, so it
// does not count as live either.
TEST_F(OpenTest, OpenReplacesConnectionThatCarriesUnaskedBytes)
{
    ASSERT_EQ(S_OK, OpenFake("/old"));
    m_server.Answer(ReplyWithExcess("HTTP/1.1 200 OK\r\n")).Delay(50);
    EXPECT_EQ(S_OK, Noop(L""));
    ASSERT_TRUE(m_server.WaitDone());

    ExpectOpenOnNewConnection();
}

// A failed Open on a broken connection closes it too: the next command has no socket to
// send on, even though the server still holds its end open.
TEST_F(OpenTest, FailedOpenOnBrokenConnectionLeavesTheObjectClosed)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(ReplyWithExcess("junk")).Delay(50);
    EXPECT_EQ(S_OK, Noop(L""));
    ASSERT_TRUE(m_server.WaitDone());

    ASSERT_TRUE(IsReported(Open(L"http://nowhere"), "0x80040202", L"Invalid URL."));
    EXPECT_TRUE(IsReported(Noop(L"lost"), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(OpenTest, CommandOnConnectionTheServerClosedReportsHttpErrorAndCloses)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk).CloseNow().Delay(50);
    EXPECT_EQ(S_OK, Noop(L"first"));
    ASSERT_TRUE(m_server.WaitDone());

    EXPECT_TRUE(IsReported(Noop(L"broken"), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"again"));
    EXPECT_EQ("POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: first\r\n\r\n"
              "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: again\r\n\r\n",
              ReceivedWhenDone());
}

TEST_F(OpenTest, LastReleaseOfAnOpenObjectFreesIt)
{
    IHarbinet* pOther = GHarbinetModule::Instance().CreateHarbinet();
    ASSERT_NE(nullptr, pOther);
    GTestBstr bstrUrl(WidenAscii(m_server.Url()).c_str());
    ASSERT_EQ(S_OK, pOther->Open(bstrUrl));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, pOther->Noop(nullptr));
    EXPECT_EQ(2u, pOther->AddRef());
    EXPECT_EQ(1u, pOther->Release());
    EXPECT_EQ(0u, pOther->Release());
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

}   // namespace
