// noop_bench: Noop round trips per second through IHarbinet against a bare Winsock loop sending the same bytes.
//
//   noop_bench.exe PORT [SECONDS_PER_ROUND [ROUNDS]]
//
// Both loops talk to the same server at 127.0.0.1:PORT, one connection each, in
// alternating rounds, so that a machine busy with other work slows both alike. The
// bare loop is the floor: one send of the request head, receives until the head's end
// and its announced body have arrived, TCP_NODELAY on, nothing else.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/harbinet_module.h"

namespace
{

// The request that IHarbinet::Noop with an empty name sends to a server opened as
// http://127.0.0.1:PORT/.
constexpr char g_szNoopRequest[] = "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n";

// No round runs away: besides its time, each is bounded in exchanges.
constexpr long long g_nMaxExchangesPerRound = 50000000;

double Seconds()
{
    static LARGE_INTEGER s_nFrequency = [] {
        LARGE_INTEGER n;
        QueryPerformanceFrequency(&n);
        return n;
    }();
    LARGE_INTEGER nNow;
    QueryPerformanceCounter(&nNow);
    return static_cast<double>(nNow.QuadPart) / static_cast<double>(s_nFrequency.QuadPart);
}

// Runs fnExchange until the round's time is up; exchanges per second, or -1 when one failed.
template <class F>
double RunRound(double nSeconds, F fnExchange)
{
    const double nStart = Seconds();
    const double nEnd = nStart + nSeconds;
    long long nCount = 0;
    double nNow = nStart;
    while (nCount < g_nMaxExchangesPerRound)
    {
        if (!fnExchange())
            return -1.0;
        ++nCount;
        // The clock is read every few exchanges only; it is not free under every host.
        if ((nCount & 15) == 0)
        {
            nNow = Seconds();
            if (nNow >= nEnd)
                break;
        }
    }
    nNow = Seconds();
    return static_cast<double>(nCount) / (nNow - nStart);
}

// The floor: a plain blocking socket with nothing but what one exchange needs.
class GBareClient
{
public:
    explicit GBareClient(int nPort)
    {
        m_sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_sock == INVALID_SOCKET)
            return;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(nPort));
        if (connect(m_sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR)
        {
            closesocket(m_sock);
            m_sock = INVALID_SOCKET;
            return;
        }
        const BOOL bNoDelay = TRUE;
        setsockopt(m_sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay), sizeof bNoDelay);
    }

    ~GBareClient()
    {
        if (m_sock != INVALID_SOCKET)
            closesocket(m_sock);
    }

    GBareClient(const GBareClient&) = delete;
    GBareClient& operator=(const GBareClient&) = delete;

    bool IsConnected() const { return m_sock != INVALID_SOCKET; }

    // One request in one send, then the reply: its head and its announced body.
    bool Exchange()
    {
        const int nRequest = static_cast<int>(sizeof g_szNoopRequest - 1);
        if (send(m_sock, g_szNoopRequest, nRequest, 0) != nRequest)
            return false;
        int nReceived = 0;
        for (;;)
        {
            const int n = recv(m_sock, m_aReply + nReceived, static_cast<int>(sizeof m_aReply) - 1 - nReceived, 0);
            if (n <= 0)
                return false;
            nReceived += n;
            m_aReply[nReceived] = '\0';
            const char* pEnd = std::strstr(m_aReply, "\r\n\r\n");
            if (pEnd == nullptr)
            {
                if (nReceived >= static_cast<int>(sizeof m_aReply) - 1)
                    return false;
                continue;
            }
            const int nHead = static_cast<int>(pEnd - m_aReply) + 4;
            long long nBody = BodyLength(m_aReply);
            if (nBody < 0)
                return false;
            // Body bytes beyond what came with the head.
            nBody -= nReceived - nHead;
            while (nBody > 0)
            {
                const int nAsk = nBody < static_cast<long long>(sizeof m_aReply) ? static_cast<int>(nBody)
                                                                                 : static_cast<int>(sizeof m_aReply);
                const int nBodyPart = recv(m_sock, m_aReply, nAsk, 0);
                if (nBodyPart <= 0)
                    return false;
                nBody -= nBodyPart;
            }
            return true;
        }
    }

private:
    // The content-length value of a head (the server writes the name in lower case).
    static long long BodyLength(const char* szHead)
    {
        const char* p = std::strstr(szHead, "\r\ncontent-length:");
        if (p == nullptr)
            return -1;
        return std::strtoll(p + 17, nullptr, 10);
    }

    SOCKET m_sock = INVALID_SOCKET;
    char m_aReply[8192];
};

double Median(std::vector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    const size_t n = vec.size();
    return n % 2 == 1 ? vec[n / 2] : (vec[n / 2 - 1] + vec[n / 2]) / 2.0;
}

