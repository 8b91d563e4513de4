// Reading a reply: the head, its status and result code, the drain of unused bodies,
// and the one way out of a failed exchange.
#include "client/server_connection.h"

#include "client/time_limits.h"
#include "common/report_error.h"
#include "common/result_codes.h"
#include "common/wide_text.h"

int GServerConnection::ReceiveSome(void* p, size_t n) noexcept
{
    // After a limit has run out the socket's state is undefined, and a further wait
    // would only stretch a command that has failed already.
    if (m_sock == INVALID_SOCKET || m_limitRunOut != GLimit::None)
        return -1;
    const int nAsk = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
    const int nReceived = recv(m_sock, static_cast<char*>(p), nAsk, 0);
    if (nReceived == SOCKET_ERROR)
        NoteTimeOut(GLimit::Receive, g_nReceiveTimeout);
    return nReceived;
}

void GServerConnection::ReadReplyHead(GReplyHead& head, bool bContentType)
{
    constexpr int nLimit = static_cast<int>(REPLY_BUFFER_BYTES) - 1;
    head.nReceived = 0;
    head.nHeadLength = 0;
    while (head.nReceived < nLimit)
    {
        const int n = ReceiveSome(head.aBuffer + head.nReceived, static_cast<size_t>(nLimit - head.nReceived));
        if (n <= 0)
            break;
        head.nReceived += n;
        const size_t nEnd = FindHeadEnd(head.aBuffer, static_cast<size_t>(head.nReceived));
        if (nEnd != 0)
        {
            head.nHeadLength = static_cast<int>(nEnd);
            break;
        }
    }
    head.aBuffer[head.nReceived] = '\0';
    head.fields = {};
    head.nContentLength = NO_CONTENT_LENGTH;
    if (head.nHeadLength == 0)
        return;

    ScanReplyHead(head.aBuffer, static_cast<size_t>(head.nHeadLength), bContentType, head.fields);
    // The cookie is taken before the status is looked at: a failing reply may still
    // hand us a new one.
    if (head.fields.szSetCookie != nullptr)
        TakeSetCookie(head.fields.szSetCookie);
    if (head.fields.szContentLength != nullptr)
        head.nContentLength = ParseContentLength(head.fields.szContentLength);
}

HRESULT GServerConnection::CheckReply(const GReplyHead& head, long nHighestCode, long& nCode)
{
    if (head.fields.szStatus == nullptr)
        return FailAndClose(E_HTTP, MSG_HTTP);
    if (ParseStatusCode(head.fields.szStatus) != 200)
    {
        GWideText szStatus(head.fields.szStatus);
        return FailAndClose(E_HTTP, szStatus.Get());
    }
    if (ParseResultCode(head.fields.szResultCode, nCode) && nCode >= 0 && nCode <= nHighestCode)
        return S_OK;
    if (head.fields.szResultReason == nullptr)
        return FailAndClose(E_RESULT_CODE, MSG_RESULT_CODE);
    GWideText szReason(head.fields.szResultReason);
    return FailAndClose(E_RESULT_CODE, szReason.Get());
}

HRESULT GServerConnection::ReadReply(GReplyHead& head, bool bContentType, long nHighestCode, long& nCode)
{
    ReadReplyHead(head, bContentType);
    return CheckReply(head, nHighestCode, nCode);
}

void GServerConnection::DrainReplyBody(const GReplyHead& head) noexcept
{
    // Bytes beyond the announced body that came with the head count as nothing left.
    const uint64_t nExtra = head.ExtraBytes();
    uint64_t nRemaining = head.nContentLength > nExtra ? head.nContentLength - nExtra : 0;
    char aDrain[BODY_PIECE_BYTES];
    while (nRemaining != 0)
    {
        const size_t nAsk = nRemaining < sizeof(aDrain) ? static_cast<size_t>(nRemaining) : sizeof(aDrain);
        const int n = ReceiveSome(aDrain, nAsk);
        if (n <= 0)
        {
            // The reply's result stands, but the rest of its body may still come and
            // would then be read as the next reply.
            if (m_limitRunOut != GLimit::None)
                CloseConnection();
            return;
        }
        nRemaining -= static_cast<uint64_t>(n);
    }
}

HRESULT GServerConnection::FailAndClose(HRESULT hr, const wchar_t* szDescription) noexcept
{
    // A limit that ran out shows further on as a failed exchange; the description
    // names the limit, so that a silent server is not taken for a broken one.
    switch (m_limitRunOut)
    {
    case GLimit::Connect:
        szDescription = MSG_CONNECT_TIMED_OUT;
        break;
    case GLimit::Send:
        szDescription = MSG_SEND_TIMED_OUT;
        break;
    case GLimit::Receive:
        szDescription = MSG_RECEIVE_TIMED_OUT;
        break;
    case GLimit::None:
        break;
    }
    ReportError(hr, SOURCE_HARBINET, szDescription);
    CloseConnection();
    return hr;
}
