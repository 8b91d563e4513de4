// Unit tests of the reply-head scanner: head end, marked fields, and value conversions.
#include "client/reply_head_scanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace
{

// A scanned copy of the given bytes, with the NUL after them that the reader provides.
class GScannedHead
{
public:
    // Scans only the first nHeadLength bytes.
    GScannedHead(size_t nHeadLength, const std::string& sBytes, bool bContentType = true)
        : m_vecBuffer(sBytes.begin(), sBytes.end())
    {
        m_vecBuffer.push_back('\0');
        ScanReplyHead(m_vecBuffer.data(), nHeadLength, bContentType, m_fields);
    }

    explicit GScannedHead(const std::string& sBytes, bool bContentType = true)
        : GScannedHead(sBytes.size(), sBytes, bContentType)
    {
    }

    const GReplyFields& Fields() const { return m_fields; }

    std::string Bytes() const { return std::string(m_vecBuffer.data(), m_vecBuffer.size() - 1); }

    const char* Start() const { return m_vecBuffer.data(); }

private:
    std::vector<char> m_vecBuffer;
    GReplyFields m_fields = {};
};

std::string Text(const char* sz)
{
    return sz == nullptr ? "<none>" : sz;
}

size_t FindIn(const std::string& s)
{
    return FindHeadEnd(s.data(), s.size());
}

}   // namespace

TEST(HeadEndTest, EndsAfterTheFirstEmptyLine)
{
    EXPECT_EQ(19u, FindIn("HTTP/1.1 200 OK\r\n\r\nbody"));
    EXPECT_EQ(37u, FindIn("HTTP/1.1 200 OK\r\nx-result-code: 0\r\n\r\n\r\n\r\n"));
    EXPECT_EQ(4u, FindIn("\r\n\r\n"));
}

TEST(HeadEndTest, LineFeedsAloneNeverEndAHead)
{
    EXPECT_EQ(0u, FindIn("HTTP/1.1 200 OK\nx-result-code: 0\n\n"));
    EXPECT_EQ(0u, FindIn("HTTP/1.1 200 OK\r\n\n\r\n"));
    EXPECT_EQ(0u, FindIn("HTTP/1.1 200 OK\n\r\n\r"));
}

TEST(HeadEndTest, AHeadCutShortHasNoEnd)
{
    EXPECT_EQ(0u, FindIn("HTTP/1.1 200 OK\r\n\r"));
    EXPECT_EQ(0u, FindIn(""));
    EXPECT_EQ(0u, FindHeadEnd(nullptr, 0));
    const std::string s = "ab\r\n\r\n";
    EXPECT_EQ(0u, FindHeadEnd(s.data(), s.size() - 1));
}

TEST(HeadEndTest, NulBytesAreOrdinaryData)
{
    EXPECT_EQ(6u, FindIn("a\0\r\n\r\n"s));
    EXPECT_EQ(0u, FindIn("a\r\n\0\r\n"s));
}

TEST(HeadScanTest, TypicalReplyMarksEveryField)
{
    GScannedHead head("HTTP/1.1 200 OK\r\n"
                      "content-length: 24\r\n"
                      "content-type: application/x-variant-3\r\n"
                      "set-cookie: abc\r\n"
                      "x-result-code: 0\r\n"
                      "x-result-reason: Found.\r\n"
                      "\r\n");
    const GReplyFields& f = head.Fields();
    EXPECT_EQ("200 OK", Text(f.szStatus));
    EXPECT_EQ("24", Text(f.szContentLength));
    EXPECT_EQ("application/x-variant-3", Text(f.szContentType));
    EXPECT_EQ("abc", Text(f.szSetCookie));
    EXPECT_EQ("0", Text(f.szResultCode));
    EXPECT_EQ("Found.", Text(f.szResultReason));
}

TEST(HeadScanTest, WritesNulsForCrStatusSpaceAndNameColon)
{
    // The final CR is met while looking for a name, so it stays.
    GScannedHead head("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nother: a b\r\n\r\n");
    EXPECT_EQ("HTTP/1.1\0" "200 OK\0\n"
              "x-result-code\0 0\0\n"
              "other\0 a b\0\n"
              "\r\n"s,
        head.Bytes());
}

TEST(HeadScanTest, ContentTypeIsOnlyLookedForWhenAsked)
{
    const std::string s = "HTTP/1.1 200 OK\r\ncontent-type: application/x-variant-8\r\n\r\n";
    EXPECT_EQ("<none>", Text(GScannedHead(s, false).Fields().szContentType));
    EXPECT_EQ("application/x-variant-8", Text(GScannedHead(s, true).Fields().szContentType));
}

