// Tests of the store: keys and spaces, expiry, eviction order, cost accounting.
//
// Costs are worked out by hand from three facts: an entry is one block of a
// 64-byte header plus cookie, name and body; glibc's heap gives a block of n
// bytes a chunk of (n + 8) rounded up to 16 (at least 32); blocks of 64 KiB or
// more are mapped in whole 4096-byte pages. The empty store holds a table of
// 1024 eight-byte buckets: an 8192-byte block, 8208 bytes.
#include "store.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

constexpr uint64_t kEmptyStore = 8208;

GKey Shared(std::string_view szName)
{
    return GKey{false, {}, szName};
}

GKey InCookie(std::string_view szCookie, std::string_view szName)
{
    return GKey{true, szCookie, szName};
}

bool Put(GStore& store, const GKey& key, const std::string& strBody, uint32_t nTimeout = 0, int64_t nNowMs = 1000,
    uint16_t nType = 8)
{
    GEntryRef refEntry;
    if (store.Prepare(key, nType, nTimeout, strBody.size(), refEntry) != EAdmit::Ok)
        return false;
    memcpy(refEntry->Value(), strBody.data(), strBody.size());
    return store.Put(std::move(refEntry), nNowMs);
}

std::string Fetch(GStore& store, const GKey& key, int64_t nNowMs = 1000)
{
    GEntryRef refEntry = store.Get(key, nNowMs);
    if (!refEntry)
        return "<absent>";
    return std::string(refEntry->Value(), refEntry->m_nValueLength);
}

} // namespace

TEST(StoreTest, GivesBackTypeAndBytesAsStored)
{
    GStore store(1 << 20);
    const std::string strBody("\x03\x00\x00\x00\x00\x00\x00\x00\x2a\x00\x00\x00\x00\x00\x00\x00"
                              "\x00\x00\x00\x00\x00\x00\x00\x00", 24);
    ASSERT_TRUE(Put(store, InCookie("abc", "user7"), strBody, 60, 1000, 3));
    GEntryRef refEntry = store.Get(InCookie("abc", "user7"), 1000);
    ASSERT_TRUE(refEntry);
    EXPECT_EQ(3, refEntry->m_nType);
    EXPECT_EQ(strBody, std::string(refEntry->Value(), refEntry->m_nValueLength));
}

TEST(StoreTest, EmptyBodyIsAValue)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("empty"), ""));
    EXPECT_EQ("", Fetch(store, Shared("empty")));
}

TEST(StoreTest, CookiesAndTheSharedSpaceAreSeparate)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("n"), "shared"));
    ASSERT_TRUE(Put(store, InCookie("", "n"), "empty cookie"));
    ASSERT_TRUE(Put(store, InCookie("c1", "n"), "one"));
    ASSERT_TRUE(Put(store, InCookie("c2", "n"), "two"));
    EXPECT_EQ("shared", Fetch(store, Shared("n")));
    EXPECT_EQ("empty cookie", Fetch(store, InCookie("", "n")));
    EXPECT_EQ("one", Fetch(store, InCookie("c1", "n")));
    EXPECT_EQ("two", Fetch(store, InCookie("c2", "n")));
    EXPECT_EQ("<absent>", Fetch(store, InCookie("c3", "n")));
    EXPECT_EQ(4u, store.Count());
}

TEST(StoreTest, CookieAndNameDoNotRunTogether)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, InCookie("ab", "c"), "first"));
    ASSERT_TRUE(Put(store, InCookie("a", "bc"), "second"));
    EXPECT_EQ("first", Fetch(store, InCookie("ab", "c")));
    EXPECT_EQ("second", Fetch(store, InCookie("a", "bc")));
}

TEST(StoreTest, NamesAreExactBytes)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("Name"), "upper"));
    ASSERT_TRUE(Put(store, Shared("name "), "space"));
    EXPECT_EQ("<absent>", Fetch(store, Shared("name")));
    EXPECT_EQ("upper", Fetch(store, Shared("Name")));
    EXPECT_EQ("space", Fetch(store, Shared("name ")));
}

