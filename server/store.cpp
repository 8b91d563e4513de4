// The value store: hash buckets for lookup, one list for recency, one lock.
#include "store.h"

#include <cstring>
#include <new>
#include <random>
#include <sys/random.h>

namespace
{

constexpr size_t kInitialBuckets = 1024;

uint64_t MakeSeed()
{
    // A random seed keeps clients from picking names that all land in one bucket.
    uint64_t nSeed = 0;
    if (getrandom(&nSeed, sizeof(nSeed), 0) != static_cast<ssize_t>(sizeof(nSeed)))
        nSeed = std::random_device{}() * 0x9E3779B97F4A7C15ull;
    return nSeed | 1;
}

uint64_t Mix(uint64_t n)
{
    n ^= n >> 32;
    n *= 0xD6E8FEB86659FD93ull;
    n ^= n >> 32;
    n *= 0xD6E8FEB86659FD93ull;
    n ^= n >> 32;
    return n;
}

uint64_t HashBytes(uint64_t nState, std::string_view sz)
{
    const char* p = sz.data();
    size_t nLeft = sz.size();
    while (nLeft >= 8)
    {
        uint64_t nWord;
        memcpy(&nWord, p, 8);
        nState = Mix(nState ^ nWord);
        p += 8;
        nLeft -= 8;
    }
    uint64_t nTail = 0;
    memcpy(&nTail, p, nLeft);
    return Mix(nState ^ nTail ^ (static_cast<uint64_t>(nLeft) << 56));
}

void ReleaseEntry(GEntry* pEntry)
{
    if (pEntry->m_nRefs.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        const GBlock block = pEntry->Block();
        pEntry->~GEntry();
        FreeBlock(block);
    }
}

} // namespace

GEntryRef& GEntryRef::operator=(GEntryRef&& other) noexcept
{
    if (this != &other)
    {
        Reset();
        m_pEntry = other.m_pEntry;
        other.m_pEntry = nullptr;
    }
    return *this;
}

void GEntryRef::Reset()
{
    if (m_pEntry != nullptr)
    {
        ReleaseEntry(m_pEntry);
        m_pEntry = nullptr;
    }
}

GStore::GStore(uint64_t nLimit) : m_nLimit(nLimit), m_nSeed(MakeSeed())
{
    m_blockBuckets = AllocBlock(kInitialBuckets * sizeof(GEntry*));
    if (m_blockBuckets.p == nullptr)
        throw std::bad_alloc();
    m_ppBuckets = static_cast<GEntry**>(m_blockBuckets.p);
    m_nBuckets = kInitialBuckets;
    memset(m_ppBuckets, 0, m_nBuckets * sizeof(GEntry*));
    m_nUsed = m_blockBuckets.nCost;
    m_nBucketCost = m_blockBuckets.nCost;
}

GStore::~GStore()
{
    GEntry* pEntry = m_pNewest;
    while (pEntry != nullptr)
    {
        GEntry* pOlder = pEntry->m_pOlder;
        ReleaseEntry(pEntry);
        pEntry = pOlder;
    }
    FreeBlock(m_blockBuckets);
}

uint64_t GStore::EntryCost(size_t nCookieLength, size_t nNameLength, uint64_t nValueLength)
{
    return BlockCost(sizeof(GEntry) + nCookieLength + nNameLength + nValueLength);
}

GEntryRef GStore::MakeEntry(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
    uint64_t nHash)
{
    const size_t nCookie = key.bCookie ? key.szCookie.size() : 0;
    if (nValueLength > UINT32_MAX || nCookie > UINT32_MAX || key.szName.size() > UINT32_MAX)
        return GEntryRef();
    GBlock block = AllocBlock(sizeof(GEntry) + nCookie + key.szName.size() + nValueLength);
    if (block.p == nullptr)
        return GEntryRef();
    GEntry* pEntry = new (block.p) GEntry{};
    pEntry->m_nRefs.store(1, std::memory_order_relaxed);
    pEntry->m_nHash = nHash;
    pEntry->m_nTimeout = nTimeout;
    pEntry->m_nCookieLength = static_cast<uint32_t>(nCookie);
    pEntry->m_nNameLength = static_cast<uint32_t>(key.szName.size());
    pEntry->m_nValueLength = static_cast<uint32_t>(nValueLength);
    pEntry->m_nType = nType;
    pEntry->m_bCookie = key.bCookie;
    // An empty view may have no data pointer at all, which memcpy must not be given.
    if (nCookie != 0)
        memcpy(pEntry->Data(), key.szCookie.data(), nCookie);
    if (!key.szName.empty())
        memcpy(pEntry->Data() + nCookie, key.szName.data(), key.szName.size());
    return GEntryRef(pEntry);
}

