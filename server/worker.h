// One worker thread: its own I/O context, the connections it serves, and the
// once-a-second look at their deadlines.
#pragma once

#include "connection_list.h"
#include "shared.h"
#include "socket.h"

#include <asio.hpp>
#include <memory>
#include <thread>

struct GRedisSettings;

class GWorker
{
public:
    // With pMemory the worker uses that store; without, the Redis store of
    // pRedis, on a link of its own.
    GWorker(const GServerOptions& options, GStore* pMemory, const GRedisSettings* pRedis,
        std::atomic<uint32_t>& nConnections, GMetricsBoard& board, GWorkerMetrics& metrics);
    ~GWorker();
    GWorker(const GWorker&) = delete;
    GWorker& operator=(const GWorker&) = delete;

    asio::io_context& Io() { return m_io; }
    GServerShared& Shared() { return m_shared; }

    // Runs the context on a thread of its own, or on the calling thread.
    void StartThread();
    void RunHere();
    void Stop();
    void Join();

    // Takes over a freshly accepted socket; called on this worker's thread.
    // With bRefuse the client is told that the server is full.
    void Adopt(GSocket sock, bool bRefuse);

private:
    void ScheduleTick();

    GServerShared m_shared;
    // Connections unlink themselves when destroyed, which may happen while
    // the context below is torn down, so the list is declared before it.
    GConnectionList m_connections;
    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_guard;
    asio::steady_timer m_timerTick;
    // After the context: a Redis link's waits are on it and go first.
    std::unique_ptr<IStore> m_pStore;
    std::thread m_thread;
};
