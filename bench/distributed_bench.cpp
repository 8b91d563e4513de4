// distributed_bench: Harbinet.Distributed against the single-server class, threads on one pool, and the liveness checks a pool could use.
//
//   distributed_bench.exe PORT [SECONDS_PER_ROUND [ROUNDS]]
//   distributed_bench.exe PORT --trace
//
// Every call goes to the one server at 127.0.0.1:PORT. The distributed object is opened
// on a one-entry list, so each forwarded call reuses one pooled connection: what it costs
// over the single-server call on a connection of its own is the forwarding itself. With
// --trace the program makes ten forwarded Noops between debug-string markers, for a
// Winsock trace of exactly those calls, beside ten single-server Noops.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace
{

std::wstring ListFor(int nPort, const wchar_t* szSuffix)
{
    return L"http://127.0.0.1:" + std::to_wstring(nPort) + L"/" + szSuffix;
}

IHarbinet* OpenDistributed(const std::wstring& sList)
{
    IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateDistributed();
    BSTR bstrList = SysAllocString(sList.c_str());
    const HRESULT hr = pHarbinet == nullptr ? E_FAIL : pHarbinet->Open(bstrList);
    SysFreeString(bstrList);
    if (FAILED(hr) && pHarbinet != nullptr)
    {
        pHarbinet->Release();
        return nullptr;
    }
    return pHarbinet;
}

// The four ways to ask an idle connection whether it can serve, each made on its own
// loopback pair: once while the peer keeps it open, once after the peer has closed it.
struct GCandidate
{
    const char* szName;
    int nSocketCalls;
    bool (*pfnIsLive)(SOCKET sock);
};

bool LiveBySelect(SOCKET sock)
{
    fd_set setRead, setError;
    FD_ZERO(&setRead);
    FD_ZERO(&setError);
    FD_SET(sock, &setRead);
    FD_SET(sock, &setError);
    timeval tvZero = {0, 0};
    return select(0, &setRead, nullptr, &setError, &tvZero) == 0;
}

bool LiveByPoll(SOCKET sock)
{
    WSAPOLLFD poll = {sock, POLLRDNORM, 0};
    return WSAPoll(&poll, 1, 0) == 0;
}

bool LiveByReadable(SOCKET sock)
{
    u_long nReadable = 0;
    return ioctlsocket(sock, FIONREAD, &nReadable) == 0 && nReadable == 0;
}

bool LiveByPeek(SOCKET sock)
{
    u_long nOn = 1;
    u_long nOff = 0;
    char ch = 0;
    ioctlsocket(sock, FIONBIO, &nOn);
    const int n = recv(sock, &ch, 1, MSG_PEEK);
    const bool bLive = n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK;
    ioctlsocket(sock, FIONBIO, &nOff);
    return bLive;
}

// A connected loopback pair: the client end and the accepted end.
bool MakePair(SOCKET& sockClient, SOCKET& sockServer)
{
    SOCKET sockListen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int nLength = sizeof address;
    bool bMade = bind(sockListen, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && listen(sockListen, 1) == 0
        && getsockname(sockListen, reinterpret_cast<sockaddr*>(&address), &nLength) == 0;
    sockClient = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    bMade = bMade && connect(sockClient, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    sockServer = bMade ? accept(sockListen, nullptr, nullptr) : INVALID_SOCKET;
    closesocket(sockListen);
    return sockServer != INVALID_SOCKET;
}

void MeasureLivenessChecks()
{
    const GCandidate aCandidates[] = {
        {"select, zero timeout", 1, LiveBySelect},
        {"WSAPoll, zero timeout", 1, LiveByPoll},
        {"ioctlsocket FIONREAD", 1, LiveByReadable},
        {"non-blocking MSG_PEEK recv", 3, LiveByPeek},
    };
    std::printf("Liveness checks of an idle connection (%s):\n", "median of 5 runs of 2000 calls");
    for (const GCandidate& candidate : aCandidates)
    {
        SOCKET sockClient = INVALID_SOCKET;
        SOCKET sockServer = INVALID_SOCKET;
        if (!MakePair(sockClient, sockServer))
        {
            std::printf("  %-28s no loopback pair\n", candidate.szName);
            continue;
        }
        std::vector<double> vecMicroseconds;
        bool bLiveWhileOpen = true;
        for (int nRun = 0; nRun < 5; ++nRun)
        {
            const double nStart = Seconds();
            for (int i = 0; i < 2000; ++i)
                bLiveWhileOpen = candidate.pfnIsLive(sockClient) && bLiveWhileOpen;
            vecMicroseconds.push_back((Seconds() - nStart) * 1e6 / 2000);
        }
        closesocket(sockServer);
        Sleep(50);
        const bool bLiveAfterClose = candidate.pfnIsLive(sockClient);
        closesocket(sockClient);
        std::printf("  %-28s %6.1f us, %d socket call(s); open: %s, closed by the peer: %s\n", candidate.szName,
                    Median(vecMicroseconds), candidate.nSocketCalls, bLiveWhileOpen ? "live" : "DEAD",
                    bLiveAfterClose ? "LIVE (wrong)" : "dead");
    }
}

// One kind of call on both classes, in alternating rounds.
template <class F>
bool CompareCall(const char* szCall, IHarbinet* pDistributed, IHarbinet* pSingle, double nSecondsPerRound, int nRounds,
                 F fnCall)
{
    HRESULT hr = S_OK;
    auto fnDistributed = [&] { return SUCCEEDED(hr = fnCall(pDistributed)); };
    auto fnSingle = [&] { return SUCCEEDED(hr = fnCall(pSingle)); };
    auto fnPrintRound = [szCall](int nRound, double nDistributed, double nSingle) {
        std::printf("  round %d: %s distributed %.0f/s, single %.0f/s, ratio %.3f\n", nRound, szCall, nDistributed,
                    nSingle, nDistributed / nSingle);
    };
    const GFigures figures =
        CompareInRounds(nSecondsPerRound, nRounds, 16, fnDistributed, fnSingle, fnPrintRound);
    if (figures.nFailedRound >= 0)
    {
        std::fprintf(stderr, "distributed_bench: %s failed in round %d (0x%08lX)\n", szCall, figures.nFailedRound,
                     static_cast<unsigned long>(hr));
        return false;
    }
    std::printf("%-4s distributed %8.0f/s (%.1f us), single-server %8.0f/s (%.1f us), ratio %.3f (target at least 0.6)\n",
                szCall, figures.nComponent, 1e6 / figures.nComponent, figures.nFloor, 1e6 / figures.nFloor,
                figures.nComponent / figures.nFloor);
    return true;
}

// Noops per second of nThreads apartment threads, each with its own object on one pool.
double ThreadThroughput(const std::wstring& sList, int nThreads, double nSeconds)
{
    std::atomic<long long> nTotal{0};
    std::atomic<bool> bFailed{false};
    std::vector<std::thread> vecThreads;
    const double nStart = Seconds();
    for (int i = 0; i < nThreads; ++i)
    {
        vecThreads.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            IHarbinet* pHarbinet = OpenDistributed(sList);
            BSTR bstrName = SysAllocString(L"");
            const double nEnd = nStart + nSeconds;
            long long nCount = 0;
            while (pHarbinet != nullptr && nCount < g_nMaxExchangesPerRound)
            {
                if (FAILED(pHarbinet->Noop(bstrName)))
                {
                    bFailed = true;
                    break;
                }
                if (++nCount % 16 == 0 && Seconds() >= nEnd)
                    break;
            }
            nTotal += nCount;
            SysFreeString(bstrName);
            if (pHarbinet != nullptr)
                pHarbinet->Release();
            CoUninitialize();
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    return bFailed ? -1.0 : static_cast<double>(nTotal) / (Seconds() - nStart);
}

bool MeasureThreads(int nPort, double nSecondsPerRound, int nRounds)
{
    const std::wstring sList = ListFor(nPort, L"|16");
    const int aThreads[] = {1, 2, 4};
    std::vector<double> aRates[3];
    ThreadThroughput(sList, 4, 0.2);   // opens the pool's connections
    for (int nRound = 0; nRound < nRounds; ++nRound)
    {
        for (int k = 0; k < 3; ++k)
        {
            const int i = nRound % 2 == 0 ? k : 2 - k;
            const double nRate = ThreadThroughput(sList, aThreads[i], nSecondsPerRound);
            if (nRate < 0)
            {
                std::fprintf(stderr, "distributed_bench: a Noop failed with %d threads\n", aThreads[i]);
                return false;
            }
            aRates[i].push_back(nRate);
        }
    }
    const double nOne = Median(aRates[0]);
    std::printf("Threads on one pool, Noop, median of %d rounds of %.1f s:\n", nRounds, nSecondsPerRound);
    for (int i = 0; i < 3; ++i)
    {
        const double nRate = Median(aRates[i]);
        std::printf("  %d thread(s) %8.0f/s, %.2f times one thread%s\n", aThreads[i], nRate, nRate / nOne,
                    aThreads[i] == 4 ? " (target at least 1.3)" : "");
    }
    return true;
}

// Ten single-server Noops, then ten forwarded ones on a pooled connection that is already
// open, each run between debug-string markers for a Winsock trace to count.
int Trace(int nPort)
{
    HRESULT hr = S_OK;
    IHarbinet* pSingle = CreateOpenedHarbinet(nPort, hr);
    IHarbinet* pDistributed = OpenDistributed(ListFor(nPort, L";"));
    if (pSingle == nullptr || FAILED(hr) || pDistributed == nullptr)
        return 1;
    bool bOk = SUCCEEDED(pDistributed->Noop(nullptr));   // the checkout that opens the connection
    OutputDebugStringA("harbinet-trace-single\n");
    for (int i = 0; i < 10; ++i)
        bOk = SUCCEEDED(pSingle->Noop(nullptr)) && bOk;
    OutputDebugStringA("harbinet-trace-distributed\n");
    for (int i = 0; i < 10; ++i)
        bOk = SUCCEEDED(pDistributed->Noop(nullptr)) && bOk;
    OutputDebugStringA("harbinet-trace-end\n");
    pDistributed->Release();
    pSingle->Release();
    return bOk ? 0 : 1;
}

int RunBench(int nPort, double nSecondsPerRound, int nRounds)
{
    MeasureLivenessChecks();

    HRESULT hr = S_OK;
    IHarbinet* pSingle = CreateOpenedHarbinet(nPort, hr);
    IHarbinet* pDistributed = OpenDistributed(ListFor(nPort, L""));
    if (pSingle == nullptr || FAILED(hr) || pDistributed == nullptr)
    {
        std::fprintf(stderr, "distributed_bench: cannot open on 127.0.0.1:%d\n", nPort);
        return 1;
    }
    BSTR bstrName = SysAllocString(L"bench-scalar");
    VARIANT varValue;
    varValue.vt = VT_I4;
    varValue.lVal = 42;
    std::printf("Forwarded calls against single-server calls, one connection each, median of %d rounds of %.1f s:\n",
                nRounds, nSecondsPerRound);
    bool bOk = CompareCall("Noop", pDistributed, pSingle, nSecondsPerRound, nRounds,
                           [&](IHarbinet* p) { return p->Noop(bstrName); });
    bOk = bOk && CompareCall("Set", pDistributed, pSingle, nSecondsPerRound, nRounds, [&](IHarbinet* p) {
        VARIANT_BOOL bSet = VARIANT_FALSE;
        return p->Set(bstrName, &varValue, 0, &bSet);
    });
    bOk = bOk && CompareCall("Get", pDistributed, pSingle, nSecondsPerRound, nRounds, [&](IHarbinet* p) {
        VARIANT varFetched;
        VariantInit(&varFetched);
        VARIANT_BOOL bFound = VARIANT_FALSE;
        const HRESULT hrGet = p->Get(bstrName, &varFetched, &bFound);
        VariantClear(&varFetched);
        return SUCCEEDED(hrGet) && bFound != VARIANT_TRUE ? E_FAIL : hrGet;
    });
    SysFreeString(bstrName);
    pDistributed->Release();
    pSingle->Release();

    bOk = bOk && MeasureThreads(nPort, nSecondsPerRound, nRounds);
    return bOk ? 0 : 1;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[2], "--trace") == 0)
    {
        WSADATA wsaData;
        WSAStartup(MAKEWORD(2, 2), &wsaData);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const int nResult = Trace(std::atoi(argv[1]));
        CoUninitialize();
        WSACleanup();
        return nResult;
    }
    return RunBenchMain(argc, argv, "distributed_bench", RunBench);
}
