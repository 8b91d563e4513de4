// What every worker and connection of one server reads: options, rules, store,
// the connection count.
#pragma once

#include "options.h"
#include "request.h"
#include "store.h"

#include <atomic>
#include <chrono>
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
inline int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}
