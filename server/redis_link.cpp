// hiredis on Asio: the library's read and write hooks become waits on the
// worker's reactor; failures are retried with a growing, bounded pause.
#include "redis_link.h"

#include "shared.h"

#include <charconv>
#include <cstdio>
#include <hiredis/async.h>
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

bool ParseNumber(std::string_view sz, uint64_t nMax, uint64_t& n)
{
    if (sz.empty())
        return false;
    auto result = std::from_chars(sz.data(), sz.data() + sz.size(), n);
    return result.ec == std::errc() && result.ptr == sz.data() + sz.size() && n <= nMax;
}

} // namespace

std::string GRedisAddress::Describe() const
{
    if (bUnix)
        return "unix://" + szPath + (nDb != 0 ? "?db=" + std::to_string(nDb) : std::string());
    const bool bV6 = szHost.find(':') != std::string::npos;
    return "redis://" + (bV6 ? "[" + szHost + "]" : szHost) + ":" + std::to_string(nPort)
        + (nDb != 0 ? "/" + std::to_string(nDb) : std::string());
}

bool ParseRedisAddress(std::string_view szUrl, GRedisAddress& address)
{
    address = GRedisAddress{};
    uint64_t n = 0;
    if (szUrl.substr(0, 7) == "unix://")
    {
        std::string_view szPath = szUrl.substr(7);
        const size_t nQuery = szPath.find('?');
        if (nQuery != std::string_view::npos)
        {
            std::string_view szQuery = szPath.substr(nQuery + 1);
            szPath = szPath.substr(0, nQuery);
            if (szQuery.substr(0, 3) != "db=" || !ParseNumber(szQuery.substr(3), 1000000, n))
                return false;
            address.nDb = static_cast<uint32_t>(n);
        }
        if (szPath.empty() || szPath.front() != '/')
            return false;
        address.bUnix = true;
        address.szPath = std::string(szPath);
        return true;
    }
    if (szUrl.substr(0, 8) != "redis://")
        return false;
    std::string_view szRest = szUrl.substr(8);
    const size_t nSlash = szRest.find('/');
    if (nSlash != std::string_view::npos)
    {
        if (!ParseNumber(szRest.substr(nSlash + 1), 1000000, n))
            return false;
        address.nDb = static_cast<uint32_t>(n);
        szRest = szRest.substr(0, nSlash);
    }
    std::string_view szHost = szRest;
    if (!szRest.empty() && szRest.front() == '[')
    {
        const size_t nClose = szRest.find(']');
        if (nClose == std::string_view::npos)
            return false;
        szHost = szRest.substr(1, nClose - 1);
        szRest = szRest.substr(nClose + 1);
    }
    else
    {
        szHost = szRest.substr(0, szRest.find(':'));
        szRest = szRest.substr(szHost.size());
    }
    if (!szRest.empty())
    {
        if (szRest.front() != ':' || !ParseNumber(szRest.substr(1), 65535, n) || n == 0)
            return false;
        address.nPort = static_cast<uint16_t>(n);
    }
    if (szHost.empty() || szHost.find_first_of("@/?# ") != std::string_view::npos)
        return false;
    address.szHost = std::string(szHost);
    return true;
}

// What hiredis's hooks act on. Waits hold it alive, so a wait that ends after
// the context is gone finds the flag and does nothing. The descriptor is
// hiredis's: it is let go, never closed, here.
struct GRedisLink::GEvents : std::enable_shared_from_this<GRedisLink::GEvents>
{
    GEvents(asio::io_context& io, redisAsyncContext* pContext)
        : m_sd(io, pContext->c.fd), m_pContext(pContext)
    {
    }

    void Arm(bool bRead)
    {
        bool& bArmed = bRead ? m_bReadArmed : m_bWriteArmed;
        if (bArmed || m_pContext == nullptr)
            return;
        bArmed = true;
        m_sd.async_wait(bRead ? asio::posix::descriptor_base::wait_read : asio::posix::descriptor_base::wait_write,
            [pSelf = shared_from_this(), bRead](const asio::error_code& ec) {
                (bRead ? pSelf->m_bReadArmed : pSelf->m_bWriteArmed) = false;
                if (ec || pSelf->m_pContext == nullptr || !(bRead ? pSelf->m_bRead : pSelf->m_bWrite))
                    return;
                // Either call may end the context, which clears m_pContext
                // through the cleanup hook before returning.
                if (bRead)
                    redisAsyncHandleRead(pSelf->m_pContext);
                else
                    redisAsyncHandleWrite(pSelf->m_pContext);
                if (pSelf->m_pContext != nullptr && (bRead ? pSelf->m_bRead : pSelf->m_bWrite))
                    pSelf->Arm(bRead);
            });
    }

