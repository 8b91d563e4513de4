// What the Redis links of all workers tell the metrics page: whether they are
// usable, the bytes held for requests waiting on Redis, errors by kind, failovers.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

enum class EStoreError
{
    Connect,       // no connection, or it was lost
    Auth,          // AUTH refused
    Select,        // SELECT refused
    Master,        // no sentinel named a master, or it was not one
    Timeout,       // a connect or an answer took too long
    Reply,         // Redis answered a command with an error
    Busy,          // a set turned away at the memory bound
    Replication,   // too few replicas confirmed a set in time
    Count,
};

struct GRedisStats
{
    void CountError(EStoreError kind) { nErrors[static_cast<size_t>(kind)].fetch_add(1, std::memory_order_relaxed); }

    // True when this master differs from the one the links knew before; every
    // link reports each master it reaches, and a failover counts once.
    bool NoteMaster(const std::string& szMaster)
    {
        std::lock_guard<std::mutex> lock(mutexMaster);
        if (szMaster == szLastMaster)
            return false;
        const bool bChanged = !szLastMaster.empty();
        szLastMaster = szMaster;
        if (bChanged)
            nFailovers.fetch_add(1, std::memory_order_relaxed);
        return bChanged;
    }

    // The links' state as one: the first link to fail says so, and the last
    // to come back, so a change costs one log line however many workers there are.
    bool FirstDown() { return nLinksDown.fetch_add(1, std::memory_order_relaxed) == 0; }
    bool LastUp() { return nLinksDown.fetch_sub(1, std::memory_order_relaxed) == 1; }

    std::atomic<uint32_t> nLinksDown{0};   // links that have said they are down
    std::atomic<uint64_t> nRefused{0};     // requests turned away since the first said so
    std::atomic<uint32_t> nLinks{0};
    std::atomic<uint32_t> nLinksUp{0};
    std::atomic<uint64_t> nHeldBytes{0};
    std::atomic<uint64_t> nErrors[static_cast<size_t>(EStoreError::Count)] = {};
    std::atomic<uint64_t> nFailovers{0};
    std::mutex mutexMaster;
    std::string szLastMaster;
};