EAdmit GStore::Prepare(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
    GEntryRef& refEntry) const
{
    refEntry.Reset();
    const size_t nCookie = key.bCookie ? key.szCookie.size() : 0;
    if (nValueLength > UINT32_MAX || nCookie > UINT32_MAX || key.szName.size() > UINT32_MAX)
        return EAdmit::TooLarge;
    // The buckets are part of what the limit covers, so a value has to fit
    // beside them in an otherwise empty store.
    if (EntryCost(nCookie, key.szName.size(), nValueLength)
        + m_nBucketCost.load(std::memory_order_relaxed) > m_nLimit)
        return EAdmit::TooLarge;

    refEntry = MakeEntry(key, nType, nTimeout, nValueLength, HashKey(key));
    if (!refEntry)
        return EAdmit::NoMemory;
    return EAdmit::Ok;
}

uint64_t GStore::HashKey(const GKey& key) const
{
    uint64_t nState = m_nSeed;
    if (key.bCookie)
        nState = HashBytes(nState ^ 0xC0, key.szCookie);
    return HashBytes(nState, key.szName);
}

GEntry** GStore::FindSlot(const GKey& key, uint64_t nHash)
{
    GEntry** ppSlot = &m_ppBuckets[nHash & (m_nBuckets - 1)];
    while (*ppSlot != nullptr)
    {
        const GEntry* p = *ppSlot;
        if (p->m_nHash == nHash && p->m_bCookie == key.bCookie && p->Name() == key.szName
            && (!key.bCookie || p->Cookie() == key.szCookie))
            return ppSlot;
        ppSlot = &(*ppSlot)->m_pNextInBucket;
    }
    return ppSlot;
}

void GStore::Unlink(GEntry** ppSlot)
{
    GEntry* pEntry = *ppSlot;
    *ppSlot = pEntry->m_pNextInBucket;
    if (pEntry->m_pNewer != nullptr)
        pEntry->m_pNewer->m_pOlder = pEntry->m_pOlder;
    else
        m_pNewest = pEntry->m_pOlder;
    if (pEntry->m_pOlder != nullptr)
        pEntry->m_pOlder->m_pNewer = pEntry->m_pNewer;
    else
        m_pOldest = pEntry->m_pNewer;
    const uint64_t nCost = pEntry->Cost();
    m_nUsed -= nCost;
    m_nFreed += nCost;
    --m_nCount;
    ReleaseEntry(pEntry);
}

void GStore::UnlinkEntry(GEntry* pEntry)
{
    GEntry** ppSlot = &m_ppBuckets[pEntry->m_nHash & (m_nBuckets - 1)];
    while (*ppSlot != pEntry)
        ppSlot = &(*ppSlot)->m_pNextInBucket;
    Unlink(ppSlot);
}

void GStore::TouchLocked(GEntry* pEntry)
{
    if (m_pNewest == pEntry)
        return;
    pEntry->m_pNewer->m_pOlder = pEntry->m_pOlder;
    if (pEntry->m_pOlder != nullptr)
        pEntry->m_pOlder->m_pNewer = pEntry->m_pNewer;
    else
        m_pOldest = pEntry->m_pNewer;
    pEntry->m_pNewer = nullptr;
    pEntry->m_pOlder = m_pNewest;
    m_pNewest->m_pNewer = pEntry;
    m_pNewest = pEntry;
}

bool GStore::MakeRoomLocked(uint64_t nBytes)
{
    while (m_nUsed + nBytes > m_nLimit && m_pOldest != nullptr)
    {
        UnlinkEntry(m_pOldest);
        ++m_nEvictions;
    }
    return m_nUsed + nBytes <= m_nLimit;
}

