// Pools against the scripted fake server: sharing, reuse, idle limits, replacement, fallback and failed checkouts.
#include "tests/distributed/distributed_test.h"

#include <objbase.h>

#include <thread>

namespace
{

using PoolTest = GDistributedTest;

HRESULT Noop(IHarbinet* pHarbinet, const wchar_t* szName)
{
    GTestBstr bstrName(szName);
    return pHarbinet->Noop(bstrName);
}

const std::string g_sProbe = Bodiless("nop", "");
const std::string g_sRefusal = "HTTP/1.1 500 Oops\r\ncontent-length: 0\r\n\r\n";

TEST_F(PoolTest, OneConnectionServesEveryCallAndObjectOfAList)
{
    const std::wstring sList = FakeUrl();
    IHarbinet* pFirst = OpenOn(sList);
    IHarbinet* pSecond = OpenOn(sList);
    for (int i = 0; i < 5; ++i)
        m_server.Answer(g_szReplyOk);

    EXPECT_EQ(S_OK, Noop(pFirst, L"one"));
    GTestBstr bstrTwo(L"two");
    EXPECT_EQ(S_OK, pSecond->Delete(bstrTwo));
    EXPECT_TRUE(HasNoErrorInfo());   // a reused connection's probe reports nothing
    EXPECT_EQ(S_OK, Noop(pFirst, L"three"));

    // The pool outlives its objects: a later object on the same text finds the connection.
    EXPECT_EQ(0u, pFirst->Release());
    EXPECT_EQ(0u, pSecond->Release());
    m_vecObjects.clear();
    EXPECT_EQ(S_OK, Noop(OpenOn(sList), L"four"));

    EXPECT_EQ(g_sProbe + Bodiless("nop", "one") + Bodiless("del", "two") + Bodiless("nop", "three")
                  + Bodiless("nop", "four"),
              ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

TEST_F(PoolTest, ListTextsThatDifferInAnyWayHaveTheirOwnPools)
{
    const std::wstring sOther = WidenAscii(m_server.Url("/b/"));
    const std::wstring aLists[] = {
        FakeUrl("/a/"),
        FakeUrl("/A/"),                  // letter case
        FakeUrl("/a/") + L"|256",        // an idle-limit suffix, even the default one
        FakeUrl("/a/") + L";",           // the same entries
        FakeUrl("/a/") + L";" + sOther,  // order of the entries
        sOther + L";" + FakeUrl("/a/"),
    };
    int nConnections = 0;
    for (const std::wstring& sList : aLists)
    {
        m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
        EXPECT_EQ(S_OK, Noop(OpenOn(sList), L""));
        EXPECT_TRUE(m_server.WaitDone());
        EXPECT_EQ(++nConnections, m_server.Connections());
    }
}

TEST_F(PoolTest, IdleLimitZeroOpensAndClosesAConnectionForEveryCall)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl() + L"|0");
    for (int i = 0; i < 4; ++i)
        m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"a"));
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"b"));
    EXPECT_EQ(g_sProbe + Bodiless("nop", "a") + g_sProbe + Bodiless("nop", "b"), ReceivedWhenDone());
    EXPECT_EQ(2, m_server.Connections());
    EXPECT_EQ(2, m_server.WaitClientCloses(2));
}

// Both calls hold a connection at once: the server takes no request until the second
// connection has come. The first one given back is kept, the second closed.
TEST_F(PoolTest, IdleLimitOneKeepsOneOfTwoOverlappingConnections)
{
    const std::wstring sList = FakeUrl() + L"|1";
    m_server.Accept().Accept();
    for (int i = 0; i < 4; ++i)
        m_server.Answer(g_szReplyOk);
    HRESULT aResults[2] = {E_UNEXPECTED, E_UNEXPECTED};
    auto call = [&sList](HRESULT* pResult) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateDistributed();
        GTestBstr bstrList(sList.c_str());
        pHarbinet->Open(bstrList);
        *pResult = Noop(pHarbinet, L"x");
        pHarbinet->Release();
        CoUninitialize();
    };
    std::thread first(call, &aResults[0]);
    std::thread second(call, &aResults[1]);
    first.join();
    second.join();
    EXPECT_EQ(S_OK, aResults[0]);
    EXPECT_EQ(S_OK, aResults[1]);
    EXPECT_EQ(1, m_server.WaitClientCloses(1));

    m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(OpenOn(sList), L"y"));
    EXPECT_TRUE(m_server.WaitDone());
    EXPECT_EQ(2, m_server.Connections());
}

TEST_F(PoolTest, IdleConnectionThatTheServerClosedIsReplaced)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl());
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk).CloseNow();
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"a"));
    ASSERT_TRUE(m_server.WaitDone());

    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"b"));
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ(g_sProbe + Bodiless("nop", "a") + g_sProbe + Bodiless("nop", "b"), ReceivedWhenDone());
    EXPECT_EQ(2, m_server.Connections());
}

TEST_F(PoolTest, FallbackServesWhileThePrimaryIsDownAndIsKept)
{
    const std::wstring sPrimary = L"http://127.0.0.1:" + std::to_wstring(FindClosedPort()) + L"/";
    IHarbinet* pHarbinet = OpenOn(sPrimary + L"," + FakeUrl());
    for (int i = 0; i < 3; ++i)
        m_server.Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"a"));
    EXPECT_TRUE(HasNoErrorInfo());   // the primary's failure is not the call's
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"b"));
    EXPECT_EQ(g_sProbe + Bodiless("nop", "a") + Bodiless("nop", "b"), ReceivedWhenDone());
    EXPECT_EQ(1, m_server.Connections());
}

