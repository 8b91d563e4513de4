// libFuzzer target: head end, head scanner and value conversions on any bytes, checked
// against memory bounds and the C library's strtoull, strtol and sscanf.
#include "client/reply_head_scanner.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace
{

void Require(bool bCondition, const char* szWhat)
{
    if (!bCondition)
    {
        std::fprintf(stderr, "fuzz_reply_head: %s\n", szWhat);
        std::abort();
    }
}

size_t CountLeadingDigits(const char* sz)
{
    while (*sz == ' ' || (*sz >= '\t' && *sz <= '\r'))
        ++sz;
    if (*sz == '+' || *sz == '-')
        ++sz;
    size_t n = 0;
    while (sz[n] >= '0' && sz[n] <= '9')
        ++n;
    return n;
}

// nullptr stands for an absent header and goes through the functions as such.
void CheckConversions(const char* sz)
{
    const uint64_t nLength = ParseContentLength(sz);
    if (sz == nullptr)
    {
        Require(nLength == UINT64_MAX, "absent content-length is not all ones");
    }
    else
    {
        Require(nLength == std::strtoull(sz, nullptr, 10), "content-length differs from strtoull");
    }

    long nCode = -7;
    const bool bCode = ParseResultCode(sz, nCode);
    long nStatus = ParseStatusCode(sz);
    if (sz == nullptr)
    {
        Require(!bCode && nCode == -7, "absent result code counted");
        Require(nStatus == 0, "absent status is not 0");
    }
    else
    {
        char* pEnd = nullptr;
        const long nLibrary = std::strtol(sz, &pEnd, 10);
        const bool bLibraryDigits = pEnd != sz;
        Require(bCode == bLibraryDigits, "result code digits differ from strtol");
        Require(nCode == (bCode ? nLibrary : -7), "result code differs from strtol");
        Require(nStatus == nLibrary, "status differs from strtol");
    }

    int nType = -7;
    const bool bType = MatchVariantContentType(sz, nType);
    int nLibraryType = -7;
    const int nFields = std::sscanf(sz == nullptr ? "" : sz, "application/x-variant-%d", &nLibraryType);
    Require(bType == (nFields == 1), "content-type match differs from sscanf");
    if (!bType)
        Require(nType == -7, "content-type failure changed the type");
    else if (CountLeadingDigits(sz + 22) <= 18)
        Require(nType == nLibraryType, "content-type number differs from sscanf");
}

bool IsMarkable(char c)
{
    return c == '\r' || c == ' ' || c == ':';
}

void CheckField(const char* szField, const std::vector<char>& vecBuffer, size_t nLength)
{
    if (szField == nullptr)
        return;
    Require(szField >= vecBuffer.data() && szField <= vecBuffer.data() + nLength,
        "field outside the scanned range");
    CheckConversions(szField);
}

void CheckScan(const uint8_t* pData, size_t nSize, size_t nLength, bool bContentType)
{
    std::vector<char> vecBuffer(pData, pData + nSize);
    vecBuffer.push_back('\0');
    GReplyFields fields;
    std::memset(&fields, 0xA5, sizeof fields);
    ScanReplyHead(vecBuffer.data(), nLength, bContentType, fields);

    for (size_t i = 0; i < nSize; ++i)
    {
        const char cOriginal = static_cast<char>(pData[i]);
        if (vecBuffer[i] == cOriginal)
            continue;
        Require(i < nLength, "byte past the scanned range changed");
        Require(vecBuffer[i] == '\0' && IsMarkable(cOriginal), "byte changed to other than NUL");
    }
    Require(vecBuffer[nSize] == '\0', "terminating NUL changed");
    if (!bContentType)
        Require(fields.szContentType == nullptr, "content-type marked without being asked");

    CheckField(fields.szStatus, vecBuffer, nLength);
    CheckField(fields.szContentLength, vecBuffer, nLength);
    CheckField(fields.szContentType, vecBuffer, nLength);
    CheckField(fields.szSetCookie, vecBuffer, nLength);
    CheckField(fields.szResultCode, vecBuffer, nLength);
    CheckField(fields.szResultReason, vecBuffer, nLength);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const char* p = reinterpret_cast<const char*>(pData);
    const size_t nEnd = FindHeadEnd(p, nSize);
    const size_t nFound = std::string_view(p, nSize).find("\r\n\r\n");
    Require(nEnd == (nFound == std::string_view::npos ? 0 : nFound + 4), "head end differs from find");

    // Past the head the scanner also gets the whole input: any length must be safe.
    for (bool bContentType : {false, true})
    {
        CheckScan(pData, nSize, nEnd, bContentType);
        if (nEnd != nSize)
            CheckScan(pData, nSize, nSize, bContentType);
    }

    std::vector<char> vecText(p, p + nSize);
    vecText.push_back('\0');
    CheckConversions(vecText.data());
    CheckConversions(nullptr);
    return 0;
}
