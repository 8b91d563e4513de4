// Values kept in Redis: one key per cookie space and name, the type number in
// front of the body, the lifetime as Redis's own expiry.
#pragma once

#include "options.h"
#include "redis_link.h"
#include "value_store.h"

#include <string>
#include <string_view>

// The Redis key of a name: the prefix, then "s:" for the shared space or
// "c<length>:<cookie>:" for a cookie's, then the name. The cookie's length
// makes the split unambiguous whatever bytes cookie and name hold.
std::string RedisKey(std::string_view szPrefix, const GKey& key);

// One per worker, on its own link.
class GRedisStore final : public IStore
{
public:
    GRedisStore(asio::io_context& io, const GRedisSettings& settings, const GServerOptions& options,
        GRedisStats& stats);

    EAdmit Prepare(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
        GEntryRef& refEntry) override;
    void Put(GEntryRef refEntry, int64_t nNowMs, IStoreWaiter& waiter) override;
    void Get(const GKey& key, int64_t nNowMs, IStoreWaiter& waiter) override;
    void Delete(const GKey& key, int64_t nNowMs, IStoreWaiter& waiter) override;
    void Tick(int64_t nNowMs) override { m_link.Tick(nNowMs); }
    void Close() override { m_link.Close(); }

    class GCall;
    class GWaitCall;

private:
    bool Send(int nArgs, const char** ppArgs, const size_t* pLengths, GCall* pCall, IStoreWaiter& waiter);
    // Deletes a key whose value must not outlive a refused set; nobody waits for it.
    void Forget(std::string_view szKey);

    const std::string m_szPrefix;
    const uint64_t m_nLimit;
    const uint64_t m_nMaxValue;
    const std::string m_szRangeEnd;       // of a get: a little past the largest value
    const std::string m_szWaitReplicas;   // empty: sets are not waited for
    const std::string m_szWaitMs;
    GRedisStats& m_stats;
    GRedisLink m_link;
};
