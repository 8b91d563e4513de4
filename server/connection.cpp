// One client connection: the request loop, body handling, replies and closing.
#include "connection.h"

#include "cookie.h"
#include "reply.h"
#include "request.h"
#include "worker.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace
{

constexpr size_t kInitialInput = 4096;
// Bodies up to this size are copied behind their reply head; bigger ones are
// sent straight from the stored entry.
constexpr uint64_t kInlineBody = 16 * 1024;
// Pipelined requests are answered in batches of about this many bytes.
constexpr size_t kFlushAt = 64 * 1024;
// After an error reply the client gets this long, and may send this much, before
// the socket is closed; closing on unread input would reset the connection and
// could destroy the reply before the client read it.
constexpr int64_t kLingerMs = 2000;
constexpr uint64_t kLingerBytes = 256 * 1024;

} // namespace

GConnection::GConnection(GWorker& worker, GSocket sock)
    : m_worker(worker), m_shared(worker.Shared()), m_sock(std::move(sock))
{
    m_worker.Link(this);
    m_nNowMs = NowMs();
    m_nLastActivityMs = m_nNowMs;
}

GConnection::~GConnection()
{
    m_worker.Unlink(this);
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
            ReadMore();
        return;
    }
}

void GConnection::Process()
{
    while (!m_bCloseAfterWrite && m_strOut.size() < kFlushAt && !m_refOut)
    {
        const size_t nAvailable = m_nInEnd - m_nInStart;
        if (m_phase == EPhase::Head)
        {
            if (nAvailable == 0)
                return;
            if (m_nRequestStartMs == 0)
                m_nRequestStartMs = m_nNowMs;
            const char* pHead = m_vecIn.data() + m_nInStart;
            const EParse result = m_parser.Parse(pHead, nAvailable, m_shared.m_options.nMaxHead);
            if (result == EParse::NeedMore)
                return;
            if (result == EParse::Bad)
            {
                Count(EMetricCommand::Other, EMetricOutcome::Refused);
                FailAndClose(m_parser.BadStatus(), m_parser.BadReason());
                return;
            }
            GRequest request;
            const GVerdict verdict = InterpretHead(pHead, m_parser.Head(), m_shared.m_rules, request);
            // The request's texts still point into the head, which stays where
            // it is until this request has been handled.
            m_nInStart += m_parser.Head().nHeadLength;
            m_parser.Reset();
            // A client may leave out the wait when the body has come already.
            m_bAwaitsContinue = request.bExpectContinue && request.nContentLength > m_nInEnd - m_nInStart;
            if (verdict.nStatus != 0)
                Count(EMetricCommand::Other, EMetricOutcome::Refused);
            if (verdict.nStatus == 0)
                HandleRequest(request);
            else if (verdict.bClose || m_bAwaitsContinue)
            {
                // A client waiting for 100 Continue gets the refusal instead and
                // sends no body, so no body can be read past: the connection ends.
                FailAndClose(verdict.nStatus, verdict.szReason);
            }
            else
            {
                GReply reply;
                reply.nStatus = verdict.nStatus;
                reply.szReason = verdict.szReason;
                Append(reply);
                StartSkip(request.nContentLength);
            }
        }
        else if (m_phase == EPhase::Body)
        {
            if (nAvailable == 0)
                return;
            const uint64_t nWanted = m_refBody->m_nValueLength - m_nBodyDone;
            const size_t nTake = static_cast<size_t>(std::min<uint64_t>(nWanted, nAvailable));
            memcpy(m_refBody->Value() + m_nBodyDone, m_vecIn.data() + m_nInStart, nTake);
            m_nInStart += nTake;
            m_nBodyDone += nTake;
            if (m_nBodyDone < m_refBody->m_nValueLength)
                return;
            FinishSet();
        }
        else if (m_phase == EPhase::Skip)
        {
            if (nAvailable == 0)
                return;
            const size_t nTake = static_cast<size_t>(std::min<uint64_t>(m_nSkipLeft, nAvailable));
            m_nInStart += nTake;
            m_nSkipLeft -= nTake;
            if (m_nSkipLeft != 0)
                return;
            EndRequest();
        }
        else
            return;
    }
}

