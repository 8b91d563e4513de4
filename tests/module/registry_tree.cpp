// Reading, writing, deleting and listing whole registry keys for the registration tests.
#include "tests/module/registry_tree.h"

#include <algorithm>

namespace
{
class GKey
{
public:
    GKey() = default;
    ~GKey()
    {
        if (m_hKey != nullptr)
            RegCloseKey(m_hKey);
    }
    GKey(const GKey&) = delete;
    GKey& operator=(const GKey&) = delete;

    HKEY* operator&() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

constexpr DWORD NAME_UNITS = 16384;

std::vector<std::wstring> SubkeyNames(HKEY hKey)
{
    std::vector<std::wstring> vecNames;
    std::vector<wchar_t> vecName(NAME_UNITS);
    for (DWORD i = 0;; ++i)
    {
        DWORD nUnits = NAME_UNITS;
        if (RegEnumKeyExW(hKey, i, vecName.data(), &nUnits, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        vecNames.emplace_back(vecName.data(), nUnits);
    }
    return vecNames;
}

std::vector<GRegValue> Values(HKEY hKey)
{
    std::vector<GRegValue> vecValues;
    std::vector<wchar_t> vecName(NAME_UNITS);
    for (DWORD i = 0;; ++i)
    {
        DWORD nUnits = NAME_UNITS;
        DWORD nType = 0;
        DWORD nBytes = 0;
        if (RegEnumValueW(hKey, i, vecName.data(), &nUnits, nullptr, &nType, nullptr, &nBytes) != ERROR_SUCCESS)
            break;
        GRegValue value;
        value.sName.assign(vecName.data(), nUnits);
        value.nType = nType;
        value.vecData.resize(nBytes);
        DWORD nRead = nBytes;
        RegQueryValueExW(hKey, value.sName.c_str(), nullptr, nullptr, value.vecData.empty() ? nullptr : value.vecData.data(),
                         &nRead);
        value.vecData.resize(nRead);
        vecValues.push_back(std::move(value));
    }
    return vecValues;
}

GRegTree ReadOpenKey(HKEY hKey, const std::wstring& sName)
{
    GRegTree tree;
    tree.sName = sName;
    tree.vecValues = Values(hKey);
    for (const std::wstring& sSub : SubkeyNames(hKey))
    {
        GKey key;
        if (RegOpenKeyExW(hKey, sSub.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
            tree.vecKeys.push_back(ReadOpenKey(key.Get(), sSub));
    }
    return tree;
}

std::wstring TextOf(const GRegValue& value)
{
    if (value.nType != REG_SZ)
        return L"type " + std::to_wstring(value.nType) + L", " + std::to_wstring(value.vecData.size()) + L" bytes";
    std::wstring sText(reinterpret_cast<const wchar_t*>(value.vecData.data()), value.vecData.size() / sizeof(wchar_t));
    // The stored terminator shows as "\0" so that a missing or doubled one is seen.
    std::wstring sShown;
    for (wchar_t ch : sText)
        sShown += ch == L'\0' ? std::wstring(L"\\0") : std::wstring(1, ch);
    return L"REG_SZ:" + sShown;
}

void ListInto(const GRegTree& tree, const std::wstring& sPath, std::vector<std::wstring>& vecLines)
{
    vecLines.push_back(sPath);
    for (const GRegValue& value : tree.vecValues)
        vecLines.push_back(sPath + L"|" + (value.sName.empty() ? L"@" : value.sName) + L"=" + TextOf(value));
    for (const GRegTree& sub : tree.vecKeys)
        ListInto(sub, sPath + L"\\" + sub.sName, vecLines);
}
}

std::optional<std::wstring> StoredKeyName(HKEY hParent, const wchar_t* szName)
{
    for (const std::wstring& sName : SubkeyNames(hParent))
    {
        if (CompareStringOrdinal(sName.c_str(), -1, szName, -1, TRUE) == CSTR_EQUAL)
            return sName;
    }
    return std::nullopt;
}

std::optional<GRegTree> ReadRegTree(HKEY hParent, const wchar_t* szName)
{
    GKey key;
    if (RegOpenKeyExW(hParent, szName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    return ReadOpenKey(key.Get(), StoredKeyName(hParent, szName).value_or(szName));
}

bool WriteRegTree(HKEY hParent, const GRegTree& tree)
{
    GKey key;
    if (RegCreateKeyExW(hParent, tree.sName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool bDone = true;
    for (const GRegValue& value : tree.vecValues)
    {
        bDone = RegSetValueExW(key.Get(), value.sName.c_str(), 0, value.nType,
                               value.vecData.empty() ? nullptr : value.vecData.data(),
                               static_cast<DWORD>(value.vecData.size())) == ERROR_SUCCESS && bDone;
    }
    for (const GRegTree& sub : tree.vecKeys)
        bDone = WriteRegTree(key.Get(), sub) && bDone;
    return bDone;
}

bool DeleteRegTree(HKEY hParent, const wchar_t* szName)
{
    const LSTATUS nStatus = RegDeleteTreeW(hParent, szName);
    if (nStatus != ERROR_SUCCESS && nStatus != ERROR_FILE_NOT_FOUND)
        return false;
    // Some registries empty the key but keep it; then it goes here.
    const LSTATUS nLeft = RegDeleteKeyW(hParent, szName);
    return nLeft == ERROR_SUCCESS || nLeft == ERROR_FILE_NOT_FOUND;
}

std::vector<std::wstring> ListRegTree(HKEY hParent, const wchar_t* szName)
{
    std::vector<std::wstring> vecLines;
    const std::optional<GRegTree> tree = ReadRegTree(hParent, szName);
    if (tree)
        ListInto(*tree, tree->sName, vecLines);
    std::sort(vecLines.begin(), vecLines.end());
    return vecLines;
}
