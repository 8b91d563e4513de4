// soak_bench: one host process making many mixed calls through both classes, watching its committed memory and handles.
//
//   soak_bench.exe PORT1 PORT2 [CALLS]
//
// Calls go to the harbinet-servers at 127.0.0.1:PORT1 and PORT2 (CALLS defaults to
// 200000, at least 1000). Every value class, cookies made by the module, Open and Close
// of both classes, distributed objects made and released on three list texts in turn,
// and a few per cent of calls that fail on purpose. Every tenth
// of the run prints the calls made, the committed private bytes and the handle count.
// After the first tenth (the warm-up) memory may grow by 2 MiB and the floor of the handle
// count by 16 at most;
// the exit status says whether they stayed so.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/harbinet_module.h"

namespace
{
constexpr SIZE_T MAX_GROWTH_BYTES = 2 << 20;
constexpr DWORD MAX_GROWTH_HANDLES = 16;
// A new distributed object this often, on the next of LISTS list texts: within the
// warm-up every pool has been made.
constexpr long LIST_EVERY = 499;
constexpr long LISTS = 3;

// The commit charge (Windows' private bytes); under wine, the memory actually taken.
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

// Wine counts no handles, and the process's open descriptors, which could stand in, also
// hold wine's own, whose number drifts on a new prefix. There the client connections to
// the two servers stand in: the sockets are what a call makes and must give back.
DWORD Handles(int nPort1, int nPort2)
{
    DWORD nHandles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &nHandles) && nHandles != 0)
        return nHandles;
    ULONG nSize = 0;
    GetTcpTable(nullptr, &nSize, FALSE);
    std::vector<char> vecTable(nSize + 4096);
    nSize = static_cast<ULONG>(vecTable.size());
    auto* pTable = reinterpret_cast<MIB_TCPTABLE*>(vecTable.data());
    if (GetTcpTable(pTable, &nSize, FALSE) != NO_ERROR)
        return 0;
    for (DWORD i = 0; i < pTable->dwNumEntries; ++i)
    {
        const MIB_TCPROW& row = pTable->table[i];
        const int nRemotePort = ntohs(static_cast<u_short>(row.dwRemotePort));
        if ((nRemotePort == nPort1 || nRemotePort == nPort2)
            && (row.dwState == MIB_TCP_STATE_ESTAB || row.dwState == MIB_TCP_STATE_CLOSE_WAIT))
            ++nHandles;
    }
    return nHandles;
}

// One value of the class that nKind picks, each a little different from the last.
void MakeValue(long nKind, long nCall, VARIANT& var)
{
    VariantInit(&var);
    const ULONG nBytes = 1 + static_cast<ULONG>(nCall % 4096);
    switch (nKind)
    {
    case 0:
        var.vt = VT_I4;
        var.lVal = nCall;
        break;
    case 1:
        var.vt = VT_DATE;
        var.date = 40000.0 + nCall / 86400.0;
        break;
    case 2:
        var.vt = VT_BSTR;
        var.bstrVal = SysAllocStringLen(nullptr, nBytes / 2);
        std::fill_n(var.bstrVal, nBytes / 2, L'x');
        break;
    case 3:
        var.vt = VT_ARRAY | VT_UI1;
        var.parray = SafeArrayCreateVector(VT_UI1, 0, nBytes);
        break;
    case 4:
    {
        var.vt = VT_ARRAY | VT_VARIANT;
        var.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
        VARIANT* pElements = static_cast<VARIANT*>(var.parray->pvData);
        pElements[0].vt = VT_I2;
        pElements[0].iVal = static_cast<SHORT>(nCall);
        pElements[1].vt = VT_BSTR;
        pElements[1].bstrVal = SysAllocString(L"element");
        pElements[2].vt = VT_R8;
        pElements[2].dblVal = nCall / 3.0;
        break;
    }
    default:
    {
        IStream* pStream = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &pStream);
        const std::string sBytes(nBytes, 's');
        pStream->Write(sBytes.data(), nBytes, nullptr);
        LARGE_INTEGER nZero = {};
        pStream->Seek(nZero, STREAM_SEEK_SET, nullptr);
        var.vt = VT_UNKNOWN;
        var.punkVal = pStream;
        break;
    }
    }
}

class GSoak
{
public:
    GSoak(int nPort1, int nPort2)
        : m_sUrl1(L"http://127.0.0.1:" + std::to_wstring(nPort1) + L"/"),
          m_sUrl2(L"http://127.0.0.1:" + std::to_wstring(nPort2) + L"/")
    {
        m_pSingle = GHarbinetModule::Instance().CreateHarbinet();
        GTestBstr bstrUrl(m_sUrl1.c_str());
        m_pSingle->Open(bstrUrl);
        Remake(0);
    }
    ~GSoak()
    {
        m_pSingle->Release();
        m_pDistributed->Release();
    }
    GSoak(const GSoak&) = delete;
    GSoak& operator=(const GSoak&) = delete;