void GConnection::HandleRequest(GRequest& request)
{
    m_strCookie.clear();
    if (!request.key.bCookie && m_shared.m_options.bIssueCookies)
    {
        // The request that receives a cookie already works in that cookie's
        // space, so a value set now is found by the next request, which
        // carries the cookie.
        m_strCookie = MakeCookie();
        request.key.bCookie = true;
        request.key.szCookie = m_strCookie;
    }
    m_command = request.command;
    m_nSkipAfter = request.nContentLength;
    // A set decides below whether it wants its body; any other command
    // reads past it after its reply, which comes after this.
    if (m_bAwaitsContinue && request.command != ECommand::Set)
        m_strOut += kContinueReply;

    IStore& store = *m_shared.m_pStore;
    switch (request.command)
    {
    case ECommand::Set:
    {
        const EAdmit admit = store.Prepare(request.key, request.nType, request.nTimeout,
            request.nContentLength, m_refBody);
        if (admit == EAdmit::Ok)
        {
            if (m_bAwaitsContinue)
                m_strOut += kContinueReply;
            m_nBodyDone = 0;
            m_phase = EPhase::Body;
            if (request.nContentLength == 0)
                FinishSet();
            return;
        }
        GReply reply;
        reply.szCookie = m_strCookie;
        reply.nResultCode = 1;
        reply.szReason = admit == EAdmit::TooLarge ? "value too large" : "out of memory";
        if (admit == EAdmit::Busy)
        {
            // Like any store failure, not a result: the value was not looked at.
            reply.nStatus = 503;
            reply.nResultCode = -1;
            reply.szReason = "store busy";
        }
        Count(EMetricCommand::Set, admit == EAdmit::Busy ? EMetricOutcome::StoreError : EMetricOutcome::Failed);
        // A client that waits for 100 Continue will not send the body, so
        // there is nothing to read past: the connection ends instead.
        reply.bClose = m_bAwaitsContinue;
        m_bCloseAfterWrite = m_bAwaitsContinue;
        Append(reply);
        if (!m_bAwaitsContinue)
            StartSkip(request.nContentLength);
        return;
    }
    case ECommand::Get:
        CallStore(&IStore::Get, request.key);
        return;
    case ECommand::Del:
        CallStore(&IStore::Delete, request.key);
        return;
    case ECommand::Nop:
    {
        GReply reply;
        reply.szCookie = m_strCookie;
        reply.nResultCode = 0;
        Append(reply);
        Count(EMetricCommand::Nop, EMetricOutcome::Ok);
        break;
    }
    case ECommand::Metrics:
    {
        const std::string strPage = RenderMetrics(m_shared.m_board);
        GReply reply;
        reply.szContentType = kMetricsContentType;
        reply.nContentLength = strPage.size();
        Append(reply);
        m_strOut += strPage;
        break;
    }
    }
    StartSkip(request.nContentLength);
}

void GConnection::FinishSet()
{
    m_nSkipAfter = 0;
    m_phase = EPhase::Wait;
    m_bStoreInline = true;
    m_shared.m_pStore->Put(std::move(m_refBody), m_nNowMs, *this);
    WaitForStore();
}

void GConnection::CallStore(void (IStore::*pfn)(const GKey&, int64_t, IStoreWaiter&), const GKey& key)
{
    m_phase = EPhase::Wait;
    m_bStoreInline = true;
    (m_shared.m_pStore->*pfn)(key, m_nNowMs, *this);
    WaitForStore();
}

// The memory store has answered by now; a store that has not keeps the
// connection alive until it does.
void GConnection::WaitForStore()
{
    m_bStoreInline = false;
    if (m_phase == EPhase::Wait)
        m_pSelfWhileWaiting = shared_from_this();
}

void GConnection::StoreDone(GStoreOutcome& outcome)
{
    const std::shared_ptr<GConnection> pSelf = std::move(m_pSelfWhileWaiting);
    // The request may have timed out, or the client gone, while the store worked.
    if (m_bClosed || m_phase != EPhase::Wait)
        return;
    if (m_bStoreInline)
    {
        ApplyOutcome(outcome);
        return;
    }
    m_nNowMs = NowMs();
    if (m_bWriting)
    {
        m_outcomeHeld = std::move(outcome);
        m_bOutcomeHeld = true;
        return;
    }
    ApplyOutcome(outcome);
    Pump();
}

void GConnection::ApplyOutcome(GStoreOutcome& outcome)
{
    GReply reply;
    reply.szCookie = m_strCookie;
    const auto command = static_cast<EMetricCommand>(static_cast<int>(m_command));
    switch (outcome.result)
    {
    case EStoreResult::Done:
        reply.nResultCode = 0;
        Count(command, EMetricOutcome::Ok);
        break;
    case EStoreResult::Missing:
        // A delete answers 0 whether or not the name existed: absent or not,
        // it is gone afterwards, and the client counts any other answer as a
        // failure and drops its connection.
        reply.nResultCode = m_command == ECommand::Del ? 0 : 1;
        Count(command, m_command == ECommand::Del ? EMetricOutcome::Ok : EMetricOutcome::Failed);
        break;
    case EStoreResult::Refused:
        reply.nResultCode = 1;
        reply.szReason = outcome.szReason;
        Count(command, EMetricOutcome::Failed);
        break;
    case EStoreResult::Failed:
        // Not a result code: the client must not read this as "not found" or
        // "not stored", but as a server that cannot serve right now.
        reply.nStatus = 503;
        reply.szReason = outcome.szReason;
        Count(command, EMetricOutcome::StoreError);
        break;
    }
    GEntryRef& refEntry = outcome.refEntry;
    if (reply.nResultCode == 0 && refEntry)
    {
        reply.nType = refEntry->m_nType;
        reply.nContentLength = refEntry->m_nValueLength;
    }
    Append(reply);
    if (reply.nResultCode == 0 && refEntry)
    {
        if (refEntry->m_nValueLength <= kInlineBody)
            m_strOut.append(refEntry->Value(), refEntry->m_nValueLength);
        else
            m_refOut = std::move(refEntry);
    }
    StartSkip(m_nSkipAfter);
}

void GConnection::Count(EMetricCommand command, EMetricOutcome outcome)
{
    m_shared.m_metrics.CountRequest(command, outcome, m_nNowMs - m_nRequestStartMs);
}

void GConnection::StartSkip(uint64_t nBytes)
{
    if (nBytes == 0)
    {
        EndRequest();
        return;
    }
    m_nSkipLeft = nBytes;
    m_phase = EPhase::Skip;
}

void GConnection::EndRequest()
{
    m_phase = EPhase::Head;
    m_nRequestStartMs = 0;
    m_strCookie.clear();
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
    asio::error_code ec;
    m_sock.close(ec);
}
