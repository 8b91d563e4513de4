// Tests of running the program: start line, help, bad options, bind failure,
// stopping on signals.
#include "server_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

class OperationTest : public GServerFixture
{
};

TEST_F(OperationTest, StartLineSaysWhereItListensAndWithWhichLimits)
{
    StartServer({"--base-path", "/cache", "--memory-limit", "32M", "--max-value-size", "512K", "--max-head-size", "4096",
        "--max-connections", "10", "--idle-timeout", "5", "--request-timeout", "0", "--threads", "1",
        "--issue-cookies", "--metrics", "off"});
    EXPECT_EQ("harbinet-server listening on 127.0.0.1:" + std::to_string(m_server.Port())
            + " base-path /cache memory-limit 32M max-value-size 512K max-head-size 4096 max-connections 10"
              " idle-timeout 5s request-timeout off threads 1 issue-cookies on store memory metrics off",
        m_server.StartLine());
}

TEST_F(OperationTest, DefaultsShowInTheStartLine)
{
    StartServer({"--threads", "2"});
    EXPECT_EQ("harbinet-server listening on 127.0.0.1:" + std::to_string(m_server.Port())
            + " base-path / memory-limit 64M max-value-size 1M max-head-size 8192 max-connections 1024"
              " idle-timeout off request-timeout 30s threads 2 issue-cookies off store memory metrics on",
        m_server.StartLine());
}

TEST_F(OperationTest, SigtermStopsWithStatusZeroEvenWithClientsConnected)
{
    StartServer();
    GWireClient client = Connect();
    ASSERT_TRUE(client.Send(CommandRequest("nop", "")));
    EXPECT_EQ(kStored, client.ReadReply());
    GWireClient halfway = Connect();
    ASSERT_TRUE(halfway.Send("POST /set HTTP/1.1\r\ncontent-len"));
    EXPECT_EQ(0, m_server.Stop(SIGTERM));
    EXPECT_TRUE(client.WaitForClose(10000));
}

TEST_F(OperationTest, SigintStopsWithStatusZero)
{
    StartServer();
    EXPECT_EQ(kStored, Exchange(CommandRequest("nop", "")));
    EXPECT_EQ(0, m_server.Stop(SIGINT));
}

TEST_F(OperationTest, HelpPrintsUsageAndExitsZero)
{
    GRunResult result = RunServerToExit({"--help"});
    EXPECT_EQ(0, result.nExitStatus);
    EXPECT_EQ(0u, result.strStdout.find("Usage: harbinet-server [options]\n"));
    EXPECT_NE(std::string::npos, result.strStdout.find("(default 8077)"));
    EXPECT_EQ("", result.strStderr);
}

TEST_F(OperationTest, BadOptionExitsNonZeroWithAMessageOnStderr)
{
    GRunResult result = RunServerToExit({"--memory-limit", "lots"});
    EXPECT_EQ(2, result.nExitStatus);
    EXPECT_EQ("harbinet-server: bad value for --memory-limit: lots (see --help)\n", result.strStderr);
    EXPECT_EQ("", result.strStdout);
}

TEST_F(OperationTest, AddressInUseExitsNonZeroWithAMessage)
{
    // Hold a listening socket on a free port, then ask the server for it.
    const int nFd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(nFd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(nFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, listen(nFd, 1));
    socklen_t nLength = sizeof(address);
    ASSERT_EQ(0, getsockname(nFd, reinterpret_cast<sockaddr*>(&address), &nLength));
    const std::string strPort = std::to_string(ntohs(address.sin_port));

    GRunResult result = RunServerToExit({"--port", strPort});
    close(nFd);
    EXPECT_EQ(1, result.nExitStatus);
    EXPECT_EQ("harbinet-server: cannot listen on 127.0.0.1:" + strPort + ": Address already in use\n",
        result.strStderr);
    EXPECT_EQ("", result.strStdout);
}

TEST_F(OperationTest, ListenAddressThatIsNoAddressExitsNonZero)
{
    GRunResult result = RunServerToExit({"--listen", "localhost", "--port", "0"});
    EXPECT_EQ(1, result.nExitStatus);
    EXPECT_EQ("harbinet-server: --listen localhost is not an IP address\n", result.strStderr);
}