TEST(HeadScanTest, NamesMatchInAnyLetterCase)
{
    GScannedHead head("HTTP/1.1 200 OK\r\n"
                      "Content-Length: 5\r\n"
                      "CONTENT-TYPE: application/x-variant-2\r\n"
                      "SET-COOKIE: c\r\n"
                      "X-Result-Code: 1\r\n"
                      "x-RESULT-reason: Not found.\r\n"
                      "\r\n");
    const GReplyFields& f = head.Fields();
    EXPECT_EQ("5", Text(f.szContentLength));
    EXPECT_EQ("application/x-variant-2", Text(f.szContentType));
    EXPECT_EQ("c", Text(f.szSetCookie));
    EXPECT_EQ("1", Text(f.szResultCode));
    EXPECT_EQ("Not found.", Text(f.szResultReason));
}

TEST(HeadScanTest, NamesMatchOnlyWhole)
{
    GScannedHead head("HTTP/1.1 200 OK\r\n"
                      "content-length : 5\r\n"
                      " set-cookie: a\r\n"
                      "x-content-length: 6\r\n"
                      "x-result-codes: 1\r\n"
                      "x-result-cod: 2\r\n"
                      "x-result-code\0: 3\r\n"
                      "\r\n"s);
    const GReplyFields& f = head.Fields();
    EXPECT_EQ("<none>", Text(f.szContentLength));
    EXPECT_EQ("<none>", Text(f.szSetCookie));
    EXPECT_EQ("<none>", Text(f.szResultCode));
}

TEST(HeadScanTest, FirstOccurrenceOfEachNameDecides)
{
    GScannedHead head("HTTP/1.1 200 OK\r\n"
                      "x-result-code: 1\r\n"
                      "set-cookie: first\r\n"
                      "X-RESULT-CODE: 0\r\n"
                      "set-cookie: second\r\n"
                      "content-length: 3\r\n"
                      "content-length: 4\r\n"
                      "\r\n");
    const GReplyFields& f = head.Fields();
    EXPECT_EQ("1", Text(f.szResultCode));
    EXPECT_EQ("first", Text(f.szSetCookie));
    EXPECT_EQ("3", Text(f.szContentLength));
}

TEST(HeadScanTest, EmptyFirstValueStillDecides)
{
    GScannedHead head("HTTP/1.1 200 OK\r\nx-result-code:\r\nx-result-code: 0\r\n\r\n");
    EXPECT_EQ("", Text(head.Fields().szResultCode));
}

TEST(HeadScanTest, EmptyValuesAreMarkedAsEmpty)
{
    GScannedHead head("HTTP/1.1 200 OK\r\nset-cookie: \r\nx-result-reason:\r\n\r\n");
    EXPECT_EQ("", Text(head.Fields().szSetCookie));
    EXPECT_EQ("", Text(head.Fields().szResultReason));
}

TEST(HeadScanTest, OnlySpacesAfterTheColonAreSkipped)
{
    GScannedHead head("HTTP/1.1 200 OK\r\n"
                      "x-result-code:    0\r\n"
                      "x-result-reason:\t tab\r\n"
                      "\r\n");
    EXPECT_EQ("0", Text(head.Fields().szResultCode));
    EXPECT_EQ("\t tab", Text(head.Fields().szResultReason));
}

TEST(HeadScanTest, TrailingSpacesStayInValues)
{
    GScannedHead head("HTTP/1.1 200 OK\r\nx-result-reason: No such key.  \r\nset-cookie: c \t\r\n\r\n");
    EXPECT_EQ("No such key.  ", Text(head.Fields().szResultReason));
    EXPECT_EQ("c \t", Text(head.Fields().szSetCookie));
}

TEST(HeadScanTest, ColonInValueIsText)
{
    GScannedHead head("HTTP/1.1 200 OK\r\nset-cookie: a:b\r\nx-result-reason: Error: bad: very\r\n\r\n");
    EXPECT_EQ("a:b", Text(head.Fields().szSetCookie));
    EXPECT_EQ("Error: bad: very", Text(head.Fields().szResultReason));
}

TEST(HeadScanTest, SetCookieKeepsItsAttributes)
{
    GScannedHead head("HTTP/1.1 200 OK\r\nset-cookie: id=42; Path=/; HttpOnly\r\n\r\n");
    EXPECT_EQ("id=42; Path=/; HttpOnly", Text(head.Fields().szSetCookie));
}

