// Tests of turning a parsed head into a command or a refusal status.
#include "request.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

struct GInterpreted
{
    GVerdict verdict;
    GRequest request;
    std::string strHead;  // keeps the request's texts alive
};

GInterpreted Interpret(const std::string& strHead, const std::string& strBase = "/", uint64_t nMaxValue = 1024)
{
    GInterpreted result;
    result.strHead = strHead;
    GRequestParser parser;
    EXPECT_EQ(EParse::Done, parser.Parse(result.strHead.data(), result.strHead.size(), 8192)) << strHead;
    GRequestRules rules;
    rules.szBasePath = strBase;
    rules.nMaxValue = nMaxValue;
    result.verdict = InterpretHead(result.strHead.data(), parser.Head(), rules, result.request);
    return result;
}

} // namespace

TEST(RequestTest, ClientSetBecomesSetWithEveryArgument)
{
    GInterpreted r = Interpret(
        "POST /set HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-type: application/x-variant-3\r\n"
        "content-length: 24\r\ncookie: abc\r\nx-param-name: user7\r\nx-param-timeout: 60\r\n\r\n");
    EXPECT_EQ(0, r.verdict.nStatus);
    EXPECT_EQ(ECommand::Set, r.request.command);
    EXPECT_EQ(3, r.request.nType);
    EXPECT_EQ(24u, r.request.nContentLength);
    EXPECT_EQ(60u, r.request.nTimeout);
    EXPECT_TRUE(r.request.key.bCookie);
    EXPECT_EQ("abc", r.request.key.szCookie);
    EXPECT_EQ("user7", r.request.key.szName);
}

TEST(RequestTest, EachCommandWordIsRecognised)
{
    EXPECT_EQ(ECommand::Get, Interpret("POST /get HTTP/1.1\r\ncontent-length: 0\r\n\r\n").request.command);
    EXPECT_EQ(ECommand::Del, Interpret("POST /del HTTP/1.1\r\ncontent-length: 0\r\n\r\n").request.command);
    EXPECT_EQ(ECommand::Nop, Interpret("POST /nop HTTP/1.1\r\ncontent-length: 0\r\n\r\n").request.command);
}

TEST(RequestTest, CommandWordFollowsTheBasePathDirectly)
{
    EXPECT_EQ(0, Interpret("POST /cachedel HTTP/1.1\r\ncontent-length: 0\r\n\r\n", "/cache").verdict.nStatus);
    EXPECT_EQ(404, Interpret("POST /cache/del HTTP/1.1\r\ncontent-length: 0\r\n\r\n", "/cache").verdict.nStatus);
    EXPECT_EQ(404, Interpret("POST /del HTTP/1.1\r\ncontent-length: 0\r\n\r\n", "/cache").verdict.nStatus);
    EXPECT_EQ(0, Interpret("POST /a/b/get HTTP/1.1\r\ncontent-length: 0\r\n\r\n", "/a/b/").verdict.nStatus);
}

TEST(RequestTest, UnknownWordIs404AndKeepsTheConnection)
{
    for (const char* sz : {"/put", "/", "/GET", "/get?x=1", "/gets", "/ge"})
    {
        GInterpreted r = Interpret(std::string("POST ") + sz + " HTTP/1.1\r\ncontent-length: 2\r\n\r\n");
        EXPECT_EQ(404, r.verdict.nStatus) << sz;
        EXPECT_FALSE(r.verdict.bClose) << sz;
        EXPECT_EQ(2u, r.request.nContentLength) << sz;
    }
}

TEST(RequestTest, MethodOtherThanPostIs405)
{
    GInterpreted r = Interpret("GET /get HTTP/1.1\r\n\r\n");
    EXPECT_EQ(405, r.verdict.nStatus);
    EXPECT_FALSE(r.verdict.bClose);
    EXPECT_EQ(0u, r.request.nContentLength);
    EXPECT_EQ(405, Interpret("post /get HTTP/1.1\r\ncontent-length: 0\r\n\r\n").verdict.nStatus);
}

