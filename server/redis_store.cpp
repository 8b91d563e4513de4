// The Redis store: keys, value images, and what each Redis answer means to a client.
#include "redis_store.h"

#include <cstring>
#include <hiredis/hiredis.h>

namespace
{

constexpr const char* kUnavailable = "store unavailable";
constexpr const char* kFailed = "store failed";
constexpr const char* kNotReplicated = "store not replicated";
// The longest "<type>:" in front of a body.
constexpr uint64_t kLongestHeader = 6;
// How long a set waits for its replicas before it counts as not stored.
constexpr int64_t kLongestWaitMs = 1000;

enum class EKind
{
    Set,
    Get,
    Del,
};

void Unavailable(GStoreOutcome& outcome)
{
    outcome.result = EStoreResult::Failed;
    outcome.szReason = kUnavailable;
}

std::string WaitMs(uint32_t nRequestTimeout)
{
    int64_t nMs = kLongestWaitMs;
    if (nRequestTimeout != 0)
        nMs = std::min<int64_t>(nMs, int64_t(nRequestTimeout) * 500);
    return std::to_string(nMs);
}

class GForget final : public GRedisCall
{
    void Done(GRedisReply*) override {}
};

} // namespace

std::string RedisKey(std::string_view szPrefix, const GKey& key)
{
    std::string sz;
    sz.reserve(szPrefix.size() + key.szCookie.size() + key.szName.size() + 16);
    sz += szPrefix;
    if (key.bCookie)
    {
        sz += 'c';
        sz += std::to_string(key.szCookie.size());
        sz += ':';
        sz += key.szCookie;
        sz += ':';
    }
    else
        sz += "s:";
    sz += key.szName;
    return sz;
}

// The answer to a set, when replicas must confirm it: the set's own answer
// comes first, so this one knows whether it still has something to say.
class GRedisStore::GWaitCall final : public GRedisCall
{
public:
    GWaitCall(GRedisStore& store, IStoreWaiter& waiter) : m_store(store), m_waiter(waiter) {}

    void Done(GRedisReply* pReply) override
    {
        if (!m_bArmed)
            return;
        GStoreOutcome outcome;
        if (pReply == nullptr)
            Unavailable(outcome);
        else if (pReply->nType != REDIS_REPLY_INTEGER || pReply->nInteger < std::stoll(m_store.m_szWaitReplicas))
        {
            // Not on enough replicas in time: a failover now could lose it,
            // so it does not count as stored.
            m_store.m_stats.CountError(EStoreError::Replication);
            outcome.result = EStoreResult::Failed;
            outcome.szReason = kNotReplicated;
        }
        m_waiter.StoreDone(outcome);
    }

    bool m_bArmed = false;

private:
    GRedisStore& m_store;
    IStoreWaiter& m_waiter;
};

class GRedisStore::GCall final : public GRedisCall
{
public:
    GCall(GRedisStore& store, EKind kind, IStoreWaiter& waiter) : m_store(store), m_kind(kind), m_waiter(waiter) {}
    ~GCall() override { m_store.m_stats.nHeldBytes.fetch_sub(m_strKey.size(), std::memory_order_relaxed); }

    // A set keeps its key, and only that, for the delete that follows a refusal.
    void KeepKey(std::string_view szKey)
    {
        m_strKey = szKey;
        m_store.m_stats.nHeldBytes.fetch_add(m_strKey.size(), std::memory_order_relaxed);
    }

    void Done(GRedisReply* pReply) override
    {
        GStoreOutcome outcome;
        if (pReply == nullptr)
            Unavailable(outcome);
        else if (m_kind == EKind::Set)
            SetDone(*pReply, outcome);
        else if (m_kind == EKind::Get)
            GetDone(*pReply, outcome);
        else if (pReply->nType == REDIS_REPLY_INTEGER)
            outcome.result = pReply->nInteger > 0 ? EStoreResult::Done : EStoreResult::Missing;
        else
            Fail(*pReply, outcome);
        if (m_pWait != nullptr && outcome.result == EStoreResult::Done)
        {
            m_pWait->m_bArmed = true;
            return;
        }
        m_waiter.StoreDone(outcome);
    }

    GWaitCall* m_pWait = nullptr;   // still queued behind this call when this one is answered

private:
    void SetDone(const GRedisReply& reply, GStoreOutcome& outcome)
    {
        // Only Redis's own OK means stored.
        if (reply.IsStatus("OK"))
            return;
        if (reply.IsError("OOM"))
        {
            // Full under its maxmemory policy: refused like a value that does not
            // fit, and the earlier value goes, since the caller asked for it to be
            // replaced. The delete is queued ahead of this client's next command.
            outcome.result = EStoreResult::Refused;
            outcome.szReason = "out of memory";
            m_store.Forget(m_strKey);
            return;
        }
        Fail(reply, outcome);
    }

    void GetDone(GRedisReply& reply, GStoreOutcome& outcome)
    {
        // A range of a missing key is empty, and no image is.
        if (reply.nType == REDIS_REPLY_NIL || (reply.nType == REDIS_REPLY_STRING && reply.Text().empty()))
        {
            outcome.result = EStoreResult::Missing;
            return;
        }
        if (reply.nType != REDIS_REPLY_STRING || !reply.bImage)
        {
            Fail(reply, outcome);
            return;
        }
        if (reply.refText->m_nValueLength > m_store.m_nMaxValue)
        {
            // Stored by a server that allows larger values; only part of it was fetched.
            outcome.result = EStoreResult::Refused;
            outcome.szReason = "value too large";
            return;
        }
        outcome.refEntry = std::move(reply.refText);
    }

