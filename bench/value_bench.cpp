// value_bench: Set and Get through IHarbinet against a bare Winsock loop sending the same bytes.
//
//   value_bench.exe PORT [SECONDS_PER_ROUND [ROUNDS]]
//
// Three cases against the server at 127.0.0.1:PORT: a 24-byte scalar (round trips per
// second), a 16 MiB byte array and a 16 MiB stream (MB/s, 1 MB = 2^20 bytes). Each
// component loop runs in rounds that alternate with a bare loop on a connection of its
// own, which sends the very request bytes the component sends, in one send, with
// TCP_NODELAY, and reads the same reply: head, then the announced body with large
// receives into a buffer made beforehand. That loop is the floor; the ratios compare
// medians. The byte array's Get is also held against a floor that receives into fresh
// memory, as the component must.
//
// First of all, before anything else has raised the process's peaks, the stream case
// runs once with 16 MiB and once with 64 MiB through streams that make and swallow
// their bytes on the fly, and the growth of the peak working set and the peak pagefile
// usage is shown for each: it must not depend on the stream's size.
//
// The server must take values of 64 MiB (--max-value-size 65M, a memory limit of a few
// hundred MiB).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"

namespace
{

constexpr ULONG BIG_BYTES = 16u << 20;
constexpr ULONG HUGE_STREAM_BYTES = 64u << 20;
constexpr double MEBIBYTE = 1024.0 * 1024.0;

// The head of a set request as the component writes it for a server opened as
// http://127.0.0.1:PORT/ (no cookie).
std::string SetHead(const char* szName, int nType, ULONG nLength)
{
    return "POST /set HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-type: application/x-variant-" + std::to_string(nType)
         + "\r\ncontent-length: " + std::to_string(nLength) + "\r\nx-param-name: " + szName
         + "\r\nx-param-timeout: 0\r\n\r\n";
}

std::string GetRequest(const char* szName)
{
    return std::string("POST /get HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\nx-param-name: ") + szName
         + "\r\n\r\n";
}

// A stream whose bytes cost nothing: Read makes them, Write drops them. Its size is
// fixed; only the position moves.
class GSyntheticStream : public IStream
{
public:
    explicit GSyntheticStream(ULONGLONG nSize) : m_nSize(nSize) {}
    virtual ~GSyntheticStream() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IStream || riid == IID_ISequentialStream)
        {
            *ppv = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nReferences; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG n = --m_nReferences;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        const ULONGLONG nLeft = m_nPosition < m_nSize ? m_nSize - m_nPosition : 0;
        const ULONG n = nLeft < cb ? static_cast<ULONG>(nLeft) : cb;
        std::memset(pv, static_cast<int>(m_nPosition & 0xFF), n);
        m_nPosition += n;
        if (pcbRead != nullptr)
            *pcbRead = n;
        return n < cb ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG cb, ULONG* pcbWritten) override
    {
        m_nPosition += cb;
        m_nWritten += cb;
        if (pcbWritten != nullptr)
            *pcbWritten = cb;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER nMove, DWORD dwOrigin, ULARGE_INTEGER* pNew) override
    {
        if (dwOrigin == STREAM_SEEK_SET)
            m_nPosition = static_cast<ULONGLONG>(nMove.QuadPart);
        else if (dwOrigin == STREAM_SEEK_CUR)
            m_nPosition += static_cast<ULONGLONG>(nMove.QuadPart);
        else
            m_nPosition = m_nSize + static_cast<ULONGLONG>(nMove.QuadPart);
        if (pNew != nullptr)
            pNew->QuadPart = m_nPosition;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pStat, DWORD) override
    {
        std::memset(pStat, 0, sizeof(*pStat));
        pStat->type = STGTY_STREAM;
        pStat->cbSize.QuadPart = m_nSize;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    ULONGLONG Written() const { return m_nWritten; }
    void ForgetWritten() { m_nWritten = 0; }

private:
    ULONG m_nReferences = 1;
    ULONGLONG m_nSize;
    ULONGLONG m_nPosition = 0;
    ULONGLONG m_nWritten = 0;
};

class GValueBench
{
public:
    GValueBench(int nPort, double nSecondsPerRound, int nRounds)
        : m_nPort(nPort), m_nSecondsPerRound(nSecondsPerRound), m_nRounds(nRounds), m_bare(nPort)
    {
    }

    ~GValueBench()
    {
        if (m_pHarbinet != nullptr)
        {
            m_pHarbinet->Close();
            m_pHarbinet->Release();
        }
    }

    GValueBench(const GValueBench&) = delete;
    GValueBench& operator=(const GValueBench&) = delete;

