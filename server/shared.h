// What every worker and connection of one server reads: options, rules, store,
// the connection count.
#pragma once

#include "options.h"
#include "request.h"
#include "store.h"

#include <atomic>
#include <ctime>
#include <cstdint>

struct GServerShared
{
    GServerShared(const GServerOptions& options, GStore& store)
        : m_options(options), m_store(store)
    {
        m_rules.szBasePath = m_options.szBasePath;
        m_rules.nMaxValue = m_options.nMaxValue;
    }

    const GServerOptions& m_options;
    GRequestRules m_rules;
    GStore& m_store;
    std::atomic<uint32_t> m_nConnections{0};
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
