// What the Windows benchmarks share: the clock, alternating timed rounds, the bare Winsock floor and the program frame.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/harbinet_module.h"

// No round runs away: besides its time, each is bounded in exchanges.
constexpr long long g_nMaxExchangesPerRound = 50000000;

// The performance counter, in seconds.
double Seconds();

double Median(std::vector<double> vec);

// Runs fnExchange until the round's time is up; exchanges per second, or -1 when one
// failed. The clock is read every nClockEvery exchanges only: it is not free under every
// host, which matters for short exchanges, while long ones must not overrun the round.
template <class F>
double RunRound(double nSeconds, long long nClockEvery, F fnExchange)
{
    const double nStart = Seconds();
    const double nEnd = nStart + nSeconds;
    long long nCount = 0;
    while (nCount < g_nMaxExchangesPerRound)
    {
        if (!fnExchange())
            return -1.0;
        ++nCount;
        if (nCount % nClockEvery == 0 && Seconds() >= nEnd)
            break;
    }
    return static_cast<double>(nCount) / (Seconds() - nStart);
}

// What a comparison measured: the medians of the component's and the floor's rates, or
// the round in which an exchange failed (0 for the warm-up, -1 when none did).
struct GFigures
{
    double nComponent = 0;
    double nFloor = 0;
    int nFailedRound = -1;
};

// One short warm-up of each loop, so that neither pays for first-time costs in a round,
// then nRounds rounds of each. Which loop goes first alternates, so that a machine busy
// with other work slows both alike. fnPrintRound(nRound, nComponent, nFloor) shows each
// round as it ends (rounds count from 1).
template <class FC, class FF, class FP>
GFigures CompareInRounds(double nSecondsPerRound, int nRounds, long long nClockEvery, FC fnComponent, FF fnFloor,
                         FP fnPrintRound)
{
    GFigures figures;
    if (RunRound(0.2, nClockEvery, fnComponent) < 0 || RunRound(0.2, nClockEvery, fnFloor) < 0)
    {
        figures.nFailedRound = 0;
        return figures;
    }
    std::vector<double> vecComponent;
    std::vector<double> vecFloor;
    for (int nRound = 0; nRound < nRounds; ++nRound)
    {
        double nComponent = 0;
        double nFloor = 0;
        if (nRound % 2 == 0)
        {
            nComponent = RunRound(nSecondsPerRound, nClockEvery, fnComponent);
            nFloor = RunRound(nSecondsPerRound, nClockEvery, fnFloor);
        }
        else
        {
            nFloor = RunRound(nSecondsPerRound, nClockEvery, fnFloor);
            nComponent = RunRound(nSecondsPerRound, nClockEvery, fnComponent);
        }
        if (nComponent < 0 || nFloor < 0)
        {
            figures.nFailedRound = nRound + 1;
            return figures;
        }
        vecComponent.push_back(nComponent);
        vecFloor.push_back(nFloor);
        fnPrintRound(nRound + 1, nComponent, nFloor);
        std::fflush(stdout);
    }
    figures.nComponent = Median(vecComponent);
    figures.nFloor = Median(vecFloor);
    return figures;
}

// The floor: a plain blocking socket to 127.0.0.1 with TCP_NODELAY and nothing but what
// one exchange needs.
class GBareClient
{
public:
    explicit GBareClient(int nPort);
    ~GBareClient();

    GBareClient(const GBareClient&) = delete;
    GBareClient& operator=(const GBareClient&) = delete;

    bool IsConnected() const { return m_sock != INVALID_SOCKET; }

    // One request in one send, then the reply: its head, and its announced body into
    // pBody (at most nCapacity bytes; the rest, if any, is a failure). With szResultCode,
    // the reply's x-result-code must start with it.
    bool Exchange(const std::string& sRequest, char* pBody, size_t nCapacity, const char* szResultCode);

private:
    SOCKET m_sock = INVALID_SOCKET;
    char m_aHead[8192];
};

// A Harbinet object from the module, opened on http://127.0.0.1:nPort/; nullptr when the
// module made none. hr is what Open answered.
IHarbinet* CreateOpenedHarbinet(int nPort, HRESULT& hr);

// The frame of a benchmark program: "PROGRAM PORT [SECONDS_PER_ROUND [ROUNDS]]" read and
// bounded, Winsock and COM brought up around fnRun, and its result as the exit status.
int RunBenchMain(int argc, char** argv, const char* szProgram, int (*pfnRun)(int nPort, double nSecondsPerRound, int nRounds));
