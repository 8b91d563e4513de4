// Building a pool from its list text, its idle lists, and the release of pools and connections.
#include "distributed/server_pool.h"

#include "common/lock.h"
#include "distributed/server_list_scan.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "BSTR units are UTF-16");

GPooledConnection::GPooledConnection(IHarbinet* pHarbinet, size_t nServer) noexcept
    : m_nServer(nServer), m_pConn(pHarbinet)
{
    m_pConn->AddRef();
}

GPooledConnection::~GPooledConnection()
{
    m_pConn->Release();
}

void ReleaseConnection(GPooledConnection* pConnection) noexcept
{
    if (InterlockedDecrement(&pConnection->m_nRef) == 0)
        delete pConnection;
}

GServerPool::GServerPool(BSTR sList)
{
    const UINT nLength = SysStringLen(sList);
    const GServerList list = ScanServerList(reinterpret_cast<const char16_t*>(sList), nLength);
    m_nMaxIdle = list.nMaxIdle;
    m_vecServers.reserve(list.vecEntries.size());
    m_vecIdleOf.reserve(list.vecEntries.size());
    for (const GServerEntry& entry : list.vecEntries)
    {
        const wchar_t* pEntry = sList + entry.nStart;
        m_vecServers.push_back(GBstr::FromUnits(pEntry, static_cast<UINT>(entry.nLength)));
        m_vecIdleOf.push_back(&m_mapIdle[std::wstring(pEntry, entry.nLength)]);
    }
    InitializeCriticalSection(&m_cs);
}

GServerPool::~GServerPool()
{
    for (auto& idle : m_mapIdle)
    {
        for (GPooledConnection* pConnection : idle.second)
            ReleaseConnection(pConnection);
    }
    DeleteCriticalSection(&m_cs);
}

void ReleasePool(GServerPool* pPool) noexcept
{
    if (InterlockedDecrement(&pPool->m_nRef) == 0)
        delete pPool;
}

GPooledConnection* GServerPool::TakeIdle(size_t nServer) noexcept
{
    GIdleList& idle = *m_vecIdleOf[nServer];
    GLock lock(&m_cs);
    if (idle.empty())
        return nullptr;
    GPooledConnection* pConnection = idle.back();
    idle.pop_back();
    return pConnection;
}

GIdleListCopy GServerPool::TakeAllIdle(size_t nServer) noexcept
{
    GIdleListCopy vecTaken;
    GIdleList& idle = *m_vecIdleOf[nServer];
    GLock lock(&m_cs);
    vecTaken.swap(idle);
    return vecTaken;
}

void GServerPool::KeepIdle(GPooledConnection* pConnection) noexcept
{
    if (m_nMaxIdle == 0)
        return;
    GIdleList& idle = *m_vecIdleOf[pConnection->Server()];
    GLock lock(&m_cs);
    if (idle.size() >= m_nMaxIdle)
        return;
    try
    {
        idle.push_back(pConnection);
    }
    catch (...)
    {
        return;   // not kept: the caller's release closes it, as over the limit
    }
    pConnection->AddRef();
}
