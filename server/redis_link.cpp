// The link's life: attempts with a growing pause, the handshake that makes it
// usable, Sentinel's answer to "which is the master", and pipelined commands.
#include "redis_link.h"

#include "redis_transport.h"
#include "shared.h"

#include <asio/ssl.hpp>
#include <charconv>
#include <cstdio>
#include <hiredis/hiredis.h>

namespace
{

constexpr int64_t kFirstRetryMs = 100;
constexpr int64_t kLongestRetryMs = 5000;
// Past these the link is given up and made again, so that a Redis that stopped
// answering (or a connect that never ends) costs requests a clear error
// instead of the client's patience.
constexpr int64_t kConnectLimitMs = 5000;
constexpr int64_t kAnswerLimitMs = 10000;
constexpr size_t kReadChunk = 64 * 1024;
// A write buffer that grew for a burst of large values is not kept for good.
constexpr size_t kKeptWriteBuffer = 256 * 1024;

class GStepCall final : public GRedisCall
{
public:
    explicit GStepCall(std::function<void(const GRedisReply*)> fnDone) : m_fnDone(std::move(fnDone)) {}
    void Done(GRedisReply* pReply) override { m_fnDone(pReply); }

private:
    std::function<void(const GRedisReply*)> m_fnDone;
};

std::string ErrorText(const GRedisReply& reply)
{
    return reply.IsError() ? std::string(reply.Text()) : std::string("an unexpected answer");
}

} // namespace

struct GRedisLink::GSession
{
    explicit GSession(GRedisStats& stats) : m_stats(stats) {}
    ~GSession()
    {
        if (pReader != nullptr)
            redisReaderFree(pReader);
        m_stats.nHeldBytes.fetch_sub(strOut.size() + strWriting.size(), std::memory_order_relaxed);
    }

    GRedisStats& m_stats;
    std::unique_ptr<GRedisTransport> pTransport;
    redisReader* pReader = nullptr;
    std::vector<char> vecIn;
    std::string strOut;       // commands not yet handed to the stream
    std::string strWriting;   // the ones it is writing
    std::deque<GRedisCall*> deqSent;
    bool bSentinel = false;
    bool bWriting = false;
    bool bFlushPosted = false;
};

GRedisLink::GRedisLink(asio::io_context& io, const GRedisSettings& settings, GRedisStats& stats)
    : m_io(io), m_settings(settings), m_stats(stats), m_timerRetry(io), m_backoff(kFirstRetryMs, kLongestRetryMs)
{
    if (settings.address.bTls)
        m_pTls = MakeTlsContext(settings.szTlsCa, settings.szTlsCert, settings.szTlsKey);
    m_stats.nLinks.fetch_add(1, std::memory_order_relaxed);
    Attempt();
}

GRedisLink::~GRedisLink()
{
    Close();
    m_stats.nLinks.fetch_sub(1, std::memory_order_relaxed);
}

void GRedisLink::Close()
{
    if (m_state == EState::Closed)
        return;
    if (m_state == EState::Up)
        m_stats.nLinksUp.fetch_sub(1, std::memory_order_relaxed);
    m_state = EState::Closed;
    m_bHolding = false;
    m_timerRetry.cancel();
    const std::shared_ptr<GSession> pSession = std::move(m_pSession);
    if (pSession != nullptr)
    {
        pSession->pTransport->Close();
        while (!pSession->deqSent.empty())
        {
            std::unique_ptr<GRedisCall> pCall(pSession->deqSent.front());
            pSession->deqSent.pop_front();
            pCall->Done(nullptr);
        }
    }
    AnswerHeld();
}

void GRedisLink::Log(const std::string& szText) const
{
    fprintf(stderr, "harbinet-server: redis at %s: %s\n", m_settings.address.Describe().c_str(), szText.c_str());
}

void GRedisLink::Attempt()
{
    if (m_state == EState::Closed)
        return;
    m_state = EState::Connecting;
    m_nSentinelsAsked = 0;
    const GRedisAddress& address = m_settings.address;
    if (address.kind == ERedisKind::Sentinel)
        AskSentinel();
    else
        OpenSession(address.kind == ERedisKind::Unix ? nullptr : &address.vecHosts[0], false);
}

