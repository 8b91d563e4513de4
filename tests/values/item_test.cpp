// The Item property: a string name stores and fetches, other names are refused.
#include "tests/values/wire_fixture.h"

namespace
{
using ItemTest = GValueWireTest;

const char* const IMAGE_SEVEN = "03 00 A2 A3 A4 A5 A6 A7 07 00 00 00 AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7";

void StringName(GTestVariant& var, const wchar_t* sz)
{
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(sz);
}

TEST_F(ItemTest, PutItemStoresWithTimeoutZero)
{
    m_server.Answer(REPLY_STORED);
    GTestVariant varName;
    StringName(varName, L"key");
    VARIANT var = PatternedVariant(VT_I4);
    var.lVal = 7;
    EXPECT_EQ(S_OK, m_pObject->put_Item(&varName, &var));
    EXPECT_EQ(std::vector<std::string>{SetRequest("key", "3", "24", Bytes(IMAGE_SEVEN), "0")}, Requests());
    ExpectOpen();
}

TEST_F(ItemTest, PutItemGivesOkWhenTheServerDidNotStore)
{
    m_server.Answer(REPLY_NOT_STORED);
    GTestVariant varName;
    StringName(varName, L"key");
    VARIANT var = PatternedVariant(VT_I4);
    EXPECT_EQ(S_OK, m_pObject->put_Item(&varName, &var));
    ExpectOpen();
}

TEST_F(ItemTest, PutItemPassesTheFailureOfItsSet)
{
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 9\r\nx-result-reason: No room\r\ncontent-length: 0\r\n\r\n");
    GTestVariant varName;
    StringName(varName, L"key");
    VARIANT var = PatternedVariant(VT_I4);
    ExpectFailure(HR_RESULT_CODE, L"No room", m_pObject->put_Item(&varName, &var));
    ExpectClosed();
}

TEST_F(ItemTest, PutItemWithNumberNameReportsInvalidNameTypeAndStaysOpen)
{
    GuardAgainstRequests();
    GTestVariant varName;
    varName.vt = VT_I4;
    varName.lVal = 3;
    VARIANT var = PatternedVariant(VT_I4);
    ClearErrorInfo();
    ExpectFailure(HR_NAME_TYPE, L"Invalid name type.", m_pObject->put_Item(&varName, &var));
    ExpectOpenWithNothingSent();
}

TEST_F(ItemTest, PutItemWithStringByReferenceOrObjectNameIsRefused)
{
    GuardAgainstRequests();
    BSTR bstr = SysAllocString(L"key");
    VARIANT varByRef;
    VariantInit(&varByRef);
    varByRef.vt = VT_BYREF | VT_BSTR;
    varByRef.pbstrVal = &bstr;
    VARIANT var = PatternedVariant(VT_I4);
    ExpectFailure(HR_NAME_TYPE, L"Invalid name type.", m_pObject->put_Item(&varByRef, &var));
    SysFreeString(bstr);
    GTestVariant varObject;
    varObject.vt = VT_DISPATCH;
    varObject.pdispVal = nullptr;
    ExpectFailure(HR_NAME_TYPE, L"Invalid name type.", m_pObject->put_Item(&varObject, &var));
    GTestVariant varEmpty;
    ExpectFailure(HR_NAME_TYPE, L"Invalid name type.", m_pObject->put_Item(&varEmpty, &var));
    ExpectOpenWithNothingSent();
}

TEST_F(ItemTest, GetItemFetchesByName)
{
    m_server.Answer(FoundReply("application/x-variant-8", Bytes("6F 00 6B 00")));
    GTestVariant varName;
    StringName(varName, L"key");
    GTestVariant var;
    EXPECT_EQ(S_OK, m_pObject->get_Item(&varName, &var));
    ASSERT_EQ(VT_BSTR, var.vt);
    EXPECT_EQ(std::wstring(L"ok"), var.bstrVal);
    EXPECT_EQ(std::vector<std::string>{GetRequest("key")}, Requests());
}

TEST_F(ItemTest, GetItemOfMissingValueGivesOkAndLeavesTheValue)
{
    m_server.Answer(REPLY_NOT_FOUND);
    GTestVariant varName;
    StringName(varName, L"key");
    GTestVariant var;
    var.vt = VT_I2;
    var.iVal = 12;
    EXPECT_EQ(S_OK, m_pObject->get_Item(&varName, &var));
    EXPECT_EQ(VT_I2, var.vt);
    EXPECT_EQ(12, var.iVal);
    ExpectOpen();
}

TEST_F(ItemTest, GetItemWithNumberNameReportsInvalidNameTypeAndStaysOpen)
{
    GuardAgainstRequests();
    GTestVariant varName;
    varName.vt = VT_I4;
    varName.lVal = 0;
    GTestVariant var;
    var.vt = VT_I2;
    var.iVal = 12;
    ClearErrorInfo();
    ExpectFailure(HR_NAME_TYPE, L"Invalid name type.", m_pObject->get_Item(&varName, &var));
    EXPECT_EQ(VT_I2, var.vt);
    EXPECT_EQ(12, var.iVal);
    ExpectOpenWithNothingSent();
}

// An object reaches Execute; this one is no ADO command, so Execute's failure to find
// the command interface comes back, with the value untouched and nothing sent.
TEST_F(ItemTest, GetItemWithCommandObjectGoesToExecute)
{
    GuardAgainstRequests();
    IDispatch* pCommand = nullptr;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pCommand)));
    GTestVariant varName;
    varName.vt = VT_DISPATCH;
    varName.pdispVal = pCommand;
    GTestVariant var;
    var.vt = VT_I2;
    var.iVal = 12;
    EXPECT_EQ(E_NOINTERFACE, m_pObject->get_Item(&varName, &var));
    EXPECT_EQ(VT_I2, var.vt);
    EXPECT_EQ(12, var.iVal);
    VariantClear(&varName);
    ExpectOpenWithNothingSent();
}

TEST_F(ItemTest, DefaultMemberStoresAndFetchesThroughDispatch)
{
    m_server.Answer(REPLY_STORED).Answer(FoundReply("application/x-variant-3", Bytes(IMAGE_SEVEN)));
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
    VARIANT aArgs[2];
    aArgs[0] = PatternedVariant(VT_I4);   // the new value comes first, reversed
    aArgs[0].lVal = 7;
    GTestVariant varName;
    StringName(varName, L"key");
    aArgs[1] = varName;
    DISPID nNamed = DISPID_PROPERTYPUT;
    DISPPARAMS putParams = {aArgs, &nNamed, 2, 1};
    EXPECT_EQ(S_OK, pDispatch->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &putParams,
                                      nullptr, nullptr, nullptr));
    DISPPARAMS getParams = {&aArgs[1], nullptr, 1, 0};
    GTestVariant varResult;
    EXPECT_EQ(S_OK, pDispatch->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                      DISPATCH_PROPERTYGET | DISPATCH_METHOD, &getParams, &varResult, nullptr,
                                      nullptr));
    pDispatch->Release();
    EXPECT_EQ(VT_I4, varResult.vt);
    EXPECT_EQ(7, varResult.lVal);
    EXPECT_EQ((std::vector<std::string>{SetRequest("key", "3", "24", Bytes(IMAGE_SEVEN), "0"), GetRequest("key")}),
              Requests());
}
}
