// Loading harbinet.dll into a test program and reading error information.
#include "tests/support/harbinet_module.h"

#include <oleauto.h>

#include <stdexcept>

GHarbinetModule& GHarbinetModule::Instance()
{
    static GHarbinetModule s_module;
    return s_module;
}

GHarbinetModule::GHarbinetModule()
{
    wchar_t szPath[MAX_PATH];
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring sPath(szPath);
    sPath = sPath.substr(0, sPath.find_last_of(L"\\/") + 1) + L"harbinet.dll";
    m_hModule = LoadLibraryW(sPath.c_str());
    if (m_hModule == nullptr)
        throw std::runtime_error("harbinet.dll does not load");
    m_pfnGetClassObject = reinterpret_cast<PfnGetClassObject>(GetProcAddress(m_hModule, "DllGetClassObject"));
    m_pfnCanUnloadNow = reinterpret_cast<PfnNoArgs>(GetProcAddress(m_hModule, "DllCanUnloadNow"));
    m_pfnRegisterServer = reinterpret_cast<PfnNoArgs>(GetProcAddress(m_hModule, "DllRegisterServer"));
    m_pfnUnregisterServer = reinterpret_cast<PfnNoArgs>(GetProcAddress(m_hModule, "DllUnregisterServer"));
}

std::wstring GHarbinetModule::Path() const
{
    wchar_t szPath[MAX_PATH];
    GetModuleFileNameW(m_hModule, szPath, MAX_PATH);
    return szPath;
}

IHarbinet* GHarbinetModule::Create(REFCLSID rclsid) const
{
    IClassFactory* pFactory = nullptr;
    if (FAILED(GetClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&pFactory))))
        return nullptr;
    IHarbinet* pObject = nullptr;
    pFactory->CreateInstance(nullptr, IID_IHarbinet, reinterpret_cast<void**>(&pObject));
    pFactory->Release();
    return pObject;
}

GErrorText TakeErrorInfo()
{
    GErrorText text;
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr)
        return text;
    BSTR bstr = nullptr;
    if (SUCCEEDED(pInfo->GetSource(&bstr)) && bstr != nullptr)
        text.sSource = bstr;
    SysFreeString(bstr);
    bstr = nullptr;
    if (SUCCEEDED(pInfo->GetDescription(&bstr)) && bstr != nullptr)
        text.sDescription = bstr;
    SysFreeString(bstr);
    pInfo->Release();
    return text;
}

void ClearErrorInfo()
{
    SetErrorInfo(0, nullptr);
}
