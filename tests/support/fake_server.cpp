// GFakeServer: the worker that runs a test's script against the client's connections.
#include "tests/support/fake_server.h"

#include <ws2tcpip.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace
{

// A client head is at most 8192 bytes; anything far longer is misbehaviour to be cut.
constexpr size_t g_nHeadLimit = 65536;
constexpr long g_nPollMicroseconds = 20000;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsNameContentLength(std::string_view sName)
{
    constexpr std::string_view sKnown = "content-length";
    if (sName.size() != sKnown.size())
        return false;
    for (size_t i = 0; i < sName.size(); ++i)
    {
        if (LowerAscii(sName[i]) != sKnown[i])
            return false;
    }
    return true;
}

// Body length announced by the head; a missing or unreadable value announces none.
uint64_t AnnouncedBodyLength(std::string_view sHead)
{
    size_t nLine = sHead.find("\r\n");
    while (nLine != std::string_view::npos)
    {
        const size_t nStart = nLine + 2;
        nLine = sHead.find("\r\n", nStart);
        const std::string_view sLine = sHead.substr(nStart,
            nLine == std::string_view::npos ? std::string_view::npos : nLine - nStart);
        const size_t nColon = sLine.find(':');
        if (nColon == std::string_view::npos || !IsNameContentLength(sLine.substr(0, nColon)))
            continue;
        size_t i = nColon + 1;
        while (i < sLine.size() && (sLine[i] == ' ' || sLine[i] == '\t'))
            ++i;
        uint64_t nLength = 0;
        for (; i < sLine.size() && sLine[i] >= '0' && sLine[i] <= '9'; ++i)
        {
            const uint64_t nDigit = static_cast<uint64_t>(sLine[i] - '0');
            nLength = nLength > (UINT64_MAX - nDigit) / 10u ? UINT64_MAX : nLength * 10u + nDigit;
        }
        return nLength;
    }
    return 0;
}

std::runtime_error SocketFailure(const char* szWhat)
{
    return std::runtime_error(std::string("GFakeServer: ") + szWhat + " failed, WSA error "
        + std::to_string(WSAGetLastError()));
}

}   // namespace

GFakeServer::GFakeServer()
{
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0)
        throw std::runtime_error("GFakeServer: WSAStartup failed");

    try
    {
        m_sockListen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_sockListen == INVALID_SOCKET)
            throw SocketFailure("socket");
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (bind(m_sockListen, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR)
            throw SocketFailure("bind");
        if (listen(m_sockListen, SOMAXCONN) == SOCKET_ERROR)
            throw SocketFailure("listen");
        int nAddress = sizeof address;
        if (getsockname(m_sockListen, reinterpret_cast<sockaddr*>(&address), &nAddress) == SOCKET_ERROR)
            throw SocketFailure("getsockname");
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { RunScript(); });
    }
    catch (...)
    {
        if (m_sockListen != INVALID_SOCKET)
            closesocket(m_sockListen);
        WSACleanup();
        throw;
    }
}

GFakeServer::~GFakeServer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    m_thread.join();
    for (GConnection& connection : m_vecConnections)
    {
        if (connection.sock != INVALID_SOCKET)
            closesocket(connection.sock);
    }
    closesocket(m_sockListen);
    WSACleanup();
}

int GFakeServer::Port() const
{
    return m_nPort;
}

std::string GFakeServer::Url(const char* szPath) const
{
    return "http://127.0.0.1:" + std::to_string(m_nPort) + (szPath == nullptr ? "" : szPath);
}

GFakeServer& GFakeServer::Accept()
{
    return AddStep(GStepKind::Accept, {}, 0);
}

GFakeServer& GFakeServer::Answer(std::string sReply)
{
    std::vector<std::string> vecSegments;
    vecSegments.push_back(std::move(sReply));
    return AddStep(GStepKind::Answer, std::move(vecSegments), 0);
}

GFakeServer& GFakeServer::AnswerInSegments(std::vector<std::string> vecSegments, int nMsBetween)
{
    return AddStep(GStepKind::Answer, std::move(vecSegments), nMsBetween);
}

