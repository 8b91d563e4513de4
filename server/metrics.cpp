// The metrics page: every worker's counters summed, the memory store's figures,
// in the Prometheus text format.
#include "metrics.h"

#include "redis_stats.h"
#include "store.h"

#include <cstdio>

namespace
{

const char* const kCommandNames[] = {"set", "get", "del", "nop", "other"};
const char* const kOutcomeNames[] = {"ok", "failed", "store_error", "refused"};
const char* const kStoreErrorNames[] = {"connect", "auth", "select", "master", "timeout", "reply", "busy", "replication"};
static_assert(sizeof(kStoreErrorNames) / sizeof(kStoreErrorNames[0]) == static_cast<size_t>(EStoreError::Count));

void Head(std::string& sz, const char* szName, const char* szType, const char* szHelp)
{
    sz += "# HELP ";
    sz += szName;
    sz += ' ';
    sz += szHelp;
    sz += "\n# TYPE ";
    sz += szName;
    sz += ' ';
    sz += szType;
    sz += '\n';
}

void Line(std::string& sz, const char* szName, const std::string& szLabels, uint64_t n)
{
    sz += szName;
    if (!szLabels.empty())
        sz += "{" + szLabels + "}";
    sz += ' ';
    sz += std::to_string(n);
    sz += '\n';
}

std::string Seconds(int64_t nMs)
{
    std::string sz = std::to_string(nMs / 1000);
    if (nMs % 1000 != 0)
    {
        char szFraction[8];
        snprintf(szFraction, sizeof(szFraction), ".%03d", static_cast<int>(nMs % 1000));
        sz += szFraction;
        while (sz.back() == '0')
            sz.pop_back();
    }
    return sz;
}

} // namespace

