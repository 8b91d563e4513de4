// Reply heads on the wire: status lines, result codes and reasons, and how header lines are recognised.
#include "tests/client/wire_test.h"

#include <string>
#include <vector>

namespace
{

using ReplyHeadTest = GWireTest;

// One reply and what a Noop makes of it: S_OK (szCode nullptr) or the reported failure.
struct GReplyCase
{
    std::string sReply;
    const char* szCode;
    std::wstring sDescription;
};

// Runs each case on a fresh connection; a failure must also leave the object closed.
void RunCases(GFakeServer& server, IHarbinet* pHarbinet, const std::vector<GReplyCase>& vecCases)
{
    for (const GReplyCase& replyCase : vecCases)
    {
        SCOPED_TRACE(replyCase.sReply);
        pHarbinet->Close();
        GTestBstr bstrUrl(WidenAscii(server.Url()).c_str());
        ASSERT_EQ(S_OK, pHarbinet->Open(bstrUrl));
        server.Answer(replyCase.sReply);
        GTestBstr bstrEmpty(L"");
        const HRESULT hr = pHarbinet->Noop(bstrEmpty);
        if (replyCase.szCode == nullptr)
        {
            EXPECT_EQ("0x00000000", HResultText(hr));
            continue;
        }
        EXPECT_TRUE(IsReported(hr, replyCase.szCode, replyCase.sDescription));
        GTestBstr bstrClosed(L"closed");
        EXPECT_TRUE(IsReported(pHarbinet->Noop(bstrClosed), "0x80040206", L"HTTP error."));
    }
    // One request a case: nothing went out on a closed object.
    EXPECT_TRUE(server.WaitDone());
    std::string sExpected;
    for (size_t i = 0; i < vecCases.size(); ++i)
        sExpected += g_szNoopEmpty;
    EXPECT_EQ(sExpected, server.Received());
}

std::string Repeated(const char* sz, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += sz;
    return s;
}

TEST_F(ReplyHeadTest, StatusOtherThan200ReportsTheStatusText)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 404 Not Found\r\ncontent-length: 0\r\n\r\n", "0x80040206", L"404 Not Found"},
        {"HTTP/1.1 503 Service Temporarily Not Available\r\ncontent-length: 0\r\n\r\n", "0x80040206",
         L"503 Service Temporarily Not Available"},
        // The result code does not matter when the status is not 200.
        {"HTTP/1.1 500 Internal Server Error\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040206",
         L"500 Internal Server Error"},
        // Nor does a reason: the status text is the description.
        {"HTTP/1.1 400 Bad Request\r\nx-result-code: 1\r\nx-result-reason: bad\r\ncontent-length: 0\r\n\r\n",
         "0x80040206", L"400 Bad Request"},
        {"HTTP/1.1 2000 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040206", L"2000 OK"},
        {"HTTP/1.1 201 Created\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040206", L"201 Created"},
        {"HTTP/1.1 OK 200\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040206", L"OK 200"},
        // The status text keeps trailing spaces.
        {"HTTP/1.1 404 Gone  \r\ncontent-length: 0\r\n\r\n", "0x80040206", L"404 Gone  "},
    });
}

TEST_F(ReplyHeadTest, Status200IsReadByNumberAlone)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.0 200 Fine\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1  200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"X 0200 whatever\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
    });
}

// The status text begins after the first space anywhere in the head: a status line
// without one takes it from a header line.
TEST_F(ReplyHeadTest, StatusLineWithoutSpaceTakesTheFirstSpaceOfTheHead)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040206", L"0"},
        {"HTTP/1.1-200-OK\r\nx-result-code:0\r\ncontent-length:0\r\n\r\n", "0x80040206", L"HTTP error."},
        {"\r\n\r\n", "0x80040206", L"HTTP error."},
    });
}

TEST_F(ReplyHeadTest, ResultCodeIsReadLikeStrtol)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\nx-result-code: 0abc\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code:    0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code: \t 0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code:0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code: +0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code: -0\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code: 000\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code: 0 \r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code: 0.5\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
    });
}

