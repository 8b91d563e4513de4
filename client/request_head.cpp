// WriteRequestHead: the request head of every command, and the only place its wire strings live.
#include "client/server_connection.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "client/time_limits.h"
#include "common/report_error.h"
#include "common/result_codes.h"

namespace
{
constexpr const char* HTTP_VERSION = "1.1";
constexpr const char* LINE_REQUEST = "POST %s%s HTTP/%s\r\n";
constexpr const char* LINE_HOST = "host: %s\r\n";
constexpr const char* LINE_CONTENT_TYPE = "content-type: application/x-variant-%d\r\n";
constexpr const char* LINE_CONTENT_LENGTH = "content-length: %d\r\n";
constexpr const char* LINE_NO_CONTENT = "content-length: 0\r\n";
constexpr const char* LINE_COOKIE = "cookie: %s\r\n";
constexpr const char* LINE_NAME = "x-param-name: %s\r\n";
constexpr const char* LINE_TIMEOUT = "x-param-timeout: %d\r\n";
constexpr const char* LINE_END = "\r\n";

// Appends formatted text and reports "no room" rather than cutting the head short.
class GHeadBuilder
{
public:
    bool Append(const char* szFormat, ...)
    {
        if (!m_bFits)
            return false;
        const size_t nFree = sizeof(m_aHead) - m_nUsed;
        va_list args;
        va_start(args, szFormat);
        const int n = vsnprintf(m_aHead + m_nUsed, nFree, szFormat, args);
        va_end(args);
        if (n < 0 || static_cast<size_t>(n) >= nFree)
        {
            m_bFits = false;
            return false;
        }
        m_nUsed += static_cast<size_t>(n);
        return true;
    }

    const char* Data() const noexcept { return m_aHead; }
    size_t Length() const noexcept { return m_nUsed; }

private:
    char m_aHead[HEAD_BUFFER_BYTES];
    size_t m_nUsed = 0;
    bool m_bFits = true;
};
}

bool IsNameAcceptable(const char* szName) noexcept
{
    return std::strpbrk(szName, "\r\n") == nullptr;
}

HRESULT RefuseName() noexcept
{
    return ReportError(E_INVALIDARG, SOURCE_HARBINET, MSG_INVALID_NAME);
}

HRESULT GServerConnection::WriteRequestHead(const GRequest& request)
{
    if (!IsNameAcceptable(request.szName))
        return RefuseName();

    GHeadBuilder head;
    head.Append(LINE_REQUEST, m_szPath, request.szCommand, HTTP_VERSION);
    head.Append(LINE_HOST, m_szHost);
    if (request.nValueType >= 0)
    {
        head.Append(LINE_CONTENT_TYPE, request.nValueType);
        head.Append(LINE_CONTENT_LENGTH, static_cast<int>(request.nBodyLength));
    }
    else
    {
        head.Append(LINE_NO_CONTENT);
    }
    if (m_bCookie)
        head.Append(LINE_COOKIE, m_szCookie);
    head.Append(LINE_NAME, request.szName);
    if (request.bTimeout)
        head.Append(LINE_TIMEOUT, static_cast<int>(request.nTimeout));
    if (!head.Append(LINE_END))
        return RefuseName();

    // A closed object has nothing to send on; its missing reply reports the failure.
    if (m_sock == INVALID_SOCKET)
        return S_OK;

    // Head and memory body leave in one call: a second send costs a round of the
    // platform's socket layer and, on some stacks, a delayed segment.
    WSABUF aBuffers[2];
    aBuffers[0].buf = const_cast<char*>(head.Data());
    aBuffers[0].len = static_cast<ULONG>(head.Length());
    DWORD nBuffers = 1;
    if (request.pBody != nullptr && request.nBody > 0)
    {
        aBuffers[1].buf = static_cast<char*>(const_cast<void*>(request.pBody));
        aBuffers[1].len = static_cast<ULONG>(request.nBody);
        nBuffers = 2;
    }
    DWORD nSent = 0;
    const size_t nTotal = head.Length() + (nBuffers == 2 ? request.nBody : 0);
    if (WSASend(m_sock, aBuffers, nBuffers, &nSent, 0, nullptr, nullptr) == SOCKET_ERROR)
    {
        NoteTimeOut(GLimit::Send, g_nSendTimeout);
        return S_OK;   // the failed reply read reports it
    }
    if (nSent < nTotal)
    {
        // A blocking socket sends everything or fails; finish a short send all the same.
        size_t nDone = nSent;
        if (nDone < head.Length())
        {
            if (!SendAll(head.Data() + nDone, head.Length() - nDone))
                return S_OK;
            nDone = head.Length();
        }
        if (nBuffers == 2)
            SendAll(static_cast<const char*>(request.pBody) + (nDone - head.Length()),
                    request.nBody - (nDone - head.Length()));
    }
    return S_OK;
}

bool GServerConnection::SendAll(const void* p, size_t n) noexcept
{
    // After a limit has run out the socket's state is undefined: nothing more goes out.
    if (m_limitRunOut != GLimit::None)
        return false;
    const char* pNext = static_cast<const char*>(p);
    while (n > 0)
    {
        const int nChunk = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
        const int nSent = send(m_sock, pNext, nChunk, 0);
        if (nSent == SOCKET_ERROR)
            NoteTimeOut(GLimit::Send, g_nSendTimeout);
        if (nSent <= 0)
            return false;
        pNext += nSent;
        n -= static_cast<size_t>(nSent);
    }
    return true;
}
