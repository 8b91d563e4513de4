// Reading found get replies: every class of body, and every reply to be refused.
#include "tests/values/wire_fixture.h"

namespace
{
class BodyReaderTest : public GValueWireTest
{
protected:
    // The reply to a get of "v" must fail with hr and szDescription, leave the caller's
    // VARIANT as it was and the object closed. With bCloseAfter the server closes the
    // connection after the reply, so that a body promised but not sent ends there.
    void ExpectReadFailure(const std::string& sReply, HRESULT hr, const wchar_t* szDescription,
                           bool bCloseAfter = false)
    {
        m_server.Answer(sReply);
        if (bCloseAfter)
            m_server.CloseNow();
        GTestVariant var;
        var.vt = VT_BSTR;
        var.bstrVal = SysAllocString(L"keep");
        const BSTR bstrBefore = var.bstrVal;
        VARIANT_BOOL bFound = VARIANT_TRUE;
        ClearErrorInfo();
        ExpectFailure(hr, szDescription, Get(L"v", var, &bFound));
        EXPECT_EQ(VARIANT_FALSE, bFound);
        EXPECT_EQ(VT_BSTR, var.vt);
        EXPECT_EQ(bstrBefore, var.bstrVal);
        EXPECT_EQ(std::wstring(L"keep"), var.bstrVal);
        ExpectClosed();
        const std::vector<std::string> vecRequests = Requests();
        ASSERT_FALSE(vecRequests.empty());
        EXPECT_EQ(GetRequest("v"), vecRequests.front());
    }

