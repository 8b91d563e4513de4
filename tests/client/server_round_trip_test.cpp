// Open, Close, Delete, Noop and the cookie against a real harbinet-server on loopback.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/client/wire_test.h"

namespace
{

// The server's URL comes from the test runner; it ends in the base path "/".
std::wstring ServerUrl(const char* szPath = "/")
{
    const char* szUrl = std::getenv("HARBINET_TEST_URL");
    std::string sUrl = szUrl == nullptr ? "" : szUrl;
    if (!sUrl.empty() && sUrl.back() == '/')
        sUrl.pop_back();
    return WidenAscii(sUrl + szPath);
}

class ServerRoundTripTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, std::getenv("HARBINET_TEST_URL"));
        m_pHarbinet = GHarbinetModule::Instance().CreateHarbinet();
        ASSERT_NE(nullptr, m_pHarbinet);
        ClearErrorInfo();
    }

    void TearDown() override
    {
        if (m_pHarbinet != nullptr)
        {
            EXPECT_EQ(0u, m_pHarbinet->Release());
        }
        EXPECT_EQ(S_OK, GHarbinetModule::Instance().CanUnloadNow());
    }

    HRESULT Open(const std::wstring& sUrl) { return m_pHarbinet->Open(GTestBstr(sUrl.c_str())); }
    HRESULT Noop(const wchar_t* szName) { return m_pHarbinet->Noop(GTestBstr(szName)); }
    HRESULT Delete(const wchar_t* szName) { return m_pHarbinet->Delete(GTestBstr(szName)); }

    GHangWatch m_hangWatch{60};
    IHarbinet* m_pHarbinet = nullptr;
};

TEST_F(ServerRoundTripTest, NoopAndDeleteSucceed)
{
    ASSERT_EQ(S_OK, Open(ServerUrl()));
    EXPECT_EQ(S_OK, Noop(L""));
    EXPECT_EQ(S_OK, m_pHarbinet->Noop(nullptr));
    EXPECT_EQ(S_OK, Delete(L"ServerRoundTripTest never stored this"));
    EXPECT_EQ(S_OK, m_pHarbinet->Delete(nullptr));
    EXPECT_TRUE(IsReported(Open(ServerUrl()), "0x80040200", L"Already connected."));
    EXPECT_EQ(S_OK, Noop(L"still the same connection"));
}

TEST_F(ServerRoundTripTest, ManyExchangesOnOneConnection)
{
    ASSERT_EQ(S_OK, Open(ServerUrl()));
    for (int i = 0; i < 2000; ++i)
    {
        ASSERT_EQ(S_OK, i % 2 == 0 ? Noop(L"n") : Delete(L"d")) << "exchange " << i;
    }
}

TEST_F(ServerRoundTripTest, CookiesGoToTheServer)
{
    ASSERT_EQ(S_OK, m_pHarbinet->put_Cookie(GTestBstr(L"")));
    ASSERT_EQ(S_OK, Open(ServerUrl()));
    EXPECT_EQ(S_OK, Noop(L""));
    ASSERT_EQ(S_OK, m_pHarbinet->put_Cookie(GTestBstr(std::wstring(255, L'c').c_str())));
    EXPECT_EQ(S_OK, Delete(L"x"));
}

// The server refuses a path that is not its base path with 404; the object closes.
TEST_F(ServerRoundTripTest, WrongBasePathReportsTheServersStatus)
{
    ASSERT_EQ(S_OK, Open(ServerUrl("/elsewhere/")));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"404 Not Found"));
    EXPECT_TRUE(IsReported(Noop(L""), "0x80040206", L"HTTP error."));
    ASSERT_EQ(S_OK, Open(ServerUrl()));
    EXPECT_EQ(S_OK, Noop(L""));
}

TEST_F(ServerRoundTripTest, CloseAndOpenAgain)
{
    for (int i = 0; i < 20; ++i)
    {
        ASSERT_EQ(S_OK, Open(ServerUrl()));
        EXPECT_EQ(S_OK, Noop(L""));
        EXPECT_EQ(S_OK, m_pHarbinet->Close());
    }
}

}   // namespace
