// One client connection's requests: from a parsed head to the command, the
// store and the reply, and the counts that /metrics shows.
#include "connection.h"

#include "cookie.h"
#include "reply.h"
#include "request.h"

#include <algorithm>
#include <cstring>

namespace
{

// Bodies up to this size are copied behind their reply head; bigger ones are
// sent straight from the stored entry.
constexpr uint64_t kInlineBody = 16 * 1024;

} // namespace

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
    // The metrics page is no client's request: a scraper has no use for a cookie.
    if (!request.key.bCookie && m_shared.m_options.bIssueCookies && request.command != ECommand::Metrics)
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