void GRedisLink::AskSentinel()
{
    const std::vector<GRedisEndpoint>& vecSentinels = m_settings.address.vecHosts;
    ++m_nSentinelsAsked;
    OpenSession(&vecSentinels[m_nSentinel % vecSentinels.size()], true);
}

void GRedisLink::OpenSession(const GRedisEndpoint* pEndpoint, bool bSentinel)
{
    auto pSession = std::make_shared<GSession>(m_stats);
    pSession->bSentinel = bSentinel;
    pSession->pTransport = pEndpoint != nullptr ? MakeTcpTransport(m_io, *pEndpoint, m_pTls.get())
                                                : MakeUnixTransport(m_io, m_settings.address.szPath);
    pSession->pReader = CreateReplyReader();
    if (pSession->pReader == nullptr)
        throw std::bad_alloc();
    pSession->vecIn.resize(kReadChunk);
    m_pSession = pSession;
    m_nAttemptStartMs = NowMs();
    const std::string szWhere = pEndpoint != nullptr ? DescribeEndpoint(*pEndpoint) : m_settings.address.szPath;
    pSession->pTransport->Connect([this, pSession, szWhere](const asio::error_code& ec) {
        if (pSession != m_pSession)
            return;
        if (ec)
        {
            Fail(pSession, EStoreError::Connect, "cannot connect to " + szWhere + ": " + ec.message());
            return;
        }
        Read(pSession);
        Handshake(pSession);
    });
}

// Every command of the handshake is pipelined at once; Redis answers them in
// order, and requests are held back until the last one said OK.
void GRedisLink::Handshake(const std::shared_ptr<GSession>& pSession)
{
    const GRedisAddress& address = m_settings.address;
    struct GStep
    {
        std::vector<std::string> vecArgs;
        std::function<std::string(const GRedisReply&)> fnCheck;   // empty text: passed
        EStoreError kind;
    };
    std::vector<GStep> vecSteps;
    if (address.bPassword)
    {
        std::vector<std::string> vecArgs = {"AUTH"};
        if (!address.szUser.empty())
            vecArgs.push_back(address.szUser);
        vecArgs.push_back(address.szPassword);
        const bool bSentinel = pSession->bSentinel;
        vecSteps.push_back({std::move(vecArgs), [bSentinel](const GRedisReply& reply) {
            // Sentinels often have no password of their own.
            if (reply.IsStatus("OK")
                || (bSentinel && reply.IsError() && reply.Text().find("without any password configured") != std::string_view::npos))
                return std::string();
            return "AUTH refused: " + ErrorText(reply);
        }, EStoreError::Auth});
    }
    if (pSession->bSentinel)
    {
        vecSteps.push_back({{"SENTINEL", "get-master-addr-by-name", address.szMaster}, [this](const GRedisReply& reply) {
            uint64_t nPort = 0;
            if (reply.nType != REDIS_REPLY_ARRAY || reply.vecElements.size() != 2 || !reply.vecElements[0]
                || !reply.vecElements[1] || reply.vecElements[0]->Text().empty())
                return "no master named " + m_settings.address.szMaster;
            const std::string_view szPort = reply.vecElements[1]->Text();
            auto result = std::from_chars(szPort.data(), szPort.data() + szPort.size(), nPort);
            if (result.ec != std::errc() || nPort == 0 || nPort > 65535)
                return std::string("a master port that is not a number");
            m_master.szHost = std::string(reply.vecElements[0]->Text());
            m_master.nPort = static_cast<uint16_t>(nPort);
            return std::string();
        }, EStoreError::Master});
    }
    else
    {
        if (address.nDb != 0)
        {
            const std::string szDb = std::to_string(address.nDb);
            vecSteps.push_back({{"SELECT", szDb}, [szDb](const GRedisReply& reply) {
                return reply.IsStatus("OK") ? std::string() : "SELECT " + szDb + " refused: " + ErrorText(reply);
            }, EStoreError::Select});
        }
        if (address.kind == ERedisKind::Sentinel)
        {
            vecSteps.push_back({{"ROLE"}, [this](const GRedisReply& reply) {
                const bool bMaster = reply.nType == REDIS_REPLY_ARRAY && !reply.vecElements.empty()
                    && reply.vecElements[0] && reply.vecElements[0]->Text() == "master";
                return bMaster ? std::string() : DescribeEndpoint(m_master) + " is not the master";
            }, EStoreError::Master});
        }
    }
    // Without any of these, Redis still has to answer once: a Redis that
    // wants a password, or a port that is not Redis's, keeps the link down.
    if (vecSteps.empty())
    {
        vecSteps.push_back({{"PING"}, [](const GRedisReply& reply) {
            return reply.IsStatus("PONG") ? std::string() : "PING refused: " + ErrorText(reply);
        }, EStoreError::Auth});
    }

    for (size_t i = 0; i < vecSteps.size(); ++i)
    {
        GStep& step = vecSteps[i];
        std::vector<const char*> vecPointers;
        std::vector<size_t> vecLengths;
        for (const std::string& sz : step.vecArgs)
        {
            vecPointers.push_back(sz.data());
            vecLengths.push_back(sz.size());
        }
        const bool bLast = i + 1 == vecSteps.size();
        auto* pCall = new GStepCall([this, pSession, fnCheck = std::move(step.fnCheck), kind = step.kind, bLast](
                                        const GRedisReply* pReply) {
            if (pReply == nullptr || pSession != m_pSession)
                return;
            const std::string szProblem = fnCheck(*pReply);
            if (!szProblem.empty())
                Fail(pSession, kind, szProblem);
            else if (bLast && pSession->bSentinel)
            {
                // The sentinel has said all it can; the master is next.
                m_pSession.reset();
                pSession->pTransport->Close();
                OpenSession(&m_master, false);
            }
            else if (bLast)
                BecomeUp(pSession);
        });
        if (!Queue(pSession.get(), static_cast<int>(vecPointers.size()), vecPointers.data(), vecLengths.data(), pCall))
        {
            Fail(pSession, EStoreError::Connect, "out of memory");
            return;
        }
    }
    Flush(pSession);
}

