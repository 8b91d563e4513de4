// One client connection's transport: reading, writing, time limits and closing.
#include "connection.h"

#include "reply.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace
{

constexpr size_t kInitialInput = 4096;
// After an error reply the client gets this long, and may send this much, before
// the socket is closed; closing on unread input would reset the connection and
// could destroy the reply before the client read it.
constexpr int64_t kLingerMs = 2000;
constexpr uint64_t kLingerBytes = 256 * 1024;

} // namespace

GConnection::GConnection(GServerShared& shared, GConnectionList& list, GSocket sock)
    : m_shared(shared), m_list(list), m_sock(std::move(sock))
{
    m_itInList = m_list.Add(this);
    m_nNowMs = NowMs();
    m_nLastActivityMs = m_nNowMs;
}

GConnection::~GConnection()
{
    m_list.Remove(m_itInList);
    m_shared.m_nConnections.fetch_sub(1, std::memory_order_relaxed);
}

void GConnection::Start()
{
    asio::error_code ec;
    m_sock.set_option(asio::ip::tcp::no_delay(true), ec);
    m_sock.non_blocking(true, ec);
    if (ec)
    {
        Close();
        return;
    }
    m_vecIn.resize(kInitialInput);
    ReadMore();
}

void GConnection::Refuse()
{
    asio::error_code ec;
    m_sock.non_blocking(true, ec);
    m_vecIn.resize(kInitialInput);
    FailAndClose(503, "too many connections");
    Pump();
}

void GConnection::Append(const GReply& reply)
{
    AppendReplyHead(reply, m_strOut);
}

void GConnection::FailAndClose(uint16_t nStatus, const char* szReason)
{
    GReply reply;
    reply.nStatus = nStatus;
    reply.szReason = szReason;
    reply.bClose = true;
    Append(reply);
    m_bCloseAfterWrite = true;
}

// Runs requests and writes replies until something has to be waited for.
void GConnection::Pump()
{
    for (;;)
    {
        if (m_bClosed)
            return;
        if (!m_bCloseAfterWrite)
            Process();
        if (!m_strOut.empty() || m_refOut)
        {
            if (!TryWrite())
                return;
            if (m_bCloseAfterWrite)
            {
                StartLinger();
                return;
            }
            continue;
        }
        if (m_bCloseAfterWrite)
        {
            StartLinger();
            return;
        }
        // Nothing is read while the store works on a command: input would
        // pile up with nothing to take it, and the answer comes first anyway.
        if (m_phase != EPhase::Wait)
            ScheduleRead();
        return;
    }
}

// A read started right after a reply nearly always finds nothing: the client
// is still taking that reply in. Started once the worker has served the other
// connections that were ready with this one, it more often finds the next
// request there already, which saves a recv that cannot succeed.
void GConnection::ScheduleRead()
{
    if (m_bReadDue || m_bReading || m_bClosed)
        return;
    m_bReadDue = true;
    asio::post(m_sock.get_executor(), [pSelf = shared_from_this()] {
        pSelf->m_bReadDue = false;
        // Meanwhile the store may have been asked, or a deadline begun closing.
        if (pSelf->m_phase != EPhase::Wait && pSelf->m_phase != EPhase::Linger && !pSelf->m_bCloseAfterWrite
            && !pSelf->m_bWriting)
            pSelf->ReadMore();
    });
}