int RunBench(int nPort, double nSecondsPerRound, int nRounds)
{
    IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateHarbinet();
    if (pHarbinet == nullptr)
    {
        std::fprintf(stderr, "noop_bench: no Harbinet object\n");
        return 1;
    }
    const std::wstring sUrl = L"http://127.0.0.1:" + std::to_wstring(nPort) + L"/";
    BSTR bstrUrl = SysAllocString(sUrl.c_str());
    BSTR bstrName = SysAllocString(L"");
    HRESULT hr = pHarbinet->Open(bstrUrl);
    GBareClient bare(nPort);
    int nResult = 0;
    if (FAILED(hr) || !bare.IsConnected())
    {
        std::fprintf(stderr, "noop_bench: cannot connect to 127.0.0.1:%d (Open: 0x%08lX)\n", nPort,
                     static_cast<unsigned long>(hr));
        nResult = 1;
    }

    std::vector<double> vecComponent;
    std::vector<double> vecFloor;
    auto fnComponent = [&] {
        hr = pHarbinet->Noop(bstrName);
        return hr == S_OK;
    };
    auto fnFloor = [&] { return bare.Exchange(); };
    // One short warm-up of each, so that neither pays for first-time costs in a round.
    if (nResult == 0 && (RunRound(0.2, fnComponent) < 0 || RunRound(0.2, fnFloor) < 0))
    {
        std::fprintf(stderr, "noop_bench: warm-up failed (Noop: 0x%08lX)\n", static_cast<unsigned long>(hr));
        nResult = 1;
    }
    for (int nRound = 0; nRound < nRounds && nResult == 0; ++nRound)
    {
        // Which loop goes first alternates too.
        double nComponent = 0;
        double nFloor = 0;
        if (nRound % 2 == 0)
        {
            nComponent = RunRound(nSecondsPerRound, fnComponent);
            nFloor = RunRound(nSecondsPerRound, fnFloor);
        }
        else
        {
            nFloor = RunRound(nSecondsPerRound, fnFloor);
            nComponent = RunRound(nSecondsPerRound, fnComponent);
        }
        if (nComponent < 0 || nFloor < 0)
        {
            std::fprintf(stderr, "noop_bench: an exchange failed in round %d (Noop: 0x%08lX)\n", nRound + 1,
                         static_cast<unsigned long>(hr));
            nResult = 1;
            break;
        }
        vecComponent.push_back(nComponent);
        vecFloor.push_back(nFloor);
        std::printf("round %d: IHarbinet::Noop %.0f/s, bare Winsock %.0f/s, ratio %.3f\n", nRound + 1, nComponent,
                    nFloor, nComponent / nFloor);
        std::fflush(stdout);
    }
    if (nResult == 0 && !vecComponent.empty())
    {
        const double nComponent = Median(vecComponent);
        const double nFloor = Median(vecFloor);
        std::printf("Noop round trips per second, median of %d rounds of %.1f s on one connection:\n",
                    static_cast<int>(vecComponent.size()), nSecondsPerRound);
        std::printf("  IHarbinet::Noop  %10.0f/s  (%.1f us per exchange)\n", nComponent, 1e6 / nComponent);
        std::printf("  bare Winsock     %10.0f/s  (%.1f us per exchange)\n", nFloor, 1e6 / nFloor);
        std::printf("  ratio            %10.3f   (target at least 0.9)\n", nComponent / nFloor);
    }

    pHarbinet->Close();
    SysFreeString(bstrName);
    SysFreeString(bstrUrl);
    if (pHarbinet->Release() != 0)
    {
        std::fprintf(stderr, "noop_bench: the object outlived its last Release\n");
        nResult = 1;
    }
    if (GHarbinetModule::Instance().CanUnloadNow() != S_OK)
    {
        std::fprintf(stderr, "noop_bench: the module is still in use after the last Release\n");
        nResult = 1;
    }
    return nResult;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: noop_bench.exe PORT [SECONDS_PER_ROUND [ROUNDS]]\n");
        return 2;
    }
    const int nPort = std::atoi(argv[1]);
    // Bounded whatever is asked: at most 10 s a round and 21 rounds.
    const double nSecondsPerRound = std::min(10.0, std::max(0.1, argc > 2 ? std::atof(argv[2]) : 2.0));
    const int nRounds = std::min(21, std::max(1, argc > 3 ? std::atoi(argv[3]) : 5));
    if (nPort <= 0 || nPort > 65535)
    {
        std::fprintf(stderr, "noop_bench: bad port %s\n", argv[1]);
        return 2;
    }

    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int nResult = 1;
    try
    {
        nResult = RunBench(nPort, nSecondsPerRound, nRounds);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "noop_bench: %s\n", e.what());
    }
    CoUninitialize();
    WSACleanup();
    return nResult;
}