void GRedisLink::BecomeUp(const std::shared_ptr<GSession>& pSession)
{
    m_state = EState::Up;
    m_stats.nLinksUp.fetch_add(1, std::memory_order_relaxed);
    m_backoff.Reset();
    const bool bSentinel = m_settings.address.kind == ERedisKind::Sentinel;
    if (bSentinel && m_stats.NoteMaster(DescribeEndpoint(m_master)))
        Log("failover: the master is now " + DescribeEndpoint(m_master));
    if (m_bDownLogged && m_stats.LastUp())
    {
        Log(std::string("up") + (bSentinel ? ", master at " + DescribeEndpoint(m_master) : std::string()) + "; "
            + std::to_string(m_stats.nRefused.exchange(0, std::memory_order_relaxed)) + " requests refused while down");
    }
    m_bDownLogged = false;
    m_bHolding = false;
    if (m_deqHeld.empty())
        return;
    pSession->strOut += m_strHeld;
    std::string().swap(m_strHeld);
    pSession->deqSent.insert(pSession->deqSent.end(), m_deqHeld.begin(), m_deqHeld.end());
    m_deqHeld.clear();
    m_nLastProgressMs = NowMs();
    Flush(pSession);
}

void GRedisLink::Fail(const std::shared_ptr<GSession>& pSession, EStoreError kind, const std::string& szWhy)
{
    if (pSession != m_pSession)
        return;
    m_pSession.reset();
    pSession->pTransport->Close();
    const bool bWasUp = m_state == EState::Up;
    if (bWasUp)
        m_stats.nLinksUp.fetch_sub(1, std::memory_order_relaxed);
    std::deque<GRedisCall*> deqSent;
    deqSent.swap(pSession->deqSent);

    const size_t nSentinels = m_settings.address.vecHosts.size();
    if (pSession->bSentinel)
        ++m_nSentinel;
    if (pSession->bSentinel && m_nSentinelsAsked < nSentinels)
    {
        // Within one attempt every sentinel gets its turn before any pause.
        for (GRedisCall* pCall : deqSent)
        {
            std::unique_ptr<GRedisCall> pOwned(pCall);
            pOwned->Done(nullptr);
        }
        AskSentinel();
        return;
    }

    m_state = EState::Waiting;
    m_stats.CountError(kind);
    if (!m_bDownLogged)
    {
        m_bDownLogged = true;
        if (m_stats.FirstDown())
            Log("down: " + szWhy + "; retrying");
    }
    // Right after a working link drops, one attempt is made at once and
    // requests wait for it; an attempt that fails answers those that waited.
    m_bHolding = bWasUp;
    if (!bWasUp)
        AnswerHeld();
    m_timerRetry.expires_after(std::chrono::milliseconds(m_backoff.Next()));
    m_timerRetry.async_wait([this](const asio::error_code& ec) {
        if (!ec)
            Attempt();
    });
    for (GRedisCall* pCall : deqSent)
    {
        std::unique_ptr<GRedisCall> pOwned(pCall);
        pOwned->Done(nullptr);
    }
}

