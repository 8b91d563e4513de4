// g_mapPools and g_csPools: pools found by their exact list text.
#include "distributed/pool_registry.h"

#include <map>
#include <memory>
#include <new>
#include <string>

#include "common/lock.h"

namespace
{
// Keys match unit for unit. A locale-aware comparison could find two different lists
// equal, and an object would then send its values to the other list's servers.
std::map<std::wstring, GServerPool*> g_mapPools;
CRITICAL_SECTION g_csPools;
}

HRESULT FindOrCreatePool(BSTR sList, GServerPool** ppPool)
{
    *ppPool = nullptr;
    std::wstring sKey(sList == nullptr ? L"" : sList, SysStringLen(sList));
    GLock lock(&g_csPools);
    const auto it = g_mapPools.find(sKey);
    if (it != g_mapPools.end())
    {
        it->second->AddRef();
        *ppPool = it->second;
        return S_OK;
    }
    GServerPool* pPool = nullptr;
    try
    {
        pPool = new GServerPool(sList);
    }
    catch (const std::bad_alloc&)
    {
        return E_FAIL;
    }
    try
    {
        g_mapPools.emplace(std::move(sKey), pPool);
    }
    catch (...)
    {
        ReleasePool(pPool);
        throw;
    }
    pPool->AddRef();   // one reference for the registry, one for the caller
    *ppPool = pPool;
    return S_OK;
}

void StartPoolRegistry() noexcept
{
    InitializeCriticalSection(&g_csPools);
}

void StopPoolRegistry() noexcept
{
    for (auto& entry : g_mapPools)
        ReleasePool(entry.second);
    g_mapPools.clear();
    DeleteCriticalSection(&g_csPools);
}
