// Names and cookies that would break the request head: refused before anything is sent.
#include "tests/client/wire_test.h"

#include <string>

namespace
{

using HeaderInjectionTest = GWireTest;

std::string NoopNamed(const std::string& sName)
{
    return "POST /nop HTTP/1.1\r\n"
           "host: 127.0.0.1\r\n"
           "content-length: 0\r\n"
           "x-param-name: " + sName + "\r\n"
           "\r\n";
}

TEST_F(HeaderInjectionTest, NameWithLineBreakNeverReachesTheWire)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(Noop(L"a\r\nx-param-name: b"), "0x80070057", L"Invalid name."));
    EXPECT_TRUE(IsReported(Delete(L"a\r\n\r\nPOST /del HTTP/1.1"), "0x80070057", L"Invalid name."));
    EXPECT_TRUE(IsReported(Noop(L"lf\nonly"), "0x80070057", L"Invalid name."));
    EXPECT_TRUE(IsReported(Delete(L"cr\ronly"), "0x80070057", L"Invalid name."));
    EXPECT_TRUE(IsReported(Noop(L"\n"), "0x80070057", L"Invalid name."));
    EXPECT_TRUE(IsReported(Noop(L"ends in\r"), "0x80070057", L"Invalid name."));

    // The connection is as it was: the next command uses it.
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"fine"));
    EXPECT_EQ(NoopNamed("fine"), ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

// The request head has room for 8191 bytes; a name that would make it longer is
// refused rather than cut short or written past the buffer.
TEST_F(HeaderInjectionTest, LongestNameThatFitsGoesOutWhole)
{
    // 74 bytes of head besides the name.
    const std::string sName(8191 - 74, 'n');
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(WidenAscii(sName).c_str()));
    const std::string sExpected = NoopNamed(sName);
    ASSERT_EQ(8191u, sExpected.size());
    EXPECT_EQ(sExpected, ReceivedWhenDone());
}

TEST_F(HeaderInjectionTest, NameOneByteTooLongIsRefused)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(Noop(std::wstring(8191 - 74 + 1, L'n').c_str()), "0x80070057", L"Invalid name."));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"after"));
    EXPECT_EQ(NoopNamed("after"), ReceivedWhenDone());
}

TEST_F(HeaderInjectionTest, NameOf10000CharactersIsRefusedWhole)
{
    const std::wstring sName(10000, L'x');
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_TRUE(IsReported(Noop(sName.c_str()), "0x80070057", L"Invalid name."));
    EXPECT_TRUE(IsReported(Delete(sName.c_str()), "0x80070057", L"Invalid name."));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"after"));
    EXPECT_EQ(NoopNamed("after"), ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

// The cookie and the base path take room in the head as well.
TEST_F(HeaderInjectionTest, CookieAndPathCountAgainstTheHeadRoom)
{
    const std::string sCookie(255, 'c');
    const std::string sPath = "/" + std::string(125, 'p');
    // Besides the name: 74 bytes, 125 more path bytes, and "cookie: " + 255 + CR LF.
    const size_t nRoom = 8191 - 74 - 125 - (8 + 255 + 2);
    ASSERT_EQ(S_OK, PutCookie(WidenAscii(sCookie).c_str()));
    ASSERT_EQ(S_OK, OpenFake(sPath.c_str()));
    EXPECT_TRUE(IsReported(Noop(std::wstring(nRoom + 1, L'n').c_str()), "0x80070057", L"Invalid name."));
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(std::wstring(nRoom, L'n').c_str()));
    const std::string sExpected = "POST " + sPath + "nop HTTP/1.1\r\n"
                                  "host: 127.0.0.1\r\n"
                                  "content-length: 0\r\n"
                                  "cookie: " + sCookie + "\r\n"
                                  "x-param-name: " + std::string(nRoom, 'n') + "\r\n"
                                  "\r\n";
    ASSERT_EQ(8191u, sExpected.size());
    EXPECT_EQ(sExpected, ReceivedWhenDone());
}

TEST_F(HeaderInjectionTest, CookieWithLineBreakIsRefusedAndTheOldOneKept)
{
    EXPECT_EQ(S_OK, PutCookie(L"good"));
    ClearErrorInfo();
    EXPECT_EQ("0x80070057", HResultText(PutCookie(L"bad\r\nx-param-name: evil")));
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ("0x80070057", HResultText(PutCookie(L"bad\n")));
    EXPECT_EQ("0x80070057", HResultText(PutCookie(L"\rbad")));
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ(L"good", GetCookie().sText);

    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ("POST /nop HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "cookie: good\r\n"
              "x-param-name: \r\n"
              "\r\n",
              ReceivedWhenDone());
}

// A set-cookie value with a line feed would be echoed into later heads: it is ignored.
TEST_F(HeaderInjectionTest, SetCookieWithLineFeedIsIgnored)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: a\nx-evil: 1\r\n"
                                "content-length: 0\r\n\r\n"));
    EXPECT_TRUE(GetCookie().bNull);
    EXPECT_EQ(S_OK, PutCookie(L"mine"));
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: \n\r\ncontent-length: 0\r\n\r\n"));
    EXPECT_EQ(L"mine", GetCookie().sText);
    EXPECT_EQ(S_OK, NoopAgainst(g_szReplyOk));
    EXPECT_EQ(std::string(g_szNoopEmpty)
                  + "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\ncookie: mine\r\nx-param-name: \r\n\r\n"
                  + "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\ncookie: mine\r\nx-param-name: \r\n\r\n",
              ReceivedWhenDone());
}

}   // namespace