    void Fail(const GRedisReply& reply, GStoreOutcome& outcome)
    {
        m_store.m_stats.CountError(EStoreError::Reply);
        outcome.result = EStoreResult::Failed;
        // These mean that the link is being made again, to the right Redis.
        const bool bElsewhere = reply.IsError("READONLY") || reply.IsError("MASTERDOWN") || reply.IsError("NOAUTH");
        outcome.szReason = bElsewhere ? kUnavailable : kFailed;
    }

    GRedisStore& m_store;
    const EKind m_kind;
    IStoreWaiter& m_waiter;
    std::string m_strKey;
};

GRedisStore::GRedisStore(asio::io_context& io, const GRedisSettings& settings, const GServerOptions& options,
    GRedisStats& stats)
    : m_szPrefix(options.szKeyPrefix),
      m_nLimit(options.nMemoryLimit),
      m_nMaxValue(options.nMaxValue),
      m_szRangeEnd(std::to_string(options.nMaxValue + kLongestHeader)),
      m_szWaitReplicas(options.nRedisWait != 0 ? std::to_string(options.nRedisWait) : std::string()),
      m_szWaitMs(WaitMs(options.nRequestTimeout)),
      m_stats(stats),
      m_link(io, settings, stats)
{
}

bool GRedisStore::Send(int nArgs, const char** ppArgs, const size_t* pLengths, GCall* pCall, IStoreWaiter& waiter)
{
    if (m_link.Command(nArgs, ppArgs, pLengths, pCall))
        return true;
    GStoreOutcome outcome;
    Unavailable(outcome);
    waiter.StoreDone(outcome);
    return false;
}

void GRedisStore::Forget(std::string_view szKey)
{
    const char* ppArgs[] = {"DEL", szKey.data()};
    const size_t nLengths[] = {3, szKey.size()};
    m_link.Command(2, ppArgs, nLengths, new GForget());
}

// The entry holds the Redis key and the value's header where a memory entry
// holds its name, with the body right behind, so key and image go to hiredis
// as they lie; the key's length is kept in the hash field, unused here.
EAdmit GRedisStore::Prepare(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
    GEntryRef& refEntry)
{
    refEntry.Reset();
    std::string szKey = RedisKey(m_szPrefix, key);
    const size_t nKey = szKey.size();
    const uint64_t nNeeds = nValueLength + nKey + kLongestHeader;
    if (nNeeds > m_nLimit)
    {
        Forget(szKey);
        return EAdmit::TooLarge;
    }
    // The bound covers what waits on Redis: a set that would take it past
    // the limit is turned away rather than held.
    if (m_stats.nHeldBytes.load(std::memory_order_relaxed) + nNeeds > m_nLimit)
    {
        m_stats.CountError(EStoreError::Busy);
        return EAdmit::Busy;
    }
    szKey += std::to_string(nType);
    szKey += ':';
    refEntry = GStore::MakeEntry(GKey{false, {}, szKey}, nType, nTimeout, nValueLength, nKey);
    if (!refEntry)
    {
        Forget(std::string_view(szKey).substr(0, nKey));
        return EAdmit::NoMemory;
    }
    return EAdmit::Ok;
}

void GRedisStore::Put(GEntryRef refEntry, int64_t, IStoreWaiter& waiter)
{
    const size_t nKey = static_cast<size_t>(refEntry->m_nHash);
    const std::string szTimeout = std::to_string(refEntry->m_nTimeout);
    const char* ppArgs[] = {"SET", refEntry->Data(), refEntry->Data() + nKey, "EX", szTimeout.c_str()};
    const size_t nLengths[] = {3, nKey, refEntry->m_nNameLength - nKey + refEntry->m_nValueLength, 2, szTimeout.size()};
    auto* pCall = new GCall(*this, EKind::Set, waiter);
    pCall->KeepKey(std::string_view(refEntry->Data(), nKey));
    const int nArgs = refEntry->m_nTimeout != 0 ? 5 : 3;
    GWaitCall* pWait = m_szWaitReplicas.empty() ? nullptr : new GWaitCall(*this, waiter);
    pCall->m_pWait = pWait;
    const bool bSent = Send(nArgs, ppArgs, nLengths, pCall, waiter);
    // The command holds its own copy of the value now.
    refEntry.Reset();
    if (pWait == nullptr)
        return;
    if (!bSent)
    {
        delete pWait;
        return;
    }
    const char* ppWait[] = {"WAIT", m_szWaitReplicas.c_str(), m_szWaitMs.c_str()};
    const size_t nWait[] = {4, m_szWaitReplicas.size(), m_szWaitMs.size()};
    // Taken whenever the set was: the link's state cannot change in between.
    m_link.Command(3, ppWait, nWait, pWait);
}

// The range stops a little past the largest value this server accepts, so a
// larger one stored by another server is never fetched whole.
void GRedisStore::Get(const GKey& key, int64_t, IStoreWaiter& waiter)
{
    const std::string szKey = RedisKey(m_szPrefix, key);
    const char* ppArgs[] = {"GETRANGE", szKey.data(), "0", m_szRangeEnd.c_str()};
    const size_t nLengths[] = {8, szKey.size(), 1, m_szRangeEnd.size()};
    Send(4, ppArgs, nLengths, new GCall(*this, EKind::Get, waiter), waiter);
}

void GRedisStore::Delete(const GKey& key, int64_t, IStoreWaiter& waiter)
{
    const std::string szKey = RedisKey(m_szPrefix, key);
    const char* ppArgs[] = {"DEL", szKey.data()};
    const size_t nLengths[] = {3, szKey.size()};
    Send(2, ppArgs, nLengths, new GCall(*this, EKind::Del, waiter), waiter);
}
