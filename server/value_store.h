// The one interface the connection uses for its values, whichever store keeps them.
#pragma once

#include "store.h"

#include <cstdint>

enum class EStoreResult
{
    Done,      // stored, found, or deleted
    Missing,   // get or delete of a name with no live value
    Refused,   // the store will not take this value; szReason says why
    Failed,    // the store could not be asked or did not answer; szReason says why
};

struct GStoreOutcome
{
    EStoreResult result = EStoreResult::Done;
    GEntryRef refEntry;            // the value a get found
    const char* szReason = "";
};

// Told once per command how it went: from inside the call when the store
// answers at once, later on the same thread when it has to ask elsewhere.
class IStoreWaiter
{
public:
    virtual void StoreDone(GStoreOutcome& outcome) = 0;

protected:
    ~IStoreWaiter() = default;
};

// One per worker, used only on that worker's thread.
class IStore
{
public:
    virtual ~IStore() = default;

    // Makes the block a set's body is read into. A refusal leaves no earlier
    // value of that key readable, as if the set had been carried out and lost.
    virtual EAdmit Prepare(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
        GEntryRef& refEntry) = 0;
    // The entry keeps its key, type and lifetime from Prepare.
    virtual void Put(GEntryRef refEntry, int64_t nNowMs, IStoreWaiter& waiter) = 0;
    virtual void Get(const GKey& key, int64_t nNowMs, IStoreWaiter& waiter) = 0;
    virtual void Delete(const GKey& key, int64_t nNowMs, IStoreWaiter& waiter) = 0;
    // The worker's once-a-second look, for stores that watch their own connections.
    virtual void Tick(int64_t) {}
    // Answers whatever still waits with an error and takes no more commands;
    // called while the store is still whole, since those answers may bring
    // new commands at once.
    virtual void Close() {}
};

// The in-process store, shared by every worker through one of these each;
// every command completes before the call returns.
class GMemoryStore final : public IStore
{
public:
    explicit GMemoryStore(GStore& store) : m_store(store) {}

    EAdmit Prepare(const GKey& key, uint16_t nType, uint32_t nTimeout, uint64_t nValueLength,
        GEntryRef& refEntry) override
    {
        const EAdmit admit = m_store.Prepare(key, nType, nTimeout, nValueLength, refEntry);
        if (admit != EAdmit::Ok)
            m_store.Delete(key, 0);
        return admit;
    }

    void Put(GEntryRef refEntry, int64_t nNowMs, IStoreWaiter& waiter) override
    {
        GStoreOutcome outcome;
        if (!m_store.Put(std::move(refEntry), nNowMs))
        {
            outcome.result = EStoreResult::Refused;
            outcome.szReason = "value too large";
        }
        waiter.StoreDone(outcome);
    }

    void Get(const GKey& key, int64_t nNowMs, IStoreWaiter& waiter) override
    {
        GStoreOutcome outcome;
        outcome.refEntry = m_store.Get(key, nNowMs);
        if (!outcome.refEntry)
            outcome.result = EStoreResult::Missing;
        waiter.StoreDone(outcome);
    }

    void Delete(const GKey& key, int64_t nNowMs, IStoreWaiter& waiter) override
    {
        GStoreOutcome outcome;
        if (!m_store.Delete(key, nNowMs))
            outcome.result = EStoreResult::Missing;
        waiter.StoreDone(outcome);
    }

private:
    GStore& m_store;
};
