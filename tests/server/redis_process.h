// A private redis-server on a free loopback port for the tests of the Redis store.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class GRedisProcess
{
public:
    GRedisProcess() = default;
    ~GRedisProcess() { Stop(); }
    GRedisProcess(const GRedisProcess&) = delete;
    GRedisProcess& operator=(const GRedisProcess&) = delete;

    // Starts redis-server without persistence, on a free port the first time
    // and on the same port again after Stop, and waits until it answers.
    // A config file goes first, as Sentinel needs; the arguments go last.
    bool Start(const std::vector<std::string>& vecArgs = {}, const std::string& strConfig = "");
    // SIGTERM, then waits for it to exit.
    void Stop();

    unsigned short Port() const { return m_nPort; }
    pid_t Pid() const { return m_nPid; }
    std::string Url() const { return "redis://127.0.0.1:" + std::to_string(m_nPort); }

private:
    pid_t m_nPid = -1;
    unsigned short m_nPort = 0;
};

// The one redis-server a test program shares, started on first use and
// stopped at exit; each test keeps to keys of its own prefix.
GRedisProcess& SharedRedis();

// The key prefix of the running test: its own, so tests need not clear Redis.
std::string TestKeyPrefix();

unsigned short FreePort();
