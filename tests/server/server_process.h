// Runs the built harbinet-server as a child process for socket-level tests.
#pragma once

#include <future>
#include <string>
#include <sys/types.h>
#include <vector>

class GServerProcess
{
public:
    GServerProcess() = default;
    ~GServerProcess();
    GServerProcess(const GServerProcess&) = delete;
    GServerProcess& operator=(const GServerProcess&) = delete;

    // Starts the server with the given options plus --port 0 (unless a port is
    // among them) and waits for its start line. False if it never came.
    bool Start(const std::vector<std::string>& vecArgs);

    // SIGTERM (or the given signal), then waits; returns the exit status, or
    // -1 when the process did not exit normally.
    int Stop(int nSignal = 15);

    pid_t Pid() const { return m_nPid; }
    unsigned short Port() const { return m_nPort; }
    const std::string& StartLine() const { return m_szStartLine; }
    // All the server wrote to stderr; complete once it has stopped.
    std::string Stderr() const;

    // VmRSS and VmHWM from /proc, in bytes.
    unsigned long long ResidentBytes() const;
    unsigned long long PeakResidentBytes() const;

private:
    unsigned long long StatusField(const char* szField) const;

    pid_t m_nPid = -1;
    int m_nStdout = -1;
    unsigned short m_nPort = 0;
    std::string m_szStartLine;
    std::shared_future<std::string> m_futureStderr;
};

struct GRunResult
{
    int nExitStatus = -1;
    std::string strStdout;
    std::string strStderr;
};

// Runs the server to completion (for options that make it exit at once).
GRunResult RunServerToExit(const std::vector<std::string>& vecArgs);

// Makes sure this process may hold nFiles descriptors; false if the hard limit
// does not allow it.
bool EnsureOpenFileLimit(unsigned long nFiles);
