// libFuzzer target: ScanServerUrl on any bytes, checked against the C library's sscanf.
#include "client/url_scan.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

constexpr char g_cGuard = '#';

void Require(bool bCondition, const char* szWhat)
{
    if (!bCondition)
    {
        std::fprintf(stderr, "fuzz_url_scan: %s\n", szWhat);
        std::abort();
    }
}

// glibc's sscanf has no capacities, so it gets buffers as long as the input and the
// 126-byte limit is applied to what it read. Its %d clamps to a long before keeping
// 32 bits, which equals our wrap for magnitudes below 2^63; longer ports are not compared.
struct GReference
{
    bool bMatch = false;
    std::string sHost;
    int nPort = 0;
    bool bComparePort = true;
    std::string sPath;
};

bool Fits(const char* sz)
{
    return std::strlen(sz) <= 126;
}

GReference ScanWithLibrary(const std::string& sUrl)
{
    GReference reference;
    std::vector<char> vecHost(sUrl.size() + 1, '\0');
    std::vector<char> vecPath(sUrl.size() + 1, '\0');
    int nPort = 0;
    int nPortStart = 0;
    int nPortEnd = 0;
    int nFields = std::sscanf(sUrl.c_str(), "http://%[^:]:%n%d%n%s", vecHost.data(), &nPortStart,
        &nPort, &nPortEnd, vecPath.data());
    if (nFields == 3 && Fits(vecHost.data()) && Fits(vecPath.data()))
    {
        size_t nDigits = 0;
        for (int i = nPortStart; i < nPortEnd; ++i)
            nDigits += sUrl[i] >= '0' && sUrl[i] <= '9';
        reference.bMatch = true;
        reference.sHost = vecHost.data();
        reference.nPort = nPort;
        reference.bComparePort = nDigits <= 18;
        reference.sPath = vecPath.data();
        return reference;
    }

    nFields = std::sscanf(sUrl.c_str(), "http://%[^/]%s", vecHost.data(), vecPath.data());
    if (nFields == 2 && Fits(vecHost.data()) && Fits(vecPath.data()))
    {
        reference.bMatch = true;
        reference.sHost = vecHost.data();
        reference.nPort = 80;
        reference.sPath = vecPath.data();
    }
    return reference;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string sUrl(reinterpret_cast<const char*>(pData), nSize);

    char szHost[URL_TEXT_BYTES];
    char szPath[URL_TEXT_BYTES];
    std::memset(szHost, g_cGuard, sizeof szHost);
    std::memset(szPath, g_cGuard, sizeof szPath);
    int nPort = -12345;
    const bool bMatch = ScanServerUrl(sUrl.c_str(), szHost, nPort, szPath);
    Require(szHost[URL_TEXT_BYTES - 1] == g_cGuard, "host buffer overrun");
    Require(szPath[URL_TEXT_BYTES - 1] == g_cGuard, "path buffer overrun");

    const GReference reference = ScanWithLibrary(sUrl);
    Require(bMatch == reference.bMatch, "match differs from sscanf");
    if (bMatch)
    {
        Require(std::memchr(szHost, '\0', URL_TEXT_BYTES - 1) != nullptr, "host not terminated");
        Require(std::memchr(szPath, '\0', URL_TEXT_BYTES - 1) != nullptr, "path not terminated");
        Require(reference.sHost == szHost, "host differs from sscanf");
        Require(reference.sPath == szPath, "path differs from sscanf");
        Require(!reference.bComparePort || reference.nPort == nPort, "port differs from sscanf");
    }
    return 0;
}
