// g_pmapPools and g_csPools: pools found by their exact list text.
#include "distributed/pool_registry.h"

#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/lock.h"

namespace
{
// Keys match unit for unit. A locale-aware comparison could find two different lists
// equal, and an object would then send its values to the other list's servers.
using GPoolMap = std::map<std::wstring, GServerPool*>;

// A pointer, made on first use: a map object here would be destroyed by the C runtime
// at process exit too, closing sockets under the loader lock with a socket library
// that may be gone already.
GPoolMap* g_pmapPools = nullptr;
CRITICAL_SECTION g_csPools;
bool g_bStarted = false;

// Takes out of the registry every pool that only the registry holds. Nobody else can
// take a new reference to such a pool: that needs g_csPools, which the caller holds.
void TakeUnusedPools(GPoolMap& mapPools, std::vector<GServerPool*>& vecUnused)
{
    for (auto it = mapPools.begin(); it != mapPools.end();)
    {
        if (it->second->IsHeldOnlyOnce())
        {
            vecUnused.push_back(it->second);
            it = mapPools.erase(it);
        }
        else
        {
            ++it;
        }
    }
}

HRESULT FindOrCreateLocked(BSTR sList, GServerPool** ppPool, std::vector<GServerPool*>& vecUnused)
{
    std::wstring sKey(sList == nullptr ? L"" : sList, SysStringLen(sList));
    GLock lock(&g_csPools);
    if (g_pmapPools == nullptr)
        g_pmapPools = new GPoolMap;
    const auto it = g_pmapPools->find(sKey);
    if (it != g_pmapPools->end())
    {
        it->second->AddRef();
        *ppPool = it->second;
        return S_OK;
    }
    if (g_pmapPools->size() >= MAX_KEPT_POOLS)
    {
        vecUnused.reserve(g_pmapPools->size());
        TakeUnusedPools(*g_pmapPools, vecUnused);
    }
    std::unique_ptr<GServerPool, void (*)(GServerPool*)> pPool(new GServerPool(sList), ReleasePool);
    g_pmapPools->emplace(std::move(sKey), pPool.get());
    pPool->AddRef();   // one reference for the registry, one for the caller
    *ppPool = pPool.release();
    return S_OK;
}
}

HRESULT FindOrCreatePool(BSTR sList, GServerPool** ppPool) noexcept
{
    *ppPool = nullptr;
    std::vector<GServerPool*> vecUnused;
    HRESULT hr = E_FAIL;
    try
    {
        hr = FindOrCreateLocked(sList, ppPool, vecUnused);
    }
    catch (...)
    {
        hr = E_FAIL;   // any allocation: the list text's copy, the pool, its place in the map
    }
    // Released outside the lock: closing their connections may take a while.
    for (GServerPool* pPool : vecUnused)
        ReleasePool(pPool);
    return hr;
}

void StartPoolRegistry() noexcept
{
    InitializeCriticalSectionEx(&g_csPools, 0, CRITICAL_SECTION_NO_DEBUG_INFO);
    g_bStarted = true;
}

void StopPoolRegistry() noexcept
{
    if (!g_bStarted)
        return;
    g_bStarted = false;
    if (g_pmapPools != nullptr)
    {
        for (auto& entry : *g_pmapPools)
            ReleasePool(entry.second);
        delete g_pmapPools;
        g_pmapPools = nullptr;
    }
    DeleteCriticalSection(&g_csPools);
}
