// Blocking test client with deadlines on every read, so no test can hang.
#include "wire_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

GWireClient::~GWireClient()
{
    Close();
}

GWireClient::GWireClient(GWireClient&& other) noexcept
    : m_nFd(other.m_nFd), m_strPending(std::move(other.m_strPending)), m_bEnded(other.m_bEnded)
{
    other.m_nFd = -1;
}

bool GWireClient::Connect(unsigned short nPort)
{
    Close();
    m_nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_nFd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_nFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    {
        Close();
        return false;
    }
    int nOne = 1;
    setsockopt(m_nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
    return true;
}

bool GWireClient::Send(const std::string& str)
{
    size_t nDone = 0;
    while (nDone < str.size())
    {
        const ssize_t n = send(m_nFd, str.data() + nDone, str.size() - nDone, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

bool GWireClient::SendSlowly(const std::string& str, int nDelayMs)
{
    for (char c : str)
    {
        if (!Send(std::string(1, c)))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(nDelayMs));
    }
    return true;
}

bool GWireClient::ReadSome(int nTimeoutMs)
{
    if (m_nFd < 0 || m_bEnded)
        return false;
    pollfd pfd{m_nFd, POLLIN, 0};
    int nReady;
    do
        nReady = poll(&pfd, 1, nTimeoutMs);
    while (nReady < 0 && errno == EINTR);
    if (nReady <= 0)
        return false;
    char sz[65536];
    const ssize_t n = recv(m_nFd, sz, sizeof(sz), 0);
    if (n <= 0)
    {
        m_bEnded = true;
        return false;
    }
    m_strPending.append(sz, static_cast<size_t>(n));
    return true;
}

std::string GWireClient::ReadReply(int nTimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    auto Left = [&] {
        return static_cast<int>(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count()));
    };
    size_t nHeadEnd;
    while ((nHeadEnd = m_strPending.find("\r\n\r\n")) == std::string::npos)
    {
        if (!ReadSome(Left()))
            return {};
    }
    const size_t nHead = nHeadEnd + 4;
    unsigned long long nLength = 0;
    size_t nPos = 0;
    while ((nPos = m_strPending.find("\r\n", nPos)) != std::string::npos && nPos < nHeadEnd)
    {
        nPos += 2;
        if (strncasecmp(m_strPending.c_str() + nPos, "content-length:", 15) == 0)
            nLength = strtoull(m_strPending.c_str() + nPos + 15, nullptr, 10);
    }
    while (m_strPending.size() < nHead + nLength)
    {
        if (!ReadSome(Left()))
            return {};
    }
    std::string strReply = m_strPending.substr(0, nHead + nLength);
    m_strPending.erase(0, nHead + nLength);
    return strReply;
}

std::string GWireClient::ReadUntilClosed(int nTimeoutMs, bool& bClosed)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!m_bEnded)
    {
        const int nLeft = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count());
        if (nLeft <= 0 || (!ReadSome(nLeft) && !m_bEnded))
            break;
    }
    bClosed = m_bEnded;
    std::string str = std::move(m_strPending);
    m_strPending.clear();
    return str;
}

bool GWireClient::WaitForClose(int nTimeoutMs)
{
    bool bClosed = false;
    ReadUntilClosed(nTimeoutMs, bClosed);
    return bClosed;
}

void GWireClient::Close()
{
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
    m_strPending.clear();
    m_bEnded = false;
}

std::string SetRequest(const std::string& strName, const std::string& strBody, int nType, int nTimeout,
    const char* szCookie, const std::string& strPath)
{
    std::string str = "POST " + strPath + "set HTTP/1.1\r\nhost: 127.0.0.1\r\n";
    str += "content-type: application/x-variant-" + std::to_string(nType) + "\r\n";
    str += "content-length: " + std::to_string(strBody.size()) + "\r\n";
    if (szCookie != nullptr)
        str += std::string("cookie: ") + szCookie + "\r\n";
    str += "x-param-name: " + strName + "\r\n";
    str += "x-param-timeout: " + std::to_string(nTimeout) + "\r\n\r\n";
    return str + strBody;
}

std::string CommandRequest(const std::string& strWord, const std::string& strName, const char* szCookie,
    const std::string& strPath)
{
    std::string str = "POST " + strPath + strWord + " HTTP/1.1\r\nhost: 127.0.0.1\r\ncontent-length: 0\r\n";
    if (szCookie != nullptr)
        str += std::string("cookie: ") + szCookie + "\r\n";
    str += "x-param-name: " + strName + "\r\n\r\n";
    return str;
}

std::string I4Image(int n)
{
    std::string str(24, '\0');
    str[0] = 3;
    for (int i = 0; i < 4; ++i)
        str[8 + static_cast<size_t>(i)] = static_cast<char>((static_cast<unsigned>(n) >> (8 * i)) & 0xFF);
    return str;
}
