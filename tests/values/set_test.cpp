// Set: the timeout rule, names, result codes and what the object is left in.
#include "tests/values/wire_fixture.h"

#include <climits>

namespace
{
using SetTest = GValueWireTest;

VARIANT SmallInteger()
{
    VARIANT var = PatternedVariant(VT_I4);
    var.lVal = 7;
    return var;
}

const char* const IMAGE_SEVEN = "03 00 A2 A3 A4 A5 A6 A7 07 00 00 00 AC AD AE AF B0 B1 B2 B3 B4 B5 B6 B7";

TEST_F(SetTest, NegativeTimeoutGivesFalseResultAndSendsNothing)
{
    GuardAgainstRequests();
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = 5;
    ClearErrorInfo();
    EXPECT_EQ(S_FALSE, Set(L"v", var, -1, &bSet));
    EXPECT_EQ(5, bSet) << "pSet is not written";
    EXPECT_EQ(L"", TakeErrorInfo().sDescription);
    EXPECT_EQ(S_FALSE, Set(L"v", var, INT_MIN, &bSet));
    EXPECT_EQ(5, bSet);
    ExpectOpenWithNothingSent();
}

TEST_F(SetTest, NegativeTimeoutStoresNoElementOfAnArray)
{
    GuardAgainstRequests();
    GTestVariant var;
    MakeVariantArray(var, 3);
    ElementOf(var, 0) = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_TRUE;
    EXPECT_EQ(S_FALSE, Set(L"list", var, -1, &bSet));
    EXPECT_EQ(VARIANT_TRUE, bSet);
    ExpectOpenWithNothingSent();
}

TEST_F(SetTest, TimeoutLeftOutThroughDispatchGoesOutAsZero)
{
    m_server.Answer(REPLY_STORED);
    IDispatch* pDispatch = nullptr;
    ASSERT_EQ(S_OK, m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch)));
    OLECHAR* szMember = const_cast<OLECHAR*>(L"Set");
    DISPID nDispid = 0;
    ASSERT_EQ(S_OK, pDispatch->GetIDsOfNames(IID_NULL, &szMember, 1, LOCALE_USER_DEFAULT, &nDispid));
    VARIANT aArgs[2];
    aArgs[0] = SmallInteger();   // arguments go in reverse order
    VariantInit(&aArgs[1]);
    aArgs[1].vt = VT_BSTR;
    aArgs[1].bstrVal = SysAllocString(L"v");
    DISPPARAMS params = {aArgs, nullptr, 2, 0};
    GTestVariant varResult;
    EXPECT_EQ(S_OK, pDispatch->Invoke(nDispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &varResult,
                                      nullptr, nullptr));
    VariantClear(&aArgs[1]);
    pDispatch->Release();
    EXPECT_EQ(VT_BOOL, varResult.vt);
    EXPECT_EQ(VARIANT_TRUE, varResult.boolVal);
    EXPECT_EQ(std::vector<std::string>{SetRequest("v", "3", "24", Bytes(IMAGE_SEVEN), "0")}, Requests());
}

TEST_F(SetTest, TimeoutGoesOutAsSignedDecimal)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED);
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"v", var, 2147483647, &bSet));
    EXPECT_EQ(S_OK, Set(L"v", var, 60, &bSet));
    EXPECT_EQ((std::vector<std::string>{SetRequest("v", "3", "24", Bytes(IMAGE_SEVEN), "2147483647"),
                                        SetRequest("v", "3", "24", Bytes(IMAGE_SEVEN), "60")}),
              Requests());
}

TEST_F(SetTest, NullAndEmptyNamesSendAnEmptyNameLine)
{
    m_server.Answer(REPLY_STORED).Answer(REPLY_STORED);
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, m_pObject->Set(nullptr, &var, 0, &bSet));
    EXPECT_EQ(S_OK, Set(L"", var, 0, &bSet));
    EXPECT_EQ((std::vector<std::string>{SetRequest("", "3", "24", Bytes(IMAGE_SEVEN)),
                                        SetRequest("", "3", "24", Bytes(IMAGE_SEVEN))}),
              Requests());
}

TEST_F(SetTest, StoredValueGivesTrue)
{
    m_server.Answer(REPLY_STORED);
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"v", var, 0, &bSet));
    EXPECT_EQ(VARIANT_TRUE, bSet);
    ExpectOpen();
}

TEST_F(SetTest, ResultCodeOneGivesFalseAndKeepsTheConnection)
{
    m_server.Answer(REPLY_NOT_STORED);
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_TRUE;
    EXPECT_EQ(S_OK, Set(L"v", var, 0, &bSet));
    EXPECT_EQ(VARIANT_FALSE, bSet);
    ExpectOpen();
    EXPECT_EQ(1, m_server.Connections());
}

