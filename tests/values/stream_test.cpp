// Stream values: sent whole from offset 0 in pieces, received into the caller's stream.
#include "tests/values/test_stream.h"
#include "tests/values/wire_fixture.h"

namespace
{
using StreamTest = GValueWireTest;

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 253);
    return s;
}

// Holds the stream in a VARIANT as VT_UNKNOWN or VT_DISPATCH, with one reference of its own.
void PutStream(VARIANT& var, GTestStream* pStream, VARTYPE vt)
{
    pStream->AddRef();
    var.vt = vt;
    if (vt == VT_DISPATCH)
        var.pdispVal = static_cast<IDispatch*>(pStream);
    else
        var.punkVal = static_cast<IDispatch*>(pStream);
}

TEST_F(StreamTest, StreamStandingAtItsEndIsSentWhole)
{
    m_server.Answer(REPLY_STORED);
    IStream* pStream = MakeMemoryStream("stream body");
    ASSERT_NE(nullptr, pStream);
    ASSERT_EQ(11u, PositionOf(pStream));
    GTestVariant var;
    var.vt = VT_UNKNOWN;
    var.punkVal = pStream;
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"s", var, 0, &bSet));
    EXPECT_EQ(VARIANT_TRUE, bSet);
    EXPECT_EQ(std::vector<std::string>{SetRequest("s", "13", "11", "stream body")}, Requests());
    ExpectOpen();
}

TEST_F(StreamTest, DispatchStreamCarriesTypeNine)
{
    m_server.Answer(REPLY_STORED);
    GTestStream* pStream = new GTestStream("abc");
    pStream->m_nPosition = 2;
    GTestVariant var;
    PutStream(var, pStream, VT_DISPATCH);
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"d", var, 0, &bSet));
    EXPECT_EQ(std::vector<std::string>{SetRequest("d", "9", "3", "abc")}, Requests());
    EXPECT_EQ(1, pStream->m_nSeeksToStart);
    VariantClear(&var);
    EXPECT_EQ(1u, pStream->References()) << "the reference taken for the body is given back";
    pStream->Release();
}

TEST_F(StreamTest, EmptyStreamGoesOutWithLengthZero)
{
    m_server.Answer(REPLY_STORED);
    GTestVariant var;
    var.vt = VT_UNKNOWN;
    var.punkVal = MakeMemoryStream("");
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"e", var, 0, &bSet));
    EXPECT_EQ(std::vector<std::string>{SetRequest("e", "13", "0", "")}, Requests());
    ExpectOpen();
}

TEST_F(StreamTest, LongStreamIsReadInPiecesOfAtMost8192Bytes)
{
    m_server.Answer(REPLY_STORED);
    const std::string sContent = Pattern(20000);
    GTestStream* pStream = new GTestStream(sContent);
    GTestVariant var;
    PutStream(var, pStream, VT_UNKNOWN);
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"long", var, 0, &bSet));
    EXPECT_TRUE(SetRequest("long", "13", "20000", sContent) == Requests().at(0));
    ASSERT_FALSE(pStream->m_vecReadSizes.empty());
    ULONG nTotal = 0;
    for (ULONG n : pStream->m_vecReadSizes)
    {
        EXPECT_LE(n, 8192u);
        nTotal += n;
    }
    EXPECT_EQ(20000u, nTotal) << "exactly the announced length is asked for";
    VariantClear(&var);
    pStream->Release();
    ExpectOpen();
}

// The server was promised a body of the announced length; a stream that gives less
// must not leave it waiting for the rest.
TEST_F(StreamTest, StreamThatRunsDryIsReportedAndCloses)
{
    GTestStream* pStream = new GTestStream("only forty bytes are here, not a hundred");
    pStream->m_bClaimSize = true;
    pStream->m_nClaimedSize = 100;
    GTestVariant var;
    PutStream(var, pStream, VT_UNKNOWN);
    VARIANT_BOOL bSet = 3;
    ExpectFailure(HR_STREAM_REQUIRED, L"IStream required.", Set(L"dry", var, 0, &bSet));
    EXPECT_EQ(3, bSet);
    TakeCutRequest();
    ExpectClosed();
    const std::string sReceived = Received();
    // The stream is read into a batch before anything of the body is sent, so only the
    // head went out; the next bytes are those of the check that the object is closed.
    EXPECT_EQ(0u, sReceived.find("POST /set HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-type: application/x-variant-13\r\n"
                                 "content-length: 100\r\nx-param-name: dry\r\nx-param-timeout: 0\r\n\r\n"
                                 "POST /nop HTTP/1.1\r\n"));
    VariantClear(&var);
    EXPECT_EQ(1u, pStream->References());
    pStream->Release();
}

