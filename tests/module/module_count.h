// ModuleCount: reads the module count of harbinet.dll through the AddRef of a class object.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "tests/support/harbinet_module.h"

// A class object's AddRef returns the module count it made; the two references taken
// here to read it are given back before returning. -1 when no class object comes.
inline LONG ModuleCount()
{
    IClassFactory* pFactory = nullptr;
    if (FAILED(GHarbinetModule::Instance().GetClassObject(CLSID_Harbinet, IID_IClassFactory,
                                                          reinterpret_cast<void**>(&pFactory))))
        return -1;
    const LONG nCount = static_cast<LONG>(pFactory->AddRef()) - 2;
    pFactory->Release();
    pFactory->Release();
    return nCount;
}