std::string RenderMetrics(const GMetricsBoard& board)
{
    constexpr size_t nCommands = static_cast<size_t>(EMetricCommand::Count);
    constexpr size_t nOutcomes = static_cast<size_t>(EMetricOutcome::Count);
    uint64_t nRequests[nCommands][nOutcomes] = {};
    uint64_t nBuckets[kTimeBounds + 1] = {};
    uint64_t nSumMs = 0;
    uint64_t nTimedOut = 0;
    uint64_t nDropped = 0;
    for (size_t w = 0; w < board.nWorkers; ++w)
    {
        const GWorkerMetrics& worker = board.pWorkers[w];
        for (size_t c = 0; c < nCommands; ++c)
            for (size_t o = 0; o < nOutcomes; ++o)
                nRequests[c][o] += worker.nRequests[c][o].load(std::memory_order_relaxed);
        for (size_t i = 0; i <= kTimeBounds; ++i)
            nBuckets[i] += worker.nTimeBuckets[i].load(std::memory_order_relaxed);
        nSumMs += worker.nTimeSumMs.load(std::memory_order_relaxed);
        nTimedOut += worker.nTimedOut.load(std::memory_order_relaxed);
        nDropped += worker.nDropped.load(std::memory_order_relaxed);
    }

    std::string sz;
    Head(sz, "harbinet_requests_total", "counter", "Requests answered, by command and outcome.");
    for (size_t c = 0; c < nCommands; ++c)
        for (size_t o = 0; o < nOutcomes; ++o)
            Line(sz, "harbinet_requests_total",
                std::string("command=\"") + kCommandNames[c] + "\",outcome=\"" + kOutcomeNames[o] + "\"",
                nRequests[c][o]);

    const size_t nGet = static_cast<size_t>(EMetricCommand::Get);
    Head(sz, "harbinet_get_hits_total", "counter", "Gets that found a value.");
    Line(sz, "harbinet_get_hits_total", "", nRequests[nGet][static_cast<size_t>(EMetricOutcome::Ok)]);
    Head(sz, "harbinet_get_misses_total", "counter", "Gets that found no value.");
    Line(sz, "harbinet_get_misses_total", "", nRequests[nGet][static_cast<size_t>(EMetricOutcome::Failed)]);

    uint64_t nStoreErrors = 0;
    for (size_t c = 0; c < nCommands; ++c)
        nStoreErrors += nRequests[c][static_cast<size_t>(EMetricOutcome::StoreError)];
    Head(sz, "harbinet_store_errors_total", "counter", "Requests answered 503 because the store failed.");
    Line(sz, "harbinet_store_errors_total", "", nStoreErrors);

    Head(sz, "harbinet_requests_timed_out_total", "counter",
        "Requests answered 408 because they took longer than the request time-out.");
    Line(sz, "harbinet_requests_timed_out_total", "", nTimedOut);
    Head(sz, "harbinet_requests_dropped_total", "counter",
        "Requests under way, not yet answered, when their connection closed.");
    Line(sz, "harbinet_requests_dropped_total", "", nDropped);

    if (board.pMemory != nullptr)
    {
        Head(sz, "harbinet_stored_bytes", "gauge", "Bytes the memory store holds, bookkeeping included.");
        Line(sz, "harbinet_stored_bytes", "", board.pMemory->UsedBytes());
        Head(sz, "harbinet_stored_items", "gauge", "Values the memory store holds.");
        Line(sz, "harbinet_stored_items", "", board.pMemory->Count());
        Head(sz, "harbinet_evictions_total", "counter", "Live values dropped to make room.");
        Line(sz, "harbinet_evictions_total", "", board.pMemory->Evictions());
    }

    if (board.pRedis != nullptr)
    {
        const GRedisStats& redis = *board.pRedis;
        const uint32_t nLinks = redis.nLinks.load(std::memory_order_relaxed);
        Head(sz, "harbinet_store_up", "gauge", "1 while every worker's link to Redis is usable.");
        Line(sz, "harbinet_store_up", "", nLinks != 0 && redis.nLinksUp.load(std::memory_order_relaxed) == nLinks);
        Head(sz, "harbinet_store_held_bytes", "gauge", "Bytes held for requests waiting on Redis.");
        Line(sz, "harbinet_store_held_bytes", "", redis.nHeldBytes.load(std::memory_order_relaxed));
        Head(sz, "harbinet_store_failures_total", "counter", "Failures of the Redis store, by kind.");
        for (size_t i = 0; i < static_cast<size_t>(EStoreError::Count); ++i)
            Line(sz, "harbinet_store_failures_total", std::string("kind=\"") + kStoreErrorNames[i] + "\"",
                redis.nErrors[i].load(std::memory_order_relaxed));
        Head(sz, "harbinet_store_failovers_total", "counter", "Times the Redis master changed.");
        Line(sz, "harbinet_store_failovers_total", "", redis.nFailovers.load(std::memory_order_relaxed));
    }
    else
    {
        Head(sz, "harbinet_store_up", "gauge", "1 while the store is usable.");
        Line(sz, "harbinet_store_up", "", 1);
    }

    Head(sz, "harbinet_connections_open", "gauge", "Client connections open now.");
    Line(sz, "harbinet_connections_open", "",
        board.pConnections != nullptr ? board.pConnections->load(std::memory_order_relaxed) : 0);
    Head(sz, "harbinet_connections_refused_total", "counter", "Connections turned away at the connection limit.");
    Line(sz, "harbinet_connections_refused_total", "", board.nRefusedConnections.load(std::memory_order_relaxed));

    Head(sz, "harbinet_request_duration_seconds", "histogram",
        "Time from a request's first byte to its reply, on a clock of a few milliseconds' grain.");
    uint64_t nCumulative = 0;
    for (size_t i = 0; i < kTimeBounds; ++i)
    {
        nCumulative += nBuckets[i];
        Line(sz, "harbinet_request_duration_seconds_bucket", "le=\"" + Seconds(kTimeBoundsMs[i]) + "\"", nCumulative);
    }
    nCumulative += nBuckets[kTimeBounds];
    Line(sz, "harbinet_request_duration_seconds_bucket", "le=\"+Inf\"", nCumulative);
    sz += "harbinet_request_duration_seconds_sum " + Seconds(static_cast<int64_t>(nSumMs)) + "\n";
    Line(sz, "harbinet_request_duration_seconds_count", "", nCumulative);
    return sz;
}
