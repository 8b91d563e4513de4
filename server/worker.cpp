// Worker threads: running an I/O context and watching its connections' deadlines.
#include "worker.h"

#include "connection.h"
#include "redis_store.h"

#include <memory>

// Each socket is only ever touched by the thread of the worker that owns it,
// so the context can do without locking around every read and write.
GWorker::GWorker(const GServerOptions& options, GStore* pMemory, const GRedisSettings* pRedis,
    std::atomic<uint32_t>& nConnections, GMetricsBoard& board, GWorkerMetrics& metrics)
    : m_shared(options, nConnections, board, metrics), m_io(ASIO_CONCURRENCY_HINT_UNSAFE_IO), m_guard(asio::make_work_guard(m_io)), m_timerTick(m_io)
{
    if (pMemory != nullptr)
        m_pStore = std::make_unique<GMemoryStore>(*pMemory);
    else
        m_pStore = std::make_unique<GRedisStore>(m_io, *pRedis, m_shared.m_options, *board.pRedis);
    m_shared.m_pStore = m_pStore.get();
    ScheduleTick();
}

GWorker::~GWorker()
{
    Stop();
    Join();
    // Calls still waiting on Redis are answered with an error now, while the
    // connections that wait for them and the context are all still there.
    m_pStore->Close();
    m_pStore.reset();
}

void GWorker::StartThread()
{
    m_thread = std::thread([this] { m_io.run(); });
}

void GWorker::RunHere()
{
    m_io.run();
}

void GWorker::Stop()
{
    m_io.stop();
}

void GWorker::Join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void GWorker::Adopt(GSocket sock, bool bRefuse)
{
    auto pConnection = std::make_shared<GConnection>(m_shared, m_connections, std::move(sock));
    if (bRefuse)
        pConnection->Refuse();
    else
        pConnection->Start();
}

void GWorker::ScheduleTick()
{
    // Deadlines are seconds long, so one look a second is enough, and it
    // keeps timers out of the path of every request.
    m_timerTick.expires_after(std::chrono::seconds(1));
    m_timerTick.async_wait([this](const asio::error_code& ec) {
        if (ec)
            return;
        const int64_t nNowMs = NowMs();
        m_connections.ForEach([nNowMs](GConnection& connection) { connection.CheckDeadlines(nNowMs); });
        m_pStore->Tick(nNowMs);
        ScheduleTick();
    });
}