void GRedisLink::AnswerHeld()
{
    m_stats.nHeldBytes.fetch_sub(m_strHeld.size(), std::memory_order_relaxed);
    std::string().swap(m_strHeld);
    std::deque<GRedisCall*> deqHeld;
    deqHeld.swap(m_deqHeld);
    for (GRedisCall* pCall : deqHeld)
    {
        std::unique_ptr<GRedisCall> pOwned(pCall);
        pOwned->Done(nullptr);
    }
}

// Into the session's output, or without one into the held requests.
bool GRedisLink::Queue(GSession* pSession, int nArgs, const char** ppArgs, const size_t* pLengths, GRedisCall* pCall)
{
    std::string& strTarget = pSession == nullptr ? m_strHeld : pSession->strOut;
    std::deque<GRedisCall*>& deqTarget = pSession == nullptr ? m_deqHeld : pSession->deqSent;
    char* pCommand = nullptr;
    const int nLength = redisFormatCommandArgv(&pCommand, nArgs, ppArgs, pLengths);
    if (nLength < 0)
    {
        delete pCall;
        return false;
    }
    try
    {
        deqTarget.push_back(pCall);
        try
        {
            strTarget.append(pCommand, static_cast<size_t>(nLength));
        }
        catch (...)
        {
            deqTarget.pop_back();
            throw;
        }
    }
    catch (...)
    {
        redisFreeCommand(pCommand);
        delete pCall;
        return false;
    }
    redisFreeCommand(pCommand);
    m_stats.nHeldBytes.fetch_add(static_cast<size_t>(nLength), std::memory_order_relaxed);
    if (deqTarget.size() == 1)
        m_nLastProgressMs = NowMs();
    return true;
}

bool GRedisLink::Command(int nArgs, const char** ppArgs, const size_t* pLengths, GRedisCall* pCall)
{
    if (m_state == EState::Up)
    {
        if (!Queue(m_pSession.get(), nArgs, ppArgs, pLengths, pCall))
            return false;
        Flush(m_pSession);
        return true;
    }
    if (m_bHolding)
        return Queue(nullptr, nArgs, ppArgs, pLengths, pCall);
    m_stats.nRefused.fetch_add(1, std::memory_order_relaxed);
    delete pCall;
    return false;
}

