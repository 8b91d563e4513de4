// Request heads and reply framing: how a reply is gathered, where it ends, and how its body is read off.
#include "tests/client/wire_test.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

using FramingTest = GWireTest;

// A reply that only the right reply read can tell from g_szReplyOk: a command that
// read the wrong bytes sees something else.
constexpr const char* g_szReplySecond =
    "HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: second reply\r\ncontent-length: 0\r\n\r\n";

// The second exchange on the same connection reads its own reply from the start.
void ExpectSecondReplyReadWhole(GFakeServer& server, IHarbinet* pHarbinet)
{
    server.Answer(g_szReplySecond);
    GTestBstr bstrName(L"second");
    EXPECT_TRUE(IsReported(pHarbinet->Noop(bstrName), "0x80040207", L"second reply"));
}

constexpr const char* g_szNoopSecond =
    "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: second\r\n\r\n";

TEST_F(FramingTest, BasePathIsFollowedDirectlyByTheCommandWord)
{
    ASSERT_EQ(S_OK, OpenFake("/cache"));
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Delete(L"user42"));
    EXPECT_EQ(S_OK, Noop(L"user42"));
    EXPECT_EQ("POST /cachedel HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: user42\r\n"
              "\r\n"
              "POST /cachenop HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: user42\r\n"
              "\r\n",
              ReceivedWhenDone());
}

TEST_F(FramingTest, ReplyInSingleByteSegmentsIsAssembled)
{
    ASSERT_EQ(S_OK, OpenFake());
    const std::string sReply = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 4\r\n\r\nbody";
    std::vector<std::string> vecSegments;
    for (char ch : sReply)
        vecSegments.push_back(std::string(1, ch));
    m_server.AnswerInSegments(vecSegments, 1);
    EXPECT_EQ(S_OK, Noop(L""));
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopSecond, ReceivedWhenDone());
}

// The empty line that ends the head may itself be cut between two receives.
TEST_F(FramingTest, HeadEndSplitAcrossSegmentsIsFound)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.AnswerInSegments({"HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r", "\n"}, 100);
    EXPECT_EQ(S_OK, Noop(L""));
    m_server.AnswerInSegments({"HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r", "\n\r\n"}, 100);
    EXPECT_EQ(S_OK, Noop(L""));
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopEmpty + g_szNoopSecond, ReceivedWhenDone());
}

// Body bytes that came with the head count against content-length; when they cover it
// nothing more is read (a further read would wait for ever: the server sends nothing
// more until the next request).
TEST_F(FramingTest, HeadAndBodyInOneSegment)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 5\r\n\r\nhello"));
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopSecond, ReceivedWhenDone());
}

TEST_F(FramingTest, BodyArrivingAfterTheHeadIsReadToItsEnd)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.AnswerInSegments({"HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 20000\r\n\r\n",
                               std::string(7000, 'a'), std::string(7000, 'b'), std::string(6000, 'c')},
                              10);
    EXPECT_EQ(S_OK, Noop(L""));
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopSecond, ReceivedWhenDone());
}

TEST_F(FramingTest, BodyPartlyWithTheHeadIsReadToItsEnd)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.AnswerInSegments({"HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 10000\r\n\r\n"
                                   + std::string(100, 'a'),
                               std::string(9899, 'b'), "c"},
                              10);
    EXPECT_EQ(S_OK, Noop(L""));
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopSecond, ReceivedWhenDone());
}

// More bytes with the head than the body announces: nothing is left to read, and the
// command does not wait.
TEST_F(FramingTest, MoreBodyBytesThanContentLengthLeaveNothingToRead)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 2\r\n\r\nabcdef"));
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopSecond, ReceivedWhenDone());
}

// Without content-length the body runs until the server closes the connection; the
// command succeeds, and the next one finds the connection gone.
TEST_F(FramingTest, ReplyWithoutContentLengthIsReadUntilTheServerCloses)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\n\r\nsome body").Delay(100)
        .CloseNow();
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_TRUE(IsReported(Noop(L"gone"), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopEmpty, ReceivedWhenDone());
}

