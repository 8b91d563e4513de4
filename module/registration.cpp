// DllRegisterServer and DllUnregisterServer: the registry entries of both classes.
#include <windows.h>

#include <cwchar>

#include "common/reg_key.h"
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

bool RegisterOneClass(const GClassEntry& entry) noexcept
{
    GRegKey keyProgId, keyProgIdClsid, keyClsid, keyClass, keyServer;
    return keyProgId.Create(HKEY_CLASSES_ROOT, entry.szProgId, CREATE_ACCESS)
        && keyProgIdClsid.Create(keyProgId.Get(), L"CLSID", CREATE_ACCESS)
        && keyProgIdClsid.SetText(nullptr, entry.szClassId)
        && keyClsid.Open(HKEY_CLASSES_ROOT, L"CLSID", OPEN_ACCESS)
        && keyClass.Create(keyClsid.Get(), entry.szClassId, CREATE_ACCESS)
        && keyClass.SetText(nullptr, entry.szProgId)
        && keyServer.Create(keyClass.Get(), L"InProcServer32", CREATE_ACCESS)
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
    GRegKey keyServer;
    return keyServer.Open(HKEY_CLASSES_ROOT, szServerKey, KEY_QUERY_VALUE | OTHER_VIEW);
}

// Keys go deepest first, since a deletion removes only a key without subkeys; the
// first step that fails leaves the rest in place. The ProgID stays while the module of
// the other width still registers the class: hosts of that width still create it by name.
bool UnregisterOneClass(const GClassEntry& entry) noexcept
{
    GRegKey keyProgId, keyClsid, keyClass;
    return keyProgId.Open(HKEY_CLASSES_ROOT, entry.szProgId, OPEN_ACCESS)
        && (OtherViewRegisters(entry)
            || (keyProgId.DeleteSubKey(L"CLSID")
                && RegDeleteKeyW(HKEY_CLASSES_ROOT, entry.szProgId) == ERROR_SUCCESS))
        && keyClsid.Open(HKEY_CLASSES_ROOT, L"CLSID", OPEN_ACCESS)
        && keyClass.Open(keyClsid.Get(), entry.szClassId, OPEN_ACCESS)
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