TEST_F(PoolTest, FailedCallDropsItsConnection)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl());
    m_server.Answer(g_szReplyOk).Answer(g_sRefusal);
    EXPECT_TRUE(IsReported(Noop(pHarbinet, L"a"), "0x80040206", L"500 Oops"));
    EXPECT_EQ(1, m_server.WaitClientCloses(1));

    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"b"));
    EXPECT_EQ(g_sProbe + Bodiless("nop", "a") + g_sProbe + Bodiless("nop", "b"), ReceivedWhenDone());
    EXPECT_EQ(2, m_server.Connections());
}

// Without a fallback the primary's own failure is the call's; with one, the fallback's.
TEST_F(PoolTest, FailedCheckoutReturnsTheFailureOfTheLastURLTried)
{
    const std::wstring sDown = L"http://127.0.0.1:" + std::to_wstring(FindClosedPort()) + L"/";
    struct GCase
    {
        const char* szWhy;
        std::wstring sList;
        bool bRefuseProbe;
        const char* szCode;
        const wchar_t* szDescription;
    };
    const GCase aCases[] = {
        {"primary down", sDown + L"|3", false, "0x80040205", L"Connect error."},
        {"probe refused", FakeUrl("/refuse/"), true, "0x80040206", L"500 Oops"},
        {"primary and fallback down", sDown + L"," + sDown, false, "0x80040205", L"Connect error."},
        {"fallback no URL", sDown + L",nowhere", false, "0x80040202", L"Invalid URL."},
        {"no entries", L"", false, "0x80040202", L"Invalid URL."},
        {"one empty entry", L";", false, "0x80040202", L"Invalid URL."},
    };
    for (const GCase& c : aCases)
    {
        SCOPED_TRACE(c.szWhy);
        IHarbinet* pHarbinet = OpenOn(c.sList);
        GTestBstr bstrCookie(L"kept");
        pHarbinet->put_Cookie(bstrCookie);
        if (c.bRefuseProbe)
            m_server.Answer(g_sRefusal);
        EXPECT_TRUE(IsReported(Noop(pHarbinet, L"a"), c.szCode, c.szDescription));
        EXPECT_EQ(L"kept", CookieOf(pHarbinet).sText);
        EXPECT_TRUE(m_server.WaitDone());
    }
}

// A hand-over that fails sets nothing of its own; what an earlier successful checkout
// did must not show through either.
TEST_F(PoolTest, CookieTooLongForTheWireFailsWithoutErrorInformationAndDropsTheConnection)
{
    IHarbinet* pHarbinet = OpenOn(FakeUrl());
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"a"));
    ClearErrorInfo();

    const std::wstring sLong(256, L'c');
    GTestBstr bstrLong(sLong.c_str());
    EXPECT_EQ(S_OK, pHarbinet->put_Cookie(bstrLong));
    EXPECT_EQ(E_FAIL, Noop(pHarbinet, L"b"));
    EXPECT_TRUE(HasNoErrorInfo());
    EXPECT_EQ(sLong, CookieOf(pHarbinet).sText);
    EXPECT_EQ(1, m_server.WaitClientCloses(1));
    EXPECT_EQ(g_sProbe + Bodiless("nop", "a"), ReceivedWhenDone());
}

// A second copy of the library, so that this test can unload it: its pools, with their
// idle connections, go when it stops, while the socket library is still there to close them.
TEST_F(PoolTest, UnloadingTheLibraryClosesTheIdleConnectionsOfItsPools)
{
    const std::wstring sPath = GHarbinetModule::Instance().Path();
    const std::wstring sCopy = sPath.substr(0, sPath.find_last_of(L"\\/") + 1) + L"harbinet_unload_copy.dll";
    ASSERT_TRUE(CopyFileW(sPath.c_str(), sCopy.c_str(), FALSE));
    HMODULE hModule = LoadLibraryW(sCopy.c_str());
    ASSERT_NE(nullptr, hModule);
    using PfnGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using PfnCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto pfnGetClassObject = reinterpret_cast<PfnGetClassObject>(GetProcAddress(hModule, "DllGetClassObject"));
    auto pfnCanUnloadNow = reinterpret_cast<PfnCanUnloadNow>(GetProcAddress(hModule, "DllCanUnloadNow"));
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(S_OK, pfnGetClassObject(CLSID_Harbinet_Distributed, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)));
    IHarbinet* pHarbinet = nullptr;
    ASSERT_EQ(S_OK, pFactory->CreateInstance(nullptr, IID_IHarbinet, reinterpret_cast<void**>(&pHarbinet)));
    pFactory->Release();

    GTestBstr bstrList(FakeUrl().c_str());
    EXPECT_EQ(S_OK, pHarbinet->Open(bstrList));
    m_server.Answer(g_szReplyOk).Answer(g_szReplyOk);
    EXPECT_EQ(S_OK, Noop(pHarbinet, L"a"));
    EXPECT_EQ(0u, pHarbinet->Release());
    EXPECT_EQ(S_FALSE, pfnCanUnloadNow());   // the pool keeps its connection, and the library with it
    EXPECT_EQ(0, m_server.WaitClientCloses(1, 100));

    EXPECT_TRUE(FreeLibrary(hModule));
    EXPECT_EQ(1, m_server.WaitClientCloses(1));
    DeleteFileW(sCopy.c_str());
}

}   // namespace
