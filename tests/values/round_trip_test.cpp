// Values stored on a real harbinet-server and fetched back, compared bit for bit.
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "tests/support/harbinet_module.h"
#include "tests/values/test_stream.h"
#include "tests/values/value_helpers.h"

namespace
{
// The same value: the same type and, for scalars, the same 24 bytes; strings and byte
// arrays by their bytes; variant arrays element by element.
void ExpectSameValue(const VARIANT& varExpected, const VARIANT& varActual, const std::string& sWhere = "value")
{
    SCOPED_TRACE(sWhere);
    ASSERT_EQ(varExpected.vt, varActual.vt) << Describe(varActual);
    switch (varExpected.vt)
    {
    case VT_BSTR:
        ASSERT_NE(nullptr, varActual.bstrVal);
        EXPECT_TRUE(BytesOfString(varExpected.bstrVal) == BytesOfString(varActual.bstrVal));
        EXPECT_EQ(SysStringByteLen(varExpected.bstrVal), SysStringByteLen(varActual.bstrVal));
        break;
    case VT_BYTE_ARRAY_TYPE:
    {
        EXPECT_EQ(1u, SafeArrayGetDim(varActual.parray));
        LONG nLower = -1;
        SafeArrayGetLBound(varActual.parray, 1, &nLower);
        EXPECT_EQ(0, nLower);
        EXPECT_TRUE(BytesOfArray(varExpected) == BytesOfArray(varActual));
        break;
    }
    case VT_VARIANT_ARRAY_TYPE:
    {
        EXPECT_EQ(1u, SafeArrayGetDim(varActual.parray));
        LONG nLower = -1;
        SafeArrayGetLBound(varActual.parray, 1, &nLower);
        EXPECT_EQ(0, nLower);
        const ULONG nElements = varExpected.parray->rgsabound[0].cElements;
        ASSERT_EQ(nElements, varActual.parray->rgsabound[0].cElements);
        for (ULONG i = 0; i < nElements; ++i)
            ExpectSameValue(ElementOf(varExpected, i), ElementOf(varActual, i),
                            sWhere + "(" + std::to_string(i) + ")");
        break;
    }
    default:
        EXPECT_EQ(ImageOf(varExpected), ImageOf(varActual));
        break;
    }
}

std::string RandomBytes(std::mt19937& random, size_t n)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(random() & 0xFF);
    return s;
}

class RoundTripTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* szUrl = std::getenv("HARBINET_TEST_URL");
        ASSERT_NE(nullptr, szUrl) << "HARBINET_TEST_URL names the test server";
        const std::string sUrl = szUrl;
        m_pObject = GHarbinetModule::Instance().CreateHarbinet();
        ASSERT_NE(nullptr, m_pObject);
        GTestBstr bstrUrl(std::wstring(sUrl.begin(), sUrl.end()).c_str());
        ASSERT_EQ(S_OK, m_pObject->Open(bstrUrl));
        const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        m_sPrefix = std::wstring(L"roundtrip.") + std::wstring(pInfo->name(), pInfo->name() + strlen(pInfo->name())) + L".";
        // "store" only stores and "fetch" only fetches what a run with "store" left, so
        // that a module of one width can read back what one of the other width stored.
        m_sPhase = std::getenv("HARBINET_ROUND_TRIP_PHASE") ? std::getenv("HARBINET_ROUND_TRIP_PHASE") : "";
    }

    void TearDown() override
    {
        if (m_pObject != nullptr)
        {
            EXPECT_EQ(0u, m_pObject->Release());
        }
        EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
    }

    std::wstring Name(const wchar_t* sz) const { return m_sPrefix + sz; }

    void Store(const wchar_t* szName, VARIANT& var)
    {
        GTestBstr bstrName(Name(szName).c_str());
        VARIANT_BOOL bSet = VARIANT_FALSE;
        ASSERT_EQ(S_OK, m_pObject->Set(bstrName, &var, 0, &bSet));
        ASSERT_EQ(VARIANT_TRUE, bSet);
    }

    void Fetch(const wchar_t* szName, VARIANT& var, VARIANT_BOOL bFoundExpected = VARIANT_TRUE)
    {
        GTestBstr bstrName(Name(szName).c_str());
        VARIANT_BOOL bFound = 5;
        ASSERT_EQ(S_OK, m_pObject->Get(bstrName, &var, &bFound));
        ASSERT_EQ(bFoundExpected, bFound);
    }

    void ExpectRoundTrip(const wchar_t* szName, VARIANT& var)
    {
        if (m_sPhase != "fetch")
            Store(szName, var);
        if (m_sPhase == "store")
            return;
        GTestVariant varBack;
        Fetch(szName, varBack);
        ExpectSameValue(var, varBack);
    }

    IHarbinet* m_pObject = nullptr;
    std::wstring m_sPrefix;
    std::string m_sPhase;
};