TEST(RequestTest, MethodOtherThanPostWithOversizedBodyClosesTheConnection)
{
    GInterpreted r = Interpret("PUT /set HTTP/1.1\r\ncontent-length: 5000\r\n\r\n");
    EXPECT_EQ(405, r.verdict.nStatus);
    EXPECT_TRUE(r.verdict.bClose);
}

TEST(RequestTest, PostWithoutLengthIs411AndCloses)
{
    GInterpreted r = Interpret("POST /get HTTP/1.1\r\nx-param-name: a\r\n\r\n");
    EXPECT_EQ(411, r.verdict.nStatus);
    EXPECT_TRUE(r.verdict.bClose);
}

TEST(RequestTest, UnusableLengthIs400AndCloses)
{
    for (const char* sz : {"12x", "-1", "", "0x10", "1 2", "18446744073709551616", "+5"})
    {
        GInterpreted r = Interpret(std::string("POST /get HTTP/1.1\r\ncontent-length: ") + sz + "\r\n\r\n");
        EXPECT_EQ(400, r.verdict.nStatus) << sz;
        EXPECT_TRUE(r.verdict.bClose) << sz;
    }
}

TEST(RequestTest, ConflictingLengthsAndTransferEncodingAre400AndClose)
{
    GInterpreted r = Interpret("POST /get HTTP/1.1\r\ncontent-length: 1\r\ncontent-length: 2\r\n\r\n");
    EXPECT_EQ(400, r.verdict.nStatus);
    EXPECT_TRUE(r.verdict.bClose);
    r = Interpret("POST /set HTTP/1.1\r\ntransfer-encoding: chunked\r\n\r\n");
    EXPECT_EQ(400, r.verdict.nStatus);
    EXPECT_TRUE(r.verdict.bClose);
}

TEST(RequestTest, BodyLargerThanTheLargestValueIs413AndCloses)
{
    GInterpreted r = Interpret("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-8\r\ncontent-length: 1025\r\n\r\n");
    EXPECT_EQ(413, r.verdict.nStatus);
    EXPECT_TRUE(r.verdict.bClose);
    r = Interpret("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-8\r\ncontent-length: 1024\r\n\r\n");
    EXPECT_EQ(0, r.verdict.nStatus);
    r = Interpret("POST /set HTTP/1.1\r\ncontent-length: 18446744073709551615\r\n\r\n");
    EXPECT_EQ(413, r.verdict.nStatus);
}

TEST(RequestTest, SetWithoutUsableValueTypeIs415AndKeepsTheConnection)
{
    const char* const szTypes[] = {nullptr, "", "text/plain", "application/x-variant-", "application/x-variant-x",
        "application/x-variant--3", "application/x-variant-65536", "application/x-variant-3x",
        "application/x-variants-3"};
    for (const char* sz : szTypes)
    {
        std::string str = "POST /set HTTP/1.1\r\ncontent-length: 4\r\n";
        if (sz != nullptr)
            str += std::string("content-type: ") + sz + "\r\n";
        GInterpreted r = Interpret(str + "\r\n");
        EXPECT_EQ(415, r.verdict.nStatus) << (sz ? sz : "(none)");
        EXPECT_FALSE(r.verdict.bClose) << (sz ? sz : "(none)");
    }
}

TEST(RequestTest, ValueTypeAcceptsAnyCaseAndParameters)
{
    uint16_t nType = 0;
    EXPECT_TRUE(ParseVariantType("application/x-variant-8209", nType));
    EXPECT_EQ(8209, nType);
    EXPECT_TRUE(ParseVariantType("Application/X-Variant-12; charset=x", nType));
    EXPECT_EQ(12, nType);
    EXPECT_TRUE(ParseVariantType("application/x-variant-65535", nType));
    EXPECT_EQ(65535, nType);
    EXPECT_TRUE(ParseVariantType("application/x-variant-0", nType));
    EXPECT_EQ(0, nType);
}