TEST_F(ReplyHeadTest, MissingOrUnusableResultCodeReportsUnknownResultCode)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: \r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code:\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: abc\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: -\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: 1\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: -1\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: 2\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: 4294967296\r\ncontent-length: 0\r\n\r\n", "0x80040207",
         L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-code: 99999999999999999999\r\ncontent-length: 0\r\n\r\n", "0x80040207",
         L"Unknown x-result-code."},
    });
}

TEST_F(ReplyHeadTest, ResultReasonBecomesTheDescription)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: No such value here\r\ncontent-length: 0\r\n\r\n",
         "0x80040207", L"No such value here"},
        // Whole, with colons and trailing spaces, and only the first reason line counts.
        {"HTTP/1.1 200 OK\r\nx-result-reason: why: because  \r\nx-result-reason: later\r\nx-result-code: 7\r\n\r\n",
         "0x80040207", L"why: because  "},
        {"HTTP/1.1 200 OK\r\nx-result-reason: no code at all\r\ncontent-length: 0\r\n\r\n", "0x80040207",
         L"no code at all"},
        {"HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: \r\ncontent-length: 0\r\n\r\n", "0x80040207", L""},
    });
}

TEST_F(ReplyHeadTest, FirstResultCodeLineDecides)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\nx-result-code: 0\r\nx-result-code: 1\r\ncontent-length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040207",
         L"Unknown x-result-code."},
        // An empty first value is a missing code, not a cue to look further.
        {"HTTP/1.1 200 OK\r\nx-result-code: \r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040207",
         L"Unknown x-result-code."},
    });
}

TEST_F(ReplyHeadTest, HeaderNamesMatchInAnyLetterCase)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\nX-Result-Code: 0\r\nContent-Length: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nX-RESULT-CODE: 0\r\nCONTENT-LENGTH: 0\r\n\r\n", nullptr, L""},
        {"HTTP/1.1 200 OK\r\nX-RESULT-CODE: 1\r\nX-Result-REASON: shouted\r\nCONTENT-LENGTH: 0\r\n\r\n", "0x80040207",
         L"shouted"},
    });
}

// A name is every byte up to the colon: a space before the colon, or a line without a
// colon running into the next, leaves the code unrecognised.
TEST_F(ReplyHeadTest, NamesAreMatchedWhole)
{
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\nx-result-code : 0\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\n x-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-result-codes: 0\r\ncontent-length: 0\r\n\r\n", "0x80040207", L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-note\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", "0x80040207",
         L"Unknown x-result-code."},
        {"HTTP/1.1 200 OK\r\nx-note\r\nx-result-code: 0\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n", nullptr,
         L""},
    });
}

// Content-length in any case, with spaces before it, is what gets drained: the next
// reply is then read from its start.
TEST_F(ReplyHeadTest, ContentLengthInAnyCaseIsDrained)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.AnswerInSegments({"HTTP/1.1 200 OK\r\nCONTENT-LENGTH:    7\r\nx-result-code: 0\r\n\r\n", "1234567"}, 10);
    EXPECT_EQ(S_OK, Noop(L""));
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: next\r\ncontent-length: 0\r\n\r\n");
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040207", L"next"));
    EXPECT_EQ(std::string(g_szNoopEmpty) + g_szNoopEmpty, ReceivedWhenDone());
}

// Reasons and status texts arrive in the thread's ANSI code page.
TEST_F(ReplyHeadTest, TextsAreConvertedFromTheThreadCodePage)
{
    GThreadLocaleScope locale(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_TRUE(locale.IsSet());
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: Gr\xFC\xDF" "e\r\n\r\n", "0x80040207",
         L"Gr\u00FC\u00DFe"},
        {"HTTP/1.1 418 Teek\xE4nnchen\r\n\r\n", "0x80040206", L"418 Teek\u00E4nnchen"},
    });
}

// A reason of several kilobytes arrives whole.
TEST_F(ReplyHeadTest, LongReasonIsReportedWhole)
{
    const std::string sReason = Repeated("0123456789", 700);
    RunCases(m_server, m_pHarbinet, {
        {"HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: " + sReason + "\r\n\r\n", "0x80040207",
         WidenAscii(sReason)},
    });
}

}   // namespace
