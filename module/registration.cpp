// DllRegisterServer and DllUnregisterServer: the registry entries of both classes.
#include <windows.h>

#include <cwchar>

#include "module/module_state.h"

namespace
{
struct GClassEntry
{
    const wchar_t* szProgId;
    const wchar_t* szClassId;
};

// Written exactly so, letter case included: hosts and earlier installations know
// the class ids in this spelling.
constexpr GClassEntry CLASS_HARBINET = {L"Harbinet", L"{8C812366-4C56-400a-AB1A-9AB2B3FB8DC6}"};
constexpr GClassEntry CLASS_DISTRIBUTED = {L"Harbinet.Distributed", L"{2A4B9357-34BB-4c78-884F-A7B3F67C1A95}"};

constexpr REGSAM OPEN_ACCESS = KEY_READ | KEY_WRITE;
// Setting values is all a created key is used for, but the next step creates a subkey
// below it, which the platform allows only through a handle that may create subkeys.
constexpr REGSAM CREATE_ACCESS = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

class GRegKey
{
public:
    GRegKey() noexcept = default;
    ~GRegKey()
    {
        if (m_hKey != nullptr)
            RegCloseKey(m_hKey);
    }
    GRegKey(const GRegKey&) = delete;
    GRegKey& operator=(const GRegKey&) = delete;

    bool Create(HKEY hParent, const wchar_t* szName) noexcept
    {
        return RegCreateKeyExW(hParent, szName, 0, nullptr, 0, CREATE_ACCESS, nullptr, &m_hKey,
                               nullptr) == ERROR_SUCCESS;
    }
    bool Open(HKEY hParent, const wchar_t* szName) noexcept
    {
        return RegOpenKeyExW(hParent, szName, 0, OPEN_ACCESS, &m_hKey) == ERROR_SUCCESS;
    }
    bool SetText(const wchar_t* szValueName, const wchar_t* szText) noexcept
    {
        const DWORD nBytes = static_cast<DWORD>((wcslen(szText) + 1) * sizeof(wchar_t));
        return RegSetValueExW(m_hKey, szValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(szText),
                              nBytes) == ERROR_SUCCESS;
    }
    bool DeleteSubKey(const wchar_t* szName) noexcept { return RegDeleteKeyW(m_hKey, szName) == ERROR_SUCCESS; }
    HKEY Get() const noexcept { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

bool RegisterOneClass(const GClassEntry& entry) noexcept
{
    GRegKey keyProgId, keyProgIdClsid, keyClsid, keyClass, keyServer;
    return keyProgId.Create(HKEY_CLASSES_ROOT, entry.szProgId)
        && keyProgIdClsid.Create(keyProgId.Get(), L"CLSID")
        && keyProgIdClsid.SetText(nullptr, entry.szClassId)
        && keyClsid.Open(HKEY_CLASSES_ROOT, L"CLSID")
        && keyClass.Create(keyClsid.Get(), entry.szClassId)
        && keyClass.SetText(nullptr, entry.szProgId)
        && keyServer.Create(keyClass.Get(), L"InProcServer32")
        && keyServer.SetText(nullptr, g_szModulePath)
        && keyServer.SetText(L"ThreadingModel", L"Apartment");
}

// The 32-bit and the 64-bit module each register their class ids in their own view of
// the registry, but the ProgID keys are one for both views.
constexpr REGSAM OTHER_VIEW = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

bool OtherViewRegisters(const GClassEntry& entry) noexcept
{
    constexpr const wchar_t* SERVER_SUBKEY = L"\\InProcServer32";
    wchar_t szServerKey[64] = L"CLSID\\";
    static_assert(6 + 38 + 15 < 64, "CLSID\\{class id}\\InProcServer32 fits");
    std::wcscat(szServerKey, entry.szClassId);
    std::wcscat(szServerKey, SERVER_SUBKEY);
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, szServerKey, 0, KEY_QUERY_VALUE | OTHER_VIEW, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

// Keys go deepest first, since a deletion removes only a key without subkeys; the
// first step that fails leaves the rest in place. The ProgID stays while the module of
// the other width still registers the class: hosts of that width still create it by name.
bool UnregisterOneClass(const GClassEntry& entry) noexcept
{
    GRegKey keyProgId, keyClsid, keyClass;
    return keyProgId.Open(HKEY_CLASSES_ROOT, entry.szProgId)
        && (OtherViewRegisters(entry)
            || (keyProgId.DeleteSubKey(L"CLSID")
                && RegDeleteKeyW(HKEY_CLASSES_ROOT, entry.szProgId) == ERROR_SUCCESS))
        && keyClsid.Open(HKEY_CLASSES_ROOT, L"CLSID")
        && keyClass.Open(keyClsid.Get(), entry.szClassId)
        && keyClass.DeleteSubKey(L"InProcServer32")
        && keyClsid.DeleteSubKey(entry.szClassId);
}
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    if (!RegisterOneClass(CLASS_HARBINET) || !RegisterOneClass(CLASS_DISTRIBUTED))
        return E_FAIL;
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    if (!UnregisterOneClass(CLASS_HARBINET) || !UnregisterOneClass(CLASS_DISTRIBUTED))
        return E_FAIL;
    return S_OK;
}
