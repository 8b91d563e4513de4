// Starting, watching and stopping harbinet-server child processes.
#include "server_process.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef HARBINET_SERVER_BESIDE
#error "HARBINET_SERVER_BESIDE must give the server's path from this test program's folder"
#endif

namespace
{

// Found at run time, beside this program in its own build tree (or where
// HARBINET_SERVER_PATH says), so that a copied build tree tests its own server.
std::string ServerPath()
{
    if (const char* sz = getenv("HARBINET_SERVER_PATH"); sz != nullptr && *sz != '\0')
        return sz;
    const std::string strSelf = std::filesystem::read_symlink("/proc/self/exe");
    return strSelf.substr(0, strSelf.find_last_of('/') + 1) + HARBINET_SERVER_BESIDE;
}

pid_t Spawn(const std::vector<std::string>& vecArgs, int& nStdout, int& nStderr)
{
    int nOut[2];
    int nErr[2];
    if (pipe2(nOut, O_CLOEXEC) != 0 || pipe2(nErr, O_CLOEXEC) != 0)
        return -1;
    // Built before the fork: the test process has threads, so the child may
    // do nothing but async-signal-safe calls until exec.
    const std::string strServer = ServerPath();
    std::vector<char*> vecArgv;
    vecArgv.push_back(const_cast<char*>(strServer.c_str()));
    for (const std::string& str : vecArgs)
        vecArgv.push_back(const_cast<char*>(str.c_str()));
    vecArgv.push_back(nullptr);
    const pid_t nPid = fork();
    if (nPid == 0)
    {
        // A test process that dies or is killed by its runner takes its servers along.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(nOut[1], 1);
        dup2(nErr[1], 2);
        execv(strServer.c_str(), vecArgv.data());
        _exit(127);
    }
    close(nOut[1]);
    close(nErr[1]);
    nStdout = nOut[0];
    nStderr = nErr[0];
    return nPid;
}

// Waits for the child, for at most nMs; -1 when it is still running.
int WaitExit(pid_t nPid, int nMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    for (;;)
    {
        int nStatus = 0;
        const pid_t n = waitpid(nPid, &nStatus, WNOHANG);
        if (n == nPid)
            return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1000 - (WIFSIGNALED(nStatus) ? WTERMSIG(nStatus) : 0);
        if (n < 0)
            return -1;
        if (std::chrono::steady_clock::now() >= deadline)
            return -2000;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ReadAll(int nFd, std::string& str)
{
    char sz[4096];
    for (;;)
    {
        const ssize_t n = read(nFd, sz, sizeof(sz));
        if (n > 0)
            str.append(sz, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
}

} // namespace

GServerProcess::~GServerProcess()
{
    if (m_nPid > 0)
        Stop(SIGKILL);
}

bool GServerProcess::Start(const std::vector<std::string>& vecArgs)
{
    std::vector<std::string> vecAll = vecArgs;
    bool bPort = false;
    for (const std::string& str : vecArgs)
        bPort = bPort || str == "--port";
    if (!bPort)
    {
        vecAll.push_back("--port");
        vecAll.push_back("0");
    }
    int nStderr = -1;
    m_nPid = Spawn(vecAll, m_nStdout, nStderr);
    if (m_nPid < 0)
        return false;
    // The server's complaints go to the test's own stderr, where a failing
    // test shows them.
    auto pPromise = std::make_shared<std::promise<std::string>>();
    m_futureStderr = pPromise->get_future().share();
    std::thread([nStderr, pPromise] {
        std::string str;
        ReadAll(nStderr, str);
        if (!str.empty())
            fprintf(stderr, "[harbinet-server stderr] %s", str.c_str());
        close(nStderr);
        pPromise->set_value(str);
    }).detach();

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string strOut;
    while (strOut.find('\n') == std::string::npos)
    {
        const int nLeft = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count());
        if (nLeft <= 0)
            return false;
        pollfd pfd{m_nStdout, POLLIN, 0};
        if (poll(&pfd, 1, nLeft) <= 0)
            continue;
        char sz[512];
        const ssize_t n = read(m_nStdout, sz, sizeof(sz));
        if (n <= 0)
            return false;
        strOut.append(sz, static_cast<size_t>(n));
    }
    m_szStartLine = strOut.substr(0, strOut.find('\n'));
    const size_t nAt = m_szStartLine.find("listening on ");
    if (nAt == std::string::npos)
        return false;
    const size_t nColon = m_szStartLine.find(':', nAt);
    m_nPort = static_cast<unsigned short>(atoi(m_szStartLine.c_str() + nColon + 1));
    return m_nPort != 0;
}

int GServerProcess::Stop(int nSignal)
{
    if (m_nPid <= 0)
        return -1;
    kill(m_nPid, nSignal);
    int nStatus = WaitExit(m_nPid, 10000);
    if (nStatus == -2000)
    {
        kill(m_nPid, SIGKILL);
        WaitExit(m_nPid, 10000);
        nStatus = -1;
    }
    m_nPid = -1;
    if (m_nStdout >= 0)
        close(m_nStdout);
    m_nStdout = -1;
    return nStatus < 0 ? -1 : nStatus;
}

unsigned long long GServerProcess::StatusField(const char* szField) const
{
    std::ifstream file("/proc/" + std::to_string(m_nPid) + "/status");
    std::string strLine;
    const size_t nField = strlen(szField);
    while (std::getline(file, strLine))
    {
        if (strLine.compare(0, nField, szField) == 0 && strLine.size() > nField && strLine[nField] == ':')
            return strtoull(strLine.c_str() + nField + 1, nullptr, 10) * 1024;
    }
    return 0;
}

std::string GServerProcess::Stderr() const
{
    if (!m_futureStderr.valid() || m_futureStderr.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        return "(stderr not complete)";
    return m_futureStderr.get();
}

unsigned long long GServerProcess::ResidentBytes() const
{
    return StatusField("VmRSS");
}

unsigned long long GServerProcess::PeakResidentBytes() const
{
    return StatusField("VmHWM");
}

GRunResult RunServerToExit(const std::vector<std::string>& vecArgs)
{
    GRunResult result;
    int nStdout = -1;
    int nStderr = -1;
    const pid_t nPid = Spawn(vecArgs, nStdout, nStderr);
    if (nPid < 0)
        return result;
    std::thread threadErr([&] { ReadAll(nStderr, result.strStderr); });
    ReadAll(nStdout, result.strStdout);
    threadErr.join();
    close(nStdout);
    close(nStderr);
    result.nExitStatus = WaitExit(nPid, 10000);
    if (result.nExitStatus == -2000)
    {
        kill(nPid, SIGKILL);
        WaitExit(nPid, 10000);
    }
    return result;
}

bool EnsureOpenFileLimit(unsigned long nFiles)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < nFiles)
    {
        if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < nFiles)
            return false;
        limit.rlim_cur = nFiles;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return false;
    }
    return true;
}
