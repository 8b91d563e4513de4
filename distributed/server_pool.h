// GServerPool and GPooledConnection: the shared pool of one server list and its connections.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/bstr.h"
#include "harbinet_h.h"

class GServerPool;
class GPooledConnection;

using GIdleListCopy = std::vector<GPooledConnection*>;

// One single-server object that belongs to a pool. It is held either by one idle list
// or by the one call that checked it out, never by two at once.
class GPooledConnection
{
public:
    // Takes a reference of its own on pHarbinet; the record starts with one reference.
    GPooledConnection(IHarbinet* pHarbinet, size_t nServer) noexcept;
    GPooledConnection(const GPooledConnection&) = delete;
    GPooledConnection& operator=(const GPooledConnection&) = delete;

    IHarbinet* Harbinet() const noexcept { return m_pConn; }
    // The server entry it was opened for, which names the idle list it returns to.
    size_t Server() const noexcept { return m_nServer; }
    void AddRef() noexcept { InterlockedIncrement(&m_nRef); }
    // Destroys the record, and with it normally the single-server object, at count 0.
    friend void ReleaseConnection(GPooledConnection* pConnection) noexcept;

private:
    ~GPooledConnection();

    size_t m_nServer;
    IHarbinet* m_pConn;
    LONG m_nRef = 1;
};

// The parsed server list of one list text, its idle limit and the idle connections of
// each server entry. Entries and limit never change after construction, so they are
// read without a lock; the idle lists are guarded by the pool's own critical section.
class GServerPool
{
public:
    // Starts with one reference. Throws std::bad_alloc or CAtlException(E_OUTOFMEMORY).
    explicit GServerPool(BSTR sList);
    GServerPool(const GServerPool&) = delete;
    GServerPool& operator=(const GServerPool&) = delete;

    size_t ServerCount() const noexcept { return m_vecServers.size(); }
    BSTR Server(size_t nServer) const noexcept { return m_vecServers[nServer].Get(); }
    uint32_t MaxIdle() const noexcept { return m_nMaxIdle; }

    // The connection of server entry nServer given back last, or nullptr. One step
    // under the pool's lock, so no two calls ever take the same connection.
    GPooledConnection* TakeIdle(size_t nServer) noexcept;
    // Every idle connection of server entry nServer, bottom of the stack first; the
    // caller holds the references that the idle list held.
    GIdleListCopy TakeAllIdle(size_t nServer) noexcept;
    // Keeps the connection, with a reference of its own, while its idle list is below
    // the limit.
    void KeepIdle(GPooledConnection* pConnection) noexcept;

    void AddRef() noexcept { InterlockedIncrement(&m_nRef); }
    // Whether a single reference (the registry's) holds the pool.
    bool IsHeldOnlyOnce() noexcept { return InterlockedCompareExchange(&m_nRef, 1, 1) == 1; }
    // Destroys the pool and every idle connection in it at count 0.
    friend void ReleasePool(GServerPool* pPool) noexcept;

private:
    using GIdleList = std::vector<GPooledConnection*>;

    ~GServerPool();

    std::vector<GBstr> m_vecServers;
    uint32_t m_nMaxIdle;
    // Entries with the same text share one idle list. Every list exists from the start,
    // and m_vecIdleOf finds an entry's list by position, so a call never builds a key.
    std::map<std::wstring, GIdleList> m_mapIdle;
    std::vector<GIdleList*> m_vecIdleOf;
    CRITICAL_SECTION m_cs;
    LONG m_nRef = 1;
};

void ReleasePool(GServerPool* pPool) noexcept;