    // Commands are written from a handler posted behind the ones running now,
    // so that all the commands they issue go out in one write, without first
    // asking the reactor whether a socket that is nearly always writable is.
    // Only a write that did not finish waits for readiness.
    void PostWrite(asio::io_context& io)
    {
        if (m_bWritePosted || m_bWriteArmed || m_pContext == nullptr)
            return;
        m_bWritePosted = true;
        asio::post(io, [pSelf = shared_from_this()] {
            pSelf->m_bWritePosted = false;
            if (pSelf->m_pContext == nullptr || !pSelf->m_bWrite)
                return;
            redisAsyncHandleWrite(pSelf->m_pContext);
            if (pSelf->m_pContext != nullptr && pSelf->m_bWrite)
                pSelf->Arm(false);
        });
    }

    void Release()
    {
        m_pContext = nullptr;
        asio::error_code ec;
        m_sd.cancel(ec);
        m_sd.release();
    }

    asio::posix::stream_descriptor m_sd;
    redisAsyncContext* m_pContext;
    bool m_bRead = false;
    bool m_bWrite = false;
    bool m_bReadArmed = false;
    bool m_bWriteArmed = false;
    bool m_bWritePosted = false;
    asio::io_context* m_pIo = nullptr;
};

GRedisLink::GRedisLink(asio::io_context& io, const GRedisAddress& address)
    : m_io(io), m_address(address), m_timerRetry(io)
{
    Connect();
}

GRedisLink::~GRedisLink()
{
    Close();
}

void GRedisLink::Close()
{
    m_bStopping = true;
    m_timerRetry.cancel();
    redisAsyncContext* pContext = m_pContext;
    m_pContext = nullptr;
    if (pContext != nullptr)
        redisAsyncFree(pContext);   // answers every call still waiting, with no reply
}

void GRedisLink::Log(const std::string& szText)
{
    fprintf(stderr, "harbinet-server: redis at %s: %s\n", m_address.Describe().c_str(), szText.c_str());
}

void GRedisLink::Connect()
{
    m_bRetryPending = false;
    if (m_bStopping)
        return;
    redisAsyncContext* pContext = m_address.bUnix
        ? redisAsyncConnectUnix(m_address.szPath.c_str())
        : redisAsyncConnect(m_address.szHost.c_str(), m_address.nPort);
    if (pContext == nullptr || pContext->err != 0)
    {
        if (m_nFailures++ == 0)
            Log(pContext != nullptr ? pContext->errstr : "out of memory");
        if (pContext != nullptr)
            redisAsyncFree(pContext);
        ScheduleReconnect();
        return;
    }
    m_pContext = pContext;
    m_nConnectStartMs = NowMs();
    m_nLastProgressMs = m_nConnectStartMs;
    pContext->data = this;
    m_pEvents = std::make_shared<GEvents>(m_io, pContext);
    m_pEvents->m_pIo = &m_io;
    pContext->ev.data = m_pEvents.get();
    pContext->ev.addRead = [](void* p) {
        auto* pEvents = static_cast<GEvents*>(p);
        pEvents->m_bRead = true;
        pEvents->Arm(true);
    };
    pContext->ev.delRead = [](void* p) { static_cast<GEvents*>(p)->m_bRead = false; };
    pContext->ev.addWrite = [](void* p) {
        auto* pEvents = static_cast<GEvents*>(p);
        pEvents->m_bWrite = true;
        pEvents->PostWrite(*pEvents->m_pIo);
    };
    pContext->ev.delWrite = [](void* p) { static_cast<GEvents*>(p)->m_bWrite = false; };
    pContext->ev.cleanup = &GRedisLink::CleanUp;
    redisAsyncSetDisconnectCallback(pContext, &GRedisLink::OnDisconnect);
    // Setting this one also asks for the first write readiness, which tells
    // that the connect has finished.
    redisAsyncSetConnectCallback(pContext, &GRedisLink::OnConnect);
    if (m_address.nDb != 0)
    {
        const std::string szDb = std::to_string(m_address.nDb);
        const char* ppArgs[] = {"SELECT", szDb.c_str()};
        const size_t nLengths[] = {6, szDb.size()};
        // Sent before any other command, so every command of this link finds
        // the right database; a refusal shows in the log and drops the link.
        redisAsyncCommandArgv(pContext, [](redisAsyncContext* pContext, void* pReply, void*) {
            const auto* pR = static_cast<const redisReply*>(pReply);
            if (pR != nullptr && pR->type == REDIS_REPLY_ERROR)
            {
                auto* pLink = static_cast<GRedisLink*>(pContext->data);
                if (pLink->m_nFailures++ == 0)
                    pLink->Log(std::string("SELECT failed: ") + pR->str);
                redisAsyncDisconnect(pContext);
            }
        }, nullptr, 2, ppArgs, nLengths);
    }
}

