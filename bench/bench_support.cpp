// What the Windows benchmarks share: the clock, medians, the bare Winsock floor and the program frame.
#include "bench_support.h"

#include <ws2tcpip.h>
#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>

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

double Median(std::vector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    const size_t n = vec.size();
    return n % 2 == 1 ? vec[n / 2] : (vec[n / 2 - 1] + vec[n / 2]) / 2.0;
}

GBareClient::GBareClient(int nPort)
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

GBareClient::~GBareClient()
{
    if (m_sock != INVALID_SOCKET)
        closesocket(m_sock);
}

bool GBareClient::Exchange(const std::string& sRequest, char* pBody, size_t nCapacity, const char* szResultCode)
{
    size_t nSent = 0;
    while (nSent < sRequest.size())
    {
        const int n = send(m_sock, sRequest.data() + nSent, static_cast<int>(sRequest.size() - nSent), 0);
        if (n <= 0)
            return false;
        nSent += static_cast<size_t>(n);
    }
    int nReceived = 0;
    const char* pEnd = nullptr;
    while (pEnd == nullptr)
    {
        if (nReceived >= static_cast<int>(sizeof m_aHead) - 1)
            return false;
        const int n = recv(m_sock, m_aHead + nReceived, static_cast<int>(sizeof m_aHead) - 1 - nReceived, 0);
        if (n <= 0)
            return false;
        nReceived += n;
        m_aHead[nReceived] = '\0';
        pEnd = std::strstr(m_aHead, "\r\n\r\n");
    }
    const int nHead = static_cast<int>(pEnd - m_aHead) + 4;
    // The server writes its header names in lower case.
    const char* pLength = std::strstr(m_aHead, "\r\ncontent-length:");
    if (pLength == nullptr)
        return false;
    if (szResultCode != nullptr)
    {
        const char* pCode = std::strstr(m_aHead, "\r\nx-result-code: ");
        if (pCode == nullptr || std::strncmp(pCode + 17, szResultCode, 1) != 0)
            return false;
    }
    const size_t nBody = static_cast<size_t>(std::strtoull(pLength + 17, nullptr, 10));
    if (nBody > nCapacity)
        return false;
    size_t nDone = static_cast<size_t>(nReceived - nHead);
    if (nDone > nBody)
        return false;
    std::memcpy(pBody, m_aHead + nHead, nDone);
    while (nDone < nBody)
    {
        const size_t nAsk = std::min<size_t>(nBody - nDone, 1u << 20);
        const int n = recv(m_sock, pBody + nDone, static_cast<int>(nAsk), 0);
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

IHarbinet* CreateOpenedHarbinet(int nPort, HRESULT& hr)
{
    hr = S_OK;
    IHarbinet* pHarbinet = GHarbinetModule::Instance().CreateHarbinet();
    if (pHarbinet == nullptr)
        return nullptr;
    const std::wstring sUrl = L"http://127.0.0.1:" + std::to_wstring(nPort) + L"/";
    BSTR bstrUrl = SysAllocString(sUrl.c_str());
    hr = pHarbinet->Open(bstrUrl);
    SysFreeString(bstrUrl);
    return pHarbinet;
}

int RunBenchMain(int argc, char** argv, const char* szProgram, int (*pfnRun)(int nPort, double nSecondsPerRound, int nRounds))
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s.exe PORT [SECONDS_PER_ROUND [ROUNDS]]\n", szProgram);
        return 2;
    }
    const int nPort = std::atoi(argv[1]);
    // Bounded whatever is asked: at most 10 s a round and 21 rounds.
    const double nSecondsPerRound = std::min(10.0, std::max(0.1, argc > 2 ? std::atof(argv[2]) : 2.0));
    const int nRounds = std::min(21, std::max(1, argc > 3 ? std::atoi(argv[3]) : 5));
    if (nPort <= 0 || nPort > 65535)
    {
        std::fprintf(stderr, "%s: bad port %s\n", szProgram, argv[1]);
        return 2;
    }

    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int nResult = 1;
    try
    {
        nResult = pfnRun(nPort, nSecondsPerRound, nRounds);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "%s: %s\n", szProgram, e.what());
    }
    CoUninitialize();
    WSACleanup();
    return nResult;
}
