// Loading of the IHarbinet type description from the module file.
#include "dispatch/type_description.h"

#include <oleauto.h>

#include "harbinet_h.h"

ITypeInfo* g_pTI_IHarbinet = nullptr;

bool LoadTypeDescription(const wchar_t* szModulePath) noexcept
{
    ITypeLib* pLib = nullptr;
    if (FAILED(LoadTypeLib(szModulePath, &pLib)) || pLib == nullptr)
        return false;
    const HRESULT hr = pLib->GetTypeInfoOfGuid(IID_IHarbinet, &g_pTI_IHarbinet);
    pLib->Release();
    return SUCCEEDED(hr) && g_pTI_IHarbinet != nullptr;
}

void ReleaseTypeDescription() noexcept
{
    if (g_pTI_IHarbinet != nullptr)
    {
        g_pTI_IHarbinet->Release();
        g_pTI_IHarbinet = nullptr;
    }
}