// A body cut short by the server is not this command's failure; the next command finds it.
TEST_F(FramingTest, BodyCutShortStillSucceedsAndTheNextCommandFails)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 100\r\n\r\nonly ten.!").Delay(50)
        .CloseNow();
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_TRUE(IsReported(Noop(L"gone"), "0x80040206", L"HTTP error."));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

// The head must end within the first 8191 bytes; the buffer keeps its last byte for the
// terminating NUL.
TEST_F(FramingTest, ReplyHeadOf8191BytesIsRead)
{
    const std::string sStart = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\nx-filler: ";
    const std::string sReply = sStart + std::string(8191 - sStart.size() - 4, 'f') + "\r\n\r\n";
    ASSERT_EQ(8191u, sReply.size());
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(sReply));
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopSecond, ReceivedWhenDone());
}

TEST_F(FramingTest, ReplyHeadOf8192BytesReportsHttpError)
{
    const std::string sStart = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\nx-filler: ";
    const std::string sReply = sStart + std::string(8192 - sStart.size() - 4, 'f') + "\r\n\r\n";
    ASSERT_EQ(8192u, sReply.size());
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(NoopAgainst(sReply), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

// A long head without an empty line fails as soon as the buffer is full; the server
// has not closed anything, so waiting for more would hang.
TEST_F(FramingTest, LongReplyHeadWithoutEmptyLineReportsHttpErrorWithoutWaiting)
{
    std::string sReply = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\n";
    while (sReply.size() < 9000)
        sReply += "x-filler: ffffffffffffffffffffffffffffff\r\n";
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(NoopAgainst(sReply), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(FramingTest, ReplyWithLineFeedsAloneReportsHttpError)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\nx-result-code: 0\ncontent-length: 0\n\n").CloseNow();
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(FramingTest, ReplyCutShortInItsHeadReportsHttpError)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-len").CloseNow();
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(FramingTest, ServerClosingInsteadOfAnsweringReportsHttpError)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.CloseAfterRequest();
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopEmpty, ReceivedWhenDone());
    EXPECT_EQ(2, m_server.Connections());
}

// Without time limits in the registry a silent server holds the command for as long
// as it stays; going away then ends the command like any broken exchange.
TEST_F(FramingTest, WithoutTimeLimitsSilentServerHoldsCommandUntilItGoesAway)
{
    auto pServer = std::make_unique<GFakeServer>();
    pServer->ReadRequestAndStaySilent();
    ASSERT_EQ(S_OK, Open(pServer->Url()));
    std::thread closer([&pServer] {
        pServer->WaitDone(30000);
        pServer.reset();
    });
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    closer.join();
}

TEST_F(FramingTest, CommandsOnNewObjectReportHttpErrorWithoutSending)
{
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Delete(L"user42"), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

// Many exchanges on one connection, each with a body of its own size: every one starts
// where the one before ended.
TEST_F(FramingTest, ManyExchangesStayInStep)
{
    ASSERT_EQ(S_OK, OpenFake());
    std::string sExpected;
    for (int i = 0; i < 50; ++i)
    {
        const std::string sBody(static_cast<size_t>(i * 397), 'x');
        const std::string sReply = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: "
            + std::to_string(sBody.size()) + "\r\n\r\n" + sBody;
        if (i % 2 == 0)
            m_server.Answer(sReply);
        else
            m_server.AnswerInSegments({sReply.substr(0, 30), sReply.substr(30)}, 2);
        EXPECT_EQ(S_OK, Noop(L"")) << "exchange " << i;
        sExpected += g_szNoopEmpty;
    }
    ExpectSecondReplyReadWhole(m_server, m_pHarbinet);
    EXPECT_EQ(sExpected + g_szNoopSecond, ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

}   // namespace
