// The Redis store: keys, value images, and what each Redis answer means to a client.
#include "redis_store.h"

#include <charconv>
#include <cstring>
#include <hiredis/hiredis.h>

namespace
{

constexpr const char* kUnavailable = "store unavailable";
constexpr const char* kFailed = "store failed";

enum class EKind
{
    Set,
    Get,
    Del,
};

// A value in Redis is "<type>:" followed by the body: the type a get must
// answer with travels in the same string, so one SET and one GET suffice.
bool ParseImage(const char* p, size_t n, uint16_t& nType, size_t& nHeader)
{
    const char* pColon = static_cast<const char*>(memchr(p, ':', std::min<size_t>(n, 6)));
    if (pColon == nullptr || pColon == p)
        return false;
    unsigned nValue = 0;
    auto result = std::from_chars(p, pColon, nValue);
    if (result.ec != std::errc() || result.ptr != pColon || nValue > 65535)
        return false;
    nType = static_cast<uint16_t>(nValue);
    nHeader = static_cast<size_t>(pColon - p) + 1;
    return true;
}

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

class GRedisStore::GCall final : public GRedisCall
{
public:
    GCall(GRedisStore& store, EKind kind, IStoreWaiter& waiter) : m_store(store), m_kind(kind), m_waiter(waiter) {}

    void Done(const redisReply* pReply) override
    {
        GStoreOutcome outcome;
        if (pReply == nullptr)
        {
            outcome.result = EStoreResult::Failed;
            outcome.szReason = kUnavailable;
        }
        else if (m_kind == EKind::Set)
            SetDone(*pReply, outcome);
        else if (m_kind == EKind::Get)
            GetDone(*pReply, outcome);
        else if (pReply->type == REDIS_REPLY_INTEGER)
            outcome.result = pReply->integer > 0 ? EStoreResult::Done : EStoreResult::Missing;
        else
            Fail(*pReply, outcome);
        m_waiter.StoreDone(outcome);
    }

    GEntryRef m_refEntry;   // a set's key and image, for the delete that follows a refusal

private:
    void SetDone(const redisReply& reply, GStoreOutcome& outcome)
    {
        // Only Redis's own OK means stored.
        if (reply.type == REDIS_REPLY_STATUS && reply.len == 2 && memcmp(reply.str, "OK", 2) == 0)
            return;
        if (reply.type == REDIS_REPLY_ERROR && reply.len >= 3 && memcmp(reply.str, "OOM", 3) == 0)
        {
            // Full under its maxmemory policy: refused like a value that does not
            // fit, and the earlier value goes, since the caller asked for it to be
            // replaced. The delete is queued ahead of this client's next command.
            outcome.result = EStoreResult::Refused;
            outcome.szReason = "out of memory";
            const char* ppArgs[] = {"DEL", m_refEntry->Data()};
            const size_t nLengths[] = {3, static_cast<size_t>(m_refEntry->m_nHash)};
            m_store.m_link.Command(2, ppArgs, nLengths, new GForget());
            return;
        }
        Fail(reply, outcome);
    }

    void GetDone(const redisReply& reply, GStoreOutcome& outcome)
    {
        if (reply.type == REDIS_REPLY_NIL)
        {
            outcome.result = EStoreResult::Missing;
            return;
        }
        uint16_t nType = 0;
        size_t nHeader = 0;
        if (reply.type != REDIS_REPLY_STRING || !ParseImage(reply.str, reply.len, nType, nHeader))
        {
            Fail(reply, outcome);
            return;
        }
        const size_t nBody = reply.len - nHeader;
        outcome.refEntry = GStore::MakeEntry(GKey{}, nType, 0, nBody);
        if (!outcome.refEntry)
        {
            outcome.result = EStoreResult::Failed;
            outcome.szReason = "out of memory";
            return;
        }
        memcpy(outcome.refEntry->Value(), reply.str + nHeader, nBody);
    }

    void Fail(const redisReply& reply, GStoreOutcome& outcome)
    {
        outcome.result = EStoreResult::Failed;
        outcome.szReason = kFailed;
        if (reply.type == REDIS_REPLY_ERROR)
            fprintf(stderr, "harbinet-server: redis answered: %.*s\n", static_cast<int>(std::min<size_t>(reply.len, 200)), reply.str);
        else if (reply.type == REDIS_REPLY_STRING)
            fprintf(stderr, "harbinet-server: a value in redis is not in harbinet's form\n");
    }

    class GForget final : public GRedisCall
    {
        void Done(const redisReply*) override {}
    };

    GRedisStore& m_store;
    const EKind m_kind;
    IStoreWaiter& m_waiter;
};

GRedisStore::GRedisStore(asio::io_context& io, const GRedisAddress& address, std::string szPrefix)
    : m_szPrefix(std::move(szPrefix)), m_link(io, address)
{
}

void GRedisStore::Send(int nArgs, const char** ppArgs, const size_t* pLengths, GCall* pCall, IStoreWaiter& waiter)
{
    if (m_link.Command(nArgs, ppArgs, pLengths, pCall))
        return;
    GStoreOutcome outcome;
    outcome.result = EStoreResult::Failed;
    outcome.szReason = kUnavailable;
    waiter.StoreDone(outcome);
}

// The entry holds the Redis key and the value's header where a memory entry
// holds its name, with the body right behind, so key and image go to hiredis
// as they lie; the key's length is kept in the hash field, unused here.
EAdmit GRedisStore::Prepare(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
    GEntryRef& refEntry)
{
    std::string szKey = RedisKey(m_szPrefix, key);
    const size_t nKey = szKey.size();
    szKey += std::to_string(nType);
    szKey += ':';
    refEntry = GStore::MakeEntry(GKey{false, {}, szKey}, nType, nTimeout, nValueLength, nKey);
    return refEntry ? EAdmit::Ok : EAdmit::NoMemory;
}

void GRedisStore::Put(GEntryRef refEntry, int64_t, IStoreWaiter& waiter)
{
    const size_t nKey = static_cast<size_t>(refEntry->m_nHash);
    const std::string szTimeout = std::to_string(refEntry->m_nTimeout);
    const char* ppArgs[] = {"SET", refEntry->Data(), refEntry->Data() + nKey, "EX", szTimeout.c_str()};
    const size_t nLengths[] = {3, nKey, refEntry->m_nNameLength - nKey + refEntry->m_nValueLength, 2, szTimeout.size()};
    auto* pCall = new GCall(*this, EKind::Set, waiter);
    // hiredis copies the arguments into its buffer at once; the entry is kept
    // only for its key.
    const int nArgs = refEntry->m_nTimeout != 0 ? 5 : 3;
    pCall->m_refEntry = std::move(refEntry);
    Send(nArgs, ppArgs, nLengths, pCall, waiter);
}

void GRedisStore::Get(const GKey& key, int64_t, IStoreWaiter& waiter)
{
    const std::string szKey = RedisKey(m_szPrefix, key);
    const char* ppArgs[] = {"GET", szKey.data()};
    const size_t nLengths[] = {3, szKey.size()};
    Send(2, ppArgs, nLengths, new GCall(*this, EKind::Get, waiter), waiter);
}

void GRedisStore::Delete(const GKey& key, int64_t, IStoreWaiter& waiter)
{
    const std::string szKey = RedisKey(m_szPrefix, key);
    const char* ppArgs[] = {"DEL", szKey.data()};
    const size_t nLengths[] = {3, szKey.size()};
    Send(2, ppArgs, nLengths, new GCall(*this, EKind::Del, waiter), waiter);
}
