// Socket tests of cookies handed out with --issue-cookies.
#include "server_fixture.h"

#include <regex>

namespace
{

// The set-cookie value of a reply, or "<none>".
std::string IssuedCookie(const std::string& strReply)
{
    std::smatch match;
    if (std::regex_search(strReply, match, std::regex("\r\nset-cookie: ([^\r]*)\r\n")))
        return match[1];
    return "<none>";
}

} // namespace

class CookieTest : public GServerFixture
{
};

TEST_F(CookieTest, RequestWithoutCookieGetsThirtyTwoHexDigits)
{
    StartServer({"--issue-cookies"});
    const std::string strReply = Exchange(CommandRequest("nop", ""));
    const std::string strCookie = IssuedCookie(strReply);
    EXPECT_TRUE(std::regex_match(strCookie, std::regex("[0-9a-f]{32}"))) << strCookie;
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: " + strCookie + "\r\ncontent-length: 0\r\n\r\n",
        strReply);
}

TEST_F(CookieTest, RequestWithCookieGetsNone)
{
    StartServer({"--issue-cookies"});
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "", "mine")));
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "", "")));
}

TEST_F(CookieTest, NoCookiesWithoutTheOption)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "")));
}

TEST_F(CookieTest, EachIssuedCookieIsNew)
{
    StartServer({"--issue-cookies"});
    const std::string strFirst = IssuedCookie(Exchange(CommandRequest("nop", "")));
    const std::string strSecond = IssuedCookie(Exchange(CommandRequest("nop", "")));
    EXPECT_NE("<none>", strFirst);
    EXPECT_NE(strFirst, strSecond);
}

TEST_F(CookieTest, ValueSetWithTheIssuingRequestIsFoundUnderTheCookie)
{
    StartServer({"--issue-cookies"});
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(SetRequest("first", I4Image(31))));
    const std::string strReply = client.ReadReply();
    const std::string strCookie = IssuedCookie(strReply);
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: " + strCookie + "\r\ncontent-length: 0\r\n\r\n",
        strReply);
    // The client takes the cookie and sends it with every later request.
    ASSERT_TRUE(client.Send(CommandRequest("get", "first", strCookie.c_str())));
    EXPECT_EQ(FoundI4(31), client.ReadReply());
    // Another client without the cookie sees nothing of it.
    const std::string strOther = Exchange(CommandRequest("get", "first"));
    EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nset-cookie: " + IssuedCookie(strOther)
            + "\r\ncontent-length: 0\r\n\r\n",
        strOther);
}

TEST_F(CookieTest, RefusedRequestsGetNoCookie)
{
    StartServer({"--issue-cookies"});
    EXPECT_EQ("HTTP/1.1 404 Not Found\r\nx-result-reason: unknown command\r\ncontent-length: 0\r\n\r\n",
        Exchange("POST /what HTTP/1.1\r\ncontent-length: 0\r\n\r\n"));
}
