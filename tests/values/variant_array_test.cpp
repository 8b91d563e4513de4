// Variant arrays: element entries, the head entry, the stop rules and the fetch.
#include "tests/values/wire_fixture.h"

namespace
{
using VariantArrayTest = GValueWireTest;

const char* const IMAGE_ONE = "03 00 A2 A3 A4 A5 A6 A7 01 00 00 00 AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7";
const char* const IMAGE_TRUE = "0B 00 A2 A3 A4 A5 A6 A7 FF FF AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7";

VARIANT One()
{
    VARIANT var = PatternedVariant(VT_I4);
    var.lVal = 1;
    return var;
}

VARIANT True()
{
    VARIANT var = PatternedVariant(VT_BOOL);
    var.boolVal = VARIANT_TRUE;
    return var;
}

void PutString(VARIANT& var, const wchar_t* sz)
{
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(sz);
}

// The caller's VARIANT of a failed fetch: a string that must stay as it was.
class GSentinel : public GTestVariant
{
public:
    GSentinel()
    {
        vt = VT_BSTR;
        bstrVal = SysAllocString(L"keep");
        m_bstrBefore = bstrVal;
    }
    bool IsUnchanged() const { return vt == VT_BSTR && bstrVal == m_bstrBefore && std::wstring(L"keep") == bstrVal; }

private:
    BSTR m_bstrBefore;
};

std::string Count(const char* szHex)
{
    return FoundReply("application/x-variant-8204", Bytes(szHex));
}

TEST_F(VariantArrayTest, ThreeElementsGoOutAsFourRequests)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED).Answer(REPLY_STORED).Answer(REPLY_STORED);
    GTestVariant var;
    MakeVariantArray(var, 3);
    ElementOf(var, 0) = One();
    PutString(ElementOf(var, 1), L"b");
    ElementOf(var, 2) = True();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"list", var, 30, &bSet));
    EXPECT_EQ(VARIANT_TRUE, bSet);
    EXPECT_EQ((std::vector<std::string>{SetRequest("list(0)", "3", "24", Bytes(IMAGE_ONE), "30"),
                                        SetRequest("list(1)", "8", "2", Bytes("62 00"), "30"),
                                        SetRequest("list(2)", "11", "24", Bytes(IMAGE_TRUE), "30"),
                                        SetRequest("list", "8204", "4", Bytes("03 00 00 00"), "30")}),
              Requests());
    ExpectOpen();
}

TEST_F(VariantArrayTest, LowerBoundOneIsStoredFromPositionZero)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED).Answer(REPLY_STORED);
    GTestVariant var;
    MakeVariantArray(var, 2, 1);
    ElementOf(var, 0) = One();
    ElementOf(var, 1) = True();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"a", var, 0, &bSet));
    EXPECT_EQ((std::vector<std::string>{SetRequest("a(0)", "3", "24", Bytes(IMAGE_ONE)),
                                        SetRequest("a(1)", "11", "24", Bytes(IMAGE_TRUE)),
                                        SetRequest("a", "8204", "4", Bytes("02 00 00 00"))}),
              Requests());
}

TEST_F(VariantArrayTest, EmptyArrayStoresOnlyItsHead)
{
    m_server.Answer(REPLY_STORED);
    GTestVariant var;
    MakeVariantArray(var, 0);
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"none", var, 0, &bSet));
    EXPECT_EQ(VARIANT_TRUE, bSet);
    EXPECT_EQ(std::vector<std::string>{SetRequest("none", "8204", "4", Bytes("00 00 00 00"))}, Requests());
}

