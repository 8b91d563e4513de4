// GRegKey: an open registry key, closed when its owner goes.
#pragma once

#include <windows.h>

#include <cwchar>

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

    bool Create(HKEY hParent, const wchar_t* szName, REGSAM nAccess) noexcept
    {
        return RegCreateKeyExW(hParent, szName, 0, nullptr, 0, nAccess, nullptr, &m_hKey, nullptr)
            == ERROR_SUCCESS;
    }
    bool Open(HKEY hParent, const wchar_t* szName, REGSAM nAccess) noexcept
    {
        return RegOpenKeyExW(hParent, szName, 0, nAccess, &m_hKey) == ERROR_SUCCESS;
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
