// The two scanf-style URL forms of the server connection, emulated without the C library.
#include "client/url_scan.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{

// A text conversion may fill at most this many bytes, its NUL included.
constexpr size_t g_nTextCapacity = URL_TEXT_BYTES - 1;

bool IsCSpace(char c) noexcept
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

bool SkipLiteral(const char*& p, const char* szLiteral) noexcept
{
    const char* q = p;
    for (; *szLiteral != '\0'; ++szLiteral, ++q)
    {
        if (*q != *szLiteral)
            return false;
    }
    p = q;
    return true;
}

// Stores a token of nLength bytes, or empties the buffer when it does not fit, which
// ends the scan like a bounded scanf_s does.
bool StoreToken(const char*& p, size_t nLength, char (&szOut)[URL_TEXT_BYTES]) noexcept
{
    if (nLength >= g_nTextCapacity)
    {
        szOut[0] = '\0';
        return false;
    }
    std::memcpy(szOut, p, nLength);
    szOut[nLength] = '\0';
    p += nLength;
    return true;
}

// %[^c]: one or more bytes other than c; white space is not skipped.
bool ScanUntil(const char*& p, char cStop, char (&szOut)[URL_TEXT_BYTES]) noexcept
{
    size_t nLength = 0;
    while (p[nLength] != '\0' && p[nLength] != cStop)
        ++nLength;
    if (nLength == 0)
        return false;
    return StoreToken(p, nLength, szOut);
}

// %s: white space skipped, then one or more bytes other than white space.
bool ScanWord(const char*& p, char (&szOut)[URL_TEXT_BYTES]) noexcept
{
    while (IsCSpace(*p))
        ++p;
    size_t nLength = 0;
    while (p[nLength] != '\0' && !IsCSpace(p[nLength]))
        ++nLength;
    if (nLength == 0)
        return false;
    return StoreToken(p, nLength, szOut);
}

// %d. The C library leaves an out-of-range value undefined; we wrap it modulo 2^32 so
// that every input gives one documented answer.
bool ScanInt(const char*& p, int& nOut) noexcept
{
    const char* q = p;
    while (IsCSpace(*q))
        ++q;
    bool bNegative = false;
    if (*q == '+' || *q == '-')
    {
        bNegative = *q == '-';
        ++q;
    }
    if (!IsDigit(*q))
        return false;
    uint32_t nValue = 0;
    for (; IsDigit(*q); ++q)
        nValue = nValue * 10u + static_cast<uint32_t>(*q - '0');
    if (bNegative)
        nValue = 0u - nValue;
    // Two's complement reading of the 32 bits, spelled out so it is defined in C++17.
    nOut = nValue <= INT32_MAX ? static_cast<int>(nValue)
                               : -static_cast<int>(~nValue) - 1;
    p = q;
    return true;
}

}   // namespace

bool ScanServerUrl(const char* szUrl, char (&szHost)[URL_TEXT_BYTES], int& nPort,
    char (&szPath)[URL_TEXT_BYTES])
{
    const char* const szText = szUrl == nullptr ? "" : szUrl;

    const char* p = szText;
    if (SkipLiteral(p, "http://") && ScanUntil(p, ':', szHost) && SkipLiteral(p, ":")
        && ScanInt(p, nPort) && ScanWord(p, szPath))
        return true;

    p = szText;
    if (SkipLiteral(p, "http://") && ScanUntil(p, '/', szHost) && ScanWord(p, szPath))
    {
        nPort = 80;
        return true;
    }
    return false;
}
