// query_bench: what an Execute hit costs against a Get of the same stored bytes into a
// stream, and what the command key's digests cost.
//
//   query_bench.exe PORT [SECONDS_PER_ROUND [ROUNDS]]
//
// A command with three parameters (a number, a string, a date) and a 2 KiB result is
// executed once against the server at 127.0.0.1:PORT, which stores its result under the
// command key. Then, in alternating rounds: Execute hits (key, stream, get, result set
// opened from the stream) against Get of that key into one reused stream. Wine's ADO
// cannot save a result set, so the command, stream and result set are the fakes of the
// query tests; they cost next to nothing, which leaves the component's own share.
//
// Then the digest alone: Md5Hex of the 8 KiB key block, on the provider that the module
// keeps for the process, against the same digest with a provider acquired and released
// for each digest, to show what keeping it saves.
#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "bench_support.h"
#include "query/command_key.h"
#include "tests/query/fake_ado.h"

namespace
{
constexpr DWORD BLOCK_SIZE = 8192;

void Print(const char* szLabel, const char* szComponent, const char* szReference, const GFigures& figures,
           const char* szTarget)
{
    std::printf("%s, median of the rounds:\n", szLabel);
    std::printf("  %-28s %10.0f/s  (%.1f us each)\n", szComponent, figures.nComponent, 1e6 / figures.nComponent);
    std::printf("  %-28s %10.0f/s  (%.1f us each)\n", szReference, figures.nFloor, 1e6 / figures.nFloor);
    std::printf("  ratio %33.3f   %s\n", figures.nComponent / figures.nFloor, szTarget);
}

template <class FC, class FR>
bool Compare(const char* szLabel, double nSecondsPerRound, int nRounds, FC fnComponent, FR fnReference,
             GFigures& figures)
{
    figures = CompareInRounds(nSecondsPerRound, nRounds, 16, fnComponent, fnReference,
                              [szLabel](int nRound, double nComponent, double nReference) {
                                  std::printf("%s, round %d: %.0f/s against %.0f/s, ratio %.3f\n", szLabel, nRound,
                                              nComponent, nReference, nComponent / nReference);
                              });
    if (figures.nFailedRound >= 0)
        std::fprintf(stderr, "query_bench: %s failed in round %d\n", szLabel, figures.nFailedRound);
    return figures.nFailedRound < 0;
}

// The digest with a provider of its own, acquired and released around it.
bool DigestOnFreshProvider(const BYTE* pBlock)
{
    HCRYPTPROV hProv = 0;
    if (!CryptAcquireContextW(&hProv, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET))
        return false;
    HCRYPTHASH hHash = 0;
    bool bDone = false;
    if (CryptCreateHash(hProv, CALG_MD5, 0, 0, &hHash))
    {
        BYTE digest[16];
        DWORD nDigest = sizeof(digest);
        bDone = CryptHashData(hHash, pBlock, BLOCK_SIZE, 0) && CryptGetHashParam(hHash, HP_HASHVAL, digest, &nDigest, 0);
        CryptDestroyHash(hHash);
    }
    CryptReleaseContext(hProv, 0);
    return bDone;
}

GFakeCommand* MakeCommand()
{
    GFakeCommand* pCommand = new GFakeCommand(L"SELECT id, name, price FROM products WHERE price < ? AND name LIKE ? "
                                              L"AND added > ? ORDER BY id",
                                              std::string(2048 - 7, 'r'));
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_R8;
    var.dblVal = 20.0;
    pCommand->AddParameter(var);
    var.vt = VT_BSTR;
    var.bstrVal = SysAllocString(L"Gr%");
    pCommand->AddParameter(var);
    var.vt = VT_DATE;
    var.date = 45000.0;
    pCommand->AddParameter(var);
    return pCommand;
}

int RunBench(int nPort, double nSecondsPerRound, int nRounds)
{
    GAdoRegistration registration;
    AdoWorld().bLogCalls = false;
    HRESULT hr = S_OK;
    IHarbinet* pHarbinet = CreateOpenedHarbinet(nPort, hr);
    if (pHarbinet == nullptr || FAILED(hr))
    {
        std::fprintf(stderr, "query_bench: no Harbinet object open on 127.0.0.1:%d (0x%08lX)\n", nPort,
                     static_cast<unsigned long>(hr));
        if (pHarbinet != nullptr)
            pHarbinet->Release();
        return 1;
    }
    GFakeCommand* pCommand = MakeCommand();
    IStream* pReuse = nullptr;
    BSTR bstrKey = nullptr;
    int nResult = 0;

    // The first Execute misses and stores the result under the key. The run of the other
    // width against the same server stored it under the same key, so it goes first.
    IDispatch* pRecordset = nullptr;
    if (SUCCEEDED(CommandKey(pCommand, &bstrKey)))
        pHarbinet->Delete(bstrKey);
    hr = pHarbinet->Execute(pCommand, nullptr, 0, &pRecordset);
    if (FAILED(hr) || bstrKey == nullptr || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &pReuse)))
    {
        std::fprintf(stderr, "query_bench: the first Execute failed (0x%08lX)\n", static_cast<unsigned long>(hr));
        nResult = 1;
    }
    if (pRecordset != nullptr)
        pRecordset->Release();

    GFigures hit;
    GFigures digest;
    if (nResult == 0)
    {
        auto fnHit = [&] {
            IDispatch* p = nullptr;
            hr = pHarbinet->Execute(pCommand, nullptr, 0, &p);
            if (p != nullptr)
                p->Release();
            return hr == S_OK && pCommand->m_nExecutions == 1;
        };
        VARIANT varStream;
        varStream.vt = VT_UNKNOWN;
        varStream.punkVal = pReuse;
        auto fnGet = [&] {
            VARIANT_BOOL bFound = VARIANT_FALSE;
            hr = pHarbinet->Get(bstrKey, &varStream, &bFound);
            return hr == S_OK && bFound == VARIANT_TRUE;
        };
        if (!Compare("Execute hit against Get into a stream", nSecondsPerRound, nRounds, fnHit, fnGet, hit))
            nResult = 1;
    }
    if (nResult == 0)
    {
        static BYTE block[BLOCK_SIZE];
        for (DWORD i = 0; i < BLOCK_SIZE; ++i)
            block[i] = static_cast<BYTE>(i * 7);
        auto fnKept = [&] {
            wchar_t szHex[33];
            return SUCCEEDED(Md5Hex(block, BLOCK_SIZE, szHex));
        };
        auto fnFresh = [&] { return DigestOnFreshProvider(block); };
        if (!Compare("Md5Hex of 8 KiB against a provider per digest", nSecondsPerRound, nRounds, fnKept, fnFresh,
                     digest))
            nResult = 1;
    }
    if (nResult == 0)
    {
        Print("Execute hit, 2 KiB result, three parameters", "Execute (hit)", "Get into a stream", hit,
              "(target at least 0.8)");
        Print("Digest of the 8 KiB key block", "Md5Hex, provider kept", "provider per digest", digest, "");
    }

    SysFreeString(bstrKey);
    if (pReuse != nullptr)
        pReuse->Release();
    pCommand->Release();
    pHarbinet->Close();
    if (pHarbinet->Release() != 0 || GHarbinetModule::Instance().CanUnloadNow() != S_OK)
    {
        std::fprintf(stderr, "query_bench: the object or the module outlived the last Release\n");
        nResult = 1;
    }
    return nResult;
}
}   // namespace

int main(int argc, char** argv)
{
    return RunBenchMain(argc, argv, "query_bench", RunBench);
}