    // Fetches "v" from the given reply, expecting it found.
    void Fetch(const std::string& sReply, VARIANT& var)
    {
        m_server.Answer(sReply);
        VARIANT_BOOL bFound = VARIANT_FALSE;
        EXPECT_EQ(S_OK, Get(L"v", var, &bFound));
        EXPECT_EQ(VARIANT_TRUE, bFound);
    }
};

const char* const g_aScalarImages[][2] = {
    {"0", "00 00 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"1", "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"2", "02 00 A2 A3 A4 A5 A6 A7 FE FF AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"3", "03 00 11 22 33 44 55 66 78 56 34 12 AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"4", "04 00 A2 A3 A4 A5 A6 A7 00 00 C0 3F AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"5", "05 00 A2 A3 A4 A5 A6 A7 00 00 00 00 00 00 04 C0 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"6", "06 00 A2 A3 A4 A5 A6 A7 15 CD 5B 07 00 00 00 00 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"7", "07 00 A2 A3 A4 A5 A6 A7 00 00 00 00 08 F9 E5 40 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"10", "0A 00 A2 A3 A4 A5 A6 A7 04 00 02 80 AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"11", "0B 00 A2 A3 A4 A5 A6 A7 FF FF AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"14", "0E 00 02 80 04 03 02 01 88 77 66 55 44 33 22 11 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"16", "10 00 A2 A3 A4 A5 A6 A7 80 A9 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"17", "11 00 A2 A3 A4 A5 A6 A7 FE A9 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"18", "12 00 A2 A3 A4 A5 A6 A7 EF BE AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"19", "13 00 A2 A3 A4 A5 A6 A7 EF BE AD DE AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"20", "14 00 A2 A3 A4 A5 A6 A7 FE FF FF FF FF FF FF FF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"21", "15 00 A2 A3 A4 A5 A6 A7 08 07 06 05 04 03 02 01 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"22", "16 00 A2 A3 A4 A5 A6 A7 60 79 FE FF AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"23", "17 00 A2 A3 A4 A5 A6 A7 00 28 6B EE AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
};

std::string ContentType(const char* szNumber)
{
    return std::string("application/x-variant-") + szNumber;
}

TEST_F(BodyReaderTest, EveryScalarImageIsTakenWholeWithItsUnusedBytes)
{
    for (const auto& aCase : g_aScalarImages)
    {
        SCOPED_TRACE(aCase[0]);
        GTestVariant var;
        var.vt = VT_BSTR;
        var.bstrVal = SysAllocString(L"replaced");
        Fetch(FoundReply(ContentType(aCase[0]).c_str(), Bytes(aCase[1])), var);
        EXPECT_EQ(ImageKept(Bytes(aCase[1])), ImageOf(var));
    }
    ExpectOpen();
}

TEST_F(BodyReaderTest, OddLengthStringKeepsItsByteLength)
{
    GTestVariant var;
    Fetch(FoundReply("application/x-variant-8", Bytes("48 00 69 00 21")), var);
    ASSERT_EQ(VT_BSTR, var.vt);
    EXPECT_EQ(5u, SysStringByteLen(var.bstrVal));
    EXPECT_EQ(Bytes("48 00 69 00 21"), BytesOfString(var.bstrVal));
    ExpectOpen();
}

TEST_F(BodyReaderTest, EmptyStringReadsBackAsAnEmptyString)
{
    GTestVariant var;
    Fetch(FoundReply("application/x-variant-8", ""), var);
    ASSERT_EQ(VT_BSTR, var.vt);
    ASSERT_NE(nullptr, var.bstrVal);
    EXPECT_EQ(0u, SysStringByteLen(var.bstrVal));
    EXPECT_EQ(L'\0', var.bstrVal[0]);
}

TEST_F(BodyReaderTest, ByteArrayReadsBackOneDimensionalFromZero)
{
    GTestVariant var;
    Fetch(FoundReply("application/x-variant-8209", Bytes("00 FF 0D 0A 0D 0A 7F")), var);
    ASSERT_EQ(VT_BYTE_ARRAY_TYPE, var.vt);
    EXPECT_EQ(1u, SafeArrayGetDim(var.parray));
    LONG nLower = -1;
    SafeArrayGetLBound(var.parray, 1, &nLower);
    EXPECT_EQ(0, nLower);
    EXPECT_EQ(Bytes("00 FF 0D 0A 0D 0A 7F"), BytesOfArray(var));
}

TEST_F(BodyReaderTest, EmptyByteArrayReadsBackWithNoElements)
{
    GTestVariant var;
    Fetch(FoundReply("application/x-variant-8209", ""), var);
    ASSERT_EQ(VT_BYTE_ARRAY_TYPE, var.vt);
    EXPECT_EQ(1u, SafeArrayGetDim(var.parray));
    EXPECT_EQ(0u, var.parray->rgsabound[0].cElements);
}

TEST_F(BodyReaderTest, ContentTypeIsReadByItsNumberAlone)
{
    for (const char* szType : {"application/x-variant-8; charset=utf-16", "application/x-variant-8;charset",
                               "application/x-variant- 8", "application/x-variant-+8", "application/x-variant-0008x"})
    {
        SCOPED_TRACE(szType);
        GTestVariant var;
        Fetch(FoundReply(szType, Bytes("41 00")), var);
        ASSERT_EQ(VT_BSTR, var.vt);
        EXPECT_EQ(std::wstring(L"A"), var.bstrVal);
    }
}

TEST_F(BodyReaderTest, BodyInManySmallSegmentsIsAssembled)
{
    const std::string sBody = Bytes("03 00 00 00 00 00 00 00 2A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    std::vector<std::string> vecSegments = {
        "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-3\r\ncontent-length: 24\r\n\r\n"};
    for (char c : sBody)
        vecSegments.push_back(std::string(1, c));
    m_server.AnswerInSegments(vecSegments);
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"v", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    EXPECT_EQ(ImageKept(sBody), ImageOf(var));
    ExpectOpen();
}

TEST_F(BodyReaderTest, HeadAndBodyInOneSegmentAreNotReadTwice)
{
    GTestVariant var;
    Fetch(FoundReply("application/x-variant-8", Bytes("61 00 62 00")), var);
    EXPECT_EQ(std::wstring(L"ab"), var.bstrVal);
    ExpectOpen();
}

TEST_F(BodyReaderTest, BytesBeyondTheAnnouncedBodyInTheSameSegmentAreDropped)
{
    GTestVariant var;
    Fetch(FoundReply("application/x-variant-8", "4", Bytes("61 00 62 00 63 00 64 00")), var);
    EXPECT_EQ(std::wstring(L"ab"), var.bstrVal);
    ExpectOpen();
}

TEST_F(BodyReaderTest, StringOfSeveralMegabytesArrivesWhole)
{
    std::string sBody(3 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < sBody.size(); ++i)
        sBody[i] = static_cast<char>(i * 7 + i / 251);
    GTestVariant var;
    Fetch(FoundReply("application/x-variant-8", sBody), var);
    ASSERT_EQ(VT_BSTR, var.vt);
    EXPECT_TRUE(sBody == BytesOfString(var.bstrVal));
    ExpectOpen();
}

TEST_F(BodyReaderTest, MissingContentTypeIsUnknown)
{
    ExpectReadFailure(FoundReply(nullptr, Bytes("03 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00")),
                      HR_CONTENT_TYPE, L"Unknown content-type.");
}

TEST_F(BodyReaderTest, ContentTypeOfAnotherFormIsUnknown)
{
    const std::string sImage = Bytes("03 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    for (const char* szType : {"application/x-variant", "application/x-variant-", "application/x-variant-x3",
                               "Application/x-variant-3", "application/X-VARIANT-3", "text/plain",
                               "application/x-variant3", ""})
    {
        SCOPED_TRACE(szType);
        ExpectReadFailure(FoundReply(szType, sImage), HR_CONTENT_TYPE, L"Unknown content-type.");
        ASSERT_EQ(S_OK, Open());
    }
}

TEST_F(BodyReaderTest, TypeNumberWithoutBodyFormIsUnknown)
{
    const std::string sImage = Bytes("0C 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    for (const char* szType : {"12", "15", "36", "8195", "16387", "24588", "65539", "-3"})
    {
        SCOPED_TRACE(szType);
        ExpectReadFailure(FoundReply(ContentType(szType).c_str(), sImage), HR_CONTENT_TYPE, L"Unknown content-type.");
        ASSERT_EQ(S_OK, Open());
    }
}

TEST_F(BodyReaderTest, ScalarOfOtherLengthThanTwentyFourIsUnknown)
{
    const std::string sImage = Bytes("03 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    ExpectReadFailure(FoundReply("application/x-variant-3", sImage.substr(0, 23)), HR_CONTENT_TYPE,
                      L"Unknown content-type.");
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-3", sImage + "x"), HR_CONTENT_TYPE, L"Unknown content-type.");
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-3", ""), HR_CONTENT_TYPE, L"Unknown content-type.");
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-3", nullptr, sImage), HR_CONTENT_TYPE,
                      L"Unknown content-type.");
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-3", "18446744073709551615", sImage), HR_CONTENT_TYPE,
                      L"Unknown content-type.");
}

