// The Cookie property and the cookie header: set by the caller, made up, handed over by replies, kept across failures.
#include "tests/client/wire_test.h"

#include <set>
#include <string>

namespace
{

using CookieTest = GWireTest;

std::string NoopWithCookie(const std::string& sCookie)
{
    return "POST /nop HTTP/1.1\r\n"
           "host: 127.0.0.1\r\n"
           "content-length: 0\r\n"
           "cookie: " + sCookie + "\r\n"
           "x-param-name: \r\n"
           "\r\n";
}

std::string NarrowAscii(const std::wstring& s)
{
    return std::string(s.begin(), s.end());
}

TEST_F(CookieTest, NewObjectHasNoCookieAndSendsNone)
{
    BSTR bstrCookie = SysAllocString(L"left over");
    BSTR bstrBefore = bstrCookie;
    EXPECT_EQ(S_OK, m_pHarbinet->get_Cookie(&bstrCookie));
    EXPECT_EQ(nullptr, bstrCookie);
    SysFreeString(bstrBefore);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(CookieTest, CookieIsSentInEveryRequest)
{
    EXPECT_EQ(S_OK, PutCookie(L"session=abc"));
    GCookie cookie = GetCookie();
    EXPECT_FALSE(cookie.bNull);
    EXPECT_EQ(L"session=abc", cookie.sText);

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(S_OK, Delete(L"user42"));
    EXPECT_EQ("POST /nop HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "cookie: session=abc\r\n"
              "x-param-name: \r\n"
              "\r\n"
              "POST /del HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "cookie: session=abc\r\n"
              "x-param-name: user42\r\n"
              "\r\n",
              ReceivedWhenDone());
}

TEST_F(CookieTest, PutCookieNullDropsTheCookie)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, PutCookie(L"gone soon"));
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(S_OK, PutCookie(nullptr));
    EXPECT_TRUE(GetCookie().bNull);
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(NoopWithCookie("gone soon") + g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(CookieTest, EmptyCookieMakesAFreshGuidEachTime)
{
    ASSERT_EQ(S_OK, PutCookie(L""));
    const GCookie first = GetCookie();
    ASSERT_EQ(S_OK, PutCookie(L""));
    const GCookie second = GetCookie();
    EXPECT_FALSE(first.bNull);
    EXPECT_FALSE(second.bNull);
    EXPECT_TRUE(IsLowerHex32(first.sText)) << NarrowAscii(first.sText);
    EXPECT_TRUE(IsLowerHex32(second.sText)) << NarrowAscii(second.sText);
    EXPECT_NE(first.sText, second.sText);

    std::set<std::wstring> setCookies;
    for (int i = 0; i < 100; ++i)
    {
        ASSERT_EQ(S_OK, PutCookie(L""));
        setCookies.insert(GetCookie().sText);
    }
    EXPECT_EQ(100u, setCookies.size());

    // The latest one is what goes out.
    ASSERT_EQ(S_OK, PutCookie(L""));
    const GCookie latest = GetCookie();
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(NoopWithCookie(NarrowAscii(latest.sText)), ReceivedWhenDone());
}

TEST_F(CookieTest, CookieOf255BytesIsTakenAnd256BytesIsRefused)
{
    const std::wstring s255(255, L'c');
    const std::wstring s256(256, L'd');
    EXPECT_EQ(S_OK, PutCookie(s255.c_str()));
    ClearErrorInfo();
    EXPECT_EQ("0x80004005", HResultText(PutCookie(s256.c_str())));
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ(s255, GetCookie().sText);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(NoopWithCookie(std::string(255, 'c')), ReceivedWhenDone());
}

// The limit counts bytes of the narrow form: in code page 932 each kana takes two.
TEST_F(CookieTest, CookieLengthCountsNarrowBytes)
{
    GThreadLocaleScope locale(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN));
    ASSERT_TRUE(locale.IsSet());
    const std::wstring sFits = std::wstring(127, L'\u3042') + L"a";   // 255 bytes
    const std::wstring sLong = std::wstring(128, L'\u3042');          // 256 bytes, 128 characters
    EXPECT_EQ(S_OK, PutCookie(sFits.c_str()));
    ClearErrorInfo();
    EXPECT_EQ("0x80004005", HResultText(PutCookie(sLong.c_str())));
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ(sFits, GetCookie().sText);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    std::string sBytes;
    for (int i = 0; i < 127; ++i)
        sBytes += "\x82\xA0";
    EXPECT_EQ(NoopWithCookie(sBytes + "a"), ReceivedWhenDone());
}

TEST_F(CookieTest, SetCookieIsTakenWholeAndSentBack)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\n"
                                "set-cookie: sid=42; Path=/; HttpOnly  \r\ncontent-length: 0\r\n\r\n"));
    const GCookie cookie = GetCookie();
    EXPECT_FALSE(cookie.bNull);
    EXPECT_EQ(L"sid=42; Path=/; HttpOnly  ", cookie.sText);
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(g_szNoopEmpty + NoopWithCookie("sid=42; Path=/; HttpOnly  "), ReceivedWhenDone());
}

