// Counters the workers keep for GET /metrics, and their Prometheus text.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class GStore;
struct GRedisStats;

enum class EMetricCommand
{
    Set,
    Get,
    Del,
    Nop,
    Other,     // refused before a command was known
    Count,
};

enum class EMetricOutcome
{
    Ok,            // x-result-code 0
    Failed,        // x-result-code 1: not found, or not stored
    StoreError,    // 503: the store could not be asked
    Refused,       // any other status: the request itself was at fault
    Count,
};

// Upper bounds of the request-time histogram, in milliseconds.
constexpr int64_t kTimeBoundsMs[] = {1, 5, 10, 25, 50, 100, 250, 500, 1000, 2500, 5000, 10000};
constexpr size_t kTimeBounds = sizeof(kTimeBoundsMs) / sizeof(kTimeBoundsMs[0]);

// Written by one worker thread only, so a plain load and store replace the
// locked add; the page that sums them may read a count one request old.
struct alignas(64) GWorkerMetrics
{
    static void Bump(std::atomic<uint64_t>& n, uint64_t nBy = 1)
    {
        n.store(n.load(std::memory_order_relaxed) + nBy, std::memory_order_relaxed);
    }

    void CountRequest(EMetricCommand command, EMetricOutcome outcome, int64_t nMs)
    {
        Bump(nRequests[static_cast<size_t>(command)][static_cast<size_t>(outcome)]);
        size_t i = 0;
        while (i < kTimeBounds && nMs > kTimeBoundsMs[i])
            ++i;
        Bump(nTimeBuckets[i]);
        Bump(nTimeSumMs, static_cast<uint64_t>(nMs > 0 ? nMs : 0));
    }

    std::atomic<uint64_t> nRequests[static_cast<size_t>(EMetricCommand::Count)][static_cast<size_t>(EMetricOutcome::Count)] = {};
    std::atomic<uint64_t> nTimeBuckets[kTimeBounds + 1] = {};   // the last one: above every bound
    std::atomic<uint64_t> nTimeSumMs{0};
    std::atomic<uint64_t> nTimedOut{0};   // answered 408
    std::atomic<uint64_t> nDropped{0};    // under way when their connection closed
};

// Everything the page shows, owned by the server.
struct GMetricsBoard
{
    explicit GMetricsBoard(size_t nWorkerCount)
        : pWorkers(std::make_unique<GWorkerMetrics[]>(nWorkerCount)), nWorkers(nWorkerCount)
    {
    }

    std::unique_ptr<GWorkerMetrics[]> pWorkers;
    size_t nWorkers;
    const GStore* pMemory = nullptr;                      // null with the Redis store
    GRedisStats* pRedis = nullptr;                        // null with the memory store
    const std::atomic<uint32_t>* pConnections = nullptr;
    std::atomic<uint64_t> nRefusedConnections{0};
};

// The page in the Prometheus text format, version 0.0.4.
std::string RenderMetrics(const GMetricsBoard& board);

constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";