    int Run()
    {
        m_pHarbinet = CreateOpenedHarbinet(m_nPort, m_hr);
        if (m_pHarbinet == nullptr)
            return Fail("no Harbinet object");
        if (FAILED(m_hr) || !m_bare.IsConnected())
            return Fail("cannot connect");

        if (!MeasureStreamMemory())
            return 1;
        const GFigures setScalar = CompareScalarSet();
        const GFigures getScalar = CompareScalarGet();
        const GFigures setArray = CompareBigSet(false);
        const GFigures getArray = CompareBigGet(false);
        const GFigures getArrayFresh = CompareBigGetIntoFreshMemory();
        const GFigures setStream = CompareBigSet(true);
        const GFigures getStream = CompareBigGet(true);
        if (m_bFailed)
            return 1;

        std::printf("\nMedians of %d rounds of %.1f s, one connection each:\n", m_nRounds, m_nSecondsPerRound);
        PrintRate("Set 24-byte scalar", setScalar, "round trips/s", 0.85);
        PrintRate("Get 24-byte scalar", getScalar, "round trips/s", 0.85);
        PrintRate("Set 16 MiB byte array", Throughput(setArray), "MB/s", 0.5);
        PrintRate("Get 16 MiB byte array", Throughput(getArray), "MB/s", 0.5);
        std::printf("  %-22s IHarbinet %10.1f MB/s, bare into fresh memory %.1f MB/s, ratio %.3f\n", "  (fresh-memory floor)",
                    Throughput(getArrayFresh).nComponent, Throughput(getArrayFresh).nFloor,
                    getArrayFresh.nComponent / getArrayFresh.nFloor);
        PrintRate("Set 16 MiB stream", Throughput(setStream), "MB/s", 0.5);
        PrintRate("Get 16 MiB stream", Throughput(getStream), "MB/s", 0.5);
        std::printf("Stream case, growth of the process's peaks (target: the same for both sizes):\n");
        std::printf("  16 MiB: working set %+8.1f KiB, pagefile %+8.1f KiB\n", m_aMemory[0][0], m_aMemory[0][1]);
        std::printf("  64 MiB: working set %+8.1f KiB, pagefile %+8.1f KiB\n", m_aMemory[1][0], m_aMemory[1][1]);
        std::printf("  (a 16 MiB byte array, held whole, for comparison: working set %+.1f KiB, pagefile %+.1f KiB)\n",
                    m_aMemory[2][0], m_aMemory[2][1]);

        m_pHarbinet->Close();
        const ULONG nLeft = m_pHarbinet->Release();
        m_pHarbinet = nullptr;
        if (nLeft != 0 || GHarbinetModule::Instance().CanUnloadNow() != S_OK)
            return Fail("the object or the module outlived the last Release");
        return 0;
    }

private:
    int Fail(const char* szWhat)
    {
        Complain(szWhat);
        return 1;
    }

    bool Complain(const char* szWhat)
    {
        std::fprintf(stderr, "value_bench: %s (last HRESULT 0x%08lX)\n", szWhat, static_cast<unsigned long>(m_hr));
        m_bFailed = true;
        return false;
    }

    bool Set(const wchar_t* szName, VARIANT& var)
    {
        BSTR bstrName = SysAllocString(szName);
        VARIANT_BOOL bSet = VARIANT_FALSE;
        m_hr = m_pHarbinet->Set(bstrName, &var, 0, &bSet);
        SysFreeString(bstrName);
        return m_hr == S_OK && bSet == VARIANT_TRUE;
    }

    bool Get(const wchar_t* szName, VARIANT& var)
    {
        BSTR bstrName = SysAllocString(szName);
        VARIANT_BOOL bFound = VARIANT_FALSE;
        m_hr = m_pHarbinet->Get(bstrName, &var, &bFound);
        SysFreeString(bstrName);
        return m_hr == S_OK && bFound == VARIANT_TRUE;
    }

    static void PeakMemory(double& nWorkingSet, double& nPagefile)
    {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
        nWorkingSet = static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
        nPagefile = static_cast<double>(counters.PeakPagefileUsage) / 1024.0;
    }

    // One Set and one Get of a synthetic stream of nSize bytes; false when either failed.
    bool MoveStream(ULONG nSize)
    {
        GSyntheticStream* pStream = new GSyntheticStream(nSize);
        VARIANT var;
        VariantInit(&var);
        var.vt = VT_UNKNOWN;
        var.punkVal = pStream;
        const bool bMoved = Set(L"bench.memory", var) && Get(L"bench.memory", var) && pStream->Written() == nSize;
        VariantClear(&var);
        return bMoved;
    }

