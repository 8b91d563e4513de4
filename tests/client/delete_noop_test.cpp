// Delete and Noop: their requests byte for byte, their outcomes, and both reached by name through IDispatch.
#include "tests/client/wire_test.h"

#include <oleauto.h>

#include <string>
#include <vector>

namespace
{

using DeleteNoopTest = GWireTest;

// Calls a member by name through IDispatch, the way a script does.
struct GInvoked
{
    HRESULT hr = E_UNEXPECTED;
    HRESULT hrException = S_OK;
    std::wstring sSource;
    std::wstring sDescription;
};

GInvoked InvokeByName(IHarbinet* pHarbinet, const wchar_t* szMember, std::vector<VARIANT> vecArguments)
{
    GInvoked invoked;
    DISPID nDispId = 0;
    LPOLESTR szName = const_cast<LPOLESTR>(szMember);
    invoked.hr = pHarbinet->GetIDsOfNames(IID_NULL, &szName, 1, LOCALE_USER_DEFAULT, &nDispId);
    if (FAILED(invoked.hr))
        return invoked;
    DISPPARAMS params = {vecArguments.empty() ? nullptr : vecArguments.data(), nullptr,
                         static_cast<UINT>(vecArguments.size()), 0};
    VARIANT varResult;
    VariantInit(&varResult);
    EXCEPINFO exception = {};
    UINT nArgumentError = 0;
    invoked.hr = pHarbinet->Invoke(nDispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &varResult,
                                   &exception, &nArgumentError);
    VariantClear(&varResult);
    if (invoked.hr == DISP_E_EXCEPTION)
    {
        invoked.hrException = exception.scode;
        if (exception.bstrSource != nullptr)
            invoked.sSource = exception.bstrSource;
        if (exception.bstrDescription != nullptr)
            invoked.sDescription = exception.bstrDescription;
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return invoked;
}

TEST_F(DeleteNoopTest, DeleteSendsItsRequestByteForByte)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Delete(L"user42"));
    EXPECT_EQ("POST /del HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: user42\r\n"
              "\r\n",
              ReceivedWhenDone());
}

TEST_F(DeleteNoopTest, NoopSendsItsRequestByteForByte)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(L"ping me"));
    EXPECT_EQ("POST /nop HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: ping me\r\n"
              "\r\n",
              ReceivedWhenDone());
}

TEST_F(DeleteNoopTest, NullNamesSendAnEmptyNameHeader)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Delete(nullptr));
    EXPECT_EQ(S_OK, Noop(nullptr));
    EXPECT_EQ("POST /del HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: \r\n"
              "\r\n"
              "POST /nop HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: \r\n"
              "\r\n",
              ReceivedWhenDone());
}

// Names go out in the thread's ANSI code page, byte for byte.
TEST_F(DeleteNoopTest, NameIsSentInTheThreadCodePage)
{
    GThreadLocaleScope locale(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    ASSERT_TRUE(locale.IsSet());
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Delete(L"Gr\u00FC\u00DFe \u00E0 tous"));
    EXPECT_EQ("POST /del HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: Gr\xFC\xDF" "e \xE0 tous\r\n"
              "\r\n",
              ReceivedWhenDone());
}

TEST_F(DeleteNoopTest, NoopWithoutArgumentThroughIDispatchSendsAnEmptyName)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    const GInvoked invoked = InvokeByName(m_pHarbinet, L"Noop", {});
    EXPECT_EQ("0x00000000", HResultText(invoked.hr));
    EXPECT_EQ(g_szNoopEmpty, ReceivedWhenDone());
}

TEST_F(DeleteNoopTest, DeleteThroughIDispatchSendsTheName)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    VARIANT varName;
    varName.vt = VT_BSTR;
    varName.bstrVal = SysAllocString(L"user42");
    const GInvoked invoked = InvokeByName(m_pHarbinet, L"delete", {varName});
    VariantClear(&varName);
    EXPECT_EQ("0x00000000", HResultText(invoked.hr));
    EXPECT_EQ("POST /del HTTP/1.1\r\n"
              "host: 127.0.0.1\r\n"
              "content-length: 0\r\n"
              "x-param-name: user42\r\n"
              "\r\n",
              ReceivedWhenDone());
}