// Sends what is waiting with one write. True when all of it went; otherwise
// the rest goes asynchronously (or the connection is closed) and false.
bool GConnection::TryWrite()
{
    std::array<asio::const_buffer, 2> buffers = {
        asio::buffer(m_strOut),
        m_refOut ? asio::buffer(m_refOut->Value(), m_refOut->m_nValueLength) : asio::const_buffer()};
    const size_t nTotal = buffers[0].size() + buffers[1].size();
    asio::error_code ec;
    // A reply that is all in one buffer goes out with send, which is cheaper
    // in the kernel than sendmsg with a list of buffers.
    size_t nSent = buffers[1].size() == 0 ? m_sock.write_some(buffers[0], ec)
                                          : m_sock.write_some(buffers, ec);
    if (ec == asio::error::would_block || ec == asio::error::try_again)
        nSent = 0;
    else if (ec)
    {
        Close();
        return false;
    }
    if (nSent == nTotal)
    {
        ClearOutput();
        return true;
    }

    if (nSent < buffers[0].size())
        buffers[0] += nSent;
    else
    {
        buffers[1] += nSent - buffers[0].size();
        buffers[0] = asio::const_buffer();
    }
    m_bWriting = true;
    m_nWriteStartMs = m_nNowMs;
    asio::async_write(m_sock, buffers,
        [pSelf = shared_from_this()](const asio::error_code& ec, size_t) { pSelf->OnWritten(ec); });
    return false;
}

void GConnection::ClearOutput()
{
    m_refOut.Reset();
    // One burst of pipelined replies should not pin its buffer for good.
    if (m_strOut.capacity() > 2 * kFlushAt)
        std::string().swap(m_strOut);
    else
        m_strOut.clear();
}

void GConnection::OnWritten(const asio::error_code& ec)
{
    m_bWriting = false;
    ClearOutput();
    if (ec || m_bClosed)
    {
        Close();
        return;
    }
    m_nNowMs = NowMs();
    if (m_bCloseAfterWrite)
    {
        StartLinger();
        return;
    }
    if (m_bOutcomeHeld)
    {
        m_bOutcomeHeld = false;
        ApplyOutcome(m_outcomeHeld);
        m_outcomeHeld.refEntry.Reset();
    }
    Pump();
}

void GConnection::ReadMore()
{
    if (m_bClosed || m_bReading)
        return;
    if (m_phase == EPhase::Body && m_nInStart == m_nInEnd)
    {
        // A body that did not come with its head is read straight into its
        // entry, with no copy and no more memory than the bytes that arrive.
        char* pTarget = m_refBody->Value() + m_nBodyDone;
        const size_t nWanted = static_cast<size_t>(m_refBody->m_nValueLength - m_nBodyDone);
        m_bReading = true;
        m_sock.async_read_some(asio::buffer(pTarget, nWanted),
            [pSelf = shared_from_this()](const asio::error_code& ec, size_t nBytes) {
                pSelf->OnBodyRead(ec, nBytes);
            });
        return;
    }

    m_bReading = true;
    m_sock.async_read_some(FreeInput(),
        [pSelf = shared_from_this()](const asio::error_code& ec, size_t nBytes) {
            pSelf->OnRead(ec, nBytes);
        });
}

// The space behind the input that is waiting, made first if there is none.
asio::mutable_buffer GConnection::FreeInput()
{
    if (m_nInStart == m_nInEnd)
    {
        m_nInStart = m_nInEnd = 0;
        // A buffer that grew for one long head goes back to its usual size.
        if (m_vecIn.size() > kInitialInput)
        {
            m_vecIn.resize(kInitialInput);
            m_vecIn.shrink_to_fit();
        }
    }
    else if (m_nInEnd == m_vecIn.size())
    {
        if (m_nInStart > 0)
        {
            memmove(m_vecIn.data(), m_vecIn.data() + m_nInStart, m_nInEnd - m_nInStart);
            m_nInEnd -= m_nInStart;
            m_nInStart = 0;
        }
        else
        {
            // Only a head grows the buffer, and the scanner refuses one longer
            // than the limit, so the buffer never gets much bigger than that.
            m_vecIn.resize(std::max<size_t>(m_vecIn.size() * 2, kInitialInput));
        }
    }
    return asio::buffer(m_vecIn.data() + m_nInEnd, m_vecIn.size() - m_nInEnd);
}

