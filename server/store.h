// The value store: entries keyed by (cookie or shared space, name), kept in
// least-recently-used order under a memory limit.
#pragma once

#include "block.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>

// A request without a cookie works in the shared space; a request with a
// cookie, even an empty one, works in that cookie's space.
struct GKey
{
    bool bCookie = false;
    std::string_view szCookie;
    std::string_view szName;
};

// One stored value. The entry's key and body live in the same block, right
// behind this header, so an entry is exactly one allocation; the header is one
// cache line, and the block's size and cost follow from the lengths it holds.
struct GEntry
{
    GEntry* m_pNextInBucket;
    GEntry* m_pNewer;
    GEntry* m_pOlder;
    uint64_t m_nHash;
    int64_t m_nExpiryMs;        // 0: never
    std::atomic<uint32_t> m_nRefs;
    uint32_t m_nTimeout;        // seconds, counted from the moment the value is stored
    uint32_t m_nCookieLength;
    uint32_t m_nNameLength;
    uint32_t m_nValueLength;
    uint16_t m_nType;
    bool m_bCookie;

    size_t BlockSize() const
    {
        return sizeof(GEntry) + size_t(m_nCookieLength) + m_nNameLength + m_nValueLength;
    }
    GBlock Block() { return GBlock{this, BlockCost(BlockSize()), BlockSize() >= kMappedBlockFrom}; }
    uint64_t Cost() const { return BlockCost(BlockSize()); }

    char* Data() { return reinterpret_cast<char*>(this + 1); }
    const char* Data() const { return reinterpret_cast<const char*>(this + 1); }
    std::string_view Cookie() const { return {Data(), m_nCookieLength}; }
    std::string_view Name() const { return {Data() + m_nCookieLength, m_nNameLength}; }
    char* Value() { return Data() + m_nCookieLength + m_nNameLength; }
    const char* Value() const { return Data() + m_nCookieLength + m_nNameLength; }
};
static_assert(sizeof(GEntry) == 64, "an entry header is one cache line");

// Holds an entry alive while its body is being sent, even if the store drops it
// in the meantime.
class GEntryRef
{
public:
    GEntryRef() = default;
    explicit GEntryRef(GEntry* pEntry) : m_pEntry(pEntry) {}
    GEntryRef(GEntryRef&& other) noexcept : m_pEntry(other.m_pEntry) { other.m_pEntry = nullptr; }
    GEntryRef& operator=(GEntryRef&& other) noexcept;
    GEntryRef(const GEntryRef&) = delete;
    GEntryRef& operator=(const GEntryRef&) = delete;
    ~GEntryRef() { Reset(); }

    void Reset();
    // Gives up the reference without releasing it; the caller now owns it.
    GEntry* Detach()
    {
        GEntry* pEntry = m_pEntry;
        m_pEntry = nullptr;
        return pEntry;
    }
    GEntry* operator->() const { return m_pEntry; }
    GEntry* Get() const { return m_pEntry; }
    explicit operator bool() const { return m_pEntry != nullptr; }

private:
    GEntry* m_pEntry = nullptr;
};

enum class EAdmit
{
    Ok,
    TooLarge,
    NoMemory,
    Busy,      // the store holds all it may for requests in progress; try again later
};

// Aligned so that no neighbouring object shares a cache line with the fields
// that every worker writes.
class alignas(64) GStore
{
public:
    explicit GStore(uint64_t nLimit);
    ~GStore();
    GStore(const GStore&) = delete;
    GStore& operator=(const GStore&) = delete;

    // What an entry with these key and body sizes costs, header and all.
    static uint64_t EntryCost(size_t nCookieLength, size_t nNameLength, uint64_t nValueLength);

    // Makes the block for a value whose body is still to come. Needs no lock:
    // the body is written into Value() before the entry is handed to Put.
    EAdmit Prepare(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
        GEntryRef& refEntry) const;

    // An entry block with the key and sizes filled in and the body still to be
    // written, outside any store's limit; for stores that keep values elsewhere.
    static GEntryRef MakeEntry(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
        uint64_t nHash = 0);

    // Stores a prepared entry, replacing any value under the same key, and
    // evicts from the cold end until it fits. False when it cannot fit at all.
    bool Put(GEntryRef refEntry, int64_t nNowMs);

    // An empty reference when the key is absent or its value has expired.
    GEntryRef Get(const GKey& key, int64_t nNowMs);

    // True when a live value was removed.
    bool Delete(const GKey& key, int64_t nNowMs);

    // Looks at up to nBuckets hash buckets from where the last sweep stopped and
    // drops what has expired there. Returns how many entries went.
    size_t Sweep(int64_t nNowMs, size_t nBuckets);

    uint64_t Limit() const { return m_nLimit; }
    uint64_t UsedBytes() const;
    uint64_t Count() const;
    // Live values dropped to make room since the store began.
    uint64_t Evictions() const;
    size_t BucketCount() const;
    // Bytes given back since the last call; the server uses it to decide when
    // to return freed heap pages to the system.
    uint64_t TakeFreedBytes();

private:
    uint64_t HashKey(const GKey& key) const;
    GEntry** FindSlot(const GKey& key, uint64_t nHash);
    void Unlink(GEntry** ppSlot);
    void UnlinkEntry(GEntry* pEntry);
    void TouchLocked(GEntry* pEntry);
    bool MakeRoomLocked(uint64_t nBytes);
    void GrowBucketsLocked();
    static bool Expired(const GEntry* pEntry, int64_t nNowMs)
    {
        return pEntry->m_nExpiryMs != 0 && pEntry->m_nExpiryMs <= nNowMs;
    }

    // Read by every thread, written rarely.
    const uint64_t m_nLimit;
    const uint64_t m_nSeed;
    // Prepare runs without the lock and reads the table's cost from here.
    std::atomic<uint64_t> m_nBucketCost{0};

    // Everything below is written under the lock by every worker; it starts a
    // cache line of its own so that the fields above stay in every core's cache.
    alignas(64) mutable std::mutex m_mutex;
    GEntry* m_pNewest = nullptr;
    GEntry* m_pOldest = nullptr;
    uint64_t m_nUsed = 0;
    uint64_t m_nCount = 0;
    GEntry** m_ppBuckets = nullptr;
    size_t m_nBuckets = 0;
    size_t m_nSweepCursor = 0;
    uint64_t m_nFreed = 0;
    uint64_t m_nEvictions = 0;
    GBlock m_blockBuckets;
};
