// What a worker and its connections read: the options and rules (each worker
// has its own copy), its store and counters, and the server's metrics board.
#pragma once

#include "metrics.h"
#include "options.h"
#include "request.h"
#include "value_store.h"

#include <atomic>
#include <ctime>
#include <cstdint>

// A copy per worker: options read on every request must not share a cache
// line with anything another thread writes, or every request pays for it.
struct GServerShared
{
    GServerShared(const GServerOptions& options, std::atomic<uint32_t>& nConnections, GMetricsBoard& board,
        GWorkerMetrics& metrics)
        : m_options(options), m_nConnections(nConnections), m_board(board), m_metrics(metrics)
    {
        m_rules.szBasePath = m_options.szBasePath;
        m_rules.nMaxValue = m_options.nMaxValue;
        m_rules.bMetrics = m_options.bMetrics;
    }
    GServerShared(const GServerShared&) = delete;
    GServerShared& operator=(const GServerShared&) = delete;

    const GServerOptions m_options;
    GRequestRules m_rules;   // its base path points into m_options
    IStore* m_pStore = nullptr;   // the worker's, set once it exists
    std::atomic<uint32_t>& m_nConnections;
    GMetricsBoard& m_board;
    GWorkerMetrics& m_metrics;
};

// Milliseconds on a clock that never goes back; never 0, so 0 can mean "unset".
// The coarse clock is read without touching the hardware clock source, which on
// virtual machines is dear; its few milliseconds of granularity are nothing
// beside lifetimes counted in seconds.
inline int64_t NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000 + 1;
}
