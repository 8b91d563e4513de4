// Tests of the command line: defaults, sizes, both option forms, refusals.
#include "options.h"
#include "backoff.h"
#include "config_file.h"
#include "metrics.h"
#include "redis_link.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

EOptions Parse(std::vector<const char*> vecArgs, GServerOptions& options, std::string& szError)
{
    vecArgs.insert(vecArgs.begin(), "harbinet-server");
    return LoadOptions(static_cast<int>(vecArgs.size()), vecArgs.data(), options, szError);
}

} // namespace

TEST(OptionsTest, DefaultsAreLoopbackPort8077AndDocumentedLimits)
{
    GServerOptions options;
    std::string szError;
    ASSERT_EQ(EOptions::Run, Parse({}, options, szError));
    EXPECT_EQ("127.0.0.1", options.szListen);
    EXPECT_EQ(8077, options.nPort);
    EXPECT_EQ("/", options.szBasePath);
    EXPECT_EQ(67108864u, options.nMemoryLimit);
    EXPECT_EQ(1048576u, options.nMaxValue);
    EXPECT_EQ(8192u, options.nMaxHead);
    EXPECT_EQ(1024u, options.nMaxConnections);
    EXPECT_EQ(0u, options.nIdleTimeout);
    EXPECT_EQ(30u, options.nRequestTimeout);
    EXPECT_GE(options.nThreads, 1u);
    EXPECT_FALSE(options.bIssueCookies);
}

TEST(OptionsTest, TakesValuesSeparateOrAfterEquals)
{
    GServerOptions options;
    std::string szError;
    ASSERT_EQ(EOptions::Run, Parse({"--listen", "::1", "--port=9000", "--base-path", "/cache", "--memory-limit=2G",
                                       "--max-value-size", "512k", "--max-head-size", "16K", "--max-connections", "5",
                                       "--idle-timeout", "60", "--request-timeout=0", "--threads", "3",
                                       "--issue-cookies"},
                                  options, szError))
        << szError;
    EXPECT_EQ("::1", options.szListen);
    EXPECT_EQ(9000, options.nPort);
    EXPECT_EQ("/cache", options.szBasePath);
    EXPECT_EQ(2147483648u, options.nMemoryLimit);
    EXPECT_EQ(524288u, options.nMaxValue);
    EXPECT_EQ(16384u, options.nMaxHead);
    EXPECT_EQ(5u, options.nMaxConnections);
    EXPECT_EQ(60u, options.nIdleTimeout);
    EXPECT_EQ(0u, options.nRequestTimeout);
    EXPECT_EQ(3u, options.nThreads);
    EXPECT_TRUE(options.bIssueCookies);
}

TEST(OptionsTest, HelpIsRecognised)
{
    GServerOptions options;
    std::string szError;
    EXPECT_EQ(EOptions::Help, Parse({"--port", "1", "--help"}, options, szError));
    EXPECT_NE(std::string(UsageText()).find("--memory-limit"), std::string::npos);
}

TEST(OptionsTest, RefusesBadValuesWithAMessage)
{
    const std::vector<std::vector<const char*>> vecBad = {
        {"--port", "65536"}, {"--port", "-1"}, {"--port"}, {"--memory-limit", "10Q"}, {"--memory-limit", "1K"},
        {"--max-value-size", "2G"}, {"--max-head-size", "100"}, {"--max-connections", "0"}, {"--threads", "0"},
        {"--base-path", "cache"}, {"--base-path", "/a b"}, {"--idle-timeout", "x"}, {"--frobnicate"},
        {"--issue-cookies=yes"}, {"--listen", ""}, {"--store", "mysql://h"}, {"--store", "redis://"},
        {"--store", "redis://h:0"}, {"--store", "redis://h/x"}, {"--store", "unix://relative"}, {"--metrics", "maybe"}};
    for (const auto& vecArgs : vecBad)
    {
        GServerOptions options;
        std::string szError;
        EXPECT_EQ(EOptions::Error, Parse(vecArgs, options, szError)) << vecArgs[0];
        EXPECT_FALSE(szError.empty()) << vecArgs[0];
    }
}

TEST(OptionsTest, SizesTakeBinarySuffixes)
{
    uint64_t n = 0;
    EXPECT_TRUE(ParseSize("100", n));
    EXPECT_EQ(100u, n);
    EXPECT_TRUE(ParseSize("3k", n));
    EXPECT_EQ(3072u, n);
    EXPECT_TRUE(ParseSize("64M", n));
    EXPECT_EQ(67108864u, n);
    EXPECT_TRUE(ParseSize("1g", n));
    EXPECT_EQ(1073741824u, n);
    EXPECT_FALSE(ParseSize("", n));
    EXPECT_FALSE(ParseSize("M", n));
    EXPECT_FALSE(ParseSize("1.5M", n));
    EXPECT_FALSE(ParseSize("99999999999999999999G", n));
}