TEST_F(StreamTest, FailingReadIsReportedAndCloses)
{
    GTestStream* pStream = new GTestStream("content");
    pStream->m_bFailRead = true;
    GTestVariant var;
    PutStream(var, pStream, VT_UNKNOWN);
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_STREAM_REQUIRED, L"IStream required.", Set(L"bad", var, 0, &bSet));
    TakeCutRequest();
    ExpectClosed();
    VariantClear(&var);
    pStream->Release();
}

// The length travels as a signed 32-bit number, which cannot announce such a stream.
TEST_F(StreamTest, StreamClaimingTwoGigabytesIsRefusedBeforeSending)
{
    for (ULONGLONG nSize : {0x80000000ull, 0x100000000ull, 0x100000005ull})
    {
        SCOPED_TRACE(nSize);
        GTestStream* pStream = new GTestStream("small");
        pStream->m_bClaimSize = true;
        pStream->m_nClaimedSize = nSize;
        GTestVariant var;
        PutStream(var, pStream, VT_UNKNOWN);
        VARIANT_BOOL bSet = VARIANT_FALSE;
        GuardAgainstRequests();
        ExpectFailure(HR_VALUE_TYPE, L"Invalid value type.", Set(L"big", var, 0, &bSet));
        EXPECT_TRUE(pStream->m_vecReadSizes.empty());
        ExpectClosed(true);
        VariantClear(&var);
        EXPECT_EQ(1u, pStream->References());
        pStream->Release();
        ASSERT_EQ(S_OK, Open());
    }
    EXPECT_EQ(NopRequest() + NopRequest() + NopRequest(), Received());
}

TEST_F(StreamTest, UnusableStreamObjectsAreRefusedBeforeSending)
{
    struct GCase
    {
        const char* szLabel;
        void (*pfnBend)(GTestStream& stream);
    };
    const GCase aCases[] = {
        {"no IStream", [](GTestStream& stream) { stream.m_bRefuseStream = true; }},
        {"seek fails", [](GTestStream& stream) { stream.m_bFailSeek = true; }},
        {"stat fails", [](GTestStream& stream) { stream.m_bFailStat = true; }},
    };
    std::string sGuards;
    for (const GCase& aCase : aCases)
    {
        SCOPED_TRACE(aCase.szLabel);
        GTestStream* pStream = new GTestStream("content");
        aCase.pfnBend(*pStream);
        GTestVariant var;
        PutStream(var, pStream, VT_DISPATCH);
        VARIANT_BOOL bSet = VARIANT_FALSE;
        GuardAgainstRequests();
        ExpectFailure(HR_STREAM_REQUIRED, L"IStream required.", Set(L"s", var, 0, &bSet));
        ExpectClosed(true);
        sGuards += NopRequest();
        EXPECT_EQ(sGuards, Received());
        VariantClear(&var);
        EXPECT_EQ(1u, pStream->References());
        pStream->Release();
        ASSERT_EQ(S_OK, Open());
    }
    for (VARTYPE vt : {VARTYPE(VT_UNKNOWN), VARTYPE(VT_DISPATCH)})
    {
        VARIANT var;
        VariantInit(&var);
        var.vt = vt;
        var.punkVal = nullptr;
        VARIANT_BOOL bSet = VARIANT_FALSE;
        GuardAgainstRequests();
        ExpectFailure(HR_STREAM_REQUIRED, L"IStream required.", Set(L"s", var, 0, &bSet));
        ExpectClosed(true);
        ASSERT_EQ(S_OK, Open());
    }
}

TEST_F(StreamTest, StreamValueIntoEmptyVariantRequiresAStream)
{
    m_server.Answer(FoundReply("application/x-variant-13", "abc"));
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_STREAM_REQUIRED, L"IStream required.", Get(L"s", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_EQ(VT_EMPTY, var.vt);
    ExpectClosed();
}

TEST_F(StreamTest, StreamValueIntoObjectWithoutIStreamIsRefused)
{
    m_server.Answer(FoundReply("application/x-variant-9", "abc"));
    GTestStream* pStream = new GTestStream();
    pStream->m_bRefuseStream = true;
    GTestVariant var;
    PutStream(var, pStream, VT_DISPATCH);
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_STREAM_REQUIRED, L"IStream required.", Get(L"s", var, &bFound));
    EXPECT_EQ(VT_DISPATCH, var.vt);
    EXPECT_EQ(static_cast<IDispatch*>(pStream), var.pdispVal);
    VariantClear(&var);
    EXPECT_EQ(1u, pStream->References());
    pStream->Release();
    ExpectClosed();
}