// A caller through IDispatch gets the code, source and message as exception information.
TEST_F(DeleteNoopTest, FailureThroughIDispatchCarriesSourceAndDescription)
{
    const GInvoked closed = InvokeByName(m_pHarbinet, L"Noop", {});
    EXPECT_EQ("0x80020009", HResultText(closed.hr));
    EXPECT_EQ("0x80040206", HResultText(closed.hrException));
    EXPECT_EQ(L"Harbinet", closed.sSource);
    EXPECT_EQ(L"HTTP error.", closed.sDescription);

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: not here\r\ncontent-length: 0\r\n\r\n");
    VARIANT varName;
    varName.vt = VT_BSTR;
    varName.bstrVal = SysAllocString(L"absent");
    const GInvoked failed = InvokeByName(m_pHarbinet, L"Delete", {varName});
    VariantClear(&varName);
    EXPECT_EQ("0x80020009", HResultText(failed.hr));
    EXPECT_EQ("0x80040207", HResultText(failed.hrException));
    EXPECT_EQ(L"Harbinet", failed.sSource);
    EXPECT_EQ(L"not here", failed.sDescription);
    EXPECT_TRUE(m_server.WaitDone());
}

TEST_F(DeleteNoopTest, DeleteOnClosedObjectReportsHttpError)
{
    EXPECT_TRUE(IsReported(Delete(L"user42"), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Delete(L"user42"), "0x80040206", L"HTTP error."));
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, m_pHarbinet->Close());
    EXPECT_TRUE(IsReported(Delete(L"user42"), "0x80040206", L"HTTP error."));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    EXPECT_EQ("", ReceivedWhenDone());
}

// A non-zero code to del fails and closes: Open must come before the next command.
TEST_F(DeleteNoopTest, DeleteAnsweredWithCode1FailsAndCloses)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nx-result-reason: no such name\r\ncontent-length: 0\r\n\r\n");
    EXPECT_TRUE(IsReported(Delete(L"user42"), "0x80040207", L"no such name"));
    EXPECT_TRUE(IsReported(Delete(L"user43"), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 1\r\ncontent-length: 0\r\n\r\n");
    EXPECT_TRUE(IsReported(Delete(L"user44"), "0x80040207", L"Unknown x-result-code."));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));

    ASSERT_EQ(S_OK, OpenFake());
    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Delete(L"user45"));
    EXPECT_EQ("POST /del HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: user42\r\n\r\n"
              "POST /del HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: user44\r\n\r\n"
              "POST /del HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: user45\r\n\r\n",
              ReceivedWhenDone());
    EXPECT_EQ(3, m_server.Connections());
}

TEST_F(DeleteNoopTest, NoopAnsweredWithStatus404FailsAndCloses)
{
    ASSERT_EQ(S_OK, OpenFake("/wrong"));
    m_server.Answer("HTTP/1.1 404 Not Found\r\nx-result-reason: no such path\r\ncontent-length: 9\r\n\r\nnot found");
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"404 Not Found"));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    EXPECT_EQ("POST /wrongnop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n",
              ReceivedWhenDone());
}

// A non-empty body is read off and thrown away; the next command reads its own reply.
TEST_F(DeleteNoopTest, ReplyBodyIsDiscardedAndTheNextReplyReadFromItsStart)
{
    ASSERT_EQ(S_OK, OpenFake());
    m_server.AnswerInSegments({"HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 30\r\n\r\n",
                               "HTTP/1.1 200 OK\r\nx-result-code"},
                              10);
    EXPECT_EQ(S_OK, Delete(L"a"));
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 3\r\nx-result-reason: own reply\r\ncontent-length: 0\r\n\r\n");
    EXPECT_TRUE(IsReported(Noop(L"b"), "0x80040207", L"own reply"));
    EXPECT_EQ("POST /del HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: a\r\n\r\n"
              "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: b\r\n\r\n",
              ReceivedWhenDone());
}

// Noop reads its reply like every command: a cookie in it is taken.
TEST_F(DeleteNoopTest, CookieInADeleteOrNoopReplyIsTaken)
{
    ASSERT_EQ(S_OK, OpenFake());
    EXPECT_EQ(S_OK, NoopAgainst("HTTP/1.1 200 OK\r\nx-result-code: 0\r\nset-cookie: fromnop\r\ncontent-length: 0\r\n\r\n"));
    EXPECT_EQ(L"fromnop", GetCookie().sText);
    m_server.Answer("HTTP/1.1 200 OK\r\nx-result-code: 1\r\nset-cookie: fromdel\r\ncontent-length: 0\r\n\r\n");
    EXPECT_TRUE(IsReported(Delete(L"x"), "0x80040207", L"Unknown x-result-code."));
    EXPECT_EQ(L"fromdel", GetCookie().sText);
    EXPECT_TRUE(m_server.WaitDone());
}

}   // namespace