TEST_F(VariantArrayTest, NestedArraysAreStoredUnderNamesOfEveryLevel)
{
    for (int i = 0; i < 6; ++i)
        m_server.Answer(REPLY_STORED);
    GTestVariant var;
    MakeVariantArray(var, 2);
    ElementOf(var, 0) = One();
    VARIANT& varInner = ElementOf(var, 1);
    MakeVariantArray(varInner, 3);
    PutString(ElementOf(varInner, 0), L"x");
    MakeVariantArray(ElementOf(varInner, 1), 0);
    MakeByteArray(ElementOf(varInner, 2), Bytes("FF"));
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"list", var, 0, &bSet));
    EXPECT_EQ(VARIANT_TRUE, bSet);
    EXPECT_EQ((std::vector<std::string>{SetRequest("list(0)", "3", "24", Bytes(IMAGE_ONE)),
                                        SetRequest("list(1)(0)", "8", "2", Bytes("78 00")),
                                        SetRequest("list(1)(1)", "8204", "4", Bytes("00 00 00 00")),
                                        SetRequest("list(1)(2)", "8209", "1", Bytes("FF")),
                                        SetRequest("list(1)", "8204", "4", Bytes("03 00 00 00")),
                                        SetRequest("list", "8204", "4", Bytes("02 00 00 00"))}),
              Requests());
}

TEST_F(VariantArrayTest, ElementNotStoredStopsTheStoreAndCloses)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_NOT_STORED);
    GTestVariant var;
    MakeVariantArray(var, 3);
    ElementOf(var, 0) = One();
    ElementOf(var, 1) = True();
    ElementOf(var, 2) = One();
    VARIANT_BOOL bSet = VARIANT_TRUE;
    ClearErrorInfo();
    EXPECT_EQ(S_OK, Set(L"list", var, 0, &bSet));
    EXPECT_EQ(VARIANT_FALSE, bSet);
    EXPECT_EQ(L"", TakeErrorInfo().sDescription);
    EXPECT_EQ((std::vector<std::string>{SetRequest("list(0)", "3", "24", Bytes(IMAGE_ONE)),
                                        SetRequest("list(1)", "11", "24", Bytes(IMAGE_TRUE))}),
              Requests());
    ExpectClosed();
}

TEST_F(VariantArrayTest, FailingElementReportsItsOwnErrorAndCloses)
{
    m_server.Answer(REPLY_STORED).Answer(
        "HTTP/1.1 200 OK\r\nx-result-code: 5\r\nx-result-reason: Element refused\r\ncontent-length: 0\r\n\r\n");
    GTestVariant var;
    MakeVariantArray(var, 3);
    ElementOf(var, 0) = One();
    ElementOf(var, 1) = One();
    ElementOf(var, 2) = One();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_RESULT_CODE, L"Element refused", Set(L"list", var, 0, &bSet));
    EXPECT_EQ(2u, Requests().size());
    ExpectClosed();
}

TEST_F(VariantArrayTest, ElementWithoutBodyFormStopsTheStoreAfterTheElementsBefore)
{
    m_server.Answer(REPLY_STORED);
    GTestVariant var;
    MakeVariantArray(var, 3);
    LONG n = 4;
    ElementOf(var, 0) = One();
    ElementOf(var, 1).vt = VT_BYREF | VT_I4;
    ElementOf(var, 1).plVal = &n;
    ElementOf(var, 2) = One();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_VALUE_TYPE, L"Invalid value type.", Set(L"list", var, 0, &bSet));
    ElementOf(var, 1).vt = VT_EMPTY;
    EXPECT_EQ(std::vector<std::string>{SetRequest("list(0)", "3", "24", Bytes(IMAGE_ONE))}, Requests());
    ExpectClosed();
}

TEST_F(VariantArrayTest, ElementNameOf255UnitsIsSent)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED);
    GTestVariant var;
    MakeVariantArray(var, 1);
    ElementOf(var, 0) = One();
    const std::wstring sName(252, L'n');
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(sName.c_str(), var, 0, &bSet));
    const std::string sNarrow(252, 'n');
    EXPECT_EQ((std::vector<std::string>{SetRequest((sNarrow + "(0)").c_str(), "3", "24", Bytes(IMAGE_ONE)),
                                        SetRequest(sNarrow.c_str(), "8204", "4", Bytes("01 00 00 00"))}),
              Requests());
}

// A name cut to fit would alias another entry, so the whole store is refused before
// anything goes out.
TEST_F(VariantArrayTest, ElementNameOver255UnitsIsRefusedBeforeAnythingIsSent)
{
    GuardAgainstRequests();
    GTestVariant var;
    MakeVariantArray(var, 1);
    ElementOf(var, 0) = One();
    VARIANT_BOOL bSet = 3;
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Set(std::wstring(253, L'n').c_str(), var, 0, &bSet));
    EXPECT_EQ(3, bSet);
    GTestVariant varEleven;
    MakeVariantArray(varEleven, 11);
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Set(std::wstring(252, L'n').c_str(), varEleven, 0, &bSet));
    ExpectOpenWithNothingSent();
}