TEST(OptionsTest, SizesAreWrittenBackShort)
{
    EXPECT_EQ("64M", FormatSize(67108864));
    EXPECT_EQ("512K", FormatSize(524288));
    EXPECT_EQ("1G", FormatSize(1073741824));
    EXPECT_EQ("1000", FormatSize(1000));
    EXPECT_EQ("0", FormatSize(0));
}

TEST(OptionsTest, RedisAddressesAreReadInEveryFormAndNeverShowThePassword)
{
    struct GCase
    {
        const char* szUrl;
        const char* szDescribed;   // written back the way the start line shows it
        std::string strUser;
        std::string strPassword;
    };
    const GCase cases[] = {
        {"redis://127.0.0.1:6400", "redis://127.0.0.1:6400", "", ""},
        {"redis://cache.example/3", "redis://cache.example:6379/3", "", ""},
        {"redis://[::1]:7000/0", "redis://[::1]:7000", "", ""},
        {"unix:///run/redis.sock?db=2", "unix:///run/redis.sock?db=2", "", ""},
        {"redis://:s3cret@h", "redis://h:6379", "", "s3cret"},
        {"rediss://app:pa%3Ass%40w%2Fd@h:6380/2", "rediss://app@h:6380/2", "app", "pa:ss@w/d"},
        {"redis://app:p@ss@h", "redis://app@h:6379", "app", "p@ss"},
        {"redis://d%C3%A9v:%00x@h", "redis://d\xC3\xA9v@h:6379", "d\xC3\xA9v", std::string("\0x", 2)},
        {"redis-sentinel://:pw@s1:26400,[::1],s3:26402/mymaster/4",
            "redis-sentinel://s1:26400,[::1]:26379,s3:26402/mymaster/4", "", "pw"},
        {"rediss-sentinel://s1:1/m", "rediss-sentinel://s1:1/m", "", ""},
        {"redis://u@h", "redis://u@h:6379", "u", ""},
    };
    for (const GCase& c : cases)
    {
        GRedisAddress address;
        ASSERT_TRUE(ParseRedisAddress(c.szUrl, address)) << c.szUrl;
        EXPECT_EQ(c.szDescribed, address.Describe()) << c.szUrl;
        EXPECT_EQ(c.strUser, address.szUser) << c.szUrl;
        EXPECT_EQ(c.strPassword, address.szPassword) << c.szUrl;
    }
    for (const char* szUrl : {"redis://@h", "redis://:pw%4@h", "redis://:pw%zz@h", "redis://h1,h2", "redis-sentinel://s1:1",
             "redis-sentinel://s1:1/m/x", "redis://h:99999", "http://h"})
    {
        GRedisAddress address;
        EXPECT_FALSE(ParseRedisAddress(szUrl, address)) << szUrl;
    }

    // Refused or not, the password never comes back in a message.
    const std::vector<std::vector<const char*>> vecSecret = {{"--store", "redis://u:Hunter2@h:0"},
        {"--store", "redis://u:Hunter2@h", "--redis-tls-ca", "ca.pem"},
        {"--store", "redis://u:Hunter2@h", "--redis-password-file", "/nonexistent/pw"}};
    for (const auto& vecArgs : vecSecret)
    {
        GServerOptions options;
        std::string szError;
        EXPECT_EQ(EOptions::Error, Parse(vecArgs, options, szError));
        EXPECT_EQ(std::string::npos, szError.find("Hunter2")) << szError;
    }
}

TEST(OptionsTest, ReconnectPauseDoublesToItsCapAndOnlySuccessResetsIt)
{
    GBackoff backoff(100, 5000);
    const int64_t nExpected[] = {0, 100, 200, 400, 800, 1600, 3200, 5000, 5000, 5000};
    for (int64_t n : nExpected)
        EXPECT_EQ(n, backoff.Next());
    backoff.Reset();
    EXPECT_EQ(0, backoff.Next());
    EXPECT_EQ(100, backoff.Next());
}

TEST(OptionsTest, HistogramBoundsAreDistinctAndExact)
{
    GMetricsBoard board(1);
    const std::string strPage = RenderMetrics(board);
    std::vector<std::string> vecBounds;
    for (size_t n = strPage.find("le=\""); n != std::string::npos; n = strPage.find("le=\"", n + 1))
        vecBounds.push_back(strPage.substr(n + 4, strPage.find('"', n + 4) - n - 4));
    const std::vector<std::string> vecExpected = {"0.001", "0.005", "0.01", "0.025", "0.05", "0.1", "0.25", "0.5",
        "1", "2.5", "5", "10", "+Inf"};
    EXPECT_EQ(vecExpected, vecBounds);
}