TEST(RequestTest, UnusableTimeoutIs400AndKeepsTheConnection)
{
    for (const char* sz : {"-1", "abc", "", "4294967296", "1.5"})
    {
        GInterpreted r = Interpret(std::string("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-3\r\n"
                                               "content-length: 24\r\nx-param-timeout: ") + sz + "\r\n\r\n");
        EXPECT_EQ(400, r.verdict.nStatus) << sz;
        EXPECT_FALSE(r.verdict.bClose) << sz;
    }
    uint32_t nTimeout = 0;
    EXPECT_TRUE(ParseTimeout("4294967295", nTimeout));
    EXPECT_EQ(4294967295u, nTimeout);
}

TEST(RequestTest, MissingTimeoutMeansNoExpiry)
{
    GInterpreted r = Interpret("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-3\r\ncontent-length: 24\r\n\r\n");
    EXPECT_EQ(0, r.verdict.nStatus);
    EXPECT_EQ(0u, r.request.nTimeout);
}

TEST(RequestTest, NoCookieMeansSharedSpaceAndEmptyCookieIsItsOwnSpace)
{
    GInterpreted r = Interpret("POST /get HTTP/1.1\r\ncontent-length: 0\r\nx-param-name: a\r\n\r\n");
    EXPECT_FALSE(r.request.key.bCookie);
    r = Interpret("POST /get HTTP/1.1\r\ncontent-length: 0\r\ncookie: \r\nx-param-name: a\r\n\r\n");
    EXPECT_TRUE(r.request.key.bCookie);
    EXPECT_EQ("", r.request.key.szCookie);
}

TEST(RequestTest, MissingNameIsTheEmptyName)
{
    GInterpreted r = Interpret("POST /get HTTP/1.1\r\ncontent-length: 0\r\n\r\n");
    EXPECT_EQ(0, r.verdict.nStatus);
    EXPECT_EQ("", r.request.key.szName);
}

TEST(RequestTest, ExpectContinueIsNotedInAnyLetterCase)
{
    struct GCase
    {
        const char* szExpect;
        bool bContinue;
    };
    const GCase cases[] = {{"100-continue", true}, {" 100-Continue ", true}, {"100-continued", false}, {"", false}};
    for (const GCase& c : cases)
    {
        GInterpreted r = Interpret(std::string("POST /set HTTP/1.1\r\ncontent-type: application/x-variant-8\r\n"
                                               "content-length: 4\r\nexpect: ") + c.szExpect + "\r\n\r\n");
        EXPECT_EQ(c.bContinue, r.request.bExpectContinue) << c.szExpect;
    }
}

TEST(RequestTest, MetricsPageIsAGetOfExactlyItsPathWhenEnabled)
{
    auto Interpreted = [](const std::string& strHead, bool bMetrics) {
        GRequestParser parser;
        EXPECT_EQ(EParse::Done, parser.Parse(strHead.data(), strHead.size(), 8192));
        GRequestRules rules;
        rules.bMetrics = bMetrics;
        GRequest request;
        const GVerdict verdict = InterpretHead(strHead.data(), parser.Head(), rules, request);
        return verdict.nStatus != 0 ? static_cast<int>(verdict.nStatus) : request.command == ECommand::Metrics ? 1 : 0;
    };
    EXPECT_EQ(1, Interpreted("GET /metrics HTTP/1.1\r\n\r\n", true));
    EXPECT_EQ(405, Interpreted("GET /metrics HTTP/1.1\r\n\r\n", false));
    EXPECT_EQ(405, Interpreted("GET /metrics/x HTTP/1.1\r\n\r\n", true));
    EXPECT_EQ(404, Interpreted("POST /metrics HTTP/1.1\r\ncontent-length: 0\r\n\r\n", true));
}