TEST_F(VariantArrayTest, NestedElementNameOver255UnitsIsRefusedBeforeAnythingIsSent)
{
    GuardAgainstRequests();
    GTestVariant var;
    MakeVariantArray(var, 2);
    ElementOf(var, 0) = One();
    MakeVariantArray(ElementOf(var, 1), 1);
    ElementOf(ElementOf(var, 1), 0) = One();
    VARIANT_BOOL bSet = 3;
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Set(std::wstring(250, L'n').c_str(), var, 0, &bSet));
    EXPECT_EQ(3, bSet);
    ExpectOpenWithNothingSent();
}

// Each level of an array that holds itself adds to the element names, so the store
// ends at the name limit instead of recursing without end.
TEST_F(VariantArrayTest, ArrayHoldingItselfIsRefused)
{
    GuardAgainstRequests();
    GTestVariant var;
    MakeVariantArray(var, 1);
    ElementOf(var, 0).vt = VT_VARIANT_ARRAY_TYPE;
    ElementOf(var, 0).parray = var.parray;
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Set(L"loop", var, 0, &bSet));
    ElementOf(var, 0).vt = VT_EMPTY;
    ExpectOpenWithNothingSent();
}

TEST_F(VariantArrayTest, FetchGetsEveryElementByItsDerivedName)
{
    m_server.Answer(Count("03 00 00 00"))
        .Answer(FoundReply("application/x-variant-3", Bytes(IMAGE_ONE)))
        .Answer(FoundReply("application/x-variant-8", Bytes("62 00")))
        .Answer(FoundReply("application/x-variant-11", Bytes(IMAGE_TRUE)));
    GSentinel var;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"list", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    ASSERT_EQ(VT_VARIANT_ARRAY_TYPE, var.vt);
    EXPECT_EQ(1u, SafeArrayGetDim(var.parray));
    LONG nLower = -1;
    SafeArrayGetLBound(var.parray, 1, &nLower);
    EXPECT_EQ(0, nLower);
    ASSERT_EQ(3u, var.parray->rgsabound[0].cElements);
    EXPECT_EQ(ImageKept(Bytes(IMAGE_ONE)), ImageOf(ElementOf(var, 0)));
    ASSERT_EQ(VT_BSTR, ElementOf(var, 1).vt);
    EXPECT_EQ(std::wstring(L"b"), ElementOf(var, 1).bstrVal);
    EXPECT_EQ(ImageKept(Bytes(IMAGE_TRUE)), ImageOf(ElementOf(var, 2)));
    EXPECT_EQ((std::vector<std::string>{GetRequest("list"), GetRequest("list(0)"), GetRequest("list(1)"),
                                        GetRequest("list(2)")}),
              Requests());
    ExpectOpen();
}

TEST_F(VariantArrayTest, MissingElementsStayEmptyAndTheArrayCountsAsFound)
{
    m_server.Answer(Count("03 00 00 00"))
        .Answer(REPLY_NOT_FOUND)
        .Answer(FoundReply("application/x-variant-3", Bytes(IMAGE_ONE)))
        .Answer(REPLY_NOT_FOUND);
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"list", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    ASSERT_EQ(VT_VARIANT_ARRAY_TYPE, var.vt);
    ASSERT_EQ(3u, var.parray->rgsabound[0].cElements);
    EXPECT_EQ(VT_EMPTY, ElementOf(var, 0).vt);
    EXPECT_EQ(VT_I4, ElementOf(var, 1).vt);
    EXPECT_EQ(VT_EMPTY, ElementOf(var, 2).vt);
    ExpectOpen();
}

TEST_F(VariantArrayTest, EmptyArrayReadsBackWithNoElements)
{
    m_server.Answer(Count("00 00 00 00"));
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"none", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    ASSERT_EQ(VT_VARIANT_ARRAY_TYPE, var.vt);
    EXPECT_EQ(0u, var.parray->rgsabound[0].cElements);
    EXPECT_EQ(std::vector<std::string>{GetRequest("none")}, Requests());
}

