// Tests of the request head scanner, fed literal bytes whole and in pieces.
#include "request_parser.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

const std::string g_strClientSet =
    "POST /set HTTP/1.1\r\n"
    "host: 127.0.0.1\r\n"
    "content-type: application/x-variant-3\r\n"
    "content-length: 24\r\n"
    "cookie: abc\r\n"
    "x-param-name: user7\r\n"
    "x-param-timeout: 60\r\n"
    "\r\n";

EParse ParseWhole(GRequestParser& parser, const std::string& str, size_t nMax = 8192)
{
    parser.Reset();
    return parser.Parse(str.data(), str.size(), nMax);
}

std::string Field(const GRequestParser& parser, const std::string& str, GSpan GRequestHead::*pSpan)
{
    const GSpan& span = parser.Head().*pSpan;
    return span.bPresent ? std::string(span.In(str.data())) : std::string("<absent>");
}

} // namespace

TEST(ParserTest, ReadsEveryFieldOfTheClientsSetHead)
{
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, g_strClientSet));
    EXPECT_EQ("POST", Field(parser, g_strClientSet, &GRequestHead::spanMethod));
    EXPECT_EQ("/set", Field(parser, g_strClientSet, &GRequestHead::spanTarget));
    EXPECT_EQ("application/x-variant-3", Field(parser, g_strClientSet, &GRequestHead::spanContentType));
    EXPECT_EQ("24", Field(parser, g_strClientSet, &GRequestHead::spanContentLength));
    EXPECT_EQ("abc", Field(parser, g_strClientSet, &GRequestHead::spanCookie));
    EXPECT_EQ("user7", Field(parser, g_strClientSet, &GRequestHead::spanName));
    EXPECT_EQ("60", Field(parser, g_strClientSet, &GRequestHead::spanTimeout));
    EXPECT_EQ(153u, parser.Head().nHeadLength);
    EXPECT_FALSE(parser.Head().bTransferEncoding);
    EXPECT_FALSE(parser.Head().bLengthConflict);
}

TEST(ParserTest, HeadFedOneByteAtATimeGivesTheSameFields)
{
    GRequestParser parser;
    for (size_t n = 1; n < g_strClientSet.size(); ++n)
        ASSERT_EQ(EParse::NeedMore, parser.Parse(g_strClientSet.data(), n, 8192)) << "after " << n << " bytes";
    ASSERT_EQ(EParse::Done, parser.Parse(g_strClientSet.data(), g_strClientSet.size(), 8192));
    EXPECT_EQ("user7", Field(parser, g_strClientSet, &GRequestHead::spanName));
    EXPECT_EQ("abc", Field(parser, g_strClientSet, &GRequestHead::spanCookie));
    EXPECT_EQ(153u, parser.Head().nHeadLength);
}

TEST(ParserTest, StopsAtTheEmptyLineAndLeavesBodyAndNextRequestAlone)
{
    const std::string str = "POST /nop HTTP/1.1\r\ncontent-length: 3\r\n\r\nabcPOST /get HTTP/1.1\r\n\r\n";
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, str));
    EXPECT_EQ(41u, parser.Head().nHeadLength);
    EXPECT_EQ("3", Field(parser, str, &GRequestHead::spanContentLength));
}

TEST(ParserTest, MatchesHeaderNamesInAnyLetterCase)
{
    const std::string str = "POST /get HTTP/1.1\r\nContent-Length: 0\r\nX-PARAM-NAME: Mixed\r\nCOOKIE: c\r\n\r\n";
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, str));
    EXPECT_EQ("0", Field(parser, str, &GRequestHead::spanContentLength));
    EXPECT_EQ("Mixed", Field(parser, str, &GRequestHead::spanName));
    EXPECT_EQ("c", Field(parser, str, &GRequestHead::spanCookie));
}

TEST(ParserTest, TakesValuesByteForByteAfterOneSpace)
{
    const std::string str =
        "POST /get HTTP/1.1\r\n"
        "x-param-name:  two leading \r\n"
        "cookie:nospace\r\n"
        "\r\n";
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, str));
    EXPECT_EQ(" two leading ", Field(parser, str, &GRequestHead::spanName));
    EXPECT_EQ("nospace", Field(parser, str, &GRequestHead::spanCookie));
}