TEST_F(RoundTripTest, EveryScalarTypeComesBackBitForBit)
{
    const VARTYPE aTypes[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_ERROR, VT_BOOL,
                              VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT};
    std::mt19937 random(7);
    for (VARTYPE vt : aTypes)
    {
        SCOPED_TRACE(vt);
        // Zero where a 32-bit VARIANT ends, so that both widths hold the same value.
        VARIANT var;
        std::string sBytes = RandomBytes(random, 24);
        sBytes.replace(16, 8, 8, '\0');
        memcpy(&var, sBytes.data(), sizeof(var));
        var.vt = vt;
        ExpectRoundTrip((L"scalar" + std::to_wstring(vt)).c_str(), var);
    }
}

TEST_F(RoundTripTest, OrdinaryScalarsComeBackEqual)
{
    GTestVariant var;
    var.vt = VT_DATE;
    var.date = 45000.5;
    ExpectRoundTrip(L"date", var);
    var.vt = VT_CY;
    var.cyVal.int64 = -987654321;
    ExpectRoundTrip(L"currency", var);
    VarDecFromStr(const_cast<OLECHAR*>(L"-79228162514264.337593543950335"), LOCALE_INVARIANT, 0, &var.decVal);
    var.vt = VT_DECIMAL;
    ExpectRoundTrip(L"decimal", var);
    var.vt = VT_BOOL;
    var.boolVal = VARIANT_TRUE;
    ExpectRoundTrip(L"true", var);
    var.vt = VT_R8;
    var.dblVal = -0.0;
    ExpectRoundTrip(L"negative zero", var);
    var.vt = VT_EMPTY;
}

TEST_F(RoundTripTest, StringsComeBackByteForByte)
{
    std::mt19937 random(11);
    const std::string aStrings[] = {std::string(), Bytes("61"), Bytes("61 00 62 00 63"),
                                    Bytes("47 00 72 00 FC 00 DF 00 65 00 20 00 AC 20"), Bytes("00 00 41 00 00 00"),
                                    RandomBytes(random, 100001), RandomBytes(random, 3 * 1024 * 1024)};
    int n = 0;
    for (const std::string& sBytes : aStrings)
    {
        SCOPED_TRACE(n);
        GTestVariant var;
        var.vt = VT_BSTR;
        var.bstrVal = StringOfBytes(sBytes);
        ExpectRoundTrip((L"string" + std::to_wstring(n++)).c_str(), var);
    }
}

TEST_F(RoundTripTest, ByteArraysComeBackFromLowerBoundZero)
{
    std::mt19937 random(13);
    GTestVariant varEmpty;
    MakeByteArray(varEmpty, "");
    ExpectRoundTrip(L"empty", varEmpty);
    GTestVariant varSmall;
    MakeByteArray(varSmall, Bytes("00 0D 0A 0D 0A FF"), 7);
    ExpectRoundTrip(L"small", varSmall);
    GTestVariant varLarge;
    MakeByteArray(varLarge, RandomBytes(random, 16 * 1024 * 1024));
    ExpectRoundTrip(L"sixteen mebibytes", varLarge);
}

TEST_F(RoundTripTest, VariantArraysComeBackElementByElement)
{
    GTestVariant var;
    MakeVariantArray(var, 8, 1);
    ElementOf(var, 0).vt = VT_I4;
    ElementOf(var, 0).lVal = -5;
    ElementOf(var, 1).vt = VT_BSTR;
    ElementOf(var, 1).bstrVal = StringOfBytes(Bytes("68 00 69"));
    ElementOf(var, 2).vt = VT_NULL;
    ElementOf(var, 4).vt = VT_BOOL;
    ElementOf(var, 4).boolVal = VARIANT_FALSE;
    MakeByteArray(ElementOf(var, 5), Bytes("01 02 03"));
    ElementOf(var, 6).vt = VT_DATE;
    ElementOf(var, 6).date = 36526.75;
    VarDecFromI4(-12345, &ElementOf(var, 7).decVal);
    ElementOf(var, 7).vt = VT_DECIMAL;
    ExpectRoundTrip(L"list", var);

    GTestVariant varEmpty;
    MakeVariantArray(varEmpty, 0);
    ExpectRoundTrip(L"empty", varEmpty);
}

TEST_F(RoundTripTest, NestedArraysComeBackToEveryDepth)
{
    GTestVariant var;
    MakeVariantArray(var, 3);
    ElementOf(var, 0).vt = VT_I2;
    ElementOf(var, 0).iVal = 1;
    VARIANT& varMiddle = ElementOf(var, 1);
    MakeVariantArray(varMiddle, 2);
    ElementOf(varMiddle, 0).vt = VT_BSTR;
    ElementOf(varMiddle, 0).bstrVal = SysAllocString(L"middle");
    VARIANT& varInner = ElementOf(varMiddle, 1);
    MakeVariantArray(varInner, 2);
    ElementOf(varInner, 0).vt = VT_R8;
    ElementOf(varInner, 0).dblVal = 2.5;
    MakeVariantArray(ElementOf(varInner, 1), 0);
    MakeVariantArray(ElementOf(var, 2), 0);
    ExpectRoundTrip(L"tree", var);
}

