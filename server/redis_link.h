// One worker's connection to Redis: commands are pipelined on it in hiredis's
// format and answered in order through hiredis's reader, over an Asio stream.
// It counts as up only once Redis accepted AUTH and SELECT (and, behind
// Sentinel, said that it is the master); until then no request is sent.
#pragma once

#include "backoff.h"
#include "redis_address.h"
#include "redis_reply.h"
#include "redis_stats.h"

#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace asio::ssl
{
class context;
}

struct GRedisSettings
{
    GRedisAddress address;
    std::string szTlsCa;
    std::string szTlsCert;
    std::string szTlsKey;
    uint64_t nLongestAnswer = 64ull * 1024 * 1024;   // a bound for the reader's buffer
};

// A command in flight; Done is called exactly once, with a null reply when the
// link failed before an answer came, and the call is deleted right after.
class GRedisCall
{
public:
    virtual ~GRedisCall() = default;
    virtual void Done(GRedisReply* pReply) = 0;
};

class GRedisLink
{
public:
    GRedisLink(asio::io_context& io, const GRedisSettings& settings, GRedisStats& stats);
    ~GRedisLink();
    GRedisLink(const GRedisLink&) = delete;
    GRedisLink& operator=(const GRedisLink&) = delete;

    // Queues a command. False, with pCall deleted and never called, when the
    // link cannot take commands now (Redis is down and being retried).
    bool Command(int nArgs, const char** ppArgs, const size_t* pLengths, GRedisCall* pCall);

    // Once a second: gives up on a connect or an answer that takes too long.
    void Tick(int64_t nNowMs);

    // Ends the link for good: calls still waiting are answered with no reply.
    void Close();

    struct GSession;

private:
    enum class EState
    {
        Connecting,   // asking the sentinels, connecting, or waiting for AUTH and SELECT
        Waiting,      // for the next attempt
        Up,
        Closed,
    };

    void Attempt();
    void AskSentinel();
    void OpenSession(const GRedisEndpoint* pEndpoint, bool bSentinel);
    void Handshake(const std::shared_ptr<GSession>& pSession);
    void Step(const std::shared_ptr<GSession>& pSession, const char* const* ppArgs, int nArgs,
        std::function<bool(const GRedisReply&)> fnCheck, EStoreError kind, bool bLast);
    void BecomeUp(const std::shared_ptr<GSession>& pSession);
    void FoundMaster(const std::shared_ptr<GSession>& pSession, const GRedisReply& reply);
    void Fail(const std::shared_ptr<GSession>& pSession, EStoreError kind, const std::string& szWhy);
    void AnswerHeld();
    bool Queue(GSession* pSession, int nArgs, const char** ppArgs, const size_t* pLengths, GRedisCall* pCall);
    void Flush(const std::shared_ptr<GSession>& pSession);
    void Read(const std::shared_ptr<GSession>& pSession);
    void OnRead(const std::shared_ptr<GSession>& pSession, const asio::error_code& ec, size_t nBytes);
    void Log(const std::string& szText) const;

    asio::io_context& m_io;
    const GRedisSettings& m_settings;
    GRedisStats& m_stats;
    std::unique_ptr<asio::ssl::context> m_pTls;
    asio::steady_timer m_timerRetry;
    std::shared_ptr<GSession> m_pSession;
    EState m_state = EState::Connecting;
    GBackoff m_backoff;
    int64_t m_nAttemptStartMs = 0;
    int64_t m_nLastProgressMs = 0;

    // Requests that came while a first attempt (at start, or right after a
    // working link dropped) was under way; they go out once the link is up,
    // or fail with the attempt.
    bool m_bHolding = true;
    std::string m_strHeld;
    std::deque<GRedisCall*> m_deqHeld;

    size_t m_nSentinel = 0;          // the sentinel to ask next
    size_t m_nSentinelsAsked = 0;    // in this attempt
    GRedisEndpoint m_master;         // as the last sentinel named it
    bool m_bDownLogged = false;      // counted among the links that are down
};