// Every finished read ends the same way: a failed one or one on a closed connection
// closes it, any other counts as activity. False when the connection is done.
bool GConnection::FinishRead(const asio::error_code& ec)
{
    m_bReading = false;
    if (ec || m_bClosed)
    {
        Close();
        return false;
    }
    m_nNowMs = NowMs();
    m_nLastActivityMs = m_nNowMs;
    return true;
}

void GConnection::OnRead(const asio::error_code& ec, size_t nBytes)
{
    if (!FinishRead(ec))
        return;
    if (m_phase == EPhase::Linger)
    {
        if (nBytes >= m_nLingerBudget)
        {
            Close();
            return;
        }
        m_nLingerBudget -= nBytes;
        m_nInStart = m_nInEnd = 0;
        ReadMore();
        return;
    }
    m_nInEnd += nBytes;
    Pump();
}

void GConnection::OnBodyRead(const asio::error_code& ec, size_t nBytes)
{
    if (!FinishRead(ec))
        return;
    if (m_phase != EPhase::Body)
    {
        // The request timed out while this read was under way.
        m_refBody.Reset();
        OnRead(ec, 0);
        return;
    }
    m_nBodyDone += nBytes;
    if (m_nBodyDone == m_refBody->m_nValueLength)
        FinishSet();
    Pump();
}

void GConnection::StartLinger()
{
    if (m_bClosed)
        return;
    m_phase = EPhase::Linger;
    // A read may still be filling the entry; its handler lets go of it then.
    if (!m_bReading)
        m_refBody.Reset();
    m_nLingerUntilMs = m_nNowMs + kLingerMs;
    m_nLingerBudget = kLingerBytes;
    asio::error_code ec;
    m_sock.shutdown(asio::socket_base::shutdown_send, ec);
    if (ec)
    {
        Close();
        return;
    }
    m_nInStart = m_nInEnd = 0;
    ReadMore();
}

void GConnection::CheckDeadlines(int64_t nNowMs)
{
    if (m_bClosed)
        return;
    const GServerOptions& options = m_shared.m_options;
    if (m_phase == EPhase::Linger)
    {
        if (nNowMs >= m_nLingerUntilMs)
            Close();
        return;
    }
    const int64_t nRequestMs = static_cast<int64_t>(options.nRequestTimeout) * 1000;
    if (nRequestMs != 0)
    {
        // A client that stops reading its replies holds the write open forever.
        if (m_bWriting && nNowMs - m_nWriteStartMs >= nRequestMs)
        {
            Close();
            return;
        }
        if (!m_bWriting && !m_bCloseAfterWrite && m_nRequestStartMs != 0
            && nNowMs - m_nRequestStartMs >= nRequestMs)
        {
            m_nNowMs = nNowMs;
            m_phase = EPhase::Linger;   // stops Process; StartLinger sets it up properly
            GWorkerMetrics::Bump(m_shared.m_metrics.nTimedOut);
            FailAndClose(408, "request took too long");
            if (TryWrite())
                StartLinger();
            return;
        }
    }
    const int64_t nIdleMs = static_cast<int64_t>(options.nIdleTimeout) * 1000;
    if (nIdleMs != 0 && m_phase == EPhase::Head && m_nRequestStartMs == 0 && !m_bWriting
        && m_nInStart == m_nInEnd && nNowMs - m_nLastActivityMs >= nIdleMs)
    {
        Close();
    }
}

void GConnection::Close()
{
    if (m_bClosed)
        return;
    m_bClosed = true;
    // A request whose reply is not yet decided is lost with the connection;
    // one answered already, its body still being read past, is not.
    const bool bUnderWay = m_nRequestStartMs != 0 && !m_bCloseAfterWrite
        && (m_phase == EPhase::Head || m_phase == EPhase::Body || m_phase == EPhase::Wait);
    if (bUnderWay)
        GWorkerMetrics::Bump(m_shared.m_metrics.nDropped);
    asio::error_code ec;
    m_sock.close(ec);
}
