// Eight apartment threads share one pool over three real servers while one of them is stopped and started again.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/client/wire_test.h"
#include "tests/distributed/real_servers.h"
#include "tests/module/module_count.h"
#include "tests/query/fake_ado.h"

namespace
{

constexpr int THREADS = 8;
constexpr int CALLS_PER_THREAD = 1250;

// Client ends of connections to the servers, as the system's table lists them. Connections
// that a server closed while they waited idle still count: they are in a pool until a
// checkout finds them dead.
int ClientConnections(const GRealServers& servers)
{
    ULONG nSize = 0;
    GetTcpTable(nullptr, &nSize, FALSE);
    std::vector<char> vecBuffer(nSize + 4096);
    nSize = static_cast<ULONG>(vecBuffer.size());
    auto* pTable = reinterpret_cast<MIB_TCPTABLE*>(vecBuffer.data());
    if (GetTcpTable(pTable, &nSize, FALSE) != NO_ERROR)
        return -1;
    int nCount = 0;
    for (DWORD i = 0; i < pTable->dwNumEntries; ++i)
    {
        const MIB_TCPROW& row = pTable->table[i];
        const int nRemotePort = ntohs(static_cast<u_short>(row.dwRemotePort));
        const bool bToServer = servers.Url(0).find(L":" + std::to_wstring(nRemotePort) + L"/") != std::wstring::npos
            || servers.Url(1).find(L":" + std::to_wstring(nRemotePort) + L"/") != std::wstring::npos
            || servers.Url(2).find(L":" + std::to_wstring(nRemotePort) + L"/") != std::wstring::npos;
        if (bToServer && (row.dwState == MIB_TCP_STATE_ESTAB || row.dwState == MIB_TCP_STATE_CLOSE_WAIT))
            ++nCount;
    }
    return nCount;
}

// What a call may end in while a server goes away and comes back: success, a connection
// that the server refused, or an exchange that it broke off.
bool IsDocumented(HRESULT hr)
{
    return hr == S_OK || hr == static_cast<HRESULT>(0x80040205) || hr == static_cast<HRESULT>(0x80040206);
}

TEST(ThreadTest, ThreadsShareOnePoolWhileAServerRestarts)
{
    GRealServers servers;
    if (!servers.IsConfigured())
        GTEST_SKIP() << "HARBINET_DISTRIBUTED_PORT is not set";
    GHangWatch hangWatch(240);
    const LONG nModuleBefore = ModuleCount();
    const std::wstring sList = servers.List(L"|16");

    std::atomic<int> nCalls{0};
    std::mutex mutex;
    std::map<HRESULT, int> mapResults;
    auto work = [&](int nThread) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IHarbinet* aObjects[2] = {GHarbinetModule::Instance().CreateDistributed(),
                                  GHarbinetModule::Instance().CreateDistributed()};
        GTestBstr bstrList(sList.c_str());
        for (IHarbinet* pHarbinet : aObjects)
            pHarbinet->Open(bstrList);
        std::map<HRESULT, int> mapMine;
        for (int i = 0; i < CALLS_PER_THREAD; ++i)
        {
            IHarbinet* pHarbinet = aObjects[i % 2];
            GTestBstr bstrName((L"t" + std::to_wstring(nThread) + L"-" + std::to_wstring(i % 37)).c_str());
            VARIANT varValue;
            varValue.vt = VT_I4;
            varValue.lVal = i;
            VARIANT_BOOL bFlag = VARIANT_FALSE;
            HRESULT hr = S_OK;
            switch (i % 4)
            {
            case 0: hr = pHarbinet->Set(bstrName, &varValue, 0, &bFlag); break;
            case 1: hr = pHarbinet->Get(bstrName, &varValue, &bFlag); break;
            case 2: hr = pHarbinet->Noop(bstrName); break;
            default: hr = pHarbinet->Delete(bstrName); break;
            }
            VariantClear(&varValue);
            ++mapMine[hr];
            ++nCalls;
        }
        for (IHarbinet* pHarbinet : aObjects)
            pHarbinet->Release();
        CoUninitialize();
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& result : mapMine)
            mapResults[result.first] += result.second;
    };

    std::vector<std::thread> vecThreads;
    for (int i = 0; i < THREADS; ++i)
        vecThreads.emplace_back(work, i);
    // Stopped a third of the way in, started again at two thirds (or when the calls run out).
    const int nTotal = THREADS * CALLS_PER_THREAD;
    while (nCalls < nTotal / 3)
        Sleep(5);
    EXPECT_TRUE(servers.Stop(1));
    while (nCalls < 2 * nTotal / 3)
        Sleep(5);
    EXPECT_TRUE(servers.Start(1));
    for (std::thread& thread : vecThreads)
        thread.join();

    int nCounted = 0;
    for (const auto& result : mapResults)
    {
        std::printf("%s x %d\n", HResultText(result.first).c_str(), result.second);
        EXPECT_TRUE(IsDocumented(result.first)) << HResultText(result.first) << " x " << result.second;
        nCounted += result.second;
    }
    EXPECT_EQ(nTotal, nCounted);
    EXPECT_GT(mapResults[S_OK], nTotal / 2);

    // Every entry serves again once its server is back (one object each: the first
    // server's cookie would route the others).
    for (const wchar_t* szName : {L"abc", L"abd", L"abe"})
    {
        IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateDistributed();
        GTestBstr bstrList(sList.c_str());
        pHarbinet->Open(bstrList);
        GTestBstr bstrName(szName);
        EXPECT_EQ(S_OK, pHarbinet->Noop(bstrName)) << "entry " << (szName[2] - L'c');
        EXPECT_EQ(0u, pHarbinet->Release());
    }

    EXPECT_EQ(ClientConnections(servers), ModuleCount() - nModuleBefore);
}

