// noop_bench: Noop round trips per second through IHarbinet against a bare Winsock loop sending the same bytes.
//
//   noop_bench.exe PORT [SECONDS_PER_ROUND [ROUNDS]]
//
// Both loops talk to the same server at 127.0.0.1:PORT, one connection each, in
// alternating rounds, so that a machine busy with other work slows both alike. The
// bare loop is the floor: one send of the request head, receives until the head's end
// and its announced body have arrived, TCP_NODELAY on, nothing else.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"

namespace
{

// The request that IHarbinet::Noop with an empty name sends to a server opened as
// http://127.0.0.1:PORT/.
constexpr char g_szNoopRequest[] = "POST /nop HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: \r\n\r\n";

int RunBench(int nPort, double nSecondsPerRound, int nRounds)
{
    HRESULT hr = S_OK;
    IHarbinet* pHarbinet = CreateOpenedHarbinet(nPort, hr);
    if (pHarbinet == nullptr)
    {
        std::fprintf(stderr, "noop_bench: no Harbinet object\n");
        return 1;
    }
    BSTR bstrName = SysAllocString(L"");
    GBareClient bare(nPort);
    int nResult = 0;
    if (FAILED(hr) || !bare.IsConnected())
    {
        std::fprintf(stderr, "noop_bench: cannot connect to 127.0.0.1:%d (Open: 0x%08lX)\n", nPort,
                     static_cast<unsigned long>(hr));
        nResult = 1;
    }

    const std::string sRequest(g_szNoopRequest, sizeof g_szNoopRequest - 1);
    // The reply's body, if it has one, lands here unread.
    std::vector<char> vecBody(8192);
    auto fnComponent = [&] {
        hr = pHarbinet->Noop(bstrName);
        return hr == S_OK;
    };
    auto fnFloor = [&] { return bare.Exchange(sRequest, vecBody.data(), vecBody.size(), nullptr); };
    auto fnPrintRound = [](int nRound, double nComponent, double nFloor) {
        std::printf("round %d: IHarbinet::Noop %.0f/s, bare Winsock %.0f/s, ratio %.3f\n", nRound, nComponent, nFloor,
                    nComponent / nFloor);
    };
    if (nResult == 0)
    {
        const GFigures figures = CompareInRounds(nSecondsPerRound, nRounds, 16, fnComponent, fnFloor, fnPrintRound);
        if (figures.nFailedRound == 0)
        {
            std::fprintf(stderr, "noop_bench: warm-up failed (Noop: 0x%08lX)\n", static_cast<unsigned long>(hr));
            nResult = 1;
        }
        else if (figures.nFailedRound > 0)
        {
            std::fprintf(stderr, "noop_bench: an exchange failed in round %d (Noop: 0x%08lX)\n", figures.nFailedRound,
                         static_cast<unsigned long>(hr));
            nResult = 1;
        }
        else
        {
            std::printf("Noop round trips per second, median of %d rounds of %.1f s on one connection:\n", nRounds,
                        nSecondsPerRound);
            std::printf("  IHarbinet::Noop  %10.0f/s  (%.1f us per exchange)\n", figures.nComponent,
                        1e6 / figures.nComponent);
            std::printf("  bare Winsock     %10.0f/s  (%.1f us per exchange)\n", figures.nFloor, 1e6 / figures.nFloor);
            std::printf("  ratio            %10.3f   (target at least 0.9)\n", figures.nComponent / figures.nFloor);
        }
    }

    pHarbinet->Close();
    SysFreeString(bstrName);
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
    return RunBenchMain(argc, argv, "noop_bench", RunBench);
}