GFakeServer& GFakeServer::Delay(int nMs)
{
    return AddStep(GStepKind::Delay, {}, nMs);
}

GFakeServer& GFakeServer::CloseAfterRequest()
{
    return AddStep(GStepKind::CloseAfterRequest, {}, 0);
}

GFakeServer& GFakeServer::CloseNow()
{
    return AddStep(GStepKind::CloseNow, {}, 0);
}

GFakeServer& GFakeServer::ReadRequestAndStaySilent()
{
    return AddStep(GStepKind::StaySilent, {}, 0);
}

std::vector<std::string> GFakeServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vecRequests;
}

std::string GFakeServer::Received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sReceived;
}

bool GFakeServer::WaitDone(int nMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(nMs),
        [this] { return m_nStepsDone == m_vecSteps.size(); });
}

int GFakeServer::Connections() const
{
    return m_nConnections;
}

int GFakeServer::WaitClientCloses(int nCount, int nMs) const
{
    for (int nWaited = 0; m_nClientCloses < nCount && nWaited < nMs; nWaited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return m_nClientCloses;
}

GFakeServer& GFakeServer::AddStep(GStepKind kind, std::vector<std::string> vecSegments, int nMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vecSteps.push_back(GStep{kind, std::move(vecSegments), nMs});
    }
    m_cv.notify_all();
    return *this;
}

void GFakeServer::RunScript()
{
    for (;;)
    {
        // Run in place: a deque keeps its elements where they are while steps are added,
        // and a large reply then exists once, until the server goes.
        const GStep* pStep = nullptr;
        bool bStep = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bStop)
                return;
            bStep = m_nStepsDone < m_vecSteps.size();
            if (bStep)
                pStep = &m_vecSteps[m_nStepsDone];
        }
        try
        {
            if (!bStep)
            {
                PollConnections();
                continue;
            }
            RunStep(*pStep);
        }
        catch (...)
        {
            // Out of memory in a test helper: the step is over, the test will see it.
        }
        if (bStep)
        {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_nStepsDone;
            }
            m_cv.notify_all();
        }
    }
}

void GFakeServer::RunStep(const GStep& step)
{
    switch (step.kind)
    {
    case GStepKind::Accept:
        ClaimConnection();
        break;
    case GStepKind::Answer:
        if (ReadRequest())
            SendSegments(step.vecSegments, step.nMs);
        break;
    case GStepKind::Delay:
        PauseFor(step.nMs);
        break;
    case GStepKind::CloseAfterRequest:
        if (ReadRequest())
            CloseCurrent();
        break;
    case GStepKind::CloseNow:
        if (m_nCurrent >= 0 || ClaimConnection())
            CloseCurrent();
        break;
    case GStepKind::StaySilent:
        if (ReadRequest())
        {
            m_vecConnections[m_nCurrent].bSilent = true;
            m_nCurrent = -1;
        }
        break;
    }
}

// One round of waiting: accepts a new connection, takes what arrived on the open ones.
void GFakeServer::PollConnections()
{
    fd_set setRead;
    FD_ZERO(&setRead);
    FD_SET(m_sockListen, &setRead);
    for (const GConnection& connection : m_vecConnections)
    {
        if (connection.sock != INVALID_SOCKET && !connection.bSilent)
            FD_SET(connection.sock, &setRead);
    }
    timeval timeout = {0, g_nPollMicroseconds};
    const int nReady = select(0, &setRead, nullptr, nullptr, &timeout);
    if (nReady == SOCKET_ERROR)
    {
        PauseFor(static_cast<int>(g_nPollMicroseconds / 1000));
        return;
    }
    if (nReady == 0)
        return;

    char aBuffer[4096];
    for (GConnection& connection : m_vecConnections)
    {
        if (connection.sock == INVALID_SOCKET || connection.bSilent
            || !FD_ISSET(connection.sock, &setRead))
            continue;
        const int nReceived = recv(connection.sock, aBuffer, sizeof aBuffer, 0);
        if (nReceived > 0)
        {
            connection.sPending.append(aBuffer, static_cast<size_t>(nReceived));
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sReceived.append(aBuffer, static_cast<size_t>(nReceived));
        }
        else
        {
            // The client has closed (or broken) it; what it sent before still counts.
            closesocket(connection.sock);
            connection.sock = INVALID_SOCKET;
            ++m_nClientCloses;
        }
    }

    if (FD_ISSET(m_sockListen, &setRead))
    {
        const SOCKET sock = accept(m_sockListen, nullptr, nullptr);
        if (sock != INVALID_SOCKET)
        {
            // Replies in segments must leave as they were cut.
            const BOOL bNoDelay = TRUE;
            setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay),
                sizeof bNoDelay);
            m_vecConnections.push_back(GConnection{sock, std::string(), false});
            ++m_nConnections;
        }
    }
}