TEST(ParserTest, KeepsBytesAboveAsciiInValues)
{
    const std::string str = "POST /get HTTP/1.1\r\nx-param-name: caf\xE9 \xC3\xA9\r\n\r\n";
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, str));
    EXPECT_EQ("caf\xE9 \xC3\xA9", Field(parser, str, &GRequestHead::spanName));
}

TEST(ParserTest, EmptyValueIsPresentButEmpty)
{
    const std::string str = "POST /nop HTTP/1.1\r\ncookie: \r\nx-param-name: \r\n\r\n";
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, str));
    EXPECT_EQ("", Field(parser, str, &GRequestHead::spanCookie));
    EXPECT_EQ("", Field(parser, str, &GRequestHead::spanName));
    EXPECT_EQ("<absent>", Field(parser, str, &GRequestHead::spanTimeout));
}

TEST(ParserTest, FirstOfRepeatedHeadersCounts)
{
    const std::string str = "POST /get HTTP/1.1\r\nx-param-name: first\r\nx-param-name: second\r\n\r\n";
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, str));
    EXPECT_EQ("first", Field(parser, str, &GRequestHead::spanName));
}

TEST(ParserTest, FlagsDisagreeingContentLengthsOnly)
{
    GRequestParser parser;
    const std::string strSame = "POST /set HTTP/1.1\r\ncontent-length: 5\r\ncontent-length: 5\r\n\r\n";
    ASSERT_EQ(EParse::Done, ParseWhole(parser, strSame));
    EXPECT_FALSE(parser.Head().bLengthConflict);
    const std::string strDiffer = "POST /set HTTP/1.1\r\ncontent-length: 5\r\ncontent-length: 6\r\n\r\n";
    ASSERT_EQ(EParse::Done, ParseWhole(parser, strDiffer));
    EXPECT_TRUE(parser.Head().bLengthConflict);
}

