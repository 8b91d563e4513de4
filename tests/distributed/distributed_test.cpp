// GDistributedTest and the helpers of the distributed tests.
#include "tests/distributed/distributed_test.h"

std::string Bodiless(const char* szCommand, const std::string& sName, const char* szCookie)
{
    return std::string("POST /") + szCommand + " HTTP/1.1\r\n"
           "host: 127.0.0.1\r\n"
           "content-length: 0\r\n"
           + (szCookie == nullptr ? std::string() : "cookie: " + std::string(szCookie) + "\r\n")
           + "x-param-name: " + sName + "\r\n"
           "\r\n";
}

void GDistributedTest::SetUp()
{
    ClearErrorInfo();
}

void GDistributedTest::TearDown()
{
    for (IHarbinet* pHarbinet : m_vecObjects)
        EXPECT_EQ(0u, pHarbinet->Release());
    m_vecObjects.clear();
    ClearErrorInfo();
}

IHarbinet* GDistributedTest::Make()
{
    IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateDistributed();
    EXPECT_NE(nullptr, pHarbinet);
    if (pHarbinet != nullptr)
        m_vecObjects.push_back(pHarbinet);
    return pHarbinet;
}

IHarbinet* GDistributedTest::OpenOn(const std::wstring& sList)
{
    IHarbinet* pHarbinet = Make();
    GTestBstr bstrList(sList.c_str());
    EXPECT_EQ(S_OK, pHarbinet->Open(bstrList));
    return pHarbinet;
}

std::string GDistributedTest::ReceivedWhenDone()
{
    EXPECT_TRUE(m_server.WaitDone());
    return m_server.Received();
}

GCookie CookieOf(IHarbinet* pHarbinet)
{
    GCookie cookie;
    BSTR bstrCookie = nullptr;
    EXPECT_EQ(S_OK, pHarbinet->get_Cookie(&bstrCookie));
    cookie.bNull = bstrCookie == nullptr;
    if (bstrCookie != nullptr)
        cookie.sText.assign(bstrCookie, SysStringLen(bstrCookie));
    SysFreeString(bstrCookie);
    return cookie;
}