TEST(StoreTest, SetReplacesTheOldValue)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("k"), "old value"));
    ASSERT_TRUE(Put(store, Shared("k"), "new"));
    EXPECT_EQ("new", Fetch(store, Shared("k")));
    EXPECT_EQ(1u, store.Count());
}

TEST(StoreTest, DeleteRemovesAndSaysWhetherSomethingWasThere)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("k"), "v"));
    EXPECT_TRUE(store.Delete(Shared("k"), 1000));
    EXPECT_EQ("<absent>", Fetch(store, Shared("k")));
    EXPECT_FALSE(store.Delete(Shared("k"), 1000));
    EXPECT_EQ(0u, store.Count());
}

TEST(StoreTest, ValueLivesExactlyItsTimeout)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("t"), "v", 2, 10000));
    EXPECT_EQ("v", Fetch(store, Shared("t"), 11999));
    EXPECT_EQ("<absent>", Fetch(store, Shared("t"), 12000));
}

TEST(StoreTest, ExpiredValueIsReclaimedWhenAccessed)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("t"), "v", 1, 10000));
    EXPECT_EQ(1u, store.Count());
    EXPECT_EQ("<absent>", Fetch(store, Shared("t"), 11000));
    EXPECT_EQ(0u, store.Count());
    EXPECT_EQ(kEmptyStore, store.UsedBytes());
}

TEST(StoreTest, DeletingAnExpiredValueReportsNothingWasThere)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("t"), "v", 1, 10000));
    EXPECT_FALSE(store.Delete(Shared("t"), 20000));
    EXPECT_EQ(0u, store.Count());
}

TEST(StoreTest, ZeroTimeoutNeverExpires)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("forever"), "v", 0, 1000));
    EXPECT_EQ("v", Fetch(store, Shared("forever"), 1000 + 100LL * 365 * 24 * 3600 * 1000));
}

TEST(StoreTest, TimeoutCountsFromTheMomentOfStoring)
{
    GStore store(1 << 20);
    GEntryRef refEntry;
    ASSERT_EQ(EAdmit::Ok, store.Prepare(Shared("slow"), 8, 1, 1, refEntry));
    refEntry->Value()[0] = 'x';
    // The body took five seconds to arrive; the second of life starts now.
    ASSERT_TRUE(store.Put(std::move(refEntry), 15000));
    EXPECT_EQ("x", Fetch(store, Shared("slow"), 15999));
    EXPECT_EQ("<absent>", Fetch(store, Shared("slow"), 16000));
}

TEST(StoreTest, SweepReclaimsExpiredValuesNobodyAsksFor)
{
    GStore store(1 << 20);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(Put(store, Shared("short" + std::to_string(i)), "v", 1, 1000));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(Put(store, Shared("long" + std::to_string(i)), "v", 0, 1000));
    EXPECT_EQ(0u, store.Sweep(1999, store.BucketCount()));
    EXPECT_EQ(150u, store.Count());
    EXPECT_EQ(100u, store.Sweep(2000, store.BucketCount()));
    EXPECT_EQ(50u, store.Count());
}

TEST(StoreTest, SweepInStepsCoversTheWholeTable)
{
    GStore store(1 << 20);
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(Put(store, Shared("s" + std::to_string(i)), "v", 1, 1000));
    size_t nDropped = 0;
    for (size_t nStep = 0; nStep * 100 < store.BucketCount(); ++nStep)
        nDropped += store.Sweep(5000, 100);
    EXPECT_EQ(300u, nDropped);
    EXPECT_EQ(0u, store.Count());
}

