// Command-line options of harbinet-server, their defaults and their checks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct GServerOptions
{
    std::string szListen = "127.0.0.1";
    uint16_t nPort = 8077;
    std::string szBasePath = "/";
    uint64_t nMemoryLimit = 64ull * 1024 * 1024;
    uint64_t nMaxValue = 1024 * 1024;
    uint32_t nMaxHead = 8192;
    uint32_t nMaxConnections = 1024;
    uint32_t nIdleTimeout = 0;       // seconds, 0: off
    uint32_t nRequestTimeout = 30;   // seconds, 0: off
    uint32_t nThreads = 0;           // 0: one per processor
    bool bIssueCookies = false;
    std::string szStore = "memory";   // or a Redis address
    std::string szKeyPrefix = "harbinet:";
    std::string szRedisPasswordFile;
    std::string szRedisPassword;      // read from that file; never shown
    std::string szRedisTlsCa;
    std::string szRedisTlsCert;
    std::string szRedisTlsKey;
    uint32_t nRedisWait = 0;          // replicas that must have a set before it counts as stored
    bool bMetrics = true;
    std::string szConfigFile;          // empty: none
};

enum class EOptions
{
    Run,
    Help,
    Version,
    Check,     // --check-config: everything was good, nothing is to be started
    Error,
};

// Fills options from argv; on Error, szError says what was wrong.
EOptions ParseOptions(int argc, const char* const* argv, GServerOptions& options, std::string& szError);

// One long option by its name with the dashes ("--port") and its value, as
// the command line and the config file give it; false with szError on a bad
// name or value. A flag takes "on" or "off".
bool ApplyOption(std::string_view szArg, std::string_view szValue, GServerOptions& options, std::string& szError);

const char* UsageText();

// What needs every option in place, the config file's included: reads the Redis
// password file and checks that the Redis options fit together.
bool FinishOptions(GServerOptions& options, std::string& szError);

// The Redis store's settings from the options: the address with its
// credentials and the TLS files. False, with szError, when they do not fit together.
struct GRedisSettings;
bool MakeRedisSettings(const GServerOptions& options, GRedisSettings& settings, std::string& szError);

// A byte count with an optional K, M or G suffix (powers of 1024).
bool ParseSize(std::string_view szText, uint64_t& nBytes);

// The size the way a person would write it back: 64M rather than 67108864.
std::string FormatSize(uint64_t nBytes);
