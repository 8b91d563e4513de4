// The fake-server fixture of the value wire tests.
#include "tests/values/wire_fixture.h"

const char* const REPLY_STORED = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n";
const char* const REPLY_NOT_STORED = "HTTP/1.1 200 OK\r\nx-result-code: 1\r\ncontent-length: 0\r\n\r\n";
const char* const REPLY_NOT_FOUND = "HTTP/1.1 200 OK\r\nx-result-code: 1\r\ncontent-length: 0\r\n\r\n";
const char* const REPLY_DONE = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-length: 0\r\n\r\n";

namespace
{
// Answers a Noop that must never be sent; its status tells the two cases apart.
const char* const REPLY_GUARD = "HTTP/1.1 299 Guard\r\ncontent-length: 0\r\n\r\n";

// A scalar's image goes out as a VARIANT of the module's width holds it.
bool IsScalarImage(const std::string& sType, const std::string& sBody)
{
    return sBody.size() == 24 && sType != "8" && sType != "9" && sType != "13" && sType != "8204" && sType != "8209";
}
}

std::string FoundReply(const char* szContentType, const char* szLength, const std::string& sBody)
{
    std::string s = "HTTP/1.1 200 OK\r\nx-result-code: 0\r\n";
    if (szContentType != nullptr)
        s += std::string("content-type: ") + szContentType + "\r\n";
    if (szLength != nullptr)
        s += std::string("content-length: ") + szLength + "\r\n";
    return s + "\r\n" + sBody;
}

std::string FoundReply(const char* szContentType, const std::string& sBody)
{
    return FoundReply(szContentType, std::to_string(sBody.size()).c_str(), sBody);
}

std::string SetRequest(const char* szName, const char* szType, const char* szLength, const std::string& sBody,
                       const char* szTimeout)
{
    return std::string("POST /set HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-type: application/x-variant-") + szType
         + "\r\ncontent-length: " + szLength + "\r\nx-param-name: " + szName + "\r\nx-param-timeout: " + szTimeout
         + "\r\n\r\n" + (IsScalarImage(szType, sBody) ? ImageKept(sBody) : sBody);
}

std::string GetRequest(const char* szName)
{
    return std::string("POST /get HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: ") + szName
         + "\r\n\r\n";
}

std::string NopRequest()
{
    return "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n";
}

void GValueWireTest::SetUp()
{
    m_pObject = GHarbinetModule::Instance().CreateHarbinet();
    ASSERT_NE(nullptr, m_pObject);
    ASSERT_EQ(S_OK, Open());
}

void GValueWireTest::TearDown()
{
    if (m_pObject != nullptr)
    {
        EXPECT_EQ(0u, m_pObject->Release());
    }
    m_pObject = nullptr;
    EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
}

HRESULT GValueWireTest::Open()
{
    const std::string sUrl = m_server.Url();
    GTestBstr bstrUrl(std::wstring(sUrl.begin(), sUrl.end()).c_str());
    return m_pObject->Open(bstrUrl);
}

HRESULT GValueWireTest::Set(const wchar_t* szName, VARIANT& var, long nTimeout, VARIANT_BOOL* pSet)
{
    GTestBstr bstrName(szName);
    return m_pObject->Set(bstrName, &var, nTimeout, pSet);
}

HRESULT GValueWireTest::Get(const wchar_t* szName, VARIANT& var, VARIANT_BOOL* pFound)
{
    GTestBstr bstrName(szName);
    return m_pObject->Get(bstrName, &var, pFound);
}

void GValueWireTest::ExpectFailure(HRESULT hrExpected, const wchar_t* szDescription, HRESULT hr)
{
    EXPECT_EQ(hrExpected, hr);
    const GErrorText text = TakeErrorInfo();
    EXPECT_EQ(L"Harbinet", text.sSource);
    EXPECT_EQ(szDescription, text.sDescription);
}

void GValueWireTest::GuardAgainstRequests()
{
    EXPECT_TRUE(m_server.WaitDone());
    m_server.Answer(REPLY_DONE);
}

void GValueWireTest::ExpectClosed(bool bGuarded)
{
    if (!bGuarded)
    {
        ASSERT_TRUE(m_server.WaitDone());
        m_server.Answer(REPLY_GUARD);
    }
    ClearErrorInfo();
    const HRESULT hr = m_pObject->Noop(nullptr);
    const GErrorText text = TakeErrorInfo();
    EXPECT_EQ(HR_HTTP, hr);
    EXPECT_EQ(L"HTTP error.", text.sDescription) << "the object was still open";
    if (text.sDescription == L"HTTP error.")
    {
        // The queued answer is still waiting: a fresh connection takes it.
        ASSERT_EQ(S_OK, Open());
        m_pObject->Noop(nullptr);
        TakeErrorInfo();
        m_pObject->Close();
    }
    EXPECT_TRUE(m_server.WaitDone());
}

void GValueWireTest::TakeCutRequest()
{
    m_server.Answer(std::string());
    EXPECT_TRUE(m_server.WaitDone());
}

void GValueWireTest::ExpectOpen()
{
    m_server.Answer(REPLY_DONE);
    EXPECT_EQ(S_OK, m_pObject->Noop(nullptr));
    const std::vector<std::string> vecRequests = Requests();
    ASSERT_FALSE(vecRequests.empty());
    EXPECT_EQ(NopRequest(), vecRequests.back());
}

void GValueWireTest::ExpectOpenWithNothingSent()
{
    EXPECT_EQ(S_OK, m_pObject->Noop(nullptr));
    EXPECT_EQ(std::vector<std::string>{NopRequest()}, Requests());
    EXPECT_EQ(NopRequest(), Received());
}

std::vector<std::string> GValueWireTest::Requests()
{
    EXPECT_TRUE(m_server.WaitDone());
    return m_server.Requests();
}

std::string GValueWireTest::Received()
{
    EXPECT_TRUE(m_server.WaitDone());
    return m_server.Received();
}
