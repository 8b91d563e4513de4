// The exact set request for every type code with a body form; refusal of the others.
#include "tests/values/wire_fixture.h"

#include <cstring>

namespace
{
struct GScalarCase
{
    const char* szLabel;
    VARTYPE vt;
    void (*pfnSetValue)(VARIANT& var);
    const char* szType;
    const char* szImage;   // the 24 bytes as they must go out
};

// Every value starts from the A0..B7 pattern, so the reserved words and the unused
// part of the value area are known bytes that must travel unchanged.
const GScalarCase g_aScalarCases[] = {
    {"VT_EMPTY", VT_EMPTY, [](VARIANT&) {}, "0",
     "00 00 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_NULL", VT_NULL, [](VARIANT&) {}, "1",
     "01 00 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_I2", VT_I2, [](VARIANT& var) { var.iVal = -2; }, "2",
     "02 00 A2 A3 A4 A5 A6 A7 FE FF AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_I4", VT_I4, [](VARIANT& var) { var.lVal = 0x12345678; }, "3",
     "03 00 A2 A3 A4 A5 A6 A7 78 56 34 12 AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_R4", VT_R4, [](VARIANT& var) { var.fltVal = 1.5f; }, "4",
     "04 00 A2 A3 A4 A5 A6 A7 00 00 C0 3F AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_R8", VT_R8, [](VARIANT& var) { var.dblVal = -2.5; }, "5",
     "05 00 A2 A3 A4 A5 A6 A7 00 00 00 00 00 00 04 C0 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_CY", VT_CY, [](VARIANT& var) { var.cyVal.int64 = 123456789; }, "6",
     "06 00 A2 A3 A4 A5 A6 A7 15 CD 5B 07 00 00 00 00 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_DATE", VT_DATE, [](VARIANT& var) { var.date = 45000.25; }, "7",
     "07 00 A2 A3 A4 A5 A6 A7 00 00 00 00 08 F9 E5 40 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_ERROR", VT_ERROR, [](VARIANT& var) { var.scode = static_cast<SCODE>(0x80020004); }, "10",
     "0A 00 A2 A3 A4 A5 A6 A7 04 00 02 80 AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_BOOL true", VT_BOOL, [](VARIANT& var) { var.boolVal = VARIANT_TRUE; }, "11",
     "0B 00 A2 A3 A4 A5 A6 A7 FF FF AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_BOOL false", VT_BOOL, [](VARIANT& var) { var.boolVal = VARIANT_FALSE; }, "11",
     "0B 00 A2 A3 A4 A5 A6 A7 00 00 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    // The decimal lies over the first 16 bytes; its first word is the type code.
    {"VT_DECIMAL", VT_DECIMAL,
     [](VARIANT& var) {
         var.decVal.scale = 2;
         var.decVal.sign = DECIMAL_NEG;
         var.decVal.Hi32 = 0x01020304;
         var.decVal.Lo64 = 0x1122334455667788ull;
         var.vt = VT_DECIMAL;
     },
     "14", "0E 00 02 80 04 03 02 01 88 77 66 55 44 33 22 11 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_I1", VT_I1, [](VARIANT& var) { var.cVal = static_cast<CHAR>(-128); }, "16",
     "10 00 A2 A3 A4 A5 A6 A7 80 A9 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_UI1", VT_UI1, [](VARIANT& var) { var.bVal = 0xFE; }, "17",
     "11 00 A2 A3 A4 A5 A6 A7 FE A9 AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_UI2", VT_UI2, [](VARIANT& var) { var.uiVal = 0xBEEF; }, "18",
     "12 00 A2 A3 A4 A5 A6 A7 EF BE AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_UI4", VT_UI4, [](VARIANT& var) { var.ulVal = 0xDEADBEEF; }, "19",
     "13 00 A2 A3 A4 A5 A6 A7 EF BE AD DE AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_I8", VT_I8, [](VARIANT& var) { var.llVal = -2; }, "20",
     "14 00 A2 A3 A4 A5 A6 A7 FE FF FF FF FF FF FF FF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_UI8", VT_UI8, [](VARIANT& var) { var.ullVal = 0x0102030405060708ull; }, "21",
     "15 00 A2 A3 A4 A5 A6 A7 08 07 06 05 04 03 02 01 B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_INT", VT_INT, [](VARIANT& var) { var.intVal = -100000; }, "22",
     "16 00 A2 A3 A4 A5 A6 A7 60 79 FE FF AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
    {"VT_UINT", VT_UINT, [](VARIANT& var) { var.uintVal = 4000000000u; }, "23",
     "17 00 A2 A3 A4 A5 A6 A7 00 28 6B EE AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"},
};

using BodyWriterTest = GValueWireTest;

TEST_F(BodyWriterTest, EveryScalarTypeGoesOutAsItsWholeVariantImage)
{
    for (const GScalarCase& scalar : g_aScalarCases)
    {
        SCOPED_TRACE(scalar.szLabel);
        m_server.Answer(REPLY_STORED);
        VARIANT var = PatternedVariant(scalar.vt);
        scalar.pfnSetValue(var);
        const std::string sBefore = ImageOf(var);
        VARIANT_BOOL bSet = VARIANT_FALSE;
        EXPECT_EQ(S_OK, Set(L"v", var, 0, &bSet));
        EXPECT_EQ(VARIANT_TRUE, bSet);
        const std::vector<std::string> vecRequests = Requests();
        ASSERT_FALSE(vecRequests.empty());
        EXPECT_EQ(SetRequest("v", scalar.szType, "24", Bytes(scalar.szImage)), vecRequests.back());
        EXPECT_EQ(sBefore, ImageOf(var)) << "the caller's value is only read";
    }
}

TEST_F(BodyWriterTest, BoolTrueHasTypeElevenAndAllBitsSet)
{
    m_server.Answer(REPLY_STORED);
    VARIANT var = PatternedVariant(VT_BOOL);
    var.boolVal = VARIANT_TRUE;
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"flag", var, 0, &bSet));
    EXPECT_EQ(std::vector<std::string>{"POST /set HTTP/1.1\r\n"
                                       "host: 127.0.0.1\r\n"
                                       "content-type: application/x-variant-11\r\n"
                                       "content-length: 24\r\n"
                                       "x-param-name: flag\r\n"
                                       "x-param-timeout: 0\r\n"
                                       "\r\n"
                                       + ImageKept(Bytes("0B 00 A2 A3 A4 A5 A6 A7 FF FF AA AB AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7"))},
              Requests());
}

TEST_F(BodyWriterTest, ZeroedEmptyAndNullImagesAreSentWhole)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED);
    VARIANT varEmpty;
    std::memset(&varEmpty, 0, sizeof(varEmpty));
    VARIANT varNull;
    std::memset(&varNull, 0, sizeof(varNull));
    varNull.vt = VT_NULL;
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"e", varEmpty, 0, &bSet));
    EXPECT_EQ(S_OK, Set(L"n", varNull, 0, &bSet));
    EXPECT_EQ((std::vector<std::string>{
                  SetRequest("e", "0", "24",
                             Bytes("00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00")),
                  SetRequest("n", "1", "24",
                             Bytes("01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"))}),
              Requests());
}

