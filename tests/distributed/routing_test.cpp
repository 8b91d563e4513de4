// Routing against three real servers: each value is read back from every server to see which one got it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/client/wire_test.h"
#include "tests/distributed/real_servers.h"

namespace
{

class RoutingTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_servers.IsConfigured())
            GTEST_SKIP() << "HARBINET_DISTRIBUTED_PORT is not set";
    }

    IHarbinet* Open(const wchar_t* szCookie)
    {
        IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateDistributed();
        GTestBstr bstrList(m_servers.List().c_str());
        EXPECT_EQ(S_OK, pHarbinet->Open(bstrList));
        if (szCookie != nullptr)
        {
            GTestBstr bstrCookie(szCookie);
            pHarbinet->put_Cookie(bstrCookie);
        }
        return pHarbinet;
    }

    // The servers that hold the name in the cookie's space.
    std::vector<int> Holders(const wchar_t* szCookie, const std::wstring& sName) const
    {
        std::vector<int> vecHolders;
        for (int i = 0; i < GRealServers::COUNT; ++i)
        {
            if (m_servers.Holds(i, szCookie, sName.c_str()))
                vecHolders.push_back(i);
        }
        return vecHolders;
    }

    GHangWatch m_hangWatch{120};
    GRealServers m_servers;
};

HRESULT SetText(IHarbinet* pHarbinet, const std::wstring& sName, const wchar_t* szValue)
{
    GTestBstr bstrName(sName.c_str());
    VARIANT varValue;
    varValue.vt = VT_BSTR;
    varValue.bstrVal = SysAllocString(szValue);
    VARIANT_BOOL bSet = VARIANT_FALSE;
    const HRESULT hr = pHarbinet->Set(bstrName, &varValue, 0, &bSet);
    VariantClear(&varValue);
    return FAILED(hr) || bSet == VARIANT_TRUE ? hr : S_FALSE;
}

std::wstring CookieText(IHarbinet* pHarbinet)
{
    BSTR bstrCookie = nullptr;
    pHarbinet->get_Cookie(&bstrCookie);
    std::wstring s = bstrCookie == nullptr ? L"" : bstrCookie;
    SysFreeString(bstrCookie);
    return s;
}

// abc sums to 294: 294 mod 3 = 0; abd to 1, abe to 2; the order of letters does not count.
TEST_F(RoutingTest, ACallGoesToTheEntryThatItsCookieOrElseItsNamePicks)
{
    struct GCase
    {
        const wchar_t* szCookie;
        const wchar_t* szName;
        int nServer;
    };
    const GCase aCases[] = {
        {nullptr, L"abd", 1},
        {nullptr, L"abe", 2},
        {nullptr, L"eba", 2},
        {L"k", L"abc", 2},   // k is 107: every name of this cookie goes to the third entry
        {L"k", L"abd", 2},
        {L"k", L"", 2},
        {L"kk", L"abe", 1},  // 214
    };
    for (const GCase& c : aCases)
    {
        const std::wstring sName = c.szName;
        SCOPED_TRACE(testing::Message() << "case " << (&c - aCases));
        IHarbinet* pHarbinet = Open(c.szCookie);
        const int nServer = c.nServer;
        EXPECT_EQ(S_OK, SetText(pHarbinet, sName, L"v"));
        EXPECT_EQ(std::vector<int>{nServer}, Holders(c.szCookie, sName));
        if (c.szCookie == nullptr)
        {
            GTestBstr bstrName(sName.c_str());
            VARIANT varValue;
            VariantInit(&varValue);
            VARIANT_BOOL bFound = VARIANT_FALSE;
            EXPECT_EQ(S_OK, pHarbinet->Get(bstrName, &varValue, &bFound));
            EXPECT_EQ(VARIANT_TRUE, bFound);
            VariantClear(&varValue);
            EXPECT_EQ(S_OK, pHarbinet->Delete(bstrName));
            EXPECT_TRUE(Holders(nullptr, sName).empty());
        }
        EXPECT_EQ(0u, pHarbinet->Release());
    }
}

// Without a cookie the empty name hashes to 0 and goes to the first entry, whose server
// hands out a cookie: from then on the object follows that cookie's hash.
TEST_F(RoutingTest, ACookieFromTheServerMovesTheObjectToItsEntry)
{
    bool bMoved = false;
    for (int nTry = 0; nTry < 20 && !bMoved; ++nTry)
    {
        IHarbinet* pHarbinet = Open(nullptr);
        EXPECT_EQ(S_OK, SetText(pHarbinet, L"", L"first"));
        const std::wstring sCookie = CookieText(pHarbinet);
        ASSERT_EQ(32u, sCookie.size());
        EXPECT_EQ(std::vector<int>{0}, Holders(sCookie.c_str(), L""));
        const int nServer = static_cast<int>(NameHashOf(sCookie) % 3);
        EXPECT_EQ(S_OK, SetText(pHarbinet, L"later", L"second"));
        EXPECT_EQ(std::vector<int>{nServer}, Holders(sCookie.c_str(), L"later"));
        bMoved = nServer != 0;
        EXPECT_EQ(0u, pHarbinet->Release());
    }
    EXPECT_TRUE(bMoved);
}

}   // namespace
