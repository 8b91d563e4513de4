// The two class objects and the exported entry points that hand them out.
#include <windows.h>

#include "objects/harbinet_impl.h"
#include "dispatch/dual_impl.h"
#include "dispatch/type_description.h"
#include "distributed/create_harbinet.h"
#include "distributed/harbinet_distributed_impl.h"
#include "harbinet_h.h"
#include "module/class_factory.h"
#include "module/module_state.h"

namespace
{
using GHarbinet = GDualImpl<IHarbinet, GIHarbinetImpl, g_pTI_IHarbinet, &g_nRefCount>;
using GHarbinetDistributed = GDualImpl<IHarbinet, GIHarbinetImpl_Distributed, g_pTI_IHarbinet, &g_nRefCount>;

GClassFactory<GHarbinet, &g_nRefCount> g_factoryHarbinet;
GClassFactory<GHarbinetDistributed, &g_nRefCount> g_factoryDistributed;

// With CLSID_NULL the caller names the class by its ProgID in the out pointer.
IClassFactory* FindClassObject(REFCLSID rclsid, void** ppv) noexcept
{
    if (rclsid == CLSID_NULL)
    {
        const wchar_t* szName = static_cast<const wchar_t*>(*ppv);
        if (szName == nullptr || szName[0] == L'\0' || wcscmp(szName, L"Harbinet") == 0)
            return &g_factoryHarbinet;
        if (wcscmp(szName, L"Harbinet.Distributed") == 0)
            return &g_factoryDistributed;
        return nullptr;
    }
    if (rclsid == CLSID_Harbinet)
        return &g_factoryHarbinet;
    if (rclsid == CLSID_Harbinet_Distributed)
        return &g_factoryDistributed;
    return nullptr;
}
}

HRESULT CreateHarbinet(IHarbinet** ppHarbinet) noexcept
{
    *ppHarbinet = GHarbinet::Create();
    return *ppHarbinet == nullptr ? E_FAIL : S_OK;
}

// Every pooled object was made by CreateHarbinet, so it is a GHarbinet.
bool IsHarbinetLive(IHarbinet* pHarbinet) noexcept
{
    return static_cast<GHarbinet*>(pHarbinet)->IsConnectionLive();
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    IClassFactory* pFactory = FindClassObject(rclsid, ppv);
    if (pFactory == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    return pFactory->QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_nRefCount == 0 ? S_OK : S_FALSE;
}
