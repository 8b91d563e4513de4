// GWireTest and the checks that the wire tests share.
#include "tests/client/wire_test.h"

#include <oleauto.h>

#include <chrono>
#include <cstdio>

std::string HResultText(HRESULT hr)
{
    char szText[16];
    std::snprintf(szText, sizeof szText, "0x%08lX", static_cast<unsigned long>(hr));
    return szText;
}

std::wstring WidenAscii(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

namespace
{
// Error texts are ASCII in these tests; anything else shows as \u escapes.
std::string Printable(const std::wstring& s)
{
    std::string sOut;
    for (wchar_t ch : s)
    {
        if (ch >= 0x20 && ch < 0x7F)
        {
            sOut += static_cast<char>(ch);
        }
        else
        {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04X", static_cast<unsigned>(ch));
            sOut += szEscape;
        }
    }
    return sOut;
}
}   // namespace

testing::AssertionResult IsReported(HRESULT hr, const char* szExpectedCode, const std::wstring& sDescription)
{
    return IsReportedBy(hr, szExpectedCode, L"Harbinet", sDescription);
}

testing::AssertionResult IsReportedBy(HRESULT hr, const char* szExpectedCode, const std::wstring& sSource,
                                      const std::wstring& sDescription)
{
    const GErrorText error = TakeErrorInfo();
    const std::string sCode = HResultText(hr);
    if (sCode == szExpectedCode && error.sSource == sSource && error.sDescription == sDescription)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
        << "expected " << szExpectedCode << " \"" << Printable(sSource) << "\" \"" << Printable(sDescription)
        << "\", got " << sCode
        << " \"" << Printable(error.sSource) << "\" \"" << Printable(error.sDescription) << "\"";
}

testing::AssertionResult HasNoErrorInfo()
{
    IErrorInfo* pInfo = nullptr;
    const HRESULT hr = GetErrorInfo(0, &pInfo);
    if (pInfo == nullptr)
        return testing::AssertionSuccess();
    BSTR bstrDescription = nullptr;
    pInfo->GetDescription(&bstrDescription);
    const std::wstring sDescription = bstrDescription == nullptr ? L"" : bstrDescription;
    SysFreeString(bstrDescription);
    pInfo->Release();
    return testing::AssertionFailure() << "error information present (" << HResultText(hr) << "): \""
                                       << Printable(sDescription) << "\"";
}

bool IsLowerHex32(const std::wstring& s)
{
    if (s.size() != 32)
        return false;
    for (wchar_t ch : s)
    {
        if (!((ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f')))
            return false;
    }
    return true;
}

int FindClosedPort()
{
    const SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int nLength = sizeof address;
    int nPort = 0;
    if (bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && getsockname(sock, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
        nPort = ntohs(address.sin_port);
    closesocket(sock);
    return nPort;
}

GThreadLocaleScope::GThreadLocaleScope(LANGID nLanguage) : m_nOld(GetThreadLocale())
{
    m_bSet = SetThreadLocale(MAKELCID(nLanguage, SORT_DEFAULT)) != FALSE;
}

GThreadLocaleScope::~GThreadLocaleScope()
{
    SetThreadLocale(m_nOld);
}

GHangWatch::GHangWatch(int nSeconds)
{
    const testing::TestInfo* pInfo = testing::UnitTest::GetInstance()->current_test_info();
    std::string sTest = pInfo == nullptr ? "?" : std::string(pInfo->test_suite_name()) + "." + pInfo->name();
    m_thread = std::thread([this, nSeconds, sTest] {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_cv.wait_for(lock, std::chrono::seconds(nSeconds), [this] { return m_bDone; }))
            return;
        std::fprintf(stderr, "\n%s has not finished within %d s: stopping the test program\n", sTest.c_str(),
                     nSeconds);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    });
}

GHangWatch::~GHangWatch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDone = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void GWireTest::SetUp()
{
    m_pHarbinet = GHarbinetModule::Instance().CreateHarbinet();
    ASSERT_NE(nullptr, m_pHarbinet);
    ClearErrorInfo();
}

void GWireTest::TearDown()
{
    if (m_pHarbinet != nullptr)
    {
        EXPECT_EQ(0u, m_pHarbinet->Release());
    }
    m_pHarbinet = nullptr;
    EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
    ClearErrorInfo();
}

HRESULT GWireTest::Open(const std::string& sUrl)
{
    return Open(WidenAscii(sUrl).c_str());
}

HRESULT GWireTest::Open(const wchar_t* szUrl)
{
    GTestBstr bstrUrl(szUrl);
    return m_pHarbinet->Open(szUrl == nullptr ? nullptr : static_cast<BSTR>(bstrUrl));
}

HRESULT GWireTest::OpenFake(const char* szPath)
{
    return Open(m_server.Url(szPath));
}

HRESULT GWireTest::ReopenFake(const char* szPath)
{
    m_pHarbinet->Close();
    return OpenFake(szPath);
}

HRESULT GWireTest::Noop(const wchar_t* szName)
{
    GTestBstr bstrName(szName);
    return m_pHarbinet->Noop(szName == nullptr ? nullptr : static_cast<BSTR>(bstrName));
}

HRESULT GWireTest::Delete(const wchar_t* szName)
{
    GTestBstr bstrName(szName);
    return m_pHarbinet->Delete(szName == nullptr ? nullptr : static_cast<BSTR>(bstrName));
}

HRESULT GWireTest::PutCookie(const wchar_t* szCookie)
{
    GTestBstr bstrCookie(szCookie);
    return m_pHarbinet->put_Cookie(szCookie == nullptr ? nullptr : static_cast<BSTR>(bstrCookie));
}

GCookie GWireTest::GetCookie()
{
    GCookie cookie;
    BSTR bstrCookie = nullptr;
    EXPECT_EQ(S_OK, m_pHarbinet->get_Cookie(&bstrCookie));
    if (bstrCookie != nullptr)
    {
        cookie.bNull = false;
        cookie.sText.assign(bstrCookie, SysStringLen(bstrCookie));
    }
    SysFreeString(bstrCookie);
    return cookie;
}

HRESULT GWireTest::NoopAgainst(const std::string& sReply)
{
    m_server.Answer(sReply);
    return Noop(L"");
}

std::string GWireTest::ReceivedWhenDone()
{
    EXPECT_TRUE(m_server.WaitDone());
    return m_server.Received();
}
