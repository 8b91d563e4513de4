// Parsing and checking of harbinet-server's options, from the command line or the config file.
#include "options.h"

#include "redis_address.h"
#include "redis_link.h"

#include <charconv>
#include <thread>

namespace
{

bool ParseUnsigned(std::string_view szText, uint64_t nMax, uint64_t& nValue)
{
    if (szText.empty())
        return false;
    uint64_t n = 0;
    auto result = std::from_chars(szText.data(), szText.data() + szText.size(), n);
    if (result.ec != std::errc() || result.ptr != szText.data() + szText.size() || n > nMax)
        return false;
    nValue = n;
    return true;
}

bool IsGoodBasePath(std::string_view sz)
{
    if (sz.empty() || sz.front() != '/')
        return false;
    for (unsigned char c : sz)
    {
        if (c <= ' ' || c == 0x7F)
            return false;
    }
    return true;
}

// Every option that the command line and the config file both take by
// name; a new option needs its name here and its check in ApplyOption.
const char* const s_szWithValue[] = {"--listen", "--port", "--base-path", "--memory-limit",
    "--max-value-size", "--max-head-size", "--max-connections", "--idle-timeout", "--request-timeout",
    "--threads", "--store", "--key-prefix", "--metrics", "--redis-password-file", "--redis-tls-ca",
    "--redis-tls-cert", "--redis-tls-key", "--redis-wait"};
const char* const s_szFlags[] = {"--issue-cookies"};

bool IsValueOption(std::string_view szArg)
{
    for (const char* sz : s_szWithValue)
    {
        if (szArg == sz)
            return true;
    }
    return false;
}

bool IsFlagOption(std::string_view szArg)
{
    for (const char* sz : s_szFlags)
    {
        if (szArg == sz)
            return true;
    }
    return false;
}

} // namespace

bool ParseSize(std::string_view szText, uint64_t& nBytes)
{
    uint64_t nScale = 1;
    if (!szText.empty())
    {
        switch (szText.back())
        {
        case 'k': case 'K': nScale = 1024ull; break;
        case 'm': case 'M': nScale = 1024ull * 1024; break;
        case 'g': case 'G': nScale = 1024ull * 1024 * 1024; break;
        default: break;
        }
        if (nScale != 1)
            szText.remove_suffix(1);
    }
    uint64_t n = 0;
    if (!ParseUnsigned(szText, UINT64_MAX / nScale, n))
        return false;
    nBytes = n * nScale;
    return true;
}

std::string FormatSize(uint64_t nBytes)
{
    static const char* const s_szSuffix[] = {"", "K", "M", "G"};
    int i = 0;
    while (i < 3 && nBytes != 0 && nBytes % 1024 == 0)
    {
        nBytes /= 1024;
        ++i;
    }
    return std::to_string(nBytes) + s_szSuffix[i];
}

const char* UsageText()
{
    return "Usage: harbinet-server [options]\n"
           "\n"
           "The cache server that Harbinet talks to.\n"
           "\n"
           "  --listen ADDR           address to listen on (default 127.0.0.1)\n"
           "  --port N                TCP port, 0 for any free one (default 8077)\n"
           "  --base-path PATH        path that command words are appended to (default /)\n"
           "  --memory-limit BYTES    memory for stored values, K/M/G allowed (default 64M)\n"
           "  --max-value-size BYTES  largest value body accepted (default 1M)\n"
           "  --max-head-size BYTES   largest request head accepted (default 8192)\n"
           "  --max-connections N     most connections at once (default 1024)\n"
           "  --idle-timeout SECONDS  close connections idle this long, 0 = never (default 0)\n"
           "  --request-timeout SECONDS\n"
           "                          close a connection whose request or reply takes\n"
           "                          longer than this, 0 = never (default 30)\n"
           "  --threads N             worker threads (default: one per processor)\n"
           "  --issue-cookies         give every request without a cookie a fresh one\n"
           "  --store STORE           where values are kept: memory (default),\n"
           "                          redis://[USER:PASSWORD@]HOST[:PORT][/DB],\n"
           "                          rediss://... (the same over TLS),\n"
           "                          redis-sentinel://[USER:PASSWORD@]HOST:PORT[,HOST:PORT...]/MASTER[/DB],\n"
           "                          rediss-sentinel://... or unix:///PATH[?db=DB]\n"
           "  --key-prefix TEXT       start of every Redis key (default harbinet:)\n"
           "  --redis-password-file FILE\n"
           "                          Redis password, first line of FILE\n"
           "  --redis-tls-ca FILE     CA certificates for Redis's certificate\n"
           "                          (default: the system's)\n"
           "  --redis-tls-cert FILE   client certificate to show Redis\n"
           "  --redis-tls-key FILE    its private key\n"
           "  --redis-wait N          a set is stored once N replicas have it (default 0)\n"
           "  --metrics on|off        answer GET /metrics (default on)\n"
           "  --config FILE           read options from FILE first, as name = value lines;\n"
           "                          options on the command line override them\n"
           "  --check-config          check the options and the config file, then exit\n"
           "  --help                  show this text and exit\n"
           "  --version               show the version and exit\n";
}