// An image naming a string or an object would hand the caller a pointer that came off
// the network.
TEST_F(BodyReaderTest, ScalarImageNamingAnotherTypeIsUnknown)
{
    const char* aImages[][2] = {
        {"3", "08 00 00 00 00 00 00 00 EF BE AD DE 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"3", "09 00 00 00 00 00 00 00 EF BE AD DE 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"2", "03 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"11", "0B 40 00 00 00 00 00 00 EF BE AD DE 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"14", "0E 20 00 00 00 00 00 00 EF BE AD DE 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const auto& aCase : aImages)
    {
        SCOPED_TRACE(aCase[1]);
        ExpectReadFailure(FoundReply(ContentType(aCase[0]).c_str(), Bytes(aCase[1])), HR_CONTENT_TYPE,
                          L"Unknown content-type.");
        ASSERT_EQ(S_OK, Open());
    }
}

TEST_F(BodyReaderTest, VariantArrayCountOfOtherLengthThanFourIsUnknown)
{
    ExpectReadFailure(FoundReply("application/x-variant-8204", Bytes("01 00 00")), HR_CONTENT_TYPE,
                      L"Unknown content-type.");
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-8204", Bytes("01 00 00 00 00")), HR_CONTENT_TYPE,
                      L"Unknown content-type.");
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-8204", ""), HR_CONTENT_TYPE, L"Unknown content-type.");
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-8204", nullptr, Bytes("01 00 00 00")), HR_CONTENT_TYPE,
                      L"Unknown content-type.");
}

TEST_F(BodyReaderTest, StringOrByteArrayWithoutContentLengthIsUnknown)
{
    ExpectReadFailure(FoundReply("application/x-variant-8", nullptr, Bytes("41 00")), HR_CONTENT_TYPE,
                      L"Unknown content-type.", true);
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-8209", nullptr, Bytes("41 00")), HR_CONTENT_TYPE,
                      L"Unknown content-type.", true);
}

TEST_F(BodyReaderTest, BodyCutShortIsHttpError)
{
    ExpectReadFailure(FoundReply("application/x-variant-8", "10", Bytes("41 00 42 00")), HR_HTTP, L"HTTP error.",
                      true);
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-8209", "3000000", std::string(100000, 'b')), HR_HTTP,
                      L"HTTP error.", true);
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-3", "24", Bytes("03 00 00 00 00 00 00 00 01")), HR_HTTP,
                      L"HTTP error.", true);
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-8204", "4", Bytes("01 00")), HR_HTTP, L"HTTP error.", true);
    ASSERT_EQ(S_OK, Open());
    ExpectReadFailure(FoundReply("application/x-variant-8", "2", ""), HR_HTTP, L"HTTP error.", true);
}

// The lengths a string or byte array can never have fail as unallocatable, without an
// allocation that could wrap around, and without waiting for the body.
TEST_F(BodyReaderTest, HugeAnnouncedStringFailsOutOfMemory)
{
    for (const char* szLength : {"5000000000", "4294967296", "4294967295", "4294967280", "4294967200",
                                 "2147483648", "18446744073709551614"})
    {
        SCOPED_TRACE(szLength);
        ExpectReadFailure(FoundReply("application/x-variant-8", szLength, "AB"), E_OUTOFMEMORY, L"Out of memory.");
        ASSERT_EQ(S_OK, Open());
    }
}

TEST_F(BodyReaderTest, HugeAnnouncedByteArrayFailsOutOfMemory)
{
    for (const char* szLength : {"1099511627776", "4294967296", "4294967295", "4294967290", "2147483648"})
    {
        SCOPED_TRACE(szLength);
        ExpectReadFailure(FoundReply("application/x-variant-8209", szLength, "AB"), E_OUTOFMEMORY,
                          L"Out of memory.");
        ASSERT_EQ(S_OK, Open());
    }
}
}
