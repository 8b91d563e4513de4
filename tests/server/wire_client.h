// A plain blocking TCP client for talking to the server byte by byte in tests.
#pragma once

#include <string>

class GWireClient
{
public:
    GWireClient() = default;
    ~GWireClient();
    GWireClient(const GWireClient&) = delete;
    GWireClient& operator=(const GWireClient&) = delete;
    GWireClient(GWireClient&& other) noexcept;

    bool Connect(unsigned short nPort);
    bool Send(const std::string& str);
    // Sends a part of a request and nothing else: for dripping and cutting off.
    bool SendSlowly(const std::string& str, int nDelayMs);

    // One reply: the head through the empty line plus content-length body
    // bytes. Empty when none came within nTimeoutMs or the connection ended first.
    std::string ReadReply(int nTimeoutMs = 10000);
    // Everything until the server closes; bClosed tells whether it did so
    // within nTimeoutMs.
    std::string ReadUntilClosed(int nTimeoutMs, bool& bClosed);
    // True when the server closed (or reset) the connection within nTimeoutMs.
    bool WaitForClose(int nTimeoutMs);

    void Close();
    int Fd() const { return m_nFd; }

private:
    // Reads whatever arrives within nTimeoutMs into m_strPending; false on
    // timeout, end or error.
    bool ReadSome(int nTimeoutMs);

    int m_nFd = -1;
    std::string m_strPending;
    bool m_bEnded = false;
};

// Request heads in the exact form the Harbinet client writes them.
std::string SetRequest(const std::string& strName, const std::string& strBody, int nType = 3,
    int nTimeout = 0, const char* szCookie = nullptr, const std::string& strPath = "/");
std::string CommandRequest(const std::string& strWord, const std::string& strName,
    const char* szCookie = nullptr, const std::string& strPath = "/");

// The 24-byte VARIANT image of a VT_I4 holding n.
std::string I4Image(int n);