void GRedisLink::OnConnect(const redisAsyncContext* pContext, int nStatus)
{
    auto* pLink = static_cast<GRedisLink*>(pContext->data);
    if (nStatus != REDIS_OK)
    {
        // hiredis frees the context right after this; the cleanup hook follows.
        if (pLink->m_nFailures++ == 0)
            pLink->Log(std::string("cannot connect: ") + pContext->errstr + "; retrying");
        return;
    }
    if (pLink->m_nFailures != 0)
        pLink->Log("connected again");
    pLink->m_bConnected = true;
    pLink->m_nFailures = 0;
}

void GRedisLink::OnDisconnect(const redisAsyncContext* pContext, int nStatus)
{
    auto* pLink = static_cast<GRedisLink*>(pContext->data);
    pLink->m_bConnected = false;
    if (nStatus != REDIS_OK && !pLink->m_bStopping)
        pLink->Log(std::string("connection lost: ") + (pContext->errstr != nullptr ? pContext->errstr : "") + "; reconnecting");
}

void GRedisLink::CleanUp(void* pData)
{
    auto* pEvents = static_cast<GEvents*>(pData);
    auto* pLink = static_cast<GRedisLink*>(pEvents->m_pContext != nullptr ? pEvents->m_pContext->data : nullptr);
    pEvents->Release();
    if (pLink != nullptr)
        pLink->ContextGone();
}

void GRedisLink::ContextGone()
{
    m_pContext = nullptr;
    m_bConnected = false;
    // The hook runs inside hiredis, which may still be using the events it
    // points to; the waits' own references keep them until they end.
    m_pEvents.reset();
    ScheduleReconnect();
}

void GRedisLink::ScheduleReconnect()
{
    if (m_bStopping || m_bRetryPending)
        return;
    m_bRetryPending = true;
    // The first retry after a working link comes at once; then the pause doubles.
    int64_t nDelayMs = 0;
    if (m_nFailures > 0)
        nDelayMs = std::min<int64_t>(kFirstRetryMs << std::min<uint32_t>(m_nFailures - 1, 16), kLongestRetryMs);
    m_timerRetry.expires_after(std::chrono::milliseconds(nDelayMs));
    m_timerRetry.async_wait([this](const asio::error_code& ec) {
        if (!ec)
            Connect();
    });
}

void GRedisLink::Drop(const char* szWhy)
{
    if (m_pContext == nullptr)
        return;
    if (m_nFailures++ == 0)
        Log(std::string(szWhy) + "; reconnecting");
    redisAsyncFree(m_pContext);
}

bool GRedisLink::Command(int nArgs, const char** ppArgs, const size_t* pLengths, GRedisCall* pCall)
{
    // While Redis is known to be down, requests fail at once rather than
    // wait for a connect that is likely to fail too; the first connect after a
    // working link is waited for, so a brief drop costs nobody an error.
    const bool bTake = !m_bStopping && m_pContext != nullptr && (m_bConnected || m_nFailures == 0);
    if (!bTake || redisAsyncCommandArgv(m_pContext, &GRedisLink::OnReply, pCall, nArgs, ppArgs, pLengths) != REDIS_OK)
    {
        delete pCall;
        return false;
    }
    if (m_nPending++ == 0)
        m_nLastProgressMs = NowMs();
    return true;
}

void GRedisLink::OnReply(redisAsyncContext* pContext, void* pReply, void* pData)
{
    auto* pLink = static_cast<GRedisLink*>(pContext->data);
    --pLink->m_nPending;
    pLink->m_nLastProgressMs = NowMs();
    std::unique_ptr<GRedisCall> pCall(static_cast<GRedisCall*>(pData));
    pCall->Done(static_cast<const redisReply*>(pReply));
}

void GRedisLink::Tick(int64_t nNowMs)
{
    if (m_pContext == nullptr)
        return;
    if (!m_bConnected && nNowMs - m_nConnectStartMs >= kConnectLimitMs)
        Drop("connect took too long");
    else if (m_nPending > 0 && nNowMs - m_nLastProgressMs >= kAnswerLimitMs)
        Drop("no answer");
}
