// Memory against announced lengths: a reply commits no more than a bounded amount ahead of the bytes it sends.
#include "tests/values/wire_fixture.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace
{

using MemoryBoundTest = GValueWireTest;

// The commit charge, which unlike the working set counts memory taken but not touched
// (wine counts only touched memory, but body storage is zeroed when it is made).
SIZE_T Committed()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

// The most committed while fnWork ran, above what was before, sampled every millisecond.
template <class F>
SIZE_T CommittedPeakDuring(F fnWork)
{
    const SIZE_T nBefore = Committed();
    std::atomic<SIZE_T> nPeak{nBefore};
    std::atomic<bool> bDone{false};
    std::thread sampler([&] {
        for (; !bDone; Sleep(1))
            nPeak = std::max<SIZE_T>(nPeak, Committed());
    });
    fnWork();
    bDone = true;
    sampler.join();
    return nPeak - nBefore;
}

// 110 bytes that announce a gigabyte, then the end of the connection. The peak can only
// grow; a client that committed the announced length would lift it by a gigabyte.
TEST_F(MemoryBoundTest, AHugeAnnouncementCommitsOnlyABoundedAmountBeforeTheBytesCome)
{
    for (const char* szType : {"8", "8209"})
    {
        SCOPED_TRACE(szType);
        m_pObject->Close();   // the failure before closed it too
        ASSERT_EQ(S_OK, Open());
        m_server.Answer(FoundReply((std::string("application/x-variant-") + szType).c_str(), "1073741824",
                                   std::string(10, 'x')))
            .CloseNow();
        VARIANT var;
        VariantInit(&var);
        VARIANT_BOOL bFound = VARIANT_FALSE;
        const SIZE_T nPeak = CommittedPeakDuring([&] {
            ExpectFailure(static_cast<HRESULT>(0x80040206), L"HTTP error.", Get(L"huge", var, &bFound));
        });
        EXPECT_LT(nPeak, SIZE_T(100) << 20);
        EXPECT_EQ(VT_EMPTY, var.vt);
        ASSERT_TRUE(m_server.WaitDone());
    }
}

// 48 MiB arrives straight into place, 200 MiB is first gathered in part.
TEST_F(MemoryBoundTest, AGenuineValueCommitsAboutItsOwnSize)
{
    for (const size_t nMiB : {48, 200})
    {
        SCOPED_TRACE(nMiB);
        const size_t nBytes = nMiB << 20;
        m_server.Answer(FoundReply("application/x-variant-8209", std::string(nBytes, 'v')));
        VARIANT var = {};
        VARIANT_BOOL bFound = VARIANT_FALSE;
        const SIZE_T nPeak = CommittedPeakDuring([&] { ASSERT_EQ(S_OK, Get(L"large", var, &bFound)); });
        std::printf("%u MiB value: committed peak %.2f times its size\n", unsigned(nMiB), double(nPeak) / nBytes);
        EXPECT_LE(nPeak, nBytes + nBytes * 3 / 10);
        EXPECT_EQ(nBytes, SafeArrayGetDim(var.parray) == 1 ? var.parray->rgsabound[0].cElements : 0);
        VariantClear(&var);
    }
}

// A body past the direct size arrives in pieces and comes back whole.
TEST_F(MemoryBoundTest, ABodyLongerThanOnePieceArrivesWhole)
{
    std::string sBody((64 << 20) + 3, '\0');
    for (size_t i = 0; i < sBody.size(); ++i)
        sBody[i] = static_cast<char>(i * 7 + (i >> 20));
    m_server.Answer(FoundReply("application/x-variant-8209", sBody));
    VARIANT var;
    VariantInit(&var);
    VARIANT_BOOL bFound = VARIANT_FALSE;
    ASSERT_EQ(S_OK, Get(L"large", var, &bFound));
    EXPECT_EQ(VARIANT_TRUE, bFound);
    ASSERT_EQ(VT_ARRAY | VT_UI1, var.vt);
    ASSERT_EQ(sBody.size(), var.parray->rgsabound[0].cElements);
    EXPECT_TRUE(std::memcmp(sBody.data(), var.parray->pvData, sBody.size()) == 0);
    VariantClear(&var);
    ExpectOpen();
}

}   // namespace
