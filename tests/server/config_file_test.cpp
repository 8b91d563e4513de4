// Tests of the config file's grammar and of the command line over it.
#include "config_file.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>

TEST(ConfigFileTest, LinesSetOptionsOrStopWithFileLineAndReason)
{
    struct GCase
    {
        const char* szText;
        const char* szError;   // empty: the text is good
        uint16_t nPort;        // what the text leaves in --port
    };
    const GCase cases[] = {
        {"port = 9001\r\n\tmax-connections\t=\t5\n", "", 9001},
        {"# port = 1\n\n   # another\nport=9002", "", 9002},
        {"port = 1\nport = 9003\n", "", 9003},
        {"issue-cookies = on\nport = 9004\n", "", 9004},
        {"port = 9005\nfrobnicate = 1\n", "f.conf:2: unknown option --frobnicate", 9005},
        {"\n\nport = 70000\n", "f.conf:3: bad value for --port: 70000", 8077},
        {"port = 9006 # main\n", "f.conf:1: bad value for --port: 9006 # main", 8077},
        {"port 9007\n", "f.conf:1: expected name = value", 8077},
        {"issue-cookies = yes\n", "f.conf:1: bad value for --issue-cookies: yes (on or off)", 8077},
        {"config = other.conf\n", "f.conf:1: unknown name config", 8077},
        {"--port = 9008\n", "f.conf:1: unknown name --port", 8077},
        {" = 9009\n", "f.conf:1: unknown name ", 8077},
    };
    for (const GCase& c : cases)
    {
        GServerOptions options;
        std::string szError;
        const bool bGood = ApplyConfigText(c.szText, "f.conf", options, szError);
        EXPECT_EQ(c.szError[0] == '\0', bGood) << c.szText;
        EXPECT_EQ(c.szError, szError) << c.szText;
        EXPECT_EQ(c.nPort, options.nPort) << c.szText;
    }
}

TEST(ConfigFileTest, CommandLineOverridesTheFile)
{
    const std::string szFile = testing::TempDir() + "harbinet-config-test.conf";
    std::ofstream(szFile) << "port = 9100\nthreads = 3\nissue-cookies = on\n";
    const char* const argv[] = {"harbinet-server", "--port", "9200", "--config", szFile.c_str(), "--issue-cookies=off"};
    GServerOptions options;
    std::string szError;
    EXPECT_EQ(EOptions::Run, LoadOptions(6, argv, options, szError)) << szError;
    EXPECT_EQ(9200, options.nPort);
    EXPECT_EQ(3u, options.nThreads);
    EXPECT_FALSE(options.bIssueCookies);

    const char* const argvCheck[] = {"harbinet-server", "--check-config", "--config", "/nonexistent/harbinet.conf"};
    EXPECT_EQ(EOptions::Error, LoadOptions(4, argvCheck, options, szError));
    EXPECT_EQ("cannot read the config file /nonexistent/harbinet.conf: No such file or directory", szError);
    remove(szFile.c_str());
}
