// GRegTree: one registry key with its values and subkeys, read, written back, deleted and listed as text.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct GRegValue
{
    std::wstring sName;
    DWORD nType = REG_NONE;
    std::vector<BYTE> vecData;
};

struct GRegTree
{
    std::wstring sName;   // as the registry stores it, letter case included
    std::vector<GRegValue> vecValues;
    std::vector<GRegTree> vecKeys;
};

// The subkey of hParent whose name equals szName apart from letter case, spelled as stored.
std::optional<std::wstring> StoredKeyName(HKEY hParent, const wchar_t* szName);

// The whole key below hParent, or nothing when it does not exist.
std::optional<GRegTree> ReadRegTree(HKEY hParent, const wchar_t* szName);

// Creates the key below hParent with exactly the values and subkeys of tree.
bool WriteRegTree(HKEY hParent, const GRegTree& tree);

// Removes the key and everything below it; true also when it did not exist.
bool DeleteRegTree(HKEY hParent, const wchar_t* szName);

// One line per key and per value, sorted: "Key\Sub" and "Key\Sub|Name=REG_SZ:text", with
// "@" for the default value. Nothing when the key does not exist.
std::vector<std::wstring> ListRegTree(HKEY hParent, const wchar_t* szName);