TEST_F(VariantArrayTest, NestedArrayIsFetchedLevelByLevel)
{
    m_server.Answer(Count("02 00 00 00"))
        .Answer(FoundReply("application/x-variant-3", Bytes(IMAGE_ONE)))
        .Answer(Count("01 00 00 00"))
        .Answer(FoundReply("application/x-variant-8", Bytes("7A 00")));
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"list", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    ASSERT_EQ(VT_VARIANT_ARRAY_TYPE, var.vt);
    const VARIANT& varInner = ElementOf(var, 1);
    ASSERT_EQ(VT_VARIANT_ARRAY_TYPE, varInner.vt);
    ASSERT_EQ(VT_BSTR, ElementOf(varInner, 0).vt);
    EXPECT_EQ(std::wstring(L"z"), ElementOf(varInner, 0).bstrVal);
    EXPECT_EQ((std::vector<std::string>{GetRequest("list"), GetRequest("list(0)"), GetRequest("list(1)"),
                                        GetRequest("list(1)(0)")}),
              Requests());
}

TEST_F(VariantArrayTest, FailingElementFetchLeavesTheValueAndCloses)
{
    m_server.Answer(Count("03 00 00 00"))
        .Answer(FoundReply("application/x-variant-3", Bytes(IMAGE_ONE)))
        .Answer("HTTP/1.1 200 OK\r\nx-result-code: 7\r\nx-result-reason: Broken element\r\ncontent-length: 0\r\n\r\n");
    GSentinel var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_RESULT_CODE, L"Broken element", Get(L"list", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_TRUE(var.IsUnchanged()) << Describe(var);
    EXPECT_EQ(3u, Requests().size());
    ExpectClosed();
}

TEST_F(VariantArrayTest, ElementCutShortLeavesTheValueAndCloses)
{
    m_server.Answer(Count("02 00 00 00")).Answer(FoundReply("application/x-variant-8", "8", Bytes("41 00"))).CloseNow();
    GSentinel var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_HTTP, L"HTTP error.", Get(L"list", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_TRUE(var.IsUnchanged()) << Describe(var);
    ExpectClosed();
}

// The fresh element slots hold no stream to be filled.
TEST_F(VariantArrayTest, StreamElementCannotBeFetched)
{
    m_server.Answer(Count("01 00 00 00")).Answer(FoundReply("application/x-variant-13", "abc"));
    GSentinel var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_STREAM_REQUIRED, L"IStream required.", Get(L"list", var, &bFound));
    EXPECT_TRUE(var.IsUnchanged()) << Describe(var);
    ExpectClosed();
}

// Counts whose element storage no allocation can hold fail before any element is asked for.
TEST_F(VariantArrayTest, HugeElementCountFailsOutOfMemory)
{
    for (const char* szCount : {"FF FF FF FF", "00 00 00 80", "AB AA AA 0A", "AA AA AA 0A", "56 55 55 05"})
    {
        SCOPED_TRACE(szCount);
        m_server.Answer(Count(szCount));
        GSentinel var;
        VARIANT_BOOL bFound = VARIANT_TRUE;
        ExpectFailure(E_OUTOFMEMORY, L"Out of memory.", Get(L"list", var, &bFound));
        EXPECT_EQ(VARIANT_FALSE, bFound);
        EXPECT_TRUE(var.IsUnchanged()) << Describe(var);
        ExpectClosed();
        const std::vector<std::string> vecRequests = Requests();
        EXPECT_EQ(GetRequest("list"), vecRequests[vecRequests.size() - 2]);
        ASSERT_EQ(S_OK, Open());
    }
}

TEST_F(VariantArrayTest, ElementNameOver255UnitsIsRefusedOnFetch)
{
    const std::string sNarrow(253, 'n');
    m_server.Answer(Count("01 00 00 00"));
    GSentinel var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Get(std::wstring(253, L'n').c_str(), var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_TRUE(var.IsUnchanged()) << Describe(var);
    EXPECT_EQ(std::vector<std::string>{GetRequest(sNarrow.c_str())}, Requests());
    ExpectClosed();
}
}