void GStore::GrowBucketsLocked()
{
    const size_t nNewBuckets = m_nBuckets * 2;
    const uint64_t nNewCost = BlockCost(nNewBuckets * sizeof(GEntry*));
    // Growing is worth some eviction, but only while the old table still
    // fits beside the new one; otherwise chains simply get longer.
    if (nNewCost + m_blockBuckets.nCost > m_nLimit / 2 || !MakeRoomLocked(nNewCost))
        return;
    GBlock blockNew = AllocBlock(nNewBuckets * sizeof(GEntry*));
    if (blockNew.p == nullptr)
        return;
    GEntry** ppNew = static_cast<GEntry**>(blockNew.p);
    memset(ppNew, 0, nNewBuckets * sizeof(GEntry*));
    for (size_t i = 0; i < m_nBuckets; ++i)
    {
        GEntry* pEntry = m_ppBuckets[i];
        while (pEntry != nullptr)
        {
            GEntry* pNext = pEntry->m_pNextInBucket;
            GEntry*& pHead = ppNew[pEntry->m_nHash & (nNewBuckets - 1)];
            pEntry->m_pNextInBucket = pHead;
            pHead = pEntry;
            pEntry = pNext;
        }
    }
    m_nUsed -= m_blockBuckets.nCost;
    m_nFreed += m_blockBuckets.nCost;
    FreeBlock(m_blockBuckets);
    m_blockBuckets = blockNew;
    m_ppBuckets = ppNew;
    m_nBuckets = nNewBuckets;
    m_nUsed += blockNew.nCost;
    m_nBucketCost = blockNew.nCost;
}

bool GStore::Put(GEntryRef refEntry, int64_t nNowMs)
{
    GEntry* pEntry = refEntry.Get();
    GKey key{pEntry->m_bCookie, pEntry->Cookie(), pEntry->Name()};
    pEntry->m_nExpiryMs = pEntry->m_nTimeout == 0
        ? 0
        : nNowMs + static_cast<int64_t>(pEntry->m_nTimeout) * 1000;

    std::lock_guard<std::mutex> lock(m_mutex);
    GEntry** ppSlot = FindSlot(key, pEntry->m_nHash);
    // The old value goes first whatever happens next: a refused set must not
    // leave a stale value readable under that name.
    if (*ppSlot != nullptr)
        Unlink(ppSlot);
    if (m_nCount + 1 > m_nBuckets)
        GrowBucketsLocked();
    const uint64_t nCost = pEntry->Cost();
    if (!MakeRoomLocked(nCost))
        return false;

    ppSlot = &m_ppBuckets[pEntry->m_nHash & (m_nBuckets - 1)];
    pEntry->m_pNextInBucket = *ppSlot;
    *ppSlot = pEntry;
    pEntry->m_pNewer = nullptr;
    pEntry->m_pOlder = m_pNewest;
    if (m_pNewest != nullptr)
        m_pNewest->m_pNewer = pEntry;
    else
        m_pOldest = pEntry;
    m_pNewest = pEntry;
    m_nUsed += nCost;
    ++m_nCount;
    // The store keeps the reference the caller handed over.
    refEntry.Detach();
    return true;
}

GEntryRef GStore::Get(const GKey& key, int64_t nNowMs)
{
    const uint64_t nHash = HashKey(key);
    std::lock_guard<std::mutex> lock(m_mutex);
    GEntry** ppSlot = FindSlot(key, nHash);
    GEntry* pEntry = *ppSlot;
    if (pEntry == nullptr)
        return {};
    if (Expired(pEntry, nNowMs))
    {
        Unlink(ppSlot);
        return {};
    }
    TouchLocked(pEntry);
    pEntry->m_nRefs.fetch_add(1, std::memory_order_relaxed);
    return GEntryRef(pEntry);
}

bool GStore::Delete(const GKey& key, int64_t nNowMs)
{
    const uint64_t nHash = HashKey(key);
    std::lock_guard<std::mutex> lock(m_mutex);
    GEntry** ppSlot = FindSlot(key, nHash);
    if (*ppSlot == nullptr)
        return false;
    const bool bLive = !Expired(*ppSlot, nNowMs);
    Unlink(ppSlot);
    return bLive;
}

size_t GStore::Sweep(int64_t nNowMs, size_t nBuckets)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t nDropped = 0;
    if (nBuckets > m_nBuckets)
        nBuckets = m_nBuckets;
    for (size_t i = 0; i < nBuckets; ++i)
    {
        m_nSweepCursor = (m_nSweepCursor + 1) & (m_nBuckets - 1);
        GEntry** ppSlot = &m_ppBuckets[m_nSweepCursor];
        while (*ppSlot != nullptr)
        {
            if (Expired(*ppSlot, nNowMs))
            {
                Unlink(ppSlot);
                ++nDropped;
            }
            else
                ppSlot = &(*ppSlot)->m_pNextInBucket;
        }
    }
    return nDropped;
}

uint64_t GStore::UsedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nUsed;
}

uint64_t GStore::Count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nCount;
}

uint64_t GStore::Evictions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nEvictions;
}

size_t GStore::BucketCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nBuckets;
}

uint64_t GStore::TakeFreedBytes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t nFreed = m_nFreed;
    m_nFreed = 0;
    return nFreed;
}