bool ApplyOption(std::string_view szArg, std::string_view szValue, GServerOptions& optionsOut, std::string& szError)
{
    if (IsFlagOption(szArg))
    {
        // A flag set on the command line by its name alone; with a value
        // (as the config file always gives one) it says on or off.
        if (szValue != "on" && szValue != "off")
        {
            szError = "bad value for " + std::string(szArg) + ": " + std::string(szValue) + " (on or off)";
            return false;
        }
        const bool bOn = szValue == "on";
        if (szArg == "--issue-cookies")
            optionsOut.bIssueCookies = bOn;
        return true;
    }
    if (!IsValueOption(szArg))
    {
        szError = "unknown option " + std::string(szArg);
        return false;
    }

    // Checked on a copy, so that a bad value leaves the options as they were.
    GServerOptions options = optionsOut;
    uint64_t n = 0;
    bool bGood = true;
    if (szArg == "--listen")
    {
        bGood = !szValue.empty();
        options.szListen = std::string(szValue);
    }
    else if (szArg == "--port")
    {
        bGood = ParseUnsigned(szValue, 65535, n);
        options.nPort = static_cast<uint16_t>(n);
    }
    else if (szArg == "--base-path")
    {
        bGood = IsGoodBasePath(szValue);
        options.szBasePath = std::string(szValue);
    }
    else if (szArg == "--memory-limit")
    {
        bGood = ParseSize(szValue, n) && n >= 64 * 1024;
        options.nMemoryLimit = n;
    }
    else if (szArg == "--max-value-size")
    {
        bGood = ParseSize(szValue, n) && n <= 1024ull * 1024 * 1024;
        options.nMaxValue = n;
    }
    else if (szArg == "--max-head-size")
    {
        bGood = ParseSize(szValue, n) && n >= 256 && n <= 1024 * 1024;
        options.nMaxHead = static_cast<uint32_t>(n);
    }
    else if (szArg == "--max-connections")
    {
        bGood = ParseUnsigned(szValue, 1000000, n) && n >= 1;
        options.nMaxConnections = static_cast<uint32_t>(n);
    }
    else if (szArg == "--idle-timeout")
    {
        bGood = ParseUnsigned(szValue, 1000000000, n);
        options.nIdleTimeout = static_cast<uint32_t>(n);
    }
    else if (szArg == "--request-timeout")
    {
        bGood = ParseUnsigned(szValue, 1000000000, n);
        options.nRequestTimeout = static_cast<uint32_t>(n);
    }
    else if (szArg == "--threads")
    {
        bGood = ParseUnsigned(szValue, 256, n) && n >= 1;
        options.nThreads = static_cast<uint32_t>(n);
    }
    else if (szArg == "--store")
    {
        GRedisAddress address;
        bGood = szValue == "memory" || ParseRedisAddress(szValue, address);
        options.szStore = std::string(szValue);
    }
    else if (szArg == "--key-prefix")
        options.szKeyPrefix = std::string(szValue);
    else if (szArg == "--metrics")
    {
        bGood = szValue == "on" || szValue == "off";
        options.bMetrics = szValue == "on";
    }
    else if (szArg == "--redis-password-file")
    {
        bGood = !szValue.empty();
        options.szRedisPasswordFile = std::string(szValue);
    }
    else if (szArg == "--redis-tls-ca")
    {
        bGood = !szValue.empty();
        options.szRedisTlsCa = std::string(szValue);
    }
    else if (szArg == "--redis-tls-cert")
    {
        bGood = !szValue.empty();
        options.szRedisTlsCert = std::string(szValue);
    }
    else if (szArg == "--redis-tls-key")
    {
        bGood = !szValue.empty();
        options.szRedisTlsKey = std::string(szValue);
    }
    else if (szArg == "--redis-wait")
    {
        bGood = ParseUnsigned(szValue, 1000, n);
        options.nRedisWait = static_cast<uint32_t>(n);
    }
    if (!bGood)
    {
        // A store URL may hold a password.
        szError = "bad value for " + std::string(szArg) + ": "
            + (szArg == "--store" ? RedactRedisUrl(szValue) : std::string(szValue));
        return false;
    }
    optionsOut = std::move(options);
    return true;
}