TEST(ParserTest, NotesTransferEncoding)
{
    GRequestParser parser;
    ASSERT_EQ(EParse::Done, ParseWhole(parser, "POST /set HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
    EXPECT_TRUE(parser.Head().bTransferEncoding);
}

TEST(ParserTest, AcceptsHttp10)
{
    GRequestParser parser;
    EXPECT_EQ(EParse::Done, ParseWhole(parser, "POST /nop HTTP/1.0\r\ncontent-length: 0\r\n\r\n"));
}

TEST(ParserTest, RefusesMalformedHeadsWith400)
{
    using namespace std::string_literals;
    const std::string strBad[] = {
        "POST /set HTTP/1.1\nhost: x\n\n"s,                         // LF alone
        "POST /set HTTP/1.1\r\nhost: x\n\r\n"s,                     // LF alone after a header
        "POST /set HTTP/1.1\r\nhost: x\r\n folded\r\n\r\n"s,        // folded line
        "POST /set HTTP/1.1\r\nhost : x\r\n\r\n"s,                  // space before the colon
        "POST /set HTTP/1.1\r\nno colon here\r\n\r\n"s,
        "POST /set HTTP/1.1\r\nhost: a\x01z\r\n\r\n"s,              // control byte in a value
        "POST /set HTTP/1.1\r\nhost: a\0z\r\n\r\n"s,                // NUL in a value
        "POST /set\r\n\r\n"s,                                       // no version
        "POST  /set HTTP/1.1\r\n\r\n"s,                             // two spaces
        " POST /set HTTP/1.1\r\n\r\n"s,
        "POST /set HTTX/1.1\r\n\r\n"s,
        "POST /set HTTP/1.x\r\n\r\n"s,
        "PO(ST /set HTTP/1.1\r\n\r\n"s,
        "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03"s,            // a TLS hello
    };
    for (const std::string& str : strBad)
    {
        GRequestParser parser;
        EXPECT_EQ(EParse::Bad, ParseWhole(parser, str)) << str;
        EXPECT_EQ(400, parser.BadStatus()) << str;
    }
}

TEST(ParserTest, RefusesOtherMajorVersionsWith505)
{
    GRequestParser parser;
    EXPECT_EQ(EParse::Bad, ParseWhole(parser, "POST /set HTTP/2.0\r\n\r\n"));
    EXPECT_EQ(505, parser.BadStatus());
}

TEST(ParserTest, HeadOfExactlyTheLimitIsAcceptedAndOneMoreIs431)
{
    // 20 + 2 + 14 + n + 2 + 2 bytes: a name header padded to reach the limit.
    const size_t nLimit = 256;
    std::string str = "POST /get HTTP/1.1\r\nx-param-name: ";
    str += std::string(nLimit - str.size() - 4, 'n');
    str += "\r\n\r\n";
    ASSERT_EQ(nLimit, str.size());
    GRequestParser parser;
    EXPECT_EQ(EParse::Done, ParseWhole(parser, str, nLimit));

    std::string strLonger = str;
    strLonger.insert(40, "n");
    EXPECT_EQ(EParse::Bad, ParseWhole(parser, strLonger, nLimit));
    EXPECT_EQ(431, parser.BadStatus());
}

TEST(ParserTest, IncompleteHeadAtTheLimitIs431WithoutWaitingForMore)
{
    GRequestParser parser;
    const std::string str = "POST /get HTTP/1.1\r\nx-param-name: " + std::string(300, 'x');
    EXPECT_EQ(EParse::NeedMore, parser.Parse(str.data(), 100, 256));
    EXPECT_EQ(EParse::Bad, parser.Parse(str.data(), str.size(), 256));
    EXPECT_EQ(431, parser.BadStatus());
}

TEST(ParserTest, SplittingTheBytesAnywhereNeverChangesTheOutcome)
{
    // Every head here, cut into two reads at every position, must end the same
    // way as when read whole: same verdict, same status, same head length.
    using namespace std::string_literals;
    const std::string strHeads[] = {
        g_strClientSet,
        "POST /get HTTP/1.1\r\nCookie: \r\nX-Param-Name:  spaced \xE9\r\ncontent-length: 0\r\n\r\n"s,
        "POST /set HTTP/1.1\r\nhost: a\r\n\r"s + "x"s,
        "POST /set HTTP/1.1\r\nhost: a\0b\r\n\r\n"s,
        "GET /x HTTP/1.0\r\n\r\n"s,
        "POST /x HTTP/3.0\r\n\r\n"s,
        "POST /set HTTP/1.1\r\nx-param-name: " + std::string(300, 'n') + "\r\n\r\n",
    };
    for (const std::string& str : strHeads)
    {
        GRequestParser parserWhole;
        const EParse whole = parserWhole.Parse(str.data(), str.size(), 256);
        for (size_t nCut = 0; nCut <= str.size(); ++nCut)
        {
            GRequestParser parser;
            EParse result = parser.Parse(str.data(), nCut, 256);
            if (result == EParse::NeedMore)
                result = parser.Parse(str.data(), str.size(), 256);
            EXPECT_EQ(whole, result) << "cut at " << nCut << " of " << str;
            EXPECT_EQ(parserWhole.BadStatus(), parser.BadStatus()) << "cut at " << nCut;
            EXPECT_EQ(parserWhole.Head().nHeadLength, parser.Head().nHeadLength) << "cut at " << nCut;
        }
    }
}

TEST(ParserTest, RandomBytesAlwaysEndInAVerdictWithinTheLimit)
{
    // A deterministic generator: the same bytes on every run.
    uint32_t nState = 12345;
    auto NextByte = [&nState] {
        nState = nState * 1103515245u + 12345u;
        return static_cast<char>(nState >> 16);
    };
    for (int nCase = 0; nCase < 2000; ++nCase)
    {
        // Start from a good request line half the time so that the scanner
        // gets deep into header lines before the noise.
        std::string str = (nCase % 2 == 0) ? "POST /set HTTP/1.1\r\n" : "";
        const int nLength = 1 + nCase % 300;
        for (int i = 0; i < nLength; ++i)
        {
            const char c = NextByte();
            // Mostly ordinary text with the odd delimiter, so that lines form.
            str += (c & 0x30) == 0 ? "\r\n:"[static_cast<unsigned char>(c) % 3] : c;
        }
        GRequestParser parser;
        const EParse result = parser.Parse(str.data(), str.size(), 256);
        if (result == EParse::Done)
            EXPECT_LE(parser.Head().nHeadLength, str.size());
        if (result == EParse::NeedMore)
            EXPECT_LT(str.size(), 256u);
        if (result == EParse::Bad)
        {
            EXPECT_TRUE(parser.BadStatus() == 400 || parser.BadStatus() == 431 || parser.BadStatus() == 505)
                << parser.BadStatus();
        }
    }
}