// Nested calls leave four idle connections to one server; after a restart the next call there drops all four.
TEST(ThreadTest, AServerRestartLeavesNoIdleConnectionBehind)
{
    GRealServers servers;
    if (!servers.IsConfigured())
        GTEST_SKIP() << "HARBINET_DISTRIBUTED_PORT is not set";
    GHangWatch hangWatch(120);
    GAdoRegistration registration;
    const int nEndsBefore = ClientConnections(servers);   // other pools' connections too
    const LONG nModuleBefore = ModuleCount();
    IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateDistributed();
    GTestBstr bstrList(servers.List(L"|8").c_str());
    GTestBstr bstrCookie(L"kk");   // 214: every call goes to the second entry
    pHarbinet->Open(bstrList);
    pHarbinet->put_Cookie(bstrCookie);
    int nDepth = 0;
    GCallbackCommand* pCommand = nullptr;
    const auto execute = [&] {
        GTestBstr bstrName((L"nest" + std::to_wstring(nDepth)).c_str());
        IDispatch* pRecordset = nullptr;
        EXPECT_EQ(S_OK, pHarbinet->Execute(pCommand, bstrName, 1, &pRecordset));
        pRecordset->Release();
    };
    pCommand = new GCallbackCommand([&] { if (++nDepth < 4) execute(); });
    execute();
    pCommand->Release();
    EXPECT_EQ(nEndsBefore + 4, ClientConnections(servers));
    ASSERT_TRUE(servers.Stop(1) && servers.Start(1));
    EXPECT_EQ(S_OK, pHarbinet->Noop(nullptr));
    EXPECT_EQ(nEndsBefore + 1, ClientConnections(servers));
    EXPECT_EQ(0u, pHarbinet->Release());
    EXPECT_EQ(1, ModuleCount() - nModuleBefore);   // the new connection, idle
}

// A connection taken by two calls at once would mix their exchanges: each call must read back its own value.
TEST(ThreadTest, ThreadsOnOneEntryNeverShareAConnection)
{
    GRealServers servers;
    if (!servers.IsConfigured())
        GTEST_SKIP() << "HARBINET_DISTRIBUTED_PORT is not set";
    GHangWatch hangWatch(120);
    std::atomic<int> nWrong{0};
    std::vector<std::thread> vecThreads;
    for (int nThread = 0; nThread < 12; ++nThread)
        vecThreads.emplace_back([&, nThread] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateDistributed();
            GTestBstr bstrList((servers.Url(2) + L"|3").c_str());
            GTestBstr bstrName((L"own" + std::to_wstring(nThread)).c_str());
            pHarbinet->Open(bstrList);
            for (int i = 0; i < 300; ++i)
            {
                VARIANT var = {};
                var.vt = VT_I4;
                var.lVal = i;
                VARIANT_BOOL bFlag = VARIANT_FALSE;
                if (pHarbinet->Set(bstrName, &var, 0, &bFlag) != S_OK || pHarbinet->Get(bstrName, &var, &bFlag) != S_OK
                    || var.vt != VT_I4 || var.lVal != i)
                    ++nWrong;
            }
            pHarbinet->Release();
            CoUninitialize();
        });
    for (std::thread& thread : vecThreads)
        thread.join();
    EXPECT_EQ(0, nWrong);
}

}   // namespace
