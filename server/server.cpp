// The server: accepting and spreading connections over the workers, sweeping
// expired values, stopping on a signal.
#include "server.h"

#include "redis_link.h"

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <stdexcept>

namespace
{

uint32_t WorkerCount(const GServerOptions& options)
{
    return std::max<uint32_t>(options.nThreads, 1);
}

std::vector<std::unique_ptr<GWorker>> MakeWorkers(const GServerOptions& options, GStore* pMemory,
    const GRedisSettings& redis, std::atomic<uint32_t>& nConnections, GMetricsBoard& board)
{
    std::vector<std::unique_ptr<GWorker>> vecWorkers;
    for (uint32_t i = 0; i < WorkerCount(options); ++i)
        vecWorkers.push_back(std::make_unique<GWorker>(options, pMemory, &redis, nConnections, board, board.pWorkers[i]));
    return vecWorkers;
}

GMetricsBoard& FillBoard(GMetricsBoard& board, const GStore* pMemory, GRedisStats* pRedis,
    const std::atomic<uint32_t>& nConnections)
{
    board.pMemory = pMemory;
    board.pRedis = pMemory == nullptr ? pRedis : nullptr;
    board.pConnections = &nConnections;
    return board;
}

GRedisSettings RedisSettings(const GServerOptions& options)
{
    GRedisSettings settings;
    std::string szError;
    if (!MakeRedisSettings(options, settings, szError))
        throw std::runtime_error(szError);
    return settings;
}

} // namespace

GServer::GServer(const GServerOptions& options)
    : m_options(options),
      m_pMemory(options.szStore == "memory" ? std::make_unique<GStore>(options.nMemoryLimit) : nullptr),
      m_redis(RedisSettings(options)),
      m_board(WorkerCount(options)),
      m_vecWorkers(MakeWorkers(m_options, m_pMemory.get(), m_redis, m_nConnections,
          FillBoard(m_board, m_pMemory.get(), &m_redisStats, m_nConnections))),
      m_acceptor(m_vecWorkers[0]->Io()),
      m_signals(m_vecWorkers[0]->Io(), SIGINT, SIGTERM),
      m_timerSweep(m_vecWorkers[0]->Io()),
      m_timerAcceptPause(m_vecWorkers[0]->Io())
{
}

// Members go in reverse order: the acceptor and timers before worker 0's
// context that they live on, the workers (and the entries their connections
// still hold) before the store.
GServer::~GServer()
{
    Stop();
    for (auto& pWorker : m_vecWorkers)
        pWorker->Join();
}

bool GServer::Open(std::string& szError)
{
    asio::error_code ec;
    const asio::ip::address address = asio::ip::make_address(m_options.szListen, ec);
    if (ec)
    {
        szError = "--listen " + m_options.szListen + " is not an IP address";
        return false;
    }
    const asio::ip::tcp::endpoint endpoint(address, m_options.nPort);
    const std::string szWhere = (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string())
        + ":" + std::to_string(m_options.nPort);

    m_acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        m_acceptor.bind(endpoint, ec);
    if (!ec)
        m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
    {
        szError = "cannot listen on " + szWhere + ": " + ec.message();
        return false;
    }
    return true;
}

std::string GServer::Describe() const
{
    asio::error_code ec;
    const asio::ip::tcp::endpoint endpoint = m_acceptor.local_endpoint(ec);
    const asio::ip::address address = endpoint.address();
    std::string sz = "harbinet-server listening on ";
    sz += address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    sz += ":" + std::to_string(endpoint.port());
    sz += " base-path " + m_options.szBasePath;
    sz += " memory-limit " + FormatSize(m_options.nMemoryLimit);
    sz += " max-value-size " + FormatSize(m_options.nMaxValue);
    sz += " max-head-size " + std::to_string(m_options.nMaxHead);
    sz += " max-connections " + std::to_string(m_options.nMaxConnections);
    sz += " idle-timeout ";
    sz += m_options.nIdleTimeout == 0 ? std::string("off") : std::to_string(m_options.nIdleTimeout) + "s";
    sz += " request-timeout ";
    sz += m_options.nRequestTimeout == 0 ? std::string("off") : std::to_string(m_options.nRequestTimeout) + "s";
    sz += " threads " + std::to_string(m_options.nThreads);
    sz += m_options.bIssueCookies ? " issue-cookies on" : " issue-cookies off";
    if (m_pMemory != nullptr)
        sz += " store memory";
    else
    {
        sz += " store " + m_redis.address.Describe() + " key-prefix " + m_options.szKeyPrefix;
        if (m_options.nRedisWait != 0)
            sz += " redis-wait " + std::to_string(m_options.nRedisWait);
    }
    sz += m_options.bMetrics ? " metrics on" : " metrics off";
    return sz;
}