bool GFakeServer::ClaimConnection()
{
    while (m_nUnclaimed >= m_vecConnections.size())
    {
        if (m_bStop)
            return false;
        PollConnections();
    }
    m_nCurrent = static_cast<int>(m_nUnclaimed);
    ++m_nUnclaimed;
    return true;
}

bool GFakeServer::ReadRequest()
{
    for (;;)
    {
        for (size_t i = 0; i < m_vecConnections.size(); ++i)
        {
            GConnection& connection = m_vecConnections[i];
            if (!connection.bSilent && TakeRequest(connection))
            {
                m_nCurrent = static_cast<int>(i);
                if (m_nUnclaimed <= i)
                    m_nUnclaimed = i + 1;
                return true;
            }
        }
        for (GConnection& connection : m_vecConnections)
        {
            if (connection.sock == INVALID_SOCKET && !connection.bSilent
                && !connection.sPending.empty())
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_vecRequests.push_back(std::move(connection.sPending));
                connection.sPending.clear();
                return false;
            }
        }
        if (m_bStop)
            return false;
        PollConnections();
    }
}

bool GFakeServer::TakeRequest(GConnection& connection)
{
    const std::string& sPending = connection.sPending;
    const size_t nEnd = sPending.find("\r\n\r\n");
    size_t nHead = 0;
    uint64_t nBody = 0;
    if (nEnd != std::string::npos && nEnd + 4 <= g_nHeadLimit)
    {
        nHead = nEnd + 4;
        nBody = AnnouncedBodyLength(std::string_view(sPending).substr(0, nHead));
    }
    else if (sPending.size() >= g_nHeadLimit)
    {
        nHead = g_nHeadLimit;
    }
    else
    {
        return false;
    }
    if (sPending.size() - nHead < nBody)
        return false;

    const size_t nTotal = nHead + static_cast<size_t>(nBody);
    std::string sRequest = sPending.substr(0, nTotal);
    connection.sPending.erase(0, nTotal);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vecRequests.push_back(std::move(sRequest));
    return true;
}

void GFakeServer::SendSegments(const std::vector<std::string>& vecSegments, int nMsBetween)
{
    for (size_t i = 0; i < vecSegments.size(); ++i)
    {
        if (i > 0 && nMsBetween > 0 && !PauseFor(nMsBetween))
            return;
        const std::string& sSegment = vecSegments[i];
        size_t nSent = 0;
        while (nSent < sSegment.size())
        {
            const SOCKET sock = m_nCurrent < 0 ? INVALID_SOCKET : m_vecConnections[m_nCurrent].sock;
            if (sock == INVALID_SOCKET)
                return;
            const int nChunk = send(sock, sSegment.data() + nSent,
                static_cast<int>(sSegment.size() - nSent), 0);
            if (nChunk == SOCKET_ERROR)
                return;   // the client is gone; it will find that out itself
            nSent += static_cast<size_t>(nChunk);
        }
    }
}

void GFakeServer::CloseCurrent()
{
    if (m_nCurrent < 0)
        return;
    GConnection& connection = m_vecConnections[m_nCurrent];
    if (connection.sock != INVALID_SOCKET)
        closesocket(connection.sock);
    connection.sock = INVALID_SOCKET;
    m_nCurrent = -1;
}

bool GFakeServer::PauseFor(int nMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_cv.wait_for(lock, std::chrono::milliseconds(nMs < 0 ? 0 : nMs),
        [this] { return m_bStop.load(); });
}
