// The command key and its digest, against digests that other code computed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "query/command_key.h"
#include "tests/query/command_key_cases.h"
#include "tests/query/fake_ado.h"
#include "tests/support/harbinet_module.h"
#include "tests/values/value_helpers.h"

namespace
{
std::string Narrow(const wchar_t* sz)
{
    std::string s;
    for (; sz != nullptr && *sz != L'\0'; ++sz)
        s += static_cast<char>(*sz);
    return s;
}

// A parameter value whose unused bytes all carry a pattern, so that a key that took
// any of them would differ from the expected one.
VARIANT ValueOf(const GKeyParam& param)
{
    VARIANT var = PatternedVariant(param.vt);
    if (param.vt == VT_BSTR)
    {
        VariantInit(&var);
        var.vt = VT_BSTR;
        var.bstrVal = param.szText != nullptr  ? SysAllocString(param.szText)
                    : param.szHex != nullptr ? StringOfBytes(Bytes(param.szHex))
                                             : nullptr;
        return var;
    }
    const std::string sValue = Bytes(param.szHex);
    std::memcpy(reinterpret_cast<BYTE*>(&var) + (param.vt == VT_DECIMAL ? 2 : 8), sValue.data(), sValue.size());
    return var;
}

GFakeCommand* CommandOf(const GKeyCase& row)
{
    GFakeCommand* pCommand = new GFakeCommand(row.szText, "rows");
    for (const GKeyParam& param : row.vecParams)
        pCommand->AddParameter(ValueOf(param));
    return pCommand;
}

struct GKeyOutcome
{
    HRESULT hr;
    std::string sKey;
    GErrorText error;
};

GKeyOutcome KeyOf(GFakeCommand* pCommand)
{
    ClearErrorInfo();
    BSTR bstrKey = nullptr;
    GKeyOutcome outcome;
    outcome.hr = CommandKey(pCommand, &bstrKey);
    outcome.sKey = Narrow(bstrKey);
    outcome.error = TakeErrorInfo();
    SysFreeString(bstrKey);
    return outcome;
}

TEST(Md5HexTest, GivesTheDigestsOfTheReferenceSuite)
{
    const struct
    {
        const char* szInput;
        const char* szDigest;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& row : rows)
    {
        wchar_t szHex[33];
        std::memset(szHex, 0xFF, sizeof(szHex));
        EXPECT_EQ(S_OK, Md5Hex(row.szInput, static_cast<DWORD>(std::strlen(row.szInput)), szHex)) << row.szInput;
        EXPECT_EQ(row.szDigest, Narrow(szHex)) << row.szInput;
        EXPECT_EQ(L'\0', szHex[32]);
    }
}

TEST(CommandKeyTest, KeysMatchTheIndependentDigestOfTheBlock)
{
    for (const GKeyCase& row : KEY_CASES)
    {
        GFakeCommand* pCommand = CommandOf(row);
        const GKeyOutcome outcome = KeyOf(pCommand);
        EXPECT_EQ(S_OK, outcome.hr) << row.szName;
        EXPECT_EQ(row.szKey, outcome.sKey) << row.szName;
        EXPECT_EQ(L"", outcome.error.sDescription) << row.szName;
        EXPECT_EQ(0u, pCommand->Release()) << row.szName;
    }
    EXPECT_EQ(0, AdoWorld().nLive);
}

// Reported with the source "Orrisdale" and texts that stay word for word as they are.
TEST(CommandKeyTest, RefusesTooManyParametersAndUntakeableTypes)
{
    const wchar_t* const TOO_MANY = L"Too many command parameter.";
    const wchar_t* const UNKNOWN = L"Unknown command parameter.";
    const struct
    {
        const char* szName;
        size_t nParameters;
        VARTYPE vtLast;
        const wchar_t* szDescription;
    } rows[] = {
        {"127 parameters", 127, VT_I4, TOO_MANY},
        {"200 parameters", 200, VT_I4, TOO_MANY},
        {"an object", 1, VT_DISPATCH, UNKNOWN},
        {"an unknown object", 2, VT_UNKNOWN, UNKNOWN},
        {"a variant", 1, VT_VARIANT, UNKNOWN},
        {"an integer by reference", 1, VT_BYREF | VT_I4, UNKNOWN},
        {"a string by reference", 1, VT_BYREF | VT_BSTR, UNKNOWN},
        {"an array", 3, VT_ARRAY | VT_I4, UNKNOWN},
        {"a record", 1, VT_RECORD, UNKNOWN},
        {"a type code past the table", 1, 24, UNKNOWN},
    };
    for (const auto& row : rows)
    {
        GFakeCommand* pCommand = new GFakeCommand(L"q", "rows");
        for (size_t i = 0; i + 1 < row.nParameters; ++i)
        {
            VARIANT var = PatternedVariant(VT_I4);
            pCommand->AddParameter(var);
        }
        // Pointers in the value area are null, or a real array, so that clearing is safe.
        VARIANT varLast = PatternedVariant(row.vtLast);
        std::memset(reinterpret_cast<BYTE*>(&varLast) + 8, 0, 16);
        if ((row.vtLast & VT_ARRAY) != 0)
            varLast.parray = SafeArrayCreateVector(VT_I4, 0, 2);
        pCommand->AddParameter(varLast);
        const GKeyOutcome outcome = KeyOf(pCommand);
        EXPECT_EQ(E_FAIL, outcome.hr) << row.szName;
        EXPECT_EQ(L"Orrisdale", outcome.error.sSource) << row.szName;
        EXPECT_EQ(row.szDescription, outcome.error.sDescription) << row.szName;
        EXPECT_EQ(0u, pCommand->Release()) << row.szName;
    }
    EXPECT_EQ(0, AdoWorld().nLive);
}
}