TEST(StoreTest, EntryCostIsItsWholeHeapChunk)
{
    GStore store(1 << 20);
    EXPECT_EQ(kEmptyStore, store.UsedBytes());
    // 64 + 1 + 24 = 89 bytes; chunk (89 + 8) rounded up to 16 = 112.
    ASSERT_TRUE(Put(store, Shared("a"), std::string(24, 'v')));
    EXPECT_EQ(kEmptyStore + 112, store.UsedBytes());
    // 64 + 3 + 5 + 100 = 172 bytes; chunk 180 rounded up to 192.
    ASSERT_TRUE(Put(store, InCookie("abc", "user7"), std::string(100, 'v')));
    EXPECT_EQ(kEmptyStore + 112 + 192, store.UsedBytes());
    // 64 + 1 + 0 = 65 bytes; chunk 73 rounded up to 80.
    ASSERT_TRUE(Put(store, Shared("e"), ""));
    EXPECT_EQ(kEmptyStore + 112 + 192 + 80, store.UsedBytes());
    EXPECT_EQ(80u, GStore::EntryCost(0, 1, 0));
    // Up to seven bytes of body fit in that chunk; the eighth needs the next step.
    EXPECT_EQ(80u, GStore::EntryCost(0, 1, 7));
    EXPECT_EQ(96u, GStore::EntryCost(0, 1, 8));
    // The smallest chunk glibc hands out is 32 bytes; no entry comes near it.
    EXPECT_EQ(80u, GStore::EntryCost(0, 0, 0));
}

TEST(StoreTest, LargeEntryCostsWholePages)
{
    GStore store(1 << 20);
    // 64 + 3 + 100000 = 100067 bytes: 25 pages of 4096.
    ASSERT_TRUE(Put(store, Shared("big"), std::string(100000, 'b')));
    EXPECT_EQ(kEmptyStore + 102400, store.UsedBytes());
    // 65536 - 64 - 1 bytes of body make exactly a 64 KiB block: 16 pages.
    ASSERT_TRUE(Put(store, Shared("x"), std::string(65536 - 65, 'x')));
    EXPECT_EQ(kEmptyStore + 102400 + 65536, store.UsedBytes());
}

TEST(StoreTest, ReplaceAndDeleteGiveTheCostBack)
{
    GStore store(1 << 20);
    ASSERT_TRUE(Put(store, Shared("a"), std::string(100000, 'b')));
    ASSERT_TRUE(Put(store, Shared("a"), std::string(24, 'v')));
    EXPECT_EQ(kEmptyStore + 112, store.UsedBytes());
    EXPECT_TRUE(store.Delete(Shared("a"), 1000));
    EXPECT_EQ(kEmptyStore, store.UsedBytes());
}

TEST(StoreTest, EvictsTheLeastRecentlyUsedFirst)
{
    // Room for exactly three entries of 112 bytes beside the bucket table.
    GStore store(kEmptyStore + 3 * 112);
    const std::string strBody(24, 'v');
    ASSERT_TRUE(Put(store, Shared("a"), strBody));
    ASSERT_TRUE(Put(store, Shared("b"), strBody));
    ASSERT_TRUE(Put(store, Shared("c"), strBody));
    // Reading a makes b the coldest.
    EXPECT_EQ(strBody, Fetch(store, Shared("a")));
    ASSERT_TRUE(Put(store, Shared("d"), strBody));
    EXPECT_EQ("<absent>", Fetch(store, Shared("b")));
    EXPECT_EQ(strBody, Fetch(store, Shared("a")));
    EXPECT_EQ(strBody, Fetch(store, Shared("c")));
    EXPECT_EQ(strBody, Fetch(store, Shared("d")));
    // Now a, c, d were read in that order: a is the coldest.
    ASSERT_TRUE(Put(store, Shared("e"), strBody));
    EXPECT_EQ("<absent>", Fetch(store, Shared("a")));
    EXPECT_EQ(3u, store.Count());
    EXPECT_EQ(kEmptyStore + 3 * 112, store.UsedBytes());
}

TEST(StoreTest, ReplacingAValueMakesItTheMostRecent)
{
    GStore store(kEmptyStore + 3 * 112);
    const std::string strBody(24, 'v');
    ASSERT_TRUE(Put(store, Shared("a"), strBody));
    ASSERT_TRUE(Put(store, Shared("b"), strBody));
    ASSERT_TRUE(Put(store, Shared("c"), strBody));
    ASSERT_TRUE(Put(store, Shared("a"), std::string(24, 'w')));
    ASSERT_TRUE(Put(store, Shared("d"), strBody));
    EXPECT_EQ("<absent>", Fetch(store, Shared("b")));
    EXPECT_EQ(std::string(24, 'w'), Fetch(store, Shared("a")));
}