TEST_F(BodyWriterTest, StringGoesOutAsItsUtf16Units)
{
    m_server.Answer(REPLY_STORED);
    GTestVariant var;
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(L"H\u00e9\u20ac");
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"s", var, 0, &bSet));
    EXPECT_EQ(std::vector<std::string>{SetRequest("s", "8", "6", Bytes("48 00 E9 00 AC 20"))}, Requests());
}

TEST_F(BodyWriterTest, OddLengthStringKeepsItsLastByte)
{
    m_server.Answer(REPLY_STORED);
    GTestVariant var;
    var.vt = VT_BSTR;
    var.bstrVal = StringOfBytes(Bytes("61 62 63"));
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"odd", var, 0, &bSet));
    EXPECT_EQ(std::vector<std::string>{SetRequest("odd", "8", "3", "abc")}, Requests());
}

TEST_F(BodyWriterTest, EmptyAndNullStringsGoOutWithLengthZero)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED);
    GTestVariant varEmpty;
    varEmpty.vt = VT_BSTR;
    varEmpty.bstrVal = SysAllocString(L"");
    GTestVariant varNull;
    varNull.vt = VT_BSTR;
    varNull.bstrVal = nullptr;
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"empty", varEmpty, 0, &bSet));
    EXPECT_EQ(S_OK, Set(L"null", varNull, 0, &bSet));
    EXPECT_EQ((std::vector<std::string>{SetRequest("empty", "8", "0", ""), SetRequest("null", "8", "0", "")}),
              Requests());
}