    bool MeasureStreamMemory()
    {
        // A small exchange first, so that the connection's own first costs are behind us.
        if (!MoveStream(4096))
            return Complain("the warm-up stream did not go through");
        const ULONG aSizes[2] = {BIG_BYTES, HUGE_STREAM_BYTES};
        for (int i = 0; i < 2; ++i)
        {
            double nWorkingSet = 0;
            double nPagefile = 0;
            PeakMemory(nWorkingSet, nPagefile);
            if (!MoveStream(aSizes[i]))
                return Complain("a stream did not go through; is the server's --max-value-size at least 65M?");
            double nWorkingSetAfter = 0;
            double nPagefileAfter = 0;
            PeakMemory(nWorkingSetAfter, nPagefileAfter);
            m_aMemory[i][0] = nWorkingSetAfter - nWorkingSet;
            m_aMemory[i][1] = nPagefileAfter - nPagefile;
            std::printf("stream of %3lu MiB: peak working set %.0f -> %.0f KiB, peak pagefile %.0f -> %.0f KiB\n",
                        static_cast<unsigned long>(aSizes[i] >> 20), nWorkingSet, nWorkingSetAfter, nPagefile,
                        nPagefileAfter);
        }
        // The same measure of a byte array, which is held whole, shows that the peaks do
        // see what a transfer keeps in memory.
        double nWorkingSet = 0;
        double nPagefile = 0;
        PeakMemory(nWorkingSet, nPagefile);
        VARIANT var;
        VariantInit(&var);
        var.vt = VT_ARRAY | VT_UI1;
        var.parray = SafeArrayCreateVector(VT_UI1, 0, BIG_BYTES);
        if (var.parray == nullptr)
            return Complain("no memory for the byte array");
        std::memset(var.parray->pvData, 0x5A, BIG_BYTES);
        const bool bMoved = Set(L"bench.memory", var) && Get(L"bench.memory", var);
        VariantClear(&var);
        if (!bMoved)
            return Complain("the byte array did not go through");
        double nWorkingSetAfter = 0;
        double nPagefileAfter = 0;
        PeakMemory(nWorkingSetAfter, nPagefileAfter);
        m_aMemory[2][0] = nWorkingSetAfter - nWorkingSet;
        m_aMemory[2][1] = nPagefileAfter - nPagefile;

        // The server keeps the big value no longer than needed.
        BSTR bstrName = SysAllocString(L"bench.memory");
        m_pHarbinet->Delete(bstrName);
        SysFreeString(bstrName);
        std::fflush(stdout);
        return true;
    }

    // Rounds of the component and the floor, alternating which goes first.
    template <class FC, class FF>
    GFigures Compare(const char* szLabel, long long nClockEvery, FC fnComponent, FF fnFloor)
    {
        GFigures figures;
        if (m_bFailed)
            return figures;
        auto fnPrintRound = [szLabel](int nRound, double nComponent, double nFloor) {
            std::printf("%s, round %d: IHarbinet %.1f/s, bare Winsock %.1f/s, ratio %.3f\n", szLabel, nRound, nComponent,
                        nFloor, nComponent / nFloor);
        };
        figures = CompareInRounds(m_nSecondsPerRound, m_nRounds, nClockEvery, fnComponent, fnFloor, fnPrintRound);
        if (figures.nFailedRound >= 0)
            Fail(szLabel);
        return figures;
    }

    GFigures CompareScalarSet()
    {
        VARIANT var;
        VariantInit(&var);
        var.vt = VT_I4;
        var.lVal = 123456;
        // The image on the wire is 24 bytes whatever the width; a 32-bit VARIANT fills 16.
        std::string sImage(reinterpret_cast<const char*>(&var), sizeof(var));
        sImage.resize(24, '\0');
        const std::string sRequest = SetHead("bench.scalar", VT_I4, 24) + sImage;
        char aBody[64];
        return Compare(
            "Set scalar", 16, [&] { return Set(L"bench.scalar", var); },
            [&] { return m_bare.Exchange(sRequest, aBody, sizeof(aBody), "0"); });
    }

    GFigures CompareScalarGet()
    {
        VARIANT var;
        VariantInit(&var);
        const std::string sRequest = GetRequest("bench.scalar");
        char aBody[64];
        return Compare(
            "Get scalar", 16, [&] { return Get(L"bench.scalar", var) && var.vt == VT_I4; },
            [&] { return m_bare.Exchange(sRequest, aBody, sizeof(aBody), "0"); });
    }