TEST_F(SetTest, ResultCodeTwoReportsTheReasonAndCloses)
{
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 2\r\nx-result-reason: Value too large\r\ncontent-length: 0\r\n\r\n");
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_RESULT_CODE, L"Value too large", Set(L"v", var, 0, &bSet));
    ExpectClosed();
}

TEST_F(SetTest, ResultCodeWithoutReasonReportsUnknownResultCode)
{
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 2\r\ncontent-length: 0\r\n\r\n");
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_RESULT_CODE, L"Unknown x-result-code.", Set(L"v", var, 0, &bSet));
    ExpectClosed();
}

TEST_F(SetTest, StatusOtherThanOkReportsTheStatusText)
{
    m_server.Answer("HTTP/1.1 507 Insufficient Storage\r\ncontent-length: 0\r\n\r\n");
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_HTTP, L"507 Insufficient Storage", Set(L"v", var, 0, &bSet));
    ExpectClosed();
}

TEST_F(SetTest, MissingReplyReportsHttpError)
{
    m_server.CloseAfterRequest();
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_HTTP, L"HTTP error.", Set(L"v", var, 0, &bSet));
    ExpectClosed();
}

TEST_F(SetTest, ReplyBodyIsReadOffBeforeTheNextCommand)
{
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 9\r\n\r\nleft over");
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"v", var, 0, &bSet));
    ExpectOpen();
}

TEST_F(SetTest, SetOnClosedObjectReportsHttpErrorAndSendsNothing)
{
    EXPECT_EQ(S_OK, m_pObject->Close());
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(HR_HTTP, L"HTTP error.", Set(L"v", var, 0, &bSet));
    ExpectClosed();
    EXPECT_EQ(NopRequest(), Received());
}

TEST_F(SetTest, SetOnNeverOpenedObjectReportsHttpError)
{
    IHarbinet* pFresh = GHarbinetModule::Instance().CreateHarbinet();
    ASSERT_NE(nullptr, pFresh);
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    GTestBstr bstrName(L"v");
    ExpectFailure(HR_HTTP, L"HTTP error.", pFresh->Set(bstrName, &var, 0, &bSet));
    EXPECT_EQ(0u, pFresh->Release());
}

TEST_F(SetTest, NameWithLineBreakIsRefusedAndNothingIsSent)
{
    GuardAgainstRequests();
    VARIANT var = SmallInteger();
    for (const wchar_t* szName : {L"a\r\nx-param-timeout: 1", L"a\nb", L"a\rb", L"\n"})
    {
        VARIANT_BOOL bSet = 3;
        ClearErrorInfo();
        ExpectFailure(E_INVALIDARG, L"Invalid name.", Set(szName, var, 0, &bSet));
        EXPECT_EQ(3, bSet);
    }
    ExpectOpenWithNothingSent();
}

TEST_F(SetTest, NameTooLongForTheHeadIsRefusedAndNothingIsSent)
{
    GuardAgainstRequests();
    VARIANT var = SmallInteger();
    const std::wstring sName(10000, L'n');
    VARIANT_BOOL bSet = VARIANT_FALSE;
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Set(sName.c_str(), var, 0, &bSet));
    GTestVariant varString;
    varString.vt = VT_BSTR;
    varString.bstrVal = SysAllocString(L"x");
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Set(sName.c_str(), varString, 0, &bSet));
    ExpectOpenWithNothingSent();
}

TEST_F(SetTest, LongNameThatFitsTheHeadIsSent)
{
    m_server.Answer(REPLY_STORED);
    VARIANT var = SmallInteger();
    const std::wstring sName(8000, L'n');
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(sName.c_str(), var, 0, &bSet));
    EXPECT_EQ(std::vector<std::string>{SetRequest(std::string(8000, 'n').c_str(), "3", "24", Bytes(IMAGE_SEVEN))},
              Requests());
}

TEST_F(SetTest, SetCookieInTheReplyIsSentWithTheNextValue)
{
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: jar7\r\ncontent-length: 0\r\n\r\n")
        .Answer(REPLY_STORED);
    VARIANT var = SmallInteger();
    VARIANT_BOOL bSet = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Set(L"a", var, 0, &bSet));
    EXPECT_EQ(S_OK, Set(L"b", var, 0, &bSet));
    const std::vector<std::string> vecRequests = Requests();
    ASSERT_EQ(2u, vecRequests.size());
    EXPECT_EQ("POST /set HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-type: application/x-variant-3\r\n"
              "content-length: 24\r\n"
              "cookie: jar7\r\n"
              "x-param-name: b\r\n"
              "x-param-timeout: 0\r\n"
              "\r\n"
                  + ImageKept(Bytes(IMAGE_SEVEN)),
              vecRequests[1]);
}
}