TEST(HeadScanTest, StatusTextIsEverythingAfterTheFirstSpace)
{
    EXPECT_EQ("404 Not Found", Text(GScannedHead("HTTP/1.1 404 Not Found\r\n\r\n").Fields().szStatus));
    EXPECT_EQ("500 Internal  Server Error ",
        Text(GScannedHead("HTTP/1.1 500 Internal  Server Error \r\n\r\n").Fields().szStatus));
    EXPECT_EQ("", Text(GScannedHead("HTTP/1.1 \r\n\r\n").Fields().szStatus));
}

TEST(HeadScanTest, FirstByteIsNeverTheStatusSpace)
{
    GScannedHead head(" 200 OK\r\n\r\n");
    EXPECT_EQ("OK", Text(head.Fields().szStatus));
}

TEST(HeadScanTest, HeadWithoutSpaceHasNoStatus)
{
    GScannedHead head("HTTP/1.1\r\nx-result-code:0\r\ncontent-length:0\r\n\r\n");
    const GReplyFields& f = head.Fields();
    EXPECT_EQ("<none>", Text(f.szStatus));
    EXPECT_EQ("<none>", Text(f.szResultCode));
    EXPECT_EQ("<none>", Text(f.szContentLength));
    EXPECT_EQ("HTTP/1.1\r\nx-result-code:0\r\ncontent-length:0\r\n\r\n", head.Bytes());
}

TEST(HeadScanTest, StatusLineWithoutSpaceRunsIntoHeaderLines)
{
    GScannedHead head("HTTP/1.1\r\nx-result-code: 0\r\ncontent-length: 5\r\n\r\n");
    const GReplyFields& f = head.Fields();
    EXPECT_EQ("0", Text(f.szStatus));
    EXPECT_EQ("<none>", Text(f.szResultCode));
    EXPECT_EQ("5", Text(f.szContentLength));
}

TEST(HeadScanTest, LineWithoutColonSwallowsTheNextLine)
{
    GScannedHead head("HTTP/1.1 200 OK\r\n"
                      "no colon here\r\n"
                      "x-result-code: 0\r\n"
                      "content-length: 7\r\n"
                      "\r\n");
    const GReplyFields& f = head.Fields();
    EXPECT_EQ("<none>", Text(f.szResultCode));
    EXPECT_EQ("7", Text(f.szContentLength));
}

TEST(HeadScanTest, ByteAfterACrIsPassedOverUnseen)
{
    GScannedHead head("HTTP/1.1 200 OK\r:x-result-code: 0\rXcontent-length: 2\r\n\r\n");
    EXPECT_EQ("200 OK", Text(head.Fields().szStatus));
    EXPECT_EQ("0", Text(head.Fields().szResultCode));
    EXPECT_EQ("2", Text(head.Fields().szContentLength));
}

TEST(HeadScanTest, LineFeedAloneDoesNotEndALine)
{
    GScannedHead head("HTTP/1.1 200 OK\nx-result-code: 0\r\n\r\n");
    EXPECT_EQ("200 OK\nx-result-code: 0", Text(head.Fields().szStatus));
    EXPECT_EQ("<none>", Text(head.Fields().szResultCode));
}

TEST(HeadScanTest, FieldsStartOutEmpty)
{
    std::vector<char> vecBuffer(1, '\0');
    GReplyFields fields;
    fields.szStatus = fields.szContentLength = fields.szContentType = vecBuffer.data();
    fields.szSetCookie = fields.szResultCode = fields.szResultReason = vecBuffer.data();
    ScanReplyHead(vecBuffer.data(), 0, true, fields);
    EXPECT_EQ(nullptr, fields.szStatus);
    EXPECT_EQ(nullptr, fields.szContentLength);
    EXPECT_EQ(nullptr, fields.szContentType);
    EXPECT_EQ(nullptr, fields.szSetCookie);
    EXPECT_EQ(nullptr, fields.szResultCode);
    EXPECT_EQ(nullptr, fields.szResultReason);
}

TEST(HeadScanTest, BytesPastTheHeadAreNeitherReadNorWritten)
{
    const std::string sHead = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\n\r\n";
    const std::string sBody = "set-cookie: no\r\ncontent-length: 9\r\n\r\n";
    GScannedHead head(FindIn(sHead + sBody), sHead + sBody);
    EXPECT_EQ("<none>", Text(head.Fields().szSetCookie));
    EXPECT_EQ("<none>", Text(head.Fields().szContentLength));
    EXPECT_EQ(sBody, head.Bytes().substr(sHead.size()));
}

