// Starting and stopping redis-server child processes for the tests.
#include "redis_process.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// A port the kernel has just found free; redis-server itself cannot be asked
// for one.
unsigned short FreePort()
{
    const int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof(address);
    unsigned short nPort = 0;
    if (bind(nFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0
        && getsockname(nFd, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
        nPort = ntohs(address.sin_port);
    close(nFd);
    return nPort;
}

namespace
{

bool Answers(unsigned short nPort)
{
    const int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool bAnswers = false;
    if (connect(nFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
    {
        char sz[16] = {};
        // A Redis that wants a password answers too, with NOAUTH.
        bAnswers = send(nFd, "PING\r\n", 6, MSG_NOSIGNAL) == 6 && recv(nFd, sz, sizeof(sz), 0) > 0
            && (sz[0] == '+' || sz[0] == '-');
    }
    close(nFd);
    return bAnswers;
}

} // namespace

bool GRedisProcess::Start(const std::vector<std::string>& vecArgs, const std::string& strConfig)
{
    if (m_nPid > 0)
        return true;
    if (m_nPort == 0)
        m_nPort = FreePort();
    const std::string strPort = std::to_string(m_nPort);
    std::vector<const char*> vecArgv = {"redis-server"};
    if (!strConfig.empty())
        vecArgv.push_back(strConfig.c_str());
    for (const char* sz : {"--port", strPort.c_str(), "--bind", "127.0.0.1", "--save", "", "--appendonly", "no",
             "--loglevel", "warning"})
        vecArgv.push_back(sz);
    for (const std::string& str : vecArgs)
        vecArgv.push_back(str.c_str());
    vecArgv.push_back(nullptr);
    m_nPid = fork();
    if (m_nPid == 0)
    {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execvp("redis-server", const_cast<char* const*>(vecArgv.data()));
        _exit(127);
    }
    if (m_nPid < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (Answers(m_nPort))
            return true;
        if (waitpid(m_nPid, nullptr, WNOHANG) == m_nPid)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return false;
}

void GRedisProcess::Stop()
{
    if (m_nPid <= 0)
        return;
    kill(m_nPid, SIGCONT);
    kill(m_nPid, SIGTERM);
    waitpid(m_nPid, nullptr, 0);
    m_nPid = -1;
}

GRedisProcess& SharedRedis()
{
    static GRedisProcess s_redis;
    return s_redis;
}

std::string TestKeyPrefix()
{
    const ::testing::TestInfo* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(pInfo->test_suite_name()) + "." + pInfo->name() + ":";
}
