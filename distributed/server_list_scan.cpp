// The server list grammar, kept free of platform headers so that it builds natively for fuzzing.
#include "distributed/server_list_scan.h"

namespace
{

bool IsSpace(char16_t c) noexcept
{
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool IsDigit(char16_t c) noexcept
{
    return c >= u'0' && c <= u'9';
}

// wcstoul into 32 bits. The text ends at nLength or at a NUL, where the C library stops.
uint32_t ReadIdleLimit(const char16_t* p, const char16_t* pEnd) noexcept
{
    while (p < pEnd && IsSpace(*p))
        ++p;
    bool bNegative = false;
    if (p < pEnd && (*p == u'+' || *p == u'-'))
    {
        bNegative = *p == u'-';
        ++p;
    }
    uint64_t nValue = 0;
    bool bOverflow = false;
    for (; p < pEnd && IsDigit(*p); ++p)
    {
        nValue = nValue * 10 + static_cast<uint64_t>(*p - u'0');
        if (nValue > UINT32_MAX)
        {
            bOverflow = true;
            nValue = UINT32_MAX;   // keeps the product bounded while the digits run on
        }
    }
    if (bOverflow)
        return UINT32_MAX;
    const uint32_t n = static_cast<uint32_t>(nValue);
    return bNegative ? 0u - n : n;
}

}

GServerList ScanServerList(const char16_t* pText, size_t nLength)
{
    GServerList list;
    if (pText == nullptr)
        return list;
    size_t i = 0;
    size_t nBegin = 0;
    for (; i < nLength && pText[i] != u'|'; ++i)
    {
        if (pText[i] == u';')
        {
            list.vecEntries.push_back({nBegin, i - nBegin});
            nBegin = i + 1;
        }
    }
    if (nBegin < i)
        list.vecEntries.push_back({nBegin, i - nBegin});
    if (i == nLength)
        return list;

    const char16_t* pField = pText + i + 1;
    const char16_t* pEnd = pText + nLength;
    if (pField == pEnd || *pField == u'|')
        return list;
    const char16_t* pStop = pField;
    while (pStop < pEnd && *pStop != u'\0')
        ++pStop;
    list.nMaxIdle = ReadIdleLimit(pField, pStop);
    return list;
}

GEntryUrls SplitServerEntry(const char16_t* pEntry, size_t nLength)
{
    GEntryUrls urls;
    urls.nPrimaryLength = nLength;
    for (size_t i = 0; pEntry != nullptr && i < nLength; ++i)
    {
        if (pEntry[i] == u',')
        {
            urls.nPrimaryLength = i;
            urls.bFallback = true;
            urls.nFallbackStart = i + 1;
            break;
        }
    }
    return urls;
}
