// Opening and closing the connection of a single-server object.
#include "client/server_connection.h"

#include <ws2tcpip.h>

#include "client/client_start.h"
#include "client/time_limits.h"
#include "client/url_scan.h"
#include "common/narrow_text.h"
#include "common/report_error.h"
#include "common/result_codes.h"

GServerConnection::~GServerConnection()
{
    if (m_sock != INVALID_SOCKET)
        closesocket(m_sock);
}

// A connection counts as live while it is connected and has nothing to read: a
// readable idle connection has either been closed by the server or carries bytes
// that nobody asked for, and neither can serve the next exchange. Errors and hang-ups
// are always reported. One call, because every Winsock call is costly under some hosts
// and the pool asks before every call it forwards; of the checks that give this answer
// (select, a peek in non-blocking mode), a zero-timeout poll measured cheapest.
bool GServerConnection::IsLive() const noexcept
{
    if (m_sock == INVALID_SOCKET)
        return false;
    WSAPOLLFD poll = {m_sock, POLLRDNORM, 0};
    return WSAPoll(&poll, 1, 0) == 0;
}

HRESULT GServerConnection::OpenConnection(BSTR sURL)
{
    StartClient();
    if (IsLive())
        return ReportError(E_ALREADY_CONNECTED, SOURCE_HARBINET, MSG_ALREADY_CONNECTED);

    GNarrowText szURL(sURL);
    if (!ScanServerUrl(szURL.Get() == nullptr ? "" : szURL.Get(), m_szHost, m_nPort, m_szPath))
        return FailAndClose(E_INVALID_URL, MSG_INVALID_URL);

    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(m_nPort & 0xFFFF));
    const char chFirst = m_szHost[0];
    if ((chFirst >= 'A' && chFirst <= 'Z') || (chFirst >= 'a' && chFirst <= 'z'))
    {
        const hostent* pHost = gethostbyname(m_szHost);
        if (pHost == nullptr || pHost->h_addr_list == nullptr || pHost->h_addr_list[0] == nullptr)
            return FailAndClose(E_INVALID_HOST, MSG_INVALID_HOST);
        memcpy(&address.sin_addr, pHost->h_addr_list[0], 4);
    }
    else
    {
        // Text that is no dotted address gives the all-ones address; connect decides.
        address.sin_addr.s_addr = inet_addr(m_szHost);
    }

    // Drops a socket whose connection has broken.
    closesocket(m_sock);
    m_sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_sock == INVALID_SOCKET)
        return FailAndClose(E_SOCKET, MSG_SOCKET);
    if (g_nConnectTimeout != 0)
    {
        const HRESULT hr = ConnectWithinLimit(address);
        if (FAILED(hr))
            return hr;
    }
    else if (connect(m_sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR)
    {
        return FailAndClose(E_CONNECT, MSG_CONNECT);
    }

    // Every exchange is a small write followed by a read; with Nagle's algorithm and
    // the server's delayed acknowledgement each one would stall for tens of
    // milliseconds. The bytes on the wire stay the same.
    const BOOL bNoDelay = TRUE;
    setsockopt(m_sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay), sizeof(bNoDelay));
    ApplyTimeLimits();
    return S_OK;
}

// Started without blocking, then one wait for the outcome; the socket blocks again
// afterwards, as every exchange expects.
HRESULT GServerConnection::ConnectWithinLimit(const sockaddr_in& address)
{
    u_long nNonBlocking = 1;
    if (ioctlsocket(m_sock, FIONBIO, &nNonBlocking) == SOCKET_ERROR)
        return FailAndClose(E_CONNECT, MSG_CONNECT);
    if (connect(m_sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR)
    {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return FailAndClose(E_CONNECT, MSG_CONNECT);
        fd_set setWrite, setError;
        FD_ZERO(&setWrite);
        FD_ZERO(&setError);
        FD_SET(m_sock, &setWrite);
        FD_SET(m_sock, &setError);
        timeval tvLimit = {static_cast<long>(g_nConnectTimeout / 1000),
                           static_cast<long>(g_nConnectTimeout % 1000) * 1000};
        const int nReady = select(0, nullptr, &setWrite, &setError, &tvLimit);
        if (nReady == 0)
        {
            m_limitRunOut = GLimit::Connect;
            return FailAndClose(E_CONNECT, MSG_CONNECT);
        }
        // A refused connect shows in the error set; a stack that marks it writable
        // instead still keeps the reason in SO_ERROR.
        int nError = 0;
        int nErrorBytes = sizeof(nError);
        if (nReady == SOCKET_ERROR || FD_ISSET(m_sock, &setError)
            || getsockopt(m_sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&nError), &nErrorBytes) == SOCKET_ERROR
            || nError != 0)
            return FailAndClose(E_CONNECT, MSG_CONNECT);
    }
    nNonBlocking = 0;
    if (ioctlsocket(m_sock, FIONBIO, &nNonBlocking) == SOCKET_ERROR)
        return FailAndClose(E_CONNECT, MSG_CONNECT);
    return S_OK;
}

// Socket options, set once per connection: an exchange on a reused connection costs
// no call more than it would without limits.
void GServerConnection::ApplyTimeLimits() noexcept
{
    if (g_nSendTimeout != 0)
        setsockopt(m_sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&g_nSendTimeout),
                   sizeof(g_nSendTimeout));
    if (g_nReceiveTimeout != 0)
        setsockopt(m_sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&g_nReceiveTimeout),
                   sizeof(g_nReceiveTimeout));
}

// Only a limit that is set can have run out: without one, a platform time-out (a
// dead network) stays the plain failure it always was.
void GServerConnection::NoteTimeOut(GLimit limit, DWORD nLimitMs) noexcept
{
    if (nLimitMs != 0 && WSAGetLastError() == WSAETIMEDOUT)
        m_limitRunOut = limit;
}

void GServerConnection::CloseConnection() noexcept
{
    closesocket(m_sock);
    m_sock = INVALID_SOCKET;
    m_szHost[0] = '\0';
    m_nPort = 0;
    m_szPath[0] = '/';
    m_szPath[1] = '\0';
    m_limitRunOut = GLimit::None;
}
