// Where Redis is and who to be there: the store's URL, read once at start.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct GRedisEndpoint
{
    std::string szHost;
    uint16_t nPort = 6379;
};

// HOST:PORT, an IPv6 host in brackets.
std::string DescribeEndpoint(const GRedisEndpoint& endpoint);

enum class ERedisKind
{
    Direct,     // one Redis by TCP
    Unix,       // one Redis by its Unix socket
    Sentinel,   // whichever Redis the sentinels name master
};

// redis[s]://[USER[:PASSWORD]@]HOST[:PORT][/DB]
// redis[s]-sentinel://[USER[:PASSWORD]@]HOST:PORT[,HOST:PORT...]/MASTER[/DB]
// unix:///PATH[?db=DB]
struct GRedisAddress
{
    ERedisKind kind = ERedisKind::Direct;
    bool bTls = false;
    std::vector<GRedisEndpoint> vecHosts;   // Redis itself, or the sentinels
    std::string szPath;
    std::string szMaster;
    uint32_t nDb = 0;
    std::string szUser;
    std::string szPassword;   // never part of any text this program writes
    bool bPassword = false;

    // For logs and the start line: everything but the password.
    std::string Describe() const;
};

// False when the text is not one of the forms above.
bool ParseRedisAddress(std::string_view szUrl, GRedisAddress& address);

// The URL as it may be shown in an error: whatever stands before an '@' is hidden.
std::string RedactRedisUrl(std::string_view szUrl);

// The first line of a password file, without its line end; false when it cannot be read.
bool ReadPasswordFile(const std::string& szFile, std::string& szPassword, std::string& szError);
