// GHarbinetModule: harbinet.dll loaded by the test, its entry points, and object creation.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "harbinet_h.h"

class GHarbinetModule
{
public:
    using PfnGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using PfnNoArgs = HRESULT(STDAPICALLTYPE*)();

    // Loads the module once per process from the test program's own folder.
    static GHarbinetModule& Instance();

    HMODULE Handle() const { return m_hModule; }
    std::wstring Path() const;
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const { return m_pfnGetClassObject(rclsid, riid, ppv); }
    HRESULT CanUnloadNow() const { return m_pfnCanUnloadNow(); }
    HRESULT RegisterServer() const { return m_pfnRegisterServer(); }
    HRESULT UnregisterServer() const { return m_pfnUnregisterServer(); }

    // A new object of the class, as its class object makes it; nullptr on failure.
    IHarbinet* Create(REFCLSID rclsid) const;
    IHarbinet* CreateHarbinet() const { return Create(CLSID_Harbinet); }
    IHarbinet* CreateDistributed() const { return Create(CLSID_Harbinet_Distributed); }

private:
    GHarbinetModule();

    HMODULE m_hModule = nullptr;
    PfnGetClassObject m_pfnGetClassObject = nullptr;
    PfnNoArgs m_pfnCanUnloadNow = nullptr;
    PfnNoArgs m_pfnRegisterServer = nullptr;
    PfnNoArgs m_pfnUnregisterServer = nullptr;
};

// The calling thread's error information: source and description, taken (and cleared).
struct GErrorText
{
    std::wstring sSource;
    std::wstring sDescription;
};
GErrorText TakeErrorInfo();

// Clears the thread's error information so a test can tell whether a call set any.
void ClearErrorInfo();

// A BSTR for the life of one expression.
class GTestBstr
{
public:
    explicit GTestBstr(const wchar_t* sz) : m_bstr(SysAllocString(sz)) {}
    ~GTestBstr() { SysFreeString(m_bstr); }
    GTestBstr(const GTestBstr&) = delete;
    GTestBstr& operator=(const GTestBstr&) = delete;
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
};
