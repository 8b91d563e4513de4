// The store's URL: its grammar, percent-decoding of the credentials, and the
// texts that show it without its password.
#include "redis_address.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

namespace
{

constexpr uint16_t kRedisPort = 6379;
constexpr uint16_t kSentinelPort = 26379;

bool ParseNumber(std::string_view sz, uint64_t nMax, uint64_t& n)
{
    if (sz.empty())
        return false;
    auto result = std::from_chars(sz.data(), sz.data() + sz.size(), n);
    return result.ec == std::errc() && result.ptr == sz.data() + sz.size() && n <= nMax;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool PercentDecode(std::string_view sz, std::string& szOut)
{
    szOut.clear();
    for (size_t i = 0; i < sz.size(); ++i)
    {
        if (sz[i] != '%')
        {
            szOut += sz[i];
            continue;
        }
        if (i + 2 >= sz.size())
            return false;
        const int nHigh = HexDigit(sz[i + 1]);
        const int nLow = HexDigit(sz[i + 2]);
        if (nHigh < 0 || nLow < 0)
            return false;
        szOut += static_cast<char>(nHigh * 16 + nLow);
        i += 2;
    }
    return true;
}

bool ParseDb(std::string_view sz, uint32_t& nDb)
{
    uint64_t n = 0;
    if (!ParseNumber(sz, 1000000, n))
        return false;
    nDb = static_cast<uint32_t>(n);
    return true;
}

// HOST[:PORT], the host possibly a bracketed IPv6 address.
bool ParseEndpoint(std::string_view sz, uint16_t nDefaultPort, GRedisEndpoint& endpoint)
{
    std::string_view szHost = sz;
    std::string_view szRest;
    if (!sz.empty() && sz.front() == '[')
    {
        const size_t nClose = sz.find(']');
        if (nClose == std::string_view::npos)
            return false;
        szHost = sz.substr(1, nClose - 1);
        szRest = sz.substr(nClose + 1);
    }
    else
    {
        szHost = sz.substr(0, sz.find(':'));
        szRest = sz.substr(szHost.size());
    }
    endpoint.nPort = nDefaultPort;
    if (!szRest.empty())
    {
        uint64_t n = 0;
        if (szRest.front() != ':' || !ParseNumber(szRest.substr(1), 65535, n) || n == 0)
            return false;
        endpoint.nPort = static_cast<uint16_t>(n);
    }
    if (szHost.empty() || szHost.find_first_of("@/?#%, ") != std::string_view::npos)
        return false;
    endpoint.szHost = std::string(szHost);
    return true;
}

bool ParseUnix(std::string_view szPath, GRedisAddress& address)
{
    const size_t nQuery = szPath.find('?');
    if (nQuery != std::string_view::npos)
    {
        std::string_view szQuery = szPath.substr(nQuery + 1);
        szPath = szPath.substr(0, nQuery);
        if (szQuery.substr(0, 3) != "db=" || !ParseDb(szQuery.substr(3), address.nDb))
            return false;
    }
    if (szPath.empty() || szPath.front() != '/')
        return false;
    address.kind = ERedisKind::Unix;
    address.szPath = std::string(szPath);
    return true;
}

} // namespace

std::string DescribeEndpoint(const GRedisEndpoint& endpoint)
{
    const bool bV6 = endpoint.szHost.find(':') != std::string::npos;
    return (bV6 ? "[" + endpoint.szHost + "]" : endpoint.szHost) + ":" + std::to_string(endpoint.nPort);
}

std::string GRedisAddress::Describe() const
{
    if (kind == ERedisKind::Unix)
        return "unix://" + szPath + (nDb != 0 ? "?db=" + std::to_string(nDb) : std::string());
    std::string sz = bTls ? "rediss" : "redis";
    sz += kind == ERedisKind::Sentinel ? "-sentinel://" : "://";
    if (!szUser.empty())
        sz += szUser + "@";
    for (size_t i = 0; i < vecHosts.size(); ++i)
        sz += (i != 0 ? "," : "") + DescribeEndpoint(vecHosts[i]);
    if (kind == ERedisKind::Sentinel)
        sz += "/" + szMaster;
    if (nDb != 0)
        sz += "/" + std::to_string(nDb);
    return sz;
}

bool ParseRedisAddress(std::string_view szUrl, GRedisAddress& address)
{
    address = GRedisAddress{};
    const size_t nScheme = szUrl.find("://");
    if (nScheme == std::string_view::npos)
        return false;
    const std::string_view szScheme = szUrl.substr(0, nScheme);
    std::string_view szRest = szUrl.substr(nScheme + 3);
    if (szScheme == "unix")
        return ParseUnix(szRest, address);
    if (szScheme == "redis" || szScheme == "rediss")
        address.kind = ERedisKind::Direct;
    else if (szScheme == "redis-sentinel" || szScheme == "rediss-sentinel")
        address.kind = ERedisKind::Sentinel;
    else
        return false;
    address.bTls = szScheme.substr(0, 6) == "rediss";

    // The password may hold '/' or '@' only percent-encoded, so the last '@'
    // before the path ends the credentials.
    const size_t nPath = szRest.find('/', szRest.rfind('@') == std::string_view::npos ? 0 : szRest.rfind('@'));
    std::string_view szAuthority = szRest.substr(0, nPath);
    std::string_view szPath = nPath == std::string_view::npos ? std::string_view() : szRest.substr(nPath + 1);
    const size_t nAt = szAuthority.rfind('@');
    if (nAt != std::string_view::npos)
    {
        const std::string_view szUserInfo = szAuthority.substr(0, nAt);
        const size_t nColon = szUserInfo.find(':');
        if (!PercentDecode(szUserInfo.substr(0, nColon), address.szUser))
            return false;
        if (nColon != std::string_view::npos)
        {
            if (!PercentDecode(szUserInfo.substr(nColon + 1), address.szPassword))
                return false;
            address.bPassword = true;
        }
        // AUTH with a user and no password is not a thing Redis knows.
        if (nColon == std::string_view::npos && address.szUser.empty())
            return false;
        szAuthority = szAuthority.substr(nAt + 1);
    }

    const uint16_t nDefault = address.kind == ERedisKind::Sentinel ? kSentinelPort : kRedisPort;
    for (;;)
    {
        const size_t nComma = szAuthority.find(',');
        GRedisEndpoint endpoint;
        if (!ParseEndpoint(szAuthority.substr(0, nComma), nDefault, endpoint))
            return false;
        address.vecHosts.push_back(std::move(endpoint));
        if (nComma == std::string_view::npos)
            break;
        szAuthority = szAuthority.substr(nComma + 1);
    }
    if (address.kind == ERedisKind::Direct && address.vecHosts.size() != 1)
        return false;

    if (address.kind == ERedisKind::Sentinel)
    {
        const size_t nSlash = szPath.find('/');
        address.szMaster = std::string(szPath.substr(0, nSlash));
        if (address.szMaster.empty() || address.szMaster.find_first_of("?#% ") != std::string::npos)
            return false;
        szPath = nSlash == std::string_view::npos ? std::string_view() : szPath.substr(nSlash + 1);
        if (nSlash != std::string_view::npos && !ParseDb(szPath, address.nDb))
            return false;
        return true;
    }
    return nPath == std::string_view::npos || ParseDb(szPath, address.nDb);
}

std::string RedactRedisUrl(std::string_view szUrl)
{
    const size_t nAt = szUrl.rfind('@');
    if (nAt == std::string_view::npos)
        return std::string(szUrl);
    const size_t nScheme = szUrl.find("://");
    const size_t nFrom = nScheme == std::string_view::npos || nScheme > nAt ? 0 : nScheme + 3;
    return std::string(szUrl.substr(0, nFrom)) + "***" + std::string(szUrl.substr(nAt));
}

bool ReadPasswordFile(const std::string& szFile, std::string& szPassword, std::string& szError)
{
    std::ifstream file(szFile, std::ios::binary);
    if (!file)
    {
        szError = "cannot read --redis-password-file " + szFile + ": " + strerror(errno);
        return false;
    }
    std::getline(file, szPassword);
    if (!szPassword.empty() && szPassword.back() == '\r')
        szPassword.pop_back();
    if (szPassword.empty())
    {
        szError = "--redis-password-file " + szFile + " holds no password";
        return false;
    }
    return true;
}
