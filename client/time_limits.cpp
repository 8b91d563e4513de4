// Reading the administrator's time limits from the registry when the first connection is opened.
#include "client/time_limits.h"

#include "common/reg_key.h"

DWORD g_nConnectTimeout = 0;
DWORD g_nSendTimeout = 0;
DWORD g_nReceiveTimeout = 0;

namespace
{
constexpr const wchar_t* SETTINGS_KEY = L"SOFTWARE\\Harbinet";

// A value of another type, or none, leaves the limit off: a typing slip by the
// administrator must not stop the library from working as it did before.
DWORD ReadLimit(HKEY hKey, const wchar_t* szValueName) noexcept
{
    DWORD nValue = 0;
    DWORD nBytes = sizeof(nValue);
    if (RegGetValueW(hKey, nullptr, szValueName, RRF_RT_REG_DWORD, nullptr, &nValue, &nBytes) != ERROR_SUCCESS)
        return 0;
    return nValue;
}
}

void LoadTimeLimits() noexcept
{
    g_nConnectTimeout = 0;
    g_nSendTimeout = 0;
    g_nReceiveTimeout = 0;
    // The 64-bit view by name: the settings stay where an administrator's 64-bit tools
    // put them, whatever view this process would get by default.
    GRegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, SETTINGS_KEY, KEY_QUERY_VALUE | KEY_WOW64_64KEY))
        return;
    g_nConnectTimeout = ReadLimit(key.Get(), L"ConnectTimeout");
    g_nSendTimeout = ReadLimit(key.Get(), L"SendTimeout");
    g_nReceiveTimeout = ReadLimit(key.Get(), L"ReceiveTimeout");
}