TEST(HeadScanTest, RangeEndingInsideAValueLeavesItToTheCallersNul)
{
    const std::string s = "HTTP/1.1 200 OK\r\nx-result-code:   ";
    GScannedHead head(s);
    EXPECT_EQ(head.Start() + s.size(), head.Fields().szResultCode);
    EXPECT_EQ("", Text(head.Fields().szResultCode));

    GScannedHead cut(31, "HTTP/1.1 200 OK\r\nset-cookie: abcdef\r\n\r\n");
    EXPECT_EQ(cut.Start() + 29, cut.Fields().szSetCookie);
    EXPECT_EQ("HTTP/1.1\0" "200 OK\0\nset-cookie\0 abcdef\r\n\r\n"s, cut.Bytes());
}

TEST(ContentLengthTest, AbsentHeaderMeansAllOnes)
{
    EXPECT_EQ(UINT64_MAX, ParseContentLength(nullptr));
}

TEST(ContentLengthTest, DecimalDigitsUpToTheFirstOtherByte)
{
    EXPECT_EQ(24u, ParseContentLength("24"));
    EXPECT_EQ(0u, ParseContentLength("0"));
    EXPECT_EQ(24u, ParseContentLength("24 bytes"));
    EXPECT_EQ(24u, ParseContentLength("0024"));
    EXPECT_EQ(0u, ParseContentLength("0x10"));
    EXPECT_EQ(1u, ParseContentLength("1e3"));
    EXPECT_EQ(12u, ParseContentLength("12 34"));
}

TEST(ContentLengthTest, LeadingWhiteSpaceAndSignAreRead)
{
    EXPECT_EQ(7u, ParseContentLength(" \t\n\v\f\r7"));
    EXPECT_EQ(24u, ParseContentLength("+24"));
    EXPECT_EQ(UINT64_MAX, ParseContentLength("-1"));
    EXPECT_EQ(18446744073709551592u, ParseContentLength("-24"));
    EXPECT_EQ(0u, ParseContentLength("-0"));
}

TEST(ContentLengthTest, PresentValueWithoutDigitsIsZero)
{
    EXPECT_EQ(0u, ParseContentLength(""));
    EXPECT_EQ(0u, ParseContentLength("abc"));
    EXPECT_EQ(0u, ParseContentLength("-"));
    EXPECT_EQ(0u, ParseContentLength("+ 5"));
    EXPECT_EQ(0u, ParseContentLength("   "));
}

TEST(ContentLengthTest, OverflowGivesAllOnes)
{
    EXPECT_EQ(18446744073709551615u, ParseContentLength("18446744073709551615"));
    EXPECT_EQ(18446744073709551614u, ParseContentLength("18446744073709551614"));
    EXPECT_EQ(UINT64_MAX, ParseContentLength("18446744073709551616"));
    EXPECT_EQ(UINT64_MAX, ParseContentLength("99999999999999999999999999"));
    EXPECT_EQ(UINT64_MAX, ParseContentLength("-99999999999999999999999999"));
}

TEST(ResultCodeTest, DigitsCount)
{
    long nCode = -7;
    EXPECT_TRUE(ParseResultCode("0", nCode));
    EXPECT_EQ(0, nCode);
    EXPECT_TRUE(ParseResultCode("1", nCode));
    EXPECT_EQ(1, nCode);
    EXPECT_TRUE(ParseResultCode("-1", nCode));
    EXPECT_EQ(-1, nCode);
    EXPECT_TRUE(ParseResultCode("+2", nCode));
    EXPECT_EQ(2, nCode);
}

TEST(ResultCodeTest, TextAfterDigitsAndLeadingWhiteSpaceAreAllowed)
{
    long nCode = -7;
    EXPECT_TRUE(ParseResultCode("0abc", nCode));
    EXPECT_EQ(0, nCode);
    nCode = -7;
    EXPECT_TRUE(ParseResultCode(" 0", nCode));
    EXPECT_EQ(0, nCode);
    nCode = -7;
    EXPECT_TRUE(ParseResultCode("\t\r\n1 ", nCode));
    EXPECT_EQ(1, nCode);
}

TEST(ResultCodeTest, NoDigitsMeansNoCode)
{
    long nCode = -7;
    EXPECT_FALSE(ParseResultCode(nullptr, nCode));
    EXPECT_FALSE(ParseResultCode("", nCode));
    EXPECT_FALSE(ParseResultCode(" ", nCode));
    EXPECT_FALSE(ParseResultCode("abc", nCode));
    EXPECT_FALSE(ParseResultCode("-", nCode));
    EXPECT_FALSE(ParseResultCode("+ 0", nCode));
    EXPECT_FALSE(ParseResultCode("x0", nCode));
    EXPECT_EQ(-7, nCode);
}