TEST(StoreTest, LargeValueEvictsAsManyAsItNeeds)
{
    GStore store(kEmptyStore + 3 * 112);
    const std::string strBody(24, 'v');
    ASSERT_TRUE(Put(store, Shared("a"), strBody));
    ASSERT_TRUE(Put(store, Shared("b"), strBody));
    ASSERT_TRUE(Put(store, Shared("c"), strBody));
    // 64 + 1 + 200 = 265 bytes: a chunk of 288, which needs all three places.
    ASSERT_TRUE(Put(store, Shared("d"), std::string(200, 'd')));
    EXPECT_EQ(1u, store.Count());
    EXPECT_EQ(kEmptyStore + 288, store.UsedBytes());
}

TEST(StoreTest, ValueThatCannotFitEvenAloneIsRefused)
{
    GStore store(kEmptyStore + 3 * 112);
    ASSERT_TRUE(Put(store, Shared("keep"), std::string(24, 'v')));
    GEntryRef refEntry;
    // 64 + 4 + 300 = 368 bytes: a chunk of 384, more than the 336 the limit leaves.
    EXPECT_EQ(EAdmit::TooLarge, store.Prepare(Shared("huge"), 8, 0, 300, refEntry));
    EXPECT_FALSE(refEntry);
    EXPECT_EQ(std::string(24, 'v'), Fetch(store, Shared("keep")));
}

TEST(StoreTest, UsageNeverExceedsTheLimitWhileWritingFarPastIt)
{
    const uint64_t nLimit = 256 * 1024;
    GStore store(nLimit);
    uint64_t nWritten = 0;
    for (int i = 0; nWritten < 8 * nLimit; ++i)
    {
        const size_t nSize = static_cast<size_t>((i * 7919) % 70000);
        ASSERT_TRUE(Put(store, Shared("v" + std::to_string(i)), std::string(nSize, 'x')));
        nWritten += nSize;
        ASSERT_LE(store.UsedBytes(), nLimit) << "after value " << i;
    }
    EXPECT_GT(store.Count(), 0u);
}

TEST(StoreTest, BucketTableGrowsWithTheEntriesAndIsCounted)
{
    GStore store(16 << 20);
    for (int i = 0; i < 1025; ++i)
        ASSERT_TRUE(Put(store, Shared(std::to_string(100000 + i)), ""));
    EXPECT_EQ(2048u, store.BucketCount());
    // 1025 entries of 64 + 6 bytes (chunk 80), and 2048 buckets: a 16384-byte
    // block, 16400 bytes.
    EXPECT_EQ(1025u * 80 + 16400, store.UsedBytes());
    for (int i = 0; i < 1025; ++i)
        ASSERT_EQ("", Fetch(store, Shared(std::to_string(100000 + i)))) << i;
}

TEST(StoreTest, ValueBeingSentSurvivesItsEviction)
{
    GStore store(kEmptyStore + 3 * 112);
    ASSERT_TRUE(Put(store, Shared("a"), std::string(24, 'a')));
    GEntryRef refHeld = store.Get(Shared("a"), 1000);
    ASSERT_TRUE(refHeld);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(Put(store, Shared("n" + std::to_string(i)), std::string(23, 'n')));
    EXPECT_EQ("<absent>", Fetch(store, Shared("a")));
    EXPECT_EQ(std::string(24, 'a'), std::string(refHeld->Value(), refHeld->m_nValueLength));
    // The held block no longer counts against the limit.
    EXPECT_EQ(kEmptyStore + 3 * 112, store.UsedBytes());
}

TEST(StoreTest, PreparedEntryThatIsNeverPutCostsNothing)
{
    GStore store(1 << 20);
    {
        GEntryRef refEntry;
        ASSERT_EQ(EAdmit::Ok, store.Prepare(Shared("x"), 8, 0, 1000, refEntry));
    }
    EXPECT_EQ(kEmptyStore, store.UsedBytes());
    EXPECT_EQ(0u, store.Count());
}