void GServer::Run()
{
    m_signals.async_wait([this](const asio::error_code& ec, int) {
        if (!ec)
            Stop();
    });
    Accept();
    if (m_pMemory != nullptr)
        ScheduleSweep();
    for (size_t i = 1; i < m_vecWorkers.size(); ++i)
        m_vecWorkers[i]->StartThread();
    m_vecWorkers[0]->RunHere();
    for (auto& pWorker : m_vecWorkers)
    {
        pWorker->Stop();
        pWorker->Join();
    }
}

void GServer::Stop()
{
    if (m_bStopping)
        return;
    m_bStopping = true;
    for (auto& pWorker : m_vecWorkers)
        pWorker->Stop();
}

void GServer::Accept()
{
    GWorker& worker = *m_vecWorkers[m_nNextWorker];
    m_nNextWorker = (m_nNextWorker + 1) % m_vecWorkers.size();
    m_acceptor.async_accept(worker.Io().get_executor(), [this, &worker](const asio::error_code& ec, GSocket sock) {
        if (ec == asio::error::operation_aborted || !m_acceptor.is_open())
            return;
        if (ec)
        {
            const int64_t nNowMs = NowMs();
            if (nNowMs - m_nLastAcceptWarningMs >= 10000)
            {
                fprintf(stderr, "harbinet-server: accepting a connection failed: %s\n", ec.message().c_str());
                m_nLastAcceptWarningMs = nNowMs;
            }
            // Out of descriptors or memory: accepting again at once would only
            // spin, so wait a little for connections to close.
            m_timerAcceptPause.expires_after(std::chrono::milliseconds(100));
            m_timerAcceptPause.async_wait([this](const asio::error_code& ecTimer) {
                if (!ecTimer)
                    Accept();
            });
            return;
        }
        const uint32_t nBefore = m_nConnections.fetch_add(1, std::memory_order_relaxed);
        const bool bRefuse = nBefore >= m_options.nMaxConnections;
        if (bRefuse)
            GWorkerMetrics::Bump(m_board.nRefusedConnections);
        asio::post(worker.Io(), [&worker, bRefuse, sock = std::move(sock)]() mutable {
            worker.Adopt(std::move(sock), bRefuse);
        });
        Accept();
    });
}

void GServer::ScheduleSweep()
{
    m_timerSweep.expires_after(std::chrono::milliseconds(250));
    m_timerSweep.async_wait([this](const asio::error_code& ec) {
        if (ec)
            return;
        // An eighth of the table four times a second: every expired value is
        // found within about two seconds without holding the lock for long.
        const size_t nBuckets = m_pMemory->BucketCount() / 8 + 64;
        m_pMemory->Sweep(NowMs(), nBuckets);

        // Freed heap chunks stay resident until the allocator is asked to
        // give their pages back; without this, memory written past the limit
        // would show up as resident memory even though nothing holds it.
        m_nFreedSinceTrim += m_pMemory->TakeFreedBytes();
        const uint64_t nTrimAfter = std::max<uint64_t>(m_options.nMemoryLimit / 32, 1024 * 1024);
        if (m_nFreedSinceTrim >= nTrimAfter)
        {
            malloc_trim(0);
            m_nFreedSinceTrim = 0;
        }
        ScheduleSweep();
    });
}
