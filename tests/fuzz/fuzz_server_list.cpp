// libFuzzer target: ScanServerList on any UTF-16 units, checked against a plain split and the C library's wcstoull.
#include "distributed/server_list_scan.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace
{

void Require(bool bCondition, const char* szWhat)
{
    if (!bCondition)
    {
        std::fprintf(stderr, "fuzz_server_list: %s\n", szWhat);
        std::abort();
    }
}

std::vector<std::u16string> SplitEntries(const std::u16string& sList)
{
    std::vector<std::u16string> vecEntries;
    size_t nBegin = 0;
    for (size_t nSemicolon; (nSemicolon = sList.find(u';', nBegin)) != std::u16string::npos; nBegin = nSemicolon + 1)
        vecEntries.push_back(sList.substr(nBegin, nSemicolon - nBegin));
    if (nBegin < sList.size())
        vecEntries.push_back(sList.substr(nBegin));
    return vecEntries;
}

// Units outside ASCII become 'x', which neither scan takes for white space or a digit.
uint32_t LimitWithLibrary(const std::u16string& sField)
{
    if (sField.empty() || sField[0] == u'|')
        return DEFAULT_MAX_IDLE;
    std::wstring sWide;
    for (char16_t c : sField)
        sWide.push_back(c < 0x80 ? static_cast<wchar_t>(c) : L'x');
    size_t nFirst = 0;
    while (nFirst < sWide.size() && std::iswspace(sWide[nFirst]))
        ++nFirst;
    const bool bNegative = nFirst < sWide.size() && sWide[nFirst] == L'-';
    errno = 0;
    const unsigned long long nValue = std::wcstoull(sWide.c_str(), nullptr, 10);
    const unsigned long long nMagnitude = bNegative ? 0ull - nValue : nValue;
    if (errno == ERANGE || nMagnitude > UINT32_MAX)
        return UINT32_MAX;
    return bNegative ? 0u - static_cast<uint32_t>(nMagnitude) : static_cast<uint32_t>(nMagnitude);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::u16string sText;
    for (size_t i = 0; i + 1 < nSize; i += 2)
        sText.push_back(static_cast<char16_t>(pData[i] | (pData[i + 1] << 8)));

    const GServerList list = ScanServerList(sText.data(), sText.size());

    const size_t nBar = sText.find(u'|');
    const std::vector<std::u16string> vecExpected = SplitEntries(sText.substr(0, nBar));
    Require(list.vecEntries.size() == vecExpected.size(), "entry count differs");
    for (size_t i = 0; i < vecExpected.size(); ++i)
    {
        const GServerEntry& entry = list.vecEntries[i];
        Require(entry.nStart + entry.nLength <= sText.size(), "entry outside the text");
        Require(sText.substr(entry.nStart, entry.nLength) == vecExpected[i], "entry differs");
    }
    const uint32_t nExpected = nBar == std::u16string::npos ? DEFAULT_MAX_IDLE : LimitWithLibrary(sText.substr(nBar + 1));
    Require(list.nMaxIdle == nExpected, "idle limit differs from wcstoull");

    for (const GServerEntry& entry : list.vecEntries)
    {
        const GEntryUrls urls = SplitServerEntry(sText.data() + entry.nStart, entry.nLength);
        Require(urls.nPrimaryLength <= entry.nLength, "primary longer than its entry");
        Require(!urls.bFallback || urls.nFallbackStart == urls.nPrimaryLength + 1, "fallback not after the comma");
    }
    return 0;
}