    // The same 16 MiB as a byte array or as a stream; the floor sends the same request
    // from one buffer.
    GFigures CompareBigSet(bool bStream)
    {
        const wchar_t* szName = bStream ? L"bench.stream" : L"bench.array";
        const char* szNarrow = bStream ? "bench.stream" : "bench.array";
        VARIANT var;
        VariantInit(&var);
        GSyntheticStream* pStream = nullptr;
        std::string sRequest = SetHead(szNarrow, bStream ? VT_UNKNOWN : (VT_ARRAY | VT_UI1), BIG_BYTES);
        const size_t nHead = sRequest.size();
        sRequest.resize(nHead + BIG_BYTES);
        if (bStream)
        {
            pStream = new GSyntheticStream(BIG_BYTES);
            var.vt = VT_UNKNOWN;
            var.punkVal = pStream;
        }
        else
        {
            var.vt = VT_ARRAY | VT_UI1;
            var.parray = SafeArrayCreateVector(VT_UI1, 0, BIG_BYTES);
            if (var.parray == nullptr)
            {
                Fail("no memory for the byte array");
                return GFigures();
            }
            std::memset(var.parray->pvData, 0x5A, BIG_BYTES);
        }
        std::memset(&sRequest[nHead], 0x5A, BIG_BYTES);
        char aBody[64];
        const GFigures figures = Compare(
            bStream ? "Set 16 MiB stream" : "Set 16 MiB byte array", 1, [&] { return Set(szName, var); },
            [&] { return m_bare.Exchange(sRequest, aBody, sizeof(aBody), "0"); });
        VariantClear(&var);
        return figures;
    }

    GFigures CompareBigGet(bool bStream)
    {
        const wchar_t* szName = bStream ? L"bench.stream" : L"bench.array";
        const std::string sRequest = GetRequest(bStream ? "bench.stream" : "bench.array");
        std::vector<char> vecBody(BIG_BYTES);
        GSyntheticStream* pStream = bStream ? new GSyntheticStream(BIG_BYTES) : nullptr;
        auto fnComponent = [&] {
            VARIANT var;
            VariantInit(&var);
            if (bStream)
            {
                var.vt = VT_UNKNOWN;
                var.punkVal = pStream;
                pStream->AddRef();
                pStream->ForgetWritten();
            }
            const bool bOk = Get(szName, var)
                          && (bStream ? pStream->Written() == BIG_BYTES
                                      : var.vt == (VT_ARRAY | VT_UI1) && var.parray->rgsabound[0].cElements == BIG_BYTES);
            VariantClear(&var);
            return bOk;
        };
        const GFigures figures =
            Compare(bStream ? "Get 16 MiB stream" : "Get 16 MiB byte array", 1, fnComponent,
                    [&] { return m_bare.Exchange(sRequest, vecBody.data(), vecBody.size(), "0"); });
        if (pStream != nullptr)
            pStream->Release();
        return figures;
    }

    // A fetched byte array is new memory for the caller every time, and on some machines
    // the first touch of fresh pages costs more than the transfer itself. This second
    // floor receives the same reply into a SAFEARRAY made for it and destroyed after,
    // to tell that cost from the component's own.
    GFigures CompareBigGetIntoFreshMemory()
    {
        const std::string sRequest = GetRequest("bench.array");
        auto fnComponent = [&] {
            VARIANT var;
            VariantInit(&var);
            const bool bOk = Get(L"bench.array", var) && var.vt == (VT_ARRAY | VT_UI1);
            VariantClear(&var);
            return bOk;
        };
        auto fnFloor = [&] {
            SAFEARRAY* pArray = SafeArrayCreateVector(VT_UI1, 0, BIG_BYTES);
            if (pArray == nullptr)
                return false;
            const bool bOk = m_bare.Exchange(sRequest, static_cast<char*>(pArray->pvData), BIG_BYTES, "0");
            SafeArrayDestroy(pArray);
            return bOk;
        };
        return Compare("Get 16 MiB byte array, floor into fresh memory", 1, fnComponent, fnFloor);
    }

    static GFigures Throughput(GFigures figures)
    {
        figures.nComponent *= BIG_BYTES / MEBIBYTE;
        figures.nFloor *= BIG_BYTES / MEBIBYTE;
        return figures;
    }

    static void PrintRate(const char* szLabel, const GFigures& figures, const char* szUnit, double nTarget)
    {
        const double nRatio = figures.nComponent / figures.nFloor;
        std::printf("  %-22s IHarbinet %10.1f %s, bare Winsock %10.1f %s, ratio %.3f (target at least %.2f)%s\n",
                    szLabel, figures.nComponent, szUnit, figures.nFloor, szUnit, nRatio, nTarget,
                    nRatio >= nTarget ? "" : "  BELOW TARGET");
    }

    int m_nPort;
    double m_nSecondsPerRound;
    int m_nRounds;
    GBareClient m_bare;
    IHarbinet* m_pHarbinet = nullptr;
    HRESULT m_hr = S_OK;
    bool m_bFailed = false;
    double m_aMemory[3][2] = {};   // 16 MiB stream, 64 MiB stream, 16 MiB byte array
};

int RunValueBench(int nPort, double nSecondsPerRound, int nRounds)
{
    GValueBench bench(nPort, nSecondsPerRound, nRounds);
    return bench.Run();
}

}   // namespace

int main(int argc, char** argv)
{
    return RunBenchMain(argc, argv, "value_bench", RunValueBench);
}
