// One hiredis connection driven by a worker's own event loop: commands are
// pipelined on it, and it reconnects by itself after a failure.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct redisAsyncContext;
struct redisReply;

// Where Redis is: redis://HOST:PORT[/DB] or unix:///path[?db=N].
struct GRedisAddress
{
    bool bUnix = false;
    std::string szHost;
    uint16_t nPort = 6379;
    std::string szPath;
    uint32_t nDb = 0;

    std::string Describe() const;
};

// False when the text is not one of the two forms.
bool ParseRedisAddress(std::string_view szUrl, GRedisAddress& address);

// A command in flight; Done is called exactly once, with a null reply when the
// link failed before an answer came, and the call is deleted right after.
class GRedisCall
{
public:
    virtual ~GRedisCall() = default;
    virtual void Done(const redisReply* pReply) = 0;
};

class GRedisLink
{
public:
    GRedisLink(asio::io_context& io, const GRedisAddress& address);
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

    struct GEvents;

private:
    void Connect();
    void ScheduleReconnect();
    void Drop(const char* szWhy);
    void ContextGone();
    void Log(const std::string& szText);
    static void OnConnect(const redisAsyncContext* pContext, int nStatus);
    static void OnDisconnect(const redisAsyncContext* pContext, int nStatus);
    static void OnReply(redisAsyncContext* pContext, void* pReply, void* pData);
    static void CleanUp(void* pData);

    asio::io_context& m_io;
    const GRedisAddress m_address;
    asio::steady_timer m_timerRetry;
    redisAsyncContext* m_pContext = nullptr;
    std::shared_ptr<GEvents> m_pEvents;
    bool m_bConnected = false;
    bool m_bStopping = false;
    bool m_bRetryPending = false;
    uint32_t m_nFailures = 0;       // connects that failed since the last one that worked
    uint64_t m_nPending = 0;
    int64_t m_nConnectStartMs = 0;
    int64_t m_nLastProgressMs = 0;
};