EOptions ParseOptions(int argc, const char* const* argv, GServerOptions& options, std::string& szError)
{
    bool bCheckOnly = false;
    for (int i = 1; i < argc; ++i)
    {
        std::string_view szArg = argv[i];
        std::string_view szValue;
        bool bHasValue = false;
        const size_t nEquals = szArg.find('=');
        if (szArg.substr(0, 2) == "--" && nEquals != std::string_view::npos)
        {
            szValue = szArg.substr(nEquals + 1);
            szArg = szArg.substr(0, nEquals);
            bHasValue = true;
        }

        if (szArg == "--help" || szArg == "-h")
            return EOptions::Help;
        if (szArg == "--version")
            return EOptions::Version;
        if (szArg == "--check-config" || (IsFlagOption(szArg) && !bHasValue))
        {
            if (szArg == "--check-config")
                bCheckOnly = true;
            else
                ApplyOption(szArg, "on", options, szError);
            continue;
        }
        if (!IsFlagOption(szArg) && !IsValueOption(szArg) && szArg != "--config")
        {
            szError = "unknown option " + std::string(szArg);
            return EOptions::Error;
        }
        if (!bHasValue && !IsFlagOption(szArg))
        {
            if (i + 1 >= argc)
            {
                szError = std::string(szArg) + " needs a value";
                return EOptions::Error;
            }
            szValue = argv[++i];
        }
        if (szArg == "--config")
        {
            if (szValue.empty())
            {
                szError = "bad value for --config: it needs a file name";
                return EOptions::Error;
            }
            options.szConfigFile = std::string(szValue);
            continue;
        }
        if (!ApplyOption(szArg, szValue, options, szError))
            return EOptions::Error;
    }

    if (options.nThreads == 0)
    {
        const unsigned nProcessors = std::thread::hardware_concurrency();
        options.nThreads = nProcessors == 0 ? 1 : nProcessors;
    }
    return bCheckOnly ? EOptions::Check : EOptions::Run;
}

bool FinishOptions(GServerOptions& options, std::string& szError)
{
    if (!options.szRedisPasswordFile.empty()
        && !ReadPasswordFile(options.szRedisPasswordFile, options.szRedisPassword, szError))
        return false;
    GRedisSettings settings;
    return MakeRedisSettings(options, settings, szError);
}

bool MakeRedisSettings(const GServerOptions& options, GRedisSettings& settings, std::string& szError)
{
    const bool bRedis = options.szStore != "memory";
    const bool bTlsFiles = !options.szRedisTlsCa.empty() || !options.szRedisTlsCert.empty() || !options.szRedisTlsKey.empty();
    if (!bRedis)
    {
        if (bTlsFiles || !options.szRedisPasswordFile.empty() || options.nRedisWait != 0)
        {
            szError = "the --redis-... options need a Redis --store";
            return false;
        }
        return true;
    }
    GRedisAddress& address = settings.address;
    ParseRedisAddress(options.szStore, address);
    if (!options.szRedisPasswordFile.empty())
    {
        if (address.bPassword)
        {
            szError = "the Redis password is in both --store and --redis-password-file";
            return false;
        }
        address.szPassword = options.szRedisPassword;
        address.bPassword = true;
    }
    if (!address.szUser.empty() && !address.bPassword)
    {
        szError = "the Redis user " + address.szUser + " needs a password";
        return false;
    }
    // Certificates given for a plain link would be a silent fallback to plain text.
    if (bTlsFiles && !address.bTls)
    {
        szError = "--redis-tls-... options need a rediss:// or rediss-sentinel:// --store";
        return false;
    }
    if (options.szRedisTlsCert.empty() != options.szRedisTlsKey.empty())
    {
        szError = "--redis-tls-cert and --redis-tls-key go together";
        return false;
    }
    settings.szTlsCa = options.szRedisTlsCa;
    settings.szTlsCert = options.szRedisTlsCert;
    settings.szTlsKey = options.szRedisTlsKey;
    // Room for the largest value and its header; nothing Redis should send is longer.
    settings.nLongestAnswer = options.nMaxValue + 64 * 1024;
    return true;
}