// Commands are written from a handler posted behind the ones running now, so
// that all the commands they issue go out in one write.
void GRedisLink::Flush(const std::shared_ptr<GSession>& pSession)
{
    if (pSession->bWriting || pSession->bFlushPosted || pSession->strOut.empty())
        return;
    pSession->bFlushPosted = true;
    asio::post(m_io, [this, pSession] {
        pSession->bFlushPosted = false;
        if (pSession != m_pSession || pSession->bWriting || pSession->strOut.empty())
            return;
        pSession->strWriting.swap(pSession->strOut);
        pSession->bWriting = true;
        pSession->pTransport->Write(asio::buffer(pSession->strWriting),
            [this, pSession](const asio::error_code& ec, size_t) {
                pSession->bWriting = false;
                m_stats.nHeldBytes.fetch_sub(pSession->strWriting.size(), std::memory_order_relaxed);
                if (pSession->strWriting.capacity() > kKeptWriteBuffer)
                    std::string().swap(pSession->strWriting);
                else
                    pSession->strWriting.clear();
                if (pSession != m_pSession)
                    return;
                if (ec)
                {
                    Fail(pSession, EStoreError::Connect, "connection lost: " + ec.message());
                    return;
                }
                Flush(pSession);
            });
    });
}

void GRedisLink::Read(const std::shared_ptr<GSession>& pSession)
{
    pSession->pTransport->ReadSome(asio::buffer(pSession->vecIn),
        [this, pSession](const asio::error_code& ec, size_t nBytes) { OnRead(pSession, ec, nBytes); });
}

void GRedisLink::OnRead(const std::shared_ptr<GSession>& pSession, const asio::error_code& ec, size_t nBytes)
{
    if (pSession != m_pSession)
        return;
    if (ec)
    {
        Fail(pSession, EStoreError::Connect,
            ec == asio::error::eof ? std::string("Redis closed the connection") : "connection lost: " + ec.message());
        return;
    }
    redisReader* pReader = pSession->pReader;
    if (redisReaderFeed(pReader, pSession->vecIn.data(), nBytes) != REDIS_OK)
    {
        Fail(pSession, EStoreError::Connect, "out of memory");
        return;
    }
    for (;;)
    {
        void* pObject = nullptr;
        if (redisReaderGetReply(pReader, &pObject) != REDIS_OK)
        {
            Fail(pSession, EStoreError::Connect, std::string("protocol error: ") + pReader->errstr);
            return;
        }
        if (pObject == nullptr)
            break;
        std::unique_ptr<GRedisReply> pReply(static_cast<GRedisReply*>(pObject));
        if (pSession->deqSent.empty())
        {
            Fail(pSession, EStoreError::Connect, "an answer to no command");
            return;
        }
        std::unique_ptr<GRedisCall> pCall(pSession->deqSent.front());
        pSession->deqSent.pop_front();
        m_nLastProgressMs = NowMs();
        // These say that this Redis is no longer the one to talk to as we
        // are: a replica now, or one that forgot our AUTH.
        const bool bElsewhere = m_state == EState::Up && (pReply->IsError("READONLY") || pReply->IsError("MASTERDOWN"));
        const bool bForgot = m_state == EState::Up && pReply->IsError("NOAUTH");
        pCall->Done(pReply.get());
        if (pSession != m_pSession)
            return;
        if (bElsewhere || bForgot)
        {
            Fail(pSession, bForgot ? EStoreError::Auth : EStoreError::Master,
                "Redis answered " + std::string(pReply->Text().substr(0, pReply->Text().find(' '))));
            return;
        }
    }
    // Only a reply still arriving stays in the reader's buffer; one larger
    // than any value could be is not waited for.
    if (pReader->len - pReader->pos > m_settings.nLongestAnswer)
    {
        Fail(pSession, EStoreError::Connect, "an answer larger than any value");
        return;
    }
    Read(pSession);
}

void GRedisLink::Tick(int64_t nNowMs)
{
    const std::shared_ptr<GSession> pSession = m_pSession;
    if (pSession == nullptr)
        return;
    if (m_state == EState::Connecting && nNowMs - m_nAttemptStartMs >= kConnectLimitMs)
        Fail(pSession, EStoreError::Timeout, "connect took too long");
    else if (m_state == EState::Up && !pSession->deqSent.empty() && nNowMs - m_nLastProgressMs >= kAnswerLimitMs)
        Fail(pSession, EStoreError::Timeout, "no answer for " + std::to_string(kAnswerLimitMs / 1000) + " s");
}