TEST(ResultCodeTest, OutOfRangeClampsLikeStrtol)
{
    long nCode = 0;
    EXPECT_TRUE(ParseResultCode("99999999999999999999999", nCode));
    EXPECT_EQ(LONG_MAX, nCode);
    EXPECT_TRUE(ParseResultCode("-99999999999999999999999", nCode));
    EXPECT_EQ(LONG_MIN, nCode);
}

TEST(StatusCodeTest, CodeBeforeTheReason)
{
    EXPECT_EQ(200, ParseStatusCode("200 OK"));
    EXPECT_EQ(404, ParseStatusCode("404 Not Found"));
    EXPECT_EQ(200, ParseStatusCode(" 200"));
    EXPECT_EQ(200, ParseStatusCode("+200"));
    EXPECT_EQ(200, ParseStatusCode("200x"));
    EXPECT_EQ(200, ParseStatusCode("0200"));
    EXPECT_EQ(-200, ParseStatusCode("-200"));
}

TEST(StatusCodeTest, NoDigitsGiveZero)
{
    EXPECT_EQ(0, ParseStatusCode("OK"));
    EXPECT_EQ(0, ParseStatusCode(""));
    EXPECT_EQ(0, ParseStatusCode(nullptr));
}

TEST(StatusCodeTest, HugeNumbersNeverPassFor200)
{
    // 2^32 + 200 and 2^64 + 200 would wrap to 200.
    EXPECT_NE(200, ParseStatusCode("4294967496 OK"));
    EXPECT_NE(200, ParseStatusCode("18446744073709551816 OK"));
    EXPECT_EQ(LONG_MAX, ParseStatusCode("18446744073709551816 OK"));
}

TEST(ContentTypeTest, VariantTypeNumberIsRead)
{
    int nType = -7;
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-3", nType));
    EXPECT_EQ(3, nType);
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-8204", nType));
    EXPECT_EQ(8204, nType);
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-0", nType));
    EXPECT_EQ(0, nType);
}

TEST(ContentTypeTest, TextAfterTheNumberIsIgnored)
{
    int nType = -7;
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-8; charset=x", nType));
    EXPECT_EQ(8, nType);
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-17abc", nType));
    EXPECT_EQ(17, nType);
}

TEST(ContentTypeTest, WhiteSpaceAndSignBeforeTheNumber)
{
    int nType = -7;
    EXPECT_TRUE(MatchVariantContentType("application/x-variant- \t3", nType));
    EXPECT_EQ(3, nType);
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-+3", nType));
    EXPECT_EQ(3, nType);
    EXPECT_TRUE(MatchVariantContentType("application/x-variant--3", nType));
    EXPECT_EQ(-3, nType);
}

TEST(ContentTypeTest, NumberOutsideIntWraps)
{
    int nType = -7;
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-4294967299", nType));
    EXPECT_EQ(3, nType);
    EXPECT_TRUE(MatchVariantContentType("application/x-variant-2147483648", nType));
    EXPECT_EQ(INT_MIN, nType);
}

TEST(ContentTypeTest, AnythingElseFailsAndKeepsTheType)
{
    int nType = -7;
    EXPECT_FALSE(MatchVariantContentType(nullptr, nType));
    EXPECT_FALSE(MatchVariantContentType("", nType));
    EXPECT_FALSE(MatchVariantContentType("Application/x-variant-3", nType));
    EXPECT_FALSE(MatchVariantContentType("application/X-Variant-3", nType));
    EXPECT_FALSE(MatchVariantContentType(" application/x-variant-3", nType));
    EXPECT_FALSE(MatchVariantContentType("application/x-variant", nType));
    EXPECT_FALSE(MatchVariantContentType("application/x-variant-", nType));
    EXPECT_FALSE(MatchVariantContentType("application/x-variant-x", nType));
    EXPECT_FALSE(MatchVariantContentType("application/x-variant--", nType));
    EXPECT_FALSE(MatchVariantContentType("application/x-variant-+ 3", nType));
    EXPECT_FALSE(MatchVariantContentType("application/x-variant 3", nType));
    EXPECT_FALSE(MatchVariantContentType("application/octet-stream", nType));
    EXPECT_EQ(-7, nType);
}