TEST_F(RoundTripTest, DeletedElementsReadBackEmptyAndTheArrayIsFound)
{
    GTestVariant var;
    MakeVariantArray(var, 3);
    for (ULONG i = 0; i < 3; ++i)
    {
        ElementOf(var, i).vt = VT_I4;
        ElementOf(var, i).lVal = static_cast<LONG>(i) + 10;
    }
    Store(L"list", var);
    GTestBstr bstrElement(Name(L"list(1)").c_str());
    ASSERT_EQ(S_OK, m_pObject->Delete(bstrElement));
    GTestVariant varBack;
    Fetch(L"list", varBack);
    ASSERT_EQ(VT_VARIANT_ARRAY_TYPE, varBack.vt);
    EXPECT_EQ(10, ElementOf(varBack, 0).lVal);
    EXPECT_EQ(VT_EMPTY, ElementOf(varBack, 1).vt);
    EXPECT_EQ(12, ElementOf(varBack, 2).lVal);
}

TEST_F(RoundTripTest, StreamsComeBackIntoTheCallersStream)
{
    std::mt19937 random(17);
    for (size_t nSize : {size_t(0), size_t(1), size_t(8192), size_t(8193), size_t(300000)})
    {
        SCOPED_TRACE(nSize);
        const std::string sContent = RandomBytes(random, nSize);
        GTestVariant var;
        var.vt = VT_UNKNOWN;
        var.punkVal = MakeMemoryStream(sContent);
        const std::wstring sName = L"stream" + std::to_wstring(nSize);
        if (m_sPhase != "fetch")
            Store(sName.c_str(), var);
        if (m_sPhase == "store")
            continue;
        GTestVariant varBack;
        varBack.vt = VT_UNKNOWN;
        varBack.punkVal = MakeMemoryStream("");
        Fetch(sName.c_str(), varBack);
        ASSERT_EQ(VT_UNKNOWN, varBack.vt);
        IStream* pStream = nullptr;
        ASSERT_EQ(S_OK, varBack.punkVal->QueryInterface(IID_IStream, reinterpret_cast<void**>(&pStream)));
        EXPECT_EQ(0u, PositionOf(pStream));
        EXPECT_TRUE(sContent == ContentOf(pStream));
        pStream->Release();
    }
}

TEST_F(RoundTripTest, DispatchStreamComesBackIntoAnUnknownStream)
{
    GTestStream* pStream = new GTestStream("dispatch stream content");
    GTestVariant var;
    var.vt = VT_DISPATCH;
    var.pdispVal = static_cast<IDispatch*>(pStream);
    Store(L"stream", var);
    GTestStream* pTarget = new GTestStream();
    GTestVariant varBack;
    varBack.vt = VT_UNKNOWN;
    varBack.punkVal = static_cast<IDispatch*>(pTarget);
    Fetch(L"stream", varBack);
    EXPECT_EQ("dispatch stream content", pTarget->m_sContent);
}

TEST_F(RoundTripTest, MissingValueIsNotFoundAndLeavesTheValue)
{
    GTestVariant var;
    var.vt = VT_I4;
    var.lVal = 77;
    Fetch(L"never stored", var, VARIANT_FALSE);
    EXPECT_EQ(VT_I4, var.vt);
    EXPECT_EQ(77, var.lVal);
}

TEST_F(RoundTripTest, ItemPropertyStoresAndFetches)
{
    GTestVariant varName;
    varName.vt = VT_BSTR;
    varName.bstrVal = SysAllocString(Name(L"item").c_str());
    GTestVariant var;
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(L"through the default member");
    ASSERT_EQ(S_OK, m_pObject->put_Item(&varName, &var));
    GTestVariant varBack;
    ASSERT_EQ(S_OK, m_pObject->get_Item(&varName, &varBack));
    ExpectSameValue(var, varBack);
}

TEST_F(RoundTripTest, ValueStoredAgainReplacesTheOldOne)
{
    GTestVariant var;
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(L"first");
    Store(L"again", var);
    GTestVariant varSecond;
    varSecond.vt = VT_I8;
    varSecond.llVal = 1LL << 40;
    Store(L"again", varSecond);
    GTestVariant varBack;
    Fetch(L"again", varBack);
    EXPECT_EQ(VT_I8, varBack.vt);
    EXPECT_EQ(1LL << 40, varBack.llVal);
}
}