    // One call; false when it failed.
    bool Call(long nCall)
    {
        // Remade first: the object it releases must not be the one this call uses.
        if (nCall % LIST_EVERY == 0)
            Remake(nCall);
        IHarbinet* pHarbinet = nCall % 2 == 0 ? m_pSingle : m_pDistributed;
        const long nStep = (nCall / 2) % 50;
        if (nStep == 7)
            return Refused(pHarbinet, nCall);
        if (nStep == 19)
            return CycleSingle(nCall);
        if (nStep == 23)
        {
            GTestBstr bstrEmpty(L"");
            return SUCCEEDED(m_pDistributed->put_Cookie(bstrEmpty));   // a fresh one from the module
        }
        const GTestBstr bstrName((L"soak" + std::to_wstring(nCall % 97)).c_str());
        if (nStep % 5 == 4)
            return SUCCEEDED(nStep % 10 == 4 ? pHarbinet->Delete(bstrName) : pHarbinet->Noop(bstrName));
        VARIANT var;
        MakeValue(nStep % 6, nCall, var);
        VARIANT_BOOL bFlag = VARIANT_FALSE;
        HRESULT hr = pHarbinet->Set(bstrName, &var, 60, &bFlag);
        if (SUCCEEDED(hr) && var.vt != VT_UNKNOWN)
            VariantClear(&var);   // a stream stays the target of the Get
        if (SUCCEEDED(hr))
            hr = pHarbinet->Get(bstrName, &var, &bFlag);
        VariantClear(&var);
        return SUCCEEDED(hr);
    }

private:
    // A distributed object made anew; the suffix after the idle limit is ignored, so each
    // text has a pool of its own on the same servers.
    void Remake(long nCall)
    {
        if (m_pDistributed != nullptr)
            m_pDistributed->Release();
        m_pDistributed = GHarbinetModule::Instance().CreateDistributed();
        const std::wstring sList = m_sUrl1 + L";" + m_sUrl2 + L"|4 " + std::to_wstring(nCall / LIST_EVERY % LISTS);
        GTestBstr bstrList(sList.c_str());
        m_pDistributed->Open(bstrList);
        m_pDistributed->Close();   // Close and Open again keep the pool
        m_pDistributed->Open(bstrList);
    }

    // Failing on purpose: a name with a line break, and a closed port.
    bool Refused(IHarbinet* pHarbinet, long nCall)
    {
        if (nCall % 4 < 2)
        {
            GTestBstr bstrName(L"bad\r\nname");
            return SUCCEEDED(pHarbinet->Noop(bstrName));
        }
        m_pSingle->Close();
        GTestBstr bstrClosed(L"http://127.0.0.1:1/");
        const HRESULT hr = m_pSingle->Open(bstrClosed);
        GTestBstr bstrUrl(m_sUrl1.c_str());
        m_pSingle->Open(bstrUrl);
        return SUCCEEDED(hr);
    }

    bool CycleSingle(long nCall)
    {
        m_pSingle->Close();
        GTestBstr bstrUrl((nCall % 4 < 2 ? m_sUrl1 : m_sUrl2).c_str());
        return SUCCEEDED(m_pSingle->Open(bstrUrl));
    }

    std::wstring m_sUrl1;
    std::wstring m_sUrl2;
    IHarbinet* m_pSingle = nullptr;
    IHarbinet* m_pDistributed = nullptr;
};

int RunSoak(int nPort1, int nPort2, long nCalls)
{
    const long nEvery = nCalls / 10;
    GSoak soak(nPort1, nPort2);
    long nFailed = 0;
    SIZE_T nBytesAfterWarmUp = 0;
    SIZE_T nMostBytes = 0;
    std::vector<DWORD> vecHandles;
    for (long nCall = 1; nCall <= nCalls; ++nCall)
    {
        if (!soak.Call(nCall))
            ++nFailed;
        if (nCall % nEvery != 0)
            continue;
        const SIZE_T nBytes = PrivateBytes();
        const DWORD nHandles = Handles(nPort1, nPort2);
        std::printf("%8ld calls  %6.1f%% failed  private bytes %10lu  handles %5lu\n", nCall,
                    100.0 * static_cast<double>(nFailed) / static_cast<double>(nCall),
                    static_cast<unsigned long>(nBytes), static_cast<unsigned long>(nHandles));
        std::fflush(stdout);
        if (nCall == nEvery)
        {
            nBytesAfterWarmUp = nBytes;
        }
        nMostBytes = std::max(nMostBytes, nBytes);
        vecHandles.push_back(nHandles);
    }
    const SIZE_T nGrowth = nMostBytes - nBytesAfterWarmUp;
    // Under wine the descriptor count wanders by a few dozen between samples as wine
    // caches and drops descriptors of its own; a leak lifts the floor, so the lowest of
    // the last three samples is held against the lowest of the first three.
    const auto FloorOf = [](std::vector<DWORD>::const_iterator it) { return std::min({it[0], it[1], it[2]}); };
    const DWORD nLastFloor = FloorOf(vecHandles.end() - 3);
    const DWORD nFirstFloor = FloorOf(vecHandles.begin());
    const DWORD nHandleGrowth = nLastFloor > nFirstFloor ? nLastFloor - nFirstFloor : 0;
    std::printf("after the warm-up: private bytes grew by %lu (at most %lu), handles by %lu (at most %lu)\n",
                static_cast<unsigned long>(nGrowth), static_cast<unsigned long>(MAX_GROWTH_BYTES),
                static_cast<unsigned long>(nHandleGrowth), static_cast<unsigned long>(MAX_GROWTH_HANDLES));
    // Some calls fail on purpose; far more means the servers were not there.
    if (nFailed > nCalls / 10)
    {
        std::printf("soak: %ld of %ld calls failed\n", nFailed, nCalls);
        return 1;
    }
    return nGrowth <= MAX_GROWTH_BYTES && nHandleGrowth <= MAX_GROWTH_HANDLES ? 0 : 1;
}
}

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: soak_bench.exe PORT1 PORT2 [CALLS]\n");
        return 2;
    }
    const long nCalls = std::max(1000L, argc > 3 ? std::atol(argv[3]) : 200000L);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int nResult = RunSoak(std::atoi(argv[1]), std::atoi(argv[2]), nCalls);
    CoUninitialize();
    return nResult;
}
