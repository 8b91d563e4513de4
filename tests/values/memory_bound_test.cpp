// Memory against announced lengths: a reply commits no more than a bounded amount ahead of the bytes it sends.
#include "tests/values/wire_fixture.h"

#include <psapi.h>

#include <cstring>

namespace
{

using MemoryBoundTest = GValueWireTest;

SIZE_T PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
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
        const SIZE_T nBefore = PeakWorkingSet();
        m_server.Answer(FoundReply((std::string("application/x-variant-") + szType).c_str(), "1073741824",
                                   std::string(10, 'x')))
            .CloseNow();
        VARIANT var;
        VariantInit(&var);
        VARIANT_BOOL bFound = VARIANT_FALSE;
        ExpectFailure(static_cast<HRESULT>(0x80040206), L"HTTP error.", Get(L"huge", var, &bFound));
        EXPECT_LT(PeakWorkingSet() - nBefore, SIZE_T(200) << 20);
        EXPECT_EQ(VT_EMPTY, var.vt);
        ASSERT_TRUE(m_server.WaitDone());
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
