// Get: the request, found and not found, failures of the exchange and what they leave.
#include "tests/values/wire_fixture.h"

namespace
{
using GetTest = GValueWireTest;

const char* const IMAGE_FORTY_TWO = "03 00 00 00 00 00 00 00 2A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

TEST_F(GetTest, FoundValueIsDeliveredWithFoundTrue)
{
    m_server.Answer(FoundReply("application/x-variant-3", Bytes(IMAGE_FORTY_TWO)));
    GTestVariant var;
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(L"old value");
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"answer", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    EXPECT_EQ(VT_I4, var.vt);
    EXPECT_EQ(42, var.lVal);
    EXPECT_EQ(std::vector<std::string>{"POST /get HTTP/1.1\r\n"
                                       "host: 127.0.0.1\r\n"
                                       "content-length: 0\r\n"
                                       "x-param-name: answer\r\n"
                                       "\r\n"},
              Requests());
    ExpectOpen();
}

TEST_F(GetTest, NotFoundLeavesTheValueAndTheConnectionOpen)
{
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 1\r\ncontent-length: 6\r\n\r\nunused");
    GTestVariant var;
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(L"keep");
    const BSTR bstrBefore = var.bstrVal;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    EXPECT_EQ(S_OK, Get(L"absent", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_EQ(VT_BSTR, var.vt);
    EXPECT_EQ(bstrBefore, var.bstrVal);
    ExpectOpen();
}

TEST_F(GetTest, NullAndEmptyNamesSendAnEmptyNameLine)
{
    m_server.Answer(REPLY_NOT_FOUND).Answer(REPLY_NOT_FOUND);
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, m_pObject->Get(nullptr, &var, &bFound));
    EXPECT_EQ(S_OK, Get(L"", var, &bFound));
    EXPECT_EQ((std::vector<std::string>{GetRequest(""), GetRequest("")}), Requests());
}

TEST_F(GetTest, GetOnClosedObjectReportsHttpErrorWithFoundFalse)
{
    EXPECT_EQ(S_OK, m_pObject->Close());
    GTestVariant var;
    var.vt = VT_I4;
    var.lVal = 9;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_HTTP, L"HTTP error.", Get(L"v", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_EQ(VT_I4, var.vt);
    EXPECT_EQ(9, var.lVal);
    ExpectClosed();
    EXPECT_EQ(NopRequest(), Received());
}

TEST_F(GetTest, GetOnNeverOpenedObjectReportsHttpError)
{
    IHarbinet* pFresh = GHarbinetModule::Instance().CreateHarbinet();
    ASSERT_NE(nullptr, pFresh);
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    GTestBstr bstrName(L"v");
    ExpectFailure(HR_HTTP, L"HTTP error.", pFresh->Get(bstrName, &var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_EQ(VT_EMPTY, var.vt);
    EXPECT_EQ(0u, pFresh->Release());
}

TEST_F(GetTest, ResultCodeTwoReportsTheReasonAndCloses)
{
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 2\r\nx-result-reason: Bad name\r\ncontent-length: 0\r\n\r\n");
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_RESULT_CODE, L"Bad name", Get(L"v", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_EQ(VT_EMPTY, var.vt);
    ExpectClosed();
}

TEST_F(GetTest, MissingResultCodeReportsUnknownResultCode)
{
    m_server.Answer("HTTP/1.1 200 OK\r\ncontent-type: application/x-variant-3\r\ncontent-length: 24\r\n\r\n"
                    + Bytes(IMAGE_FORTY_TWO));
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_RESULT_CODE, L"Unknown x-result-code.", Get(L"v", var, &bFound));
    EXPECT_EQ(VT_EMPTY, var.vt);
    ExpectClosed();
}

TEST_F(GetTest, StatusOtherThanOkReportsTheStatusText)
{
    m_server.Answer("HTTP/1.1 404 Not Found\r\ncontent-length: 0\r\n\r\n");
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_HTTP, L"404 Not Found", Get(L"v", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    ExpectClosed();
}

TEST_F(GetTest, MissingReplyReportsHttpError)
{
    m_server.CloseAfterRequest();
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(HR_HTTP, L"HTTP error.", Get(L"v", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    ExpectClosed();
}

TEST_F(GetTest, NameWithLineBreakIsRefusedAndNothingIsSent)
{
    GuardAgainstRequests();
    GTestVariant var;
    for (const wchar_t* szName : {L"a\r\nb", L"a\nb", L"\r"})
    {
        VARIANT_BOOL bFound = VARIANT_TRUE;
        ClearErrorInfo();
        ExpectFailure(E_INVALIDARG, L"Invalid name.", Get(szName, var, &bFound));
        EXPECT_EQ(VARIANT_FALSE, bFound);
    }
    const std::wstring sLong(10000, L'n');
    VARIANT_BOOL bFound = VARIANT_TRUE;
    ExpectFailure(E_INVALIDARG, L"Invalid name.", Get(sLong.c_str(), var, &bFound));
    EXPECT_EQ(VT_EMPTY, var.vt);
    ExpectOpenWithNothingSent();
}

TEST_F(GetTest, ConsecutiveGetsShareTheConnection)
{
    m_server.Answer(FoundReply("application/x-variant-8", Bytes("61 00")))
        .Answer(REPLY_NOT_FOUND)
        .Answer(FoundReply("application/x-variant-3", Bytes(IMAGE_FORTY_TWO)));
    GTestVariant var;
    VARIANT_BOOL bFound = VARIANT_FALSE;
    EXPECT_EQ(S_OK, Get(L"a", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    EXPECT_EQ(S_OK, Get(L"b", var, &bFound));
    EXPECT_EQ(VARIANT_FALSE, bFound);
    EXPECT_EQ(VT_BSTR, var.vt);
    EXPECT_EQ(S_OK, Get(L"c", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    EXPECT_EQ(42, var.lVal);
    EXPECT_EQ(1, m_server.Connections());
}
}