TEST_F(BodyWriterTest, ByteArrayGoesOutAsItsDataWithoutItsLowerBound)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED);
    GTestVariant var;
    MakeByteArray(var, Bytes("00 01 FE FF 0D 0A"), 5);
    GTestVariant varEmpty;
    MakeByteArray(varEmpty, "");
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"bytes", var, 0, &bSet));
    EXPECT_EQ(S_OK, Set(L"none", varEmpty, 0, &bSet));
    EXPECT_EQ((std::vector<std::string>{SetRequest("bytes", "8209", "6", Bytes("00 01 FE FF 0D 0A")),
                                        SetRequest("none", "8209", "0", "")}),
              Requests());
}

// A value with no body form is refused before anything goes out, and the object is
// closed; the caller's value is left as it was.
class BodyWriterRefusalTest : public GValueWireTest
{
protected:
    void ExpectRefused(VARIANT& var)
    {
        const std::string sBefore = ImageOf(var);
        VARIANT_BOOL bSet = 7;
        GuardAgainstRequests();
        ClearErrorInfo();
        ExpectFailure(HR_VALUE_TYPE, L"Invalid value type.", Set(L"v", var, 0, &bSet));
        EXPECT_EQ(7, bSet);
        EXPECT_EQ(sBefore, ImageOf(var));
        ExpectClosed(true);
        // Only the Noop of each closed-state check has reached the server.
        m_sGuards += NopRequest();
        EXPECT_EQ(m_sGuards, Received());
    }

    std::string m_sGuards;
};

TEST_F(BodyWriterRefusalTest, ByReferenceValueIsRefusedAndNothingIsSent)
{
    LONG n = 5;
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BYREF | VT_I4;
    var.plVal = &n;
    ExpectRefused(var);
}

TEST_F(BodyWriterRefusalTest, ByReferenceVariantIsRefused)
{
    GTestVariant varInner;
    varInner.vt = VT_I4;
    varInner.lVal = 1;
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BYREF | VT_VARIANT;
    var.pvarVal = &varInner;
    ExpectRefused(var);
}

TEST_F(BodyWriterRefusalTest, ByReferenceStringIsRefused)
{
    GTestVariant varInner;
    varInner.vt = VT_BSTR;
    varInner.bstrVal = SysAllocString(L"x");
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BYREF | VT_BSTR;
    var.pbstrVal = &varInner.bstrVal;
    ExpectRefused(var);
}

TEST_F(BodyWriterRefusalTest, ArrayOfOtherElementsIsRefused)
{
    GTestVariant var;
    var.vt = VT_ARRAY | VT_I4;
    var.parray = SafeArrayCreateVector(VT_I4, 0, 3);
    ExpectRefused(var);
}

TEST_F(BodyWriterRefusalTest, TypeCodesWithoutBodyFormAreRefused)
{
    for (VARTYPE vt : {VARTYPE(VT_RECORD), VARTYPE(VT_VARIANT), VARTYPE(VT_LPSTR), VARTYPE(15), VARTYPE(0x0FFF)})
    {
        SCOPED_TRACE(vt);
        VARIANT var = PatternedVariant(vt);
        ExpectRefused(var);
        ASSERT_EQ(S_OK, Open());
    }
}

TEST_F(BodyWriterRefusalTest, TwoDimensionalByteArrayIsRefused)
{
    SAFEARRAYBOUND aBounds[2] = {{2, 0}, {3, 0}};
    GTestVariant var;
    var.vt = VT_BYTE_ARRAY_TYPE;
    var.parray = SafeArrayCreate(VT_UI1, 2, aBounds);
    ASSERT_NE(nullptr, var.parray);
    ExpectRefused(var);
}

TEST_F(BodyWriterRefusalTest, TwoDimensionalVariantArrayIsRefusedBeforeAnyElement)
{
    SAFEARRAYBOUND aBounds[2] = {{2, 0}, {2, 0}};
    GTestVariant var;
    var.vt = VT_VARIANT_ARRAY_TYPE;
    var.parray = SafeArrayCreate(VT_VARIANT, 2, aBounds);
    ASSERT_NE(nullptr, var.parray);
    ExpectRefused(var);
}

TEST_F(BodyWriterRefusalTest, ByteArrayTypeOverArrayOfWiderElementsIsRefused)
{
    GTestVariant var;
    var.vt = VT_BYTE_ARRAY_TYPE;
    var.parray = SafeArrayCreateVector(VT_I4, 0, 4);
    ExpectRefused(var);
}

TEST_F(BodyWriterRefusalTest, ArrayTypeWithoutArrayIsRefused)
{
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_VARIANT_ARRAY_TYPE;
    var.parray = nullptr;
    ExpectRefused(var);
}
}