TEST_F(StreamTest, StreamValueFillsAnEmptyStreamAndRewindsIt)
{
    m_server.Answer(FoundReply("application/x-variant-13", "stored bytes"));
    IStream* pStream = MakeMemoryStream("");
    GTestVariant var;
    var.vt = VT_UNKNOWN;
    var.punkVal = pStream;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"s", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    EXPECT_EQ(VT_UNKNOWN, var.vt);
    EXPECT_EQ(pStream, var.punkVal);
    EXPECT_EQ(0u, PositionOf(pStream));
    EXPECT_EQ("stored bytes", ContentOf(pStream));
    ExpectOpen();
}

TEST_F(StreamTest, EitherTypeNumberFillsEitherKindOfTarget)
{
    m_server.Answer(FoundReply("application/x-variant-9", "nine")).Answer(FoundReply("application/x-variant-13", "13"));
    GTestStream* pStream = new GTestStream();
    GTestVariant varUnknown;
    PutStream(varUnknown, pStream, VT_UNKNOWN);
    GTestVariant varDispatch;
    PutStream(varDispatch, pStream, VT_DISPATCH);
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"a", varUnknown, &bFound));
    EXPECT_EQ("nine", pStream->m_sContent);
    pStream->m_sContent.clear();
    EXPECT_EQ(S_OK, Get(L"b", varDispatch, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    EXPECT_EQ("13", pStream->m_sContent);
    EXPECT_EQ(0u, pStream->m_nPosition);
    VariantClear(&varUnknown);
    VariantClear(&varDispatch);
    EXPECT_EQ(1u, pStream->References());
    pStream->Release();
}

TEST_F(StreamTest, ZeroByteValueWritesNothingAndRewinds)
{
    m_server.Answer(FoundReply("application/x-variant-13", ""));
    GTestStream* pStream = new GTestStream("old");
    pStream->m_nPosition = 3;
    GTestVariant var;
    PutStream(var, pStream, VT_UNKNOWN);
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"z", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    EXPECT_TRUE(pStream->m_vecWriteSizes.empty());
    EXPECT_EQ("old", pStream->m_sContent);
    EXPECT_EQ(0u, pStream->m_nPosition);
    VariantClear(&var);
    pStream->Release();
}

TEST_F(StreamTest, BodyIsWrittenAtTheCurrentPositionInPiecesOfAtMost8192Bytes)
{
    const std::string sBody = Pattern(30000);
    m_server.AnswerInSegments({FoundReply("application/x-variant-13", "30000", sBody.substr(0, 100)), sBody.substr(100)});
    GTestStream* pStream = new GTestStream("head:");
    pStream->m_nPosition = 5;
    GTestVariant var;
    PutStream(var, pStream, VT_UNKNOWN);
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"big", var, &bFound));
    EXPECT_TRUE("head:" + sBody == pStream->m_sContent);
    for (ULONG n : pStream->m_vecWriteSizes)
        EXPECT_LE(n, 8192u);
    EXPECT_EQ(0u, pStream->m_nPosition);
    VariantClear(&var);
    pStream->Release();
    ExpectOpen();
}

TEST_F(StreamTest, BodyCutShortKeepsWhatWasWrittenAndReportsHttpError)
{
    m_server.Answer(FoundReply("application/x-variant-13", "100", "first part")).CloseNow();
    GTestStream* pStream = new GTestStream();
    GTestVariant var;
    PutStream(var, pStream, VT_UNKNOWN);
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_HTTP, L"HTTP error.", Get(L"cut", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_EQ("first part", pStream->m_sContent);
    EXPECT_EQ(VT_UNKNOWN, var.vt);
    VariantClear(&var);
    pStream->Release();
    ExpectClosed();
}

// Without a length the body runs to the end of the connection, which a stream cannot
// tell from a body cut short.
TEST_F(StreamTest, StreamBodyWithoutLengthEndsInHttpError)
{
    m_server.Answer(FoundReply("application/x-variant-13", nullptr, "to the end")).CloseNow();
    GTestStream* pStream = new GTestStream();
    GTestVariant var;
    PutStream(var, pStream, VT_UNKNOWN);
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_HTTP, L"HTTP error.", Get(L"open", var, &bFound));
    EXPECT_EQ("to the end", pStream->m_sContent);
    VariantClear(&var);
    pStream->Release();
    ExpectClosed();
}
}