TEST_F(CookieTest, SetCookieReplacesTheCallersCookieAndOnlyTheFirstCounts)
{
    EXPECT_EQ(S_OK, PutCookie(L"mine"));
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nSet-Cookie: theirs\r\nSET-COOKIE: later\r\n"
                                "x-result-code: 0\r\ncontent-length: 0\r\n\r\n"));
    EXPECT_EQ(L"theirs", GetCookie().sText);
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(NoopWithCookie("mine") + NoopWithCookie("theirs"), ReceivedWhenDone());
}

TEST_F(CookieTest, SetCookieOf255BytesIsTakenAnd256BytesIgnored)
{
    EXPECT_EQ(S_OK, PutCookie(L"old"));
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: " + std::string(256, 'L')
                                + "\r\ncontent-length: 0\r\n\r\n"));
    EXPECT_EQ(L"old", GetCookie().sText);
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: " + std::string(255, 'S')
                                + "\r\ncontent-length: 0\r\n\r\n"));
    EXPECT_EQ(std::wstring(255, L'S'), GetCookie().sText);
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(NoopWithCookie("old") + NoopWithCookie("old") + NoopWithCookie(std::string(255, 'S')),
              ReceivedWhenDone());
}

// An empty set-cookie value is a cookie too: an empty one, sent as an empty header.
TEST_F(CookieTest, EmptySetCookieGivesAnEmptyCookie)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: \r\ncontent-length: 0\r\n\r\n"));
    const GCookie cookie = GetCookie();
    EXPECT_FALSE(cookie.bNull);
    EXPECT_EQ(L"", cookie.sText);
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(std::string(g_szNoopEmpty)
                  + "POST /nop HTTP/1.1\r\n"
                    "host: 127.0.0.1\r\n"
                    "content-length: 0\r\n"
                    "cookie: \r\n"
                    "x-param-name: \r\n"
                    "\r\n",
              ReceivedWhenDone());
}

// The cookie is taken before the status is looked at.
TEST_F(CookieTest, SetCookieInAFailingReplyIsTaken)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(NoopAgainst("HTTP/1.1 500 Internal Server Error\r\nset-cookie: from500\r\n"
                                       "content-length: 0\r\n\r\n"),
                           "0x80040206", L"500 Internal Server Error"));
    EXPECT_EQ(L"from500", GetCookie().sText);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nset-cookie: fromcode1\r\n"
                                       "content-length: 0\r\n\r\n"),
                           "0x80040207", L"Unknown x-result-code."));
    EXPECT_EQ(L"fromcode1", GetCookie().sText);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(g_szNoopEmpty + NoopWithCookie("from500") + NoopWithCookie("fromcode1"), ReceivedWhenDone());
}

TEST_F(CookieTest, CookieSurvivesCloseFailedOpenAndFailedCommand)
{
    EXPECT_EQ(S_OK, PutCookie(L"keep"));
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, m_pHarbinet->Close());
    EXPECT_EQ(L"keep", GetCookie().sText);
    EXPECT_TRUE(IsReported(Open(L"http://nowhere"), "0x80040202", L"Invalid URL."));
    EXPECT_TRUE(IsReported(Open(L"http://nosuchhost.invalid/"), "0x80040203", L"Invalid host name."));
    EXPECT_EQ(L"keep", GetCookie().sText);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(NoopAgainst("HTTP/1.1 404 Not Found\r\ncontent-length: 0\r\n\r\n"), "0x80040206",
                           L"404 Not Found"));
    EXPECT_EQ(L"keep", GetCookie().sText);
    EXPECT_TRUE(IsReported(Noop(L"closed"), "0x80040206", L"HTTP error."));
    EXPECT_EQ(L"keep", GetCookie().sText);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(NoopWithCookie("keep") + NoopWithCookie("keep"), ReceivedWhenDone());
}

TEST_F(CookieTest, PutCookieOnAnOpenConnectionChangesTheNextRequest)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, PutCookie(L"a"));
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(S_OK, PutCookie(L"b b"));
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(NoopWithCookie("a") + NoopWithCookie("b b"), ReceivedWhenDone());
}

TEST_F(CookieTest, GetCookieWithoutOutPointerFails)
{
    EXPECT_EQ("0x80004003", HResultText(m_pHarbinet->get_Cookie(nullptr)));
}

}   // namespace
