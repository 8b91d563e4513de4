// The server: listening socket, worker threads, the store's sweep and the
// stop signals.
#pragma once

#include "metrics.h"
#include "options.h"
#include "redis_link.h"
#include "shared.h"
#include "store.h"
#include "worker.h"

#include <asio.hpp>
#include <memory>
#include <string>
#include <vector>

class GServer
{
public:
    explicit GServer(const GServerOptions& options);
    ~GServer();
    GServer(const GServer&) = delete;
    GServer& operator=(const GServer&) = delete;

    // Binds and listens. False, with szError saying why, when it cannot.
    bool Open(std::string& szError);

    // The line printed on start: where it listens and with which limits.
    std::string Describe() const;

    // Serves until SIGINT or SIGTERM arrives, or Stop is called.
    void Run();
    void Stop();

private:
    void Accept();
    void ScheduleSweep();

    const GServerOptions m_options;
    std::unique_ptr<GStore> m_pMemory;   // null when values are kept in Redis
    GRedisSettings m_redis;              // used when they are
    GRedisStats m_redisStats;
    // Written on every connect and disconnect, so on a cache line of its own.
    alignas(64) std::atomic<uint32_t> m_nConnections{0};
    GMetricsBoard m_board;
    std::vector<std::unique_ptr<GWorker>> m_vecWorkers;
    asio::ip::tcp::acceptor m_acceptor;
    asio::signal_set m_signals;
    asio::steady_timer m_timerSweep;
    asio::steady_timer m_timerAcceptPause;
    size_t m_nNextWorker = 0;
    uint64_t m_nFreedSinceTrim = 0;
    int64_t m_nLastAcceptWarningMs = -100000;
    bool m_bStopping = false;
};
