// The reply-head scanner and the conversions of the values it marks.
#include "client/reply_head_scanner.h"

#include <climits>
#include <cstring>

namespace
{

enum class GHeadPhase
{
    Start,
    Status,
    LineEnd,
    Name,
};

bool IsCSpace(char c) noexcept
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

char LowerAscii(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compared by length, so a NUL byte inside a name keeps it from matching.
bool IsName(const char* pName, size_t nLength, const char* szKnown) noexcept
{
    if (std::strlen(szKnown) != nLength)
        return false;
    for (size_t i = 0; i < nLength; ++i)
    {
        if (LowerAscii(pName[i]) != szKnown[i])
            return false;
    }
    return true;
}

void TakeFirst(const char*& szField, const char* szValue) noexcept
{
    if (szField == nullptr)
        szField = szValue;
}

void TakeHeader(const char* pName, size_t nNameLength, const char* szValue, bool bContentType,
    GReplyFields& fields) noexcept
{
    if (IsName(pName, nNameLength, "content-length"))
        TakeFirst(fields.szContentLength, szValue);
    else if (IsName(pName, nNameLength, "set-cookie"))
        TakeFirst(fields.szSetCookie, szValue);
    else if (IsName(pName, nNameLength, "x-result-code"))
        TakeFirst(fields.szResultCode, szValue);
    else if (IsName(pName, nNameLength, "x-result-reason"))
        TakeFirst(fields.szResultReason, szValue);
    else if (bContentType && IsName(pName, nNameLength, "content-type"))
        TakeFirst(fields.szContentType, szValue);
}

// Base-10 magnitude with the strto* rules: white space, sign, digits. Saturates at
// UINT64_MAX and reports whether it did, so each caller can apply its own range.
void ScanMagnitude(const char* p, bool& bNegative, bool& bDigits, bool& bOverflow,
    uint64_t& nMagnitude) noexcept
{
    bNegative = false;
    bDigits = false;
    bOverflow = false;
    nMagnitude = 0;
    while (IsCSpace(*p))
        ++p;
    if (*p == '+' || *p == '-')
    {
        bNegative = *p == '-';
        ++p;
    }
    for (; IsDigit(*p); ++p)
    {
        bDigits = true;
        const uint64_t nDigit = static_cast<uint64_t>(*p - '0');
        if (nMagnitude > (UINT64_MAX - nDigit) / 10u)
            bOverflow = true;
        else
            nMagnitude = nMagnitude * 10u + nDigit;
    }
}

long ConvertLong(const char* sz, bool& bDigits) noexcept
{
    bool bNegative = false;
    bool bOverflow = false;
    uint64_t nMagnitude = 0;
    ScanMagnitude(sz, bNegative, bDigits, bOverflow, nMagnitude);
    const uint64_t nMax = static_cast<uint64_t>(LONG_MAX);
    if (bNegative)
    {
        if (bOverflow || nMagnitude > nMax + 1u)
            return LONG_MIN;
        return nMagnitude == nMax + 1u ? LONG_MIN : -static_cast<long>(nMagnitude);
    }
    if (bOverflow || nMagnitude > nMax)
        return LONG_MAX;
    return static_cast<long>(nMagnitude);
}

}   // namespace

size_t FindHeadEnd(const char* p, size_t n)
{
    for (size_t i = 0; i + 4 <= n; ++i)
    {
        if (p[i] == '\r' && p[i + 1] == '\n' && p[i + 2] == '\r' && p[i + 3] == '\n')
            return i + 4;
    }
    return 0;
}

void ScanReplyHead(char* pHead, size_t nHeadLength, bool bContentType, GReplyFields& fields)
{
    fields = GReplyFields{};
    GHeadPhase phase = GHeadPhase::Start;
    size_t nName = 0;
    size_t i = 0;
    while (i < nHeadLength)
    {
        switch (phase)
        {
        case GHeadPhase::Start:
            phase = GHeadPhase::Status;
            ++i;
            break;
        case GHeadPhase::Status:
            if (pHead[i] == ' ')
            {
                pHead[i] = '\0';
                fields.szStatus = pHead + i + 1;
                phase = GHeadPhase::LineEnd;
            }
            ++i;
            break;
        case GHeadPhase::LineEnd:
            if (pHead[i] == '\r')
            {
                pHead[i] = '\0';
                // The byte after a CR is taken for its LF without a look, so a name
                // begins two bytes on.
                i += 2;
                nName = i;
                phase = GHeadPhase::Name;
            }
            else
            {
                ++i;
            }
            break;
        case GHeadPhase::Name:
            if (pHead[i] == ':')
            {
                pHead[i] = '\0';
                const size_t nNameLength = i - nName;
                ++i;
                while (i < nHeadLength && pHead[i] == ' ')
                    ++i;
                TakeHeader(pHead + nName, nNameLength, pHead + i, bContentType, fields);
                phase = GHeadPhase::LineEnd;
            }
            else
            {
                ++i;
            }
            break;
        }
    }
}

uint64_t ParseContentLength(const char* sz)
{
    if (sz == nullptr)
        return UINT64_MAX;
    bool bNegative = false;
    bool bDigits = false;
    bool bOverflow = false;
    uint64_t nMagnitude = 0;
    ScanMagnitude(sz, bNegative, bDigits, bOverflow, nMagnitude);
    if (bOverflow)
        return UINT64_MAX;
    return bNegative ? 0u - nMagnitude : nMagnitude;
}

bool ParseResultCode(const char* sz, long& nCode)
{
    if (sz == nullptr)
        return false;
    bool bDigits = false;
    const long nValue = ConvertLong(sz, bDigits);
    if (!bDigits)
        return false;
    nCode = nValue;
    return true;
}

long ParseStatusCode(const char* sz)
{
    if (sz == nullptr)
        return 0;
    bool bDigits = false;
    return ConvertLong(sz, bDigits);
}

bool MatchVariantContentType(const char* sz, int& nType)
{
    static const char szPrefix[] = "application/x-variant-";
    const char* p = sz == nullptr ? "" : sz;
    if (std::strncmp(p, szPrefix, sizeof szPrefix - 1) != 0)
        return false;
    p += sizeof szPrefix - 1;
    while (IsCSpace(*p))
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-')
    {
        bNegative = *p == '-';
        ++p;
    }
    if (!IsDigit(*p))
        return false;
    // The C library leaves an out-of-range %d undefined; it wraps here, as in the URL scan.
    uint32_t nValue = 0;
    for (; IsDigit(*p); ++p)
        nValue = nValue * 10u + static_cast<uint32_t>(*p - '0');
    if (bNegative)
        nValue = 0u - nValue;
    nType = nValue <= INT32_MAX ? static_cast<int>(nValue) : -static_cast<int>(~nValue) - 1;
    return true;
}
