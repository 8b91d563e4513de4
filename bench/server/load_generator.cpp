// harbinet-load: C connections, each a loop of non-pipelined set and get of
// small values, against harbinet-server, memcached or redis-server; prints
// operations per second and latency percentiles. The connections are driven
// either by one thread on epoll (--mode event) or by one thread each on a
// blocking socket (--mode blocking), as most application clients are.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <atomic>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

enum class EProtocol
{
    Harbinet,
    Memcached,
    Redis,
};

enum class EReply
{
    Incomplete,
    Good,
    Bad,
};

struct GLoadOptions
{
    EProtocol protocol = EProtocol::Harbinet;
    std::string szHost = "127.0.0.1";
    uint16_t nPort = 8077;
    int nConnections = 1;
    double dSeconds = 3.0;
    double dWarmup = 0.5;
    size_t nValueSize = 24;
    int nKeys = 100;
    uint64_t nMaxOps = 50000000;
    std::string szBasePath = "/";
    bool bBlocking = false;
};

int64_t NowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Latencies to the microsecond up to one second; slower ones share the last slot.
class GHistogram
{
public:
    GHistogram() : m_vecCounts(1000001, 0) {}
    void Record(int64_t nNs)
    {
        const int64_t nUs = std::min<int64_t>(nNs / 1000, 1000000);
        ++m_vecCounts[static_cast<size_t>(nUs)];
        ++m_nTotal;
    }
    uint64_t Total() const { return m_nTotal; }
    double Percentile(double dFraction) const
    {
        const uint64_t nRank = static_cast<uint64_t>(dFraction * static_cast<double>(m_nTotal));
        uint64_t nSeen = 0;
        for (size_t i = 0; i < m_vecCounts.size(); ++i)
        {
            nSeen += m_vecCounts[i];
            if (nSeen > nRank)
                return static_cast<double>(i) + 0.5;
        }
        return static_cast<double>(m_vecCounts.size());
    }

private:
    std::vector<uint64_t> m_vecCounts;
    uint64_t m_nTotal = 0;
};

struct GLoadConnection
{
    int nFd = -1;
    int nIndex = 0;
    int nKey = 0;
    bool bGet = false;
    int64_t nSentNs = 0;
    // Replies are received straight into this buffer, with no copy, for
    // every protocol alike; it holds the largest reply expected.
    std::vector<char> vecIn;
    size_t nIn = 0;
    // Requests are made once up front so that the generator spends its time
    // on the wire, not on building text; the servers share the machine with it.
    std::vector<std::string> vecSets;
    std::vector<std::string> vecGets;
};

std::string MakeKey(int nConnection, int nKey)
{
    return "bench:" + std::to_string(nConnection) + ":" + std::to_string(nKey);
}

// The same request shapes the Harbinet client sends: a 24-byte VARIANT image
// typed as VT_I4, then a get of the same name.
std::string FormatRequest(const GLoadOptions& options, const std::string& strKey, bool bGet,
    const std::string& strValue)
{
    std::string str;
    switch (options.protocol)
    {
    case EProtocol::Harbinet:
        str = "POST " + options.szBasePath + (bGet ? "get" : "set") + " HTTP/1.1\r\nhost: " + options.szHost + "\r\n";
        if (bGet)
            str += "content-length: 0\r\n";
        else
            str += "content-type: application/x-variant-3\r\ncontent-length: " + std::to_string(strValue.size()) + "\r\n";
        str += "x-param-name: " + strKey + "\r\n";
        if (!bGet)
            str += "x-param-timeout: 0\r\n";
        str += "\r\n";
        if (!bGet)
            str += strValue;
        break;
    case EProtocol::Memcached:
        if (bGet)
            str = "get " + strKey + "\r\n";
        else
            str = "set " + strKey + " 0 0 " + std::to_string(strValue.size()) + "\r\n" + strValue + "\r\n";
        break;
    case EProtocol::Redis:
        if (bGet)
            str = "*2\r\n$3\r\nGET\r\n$" + std::to_string(strKey.size()) + "\r\n" + strKey + "\r\n";
        else
            str = "*3\r\n$3\r\nSET\r\n$" + std::to_string(strKey.size()) + "\r\n" + strKey + "\r\n$"
                + std::to_string(strValue.size()) + "\r\n" + strValue + "\r\n";
        break;
    }
    return str;
}

uint64_t LeadingNumber(std::string_view sz)
{
    uint64_t n = 0;
    size_t i = 0;
    while (i < sz.size() && sz[i] == ' ')
        ++i;
    for (; i < sz.size() && sz[i] >= '0' && sz[i] <= '9'; ++i)
        n = n * 10 + static_cast<uint64_t>(sz[i] - '0');
    return n;
}

// Whether the buffered bytes hold one whole reply, and whether it says what
// it should: stored, or found with a body of the value's size.
EReply CheckReply(const GLoadOptions& options, std::string_view sz, bool bGet)
{
    switch (options.protocol)
    {
    case EProtocol::Harbinet:
    {
        const size_t nEnd = sz.find("\r\n\r\n");
        if (nEnd == std::string_view::npos)
            return EReply::Incomplete;
        uint64_t nLength = 0;
        int nCode = -1;
        // Header names in any case; only two are wanted, so a line is
        // compared only when its first letter could start one of them.
        size_t nPos = sz.find("\r\n") + 2;
        while (nPos < nEnd + 2)
        {
            const size_t nLineEnd = sz.find("\r\n", nPos);
            const char cFirst = static_cast<char>(sz[nPos] | 0x20);
            if (cFirst == 'c' && nLineEnd - nPos > 15 && strncasecmp(sz.data() + nPos, "content-length:", 15) == 0)
                nLength = LeadingNumber(sz.substr(nPos + 15, nLineEnd - nPos - 15));
            else if (cFirst == 'x' && nLineEnd - nPos > 14 && strncasecmp(sz.data() + nPos, "x-result-code:", 14) == 0)
                nCode = static_cast<int>(LeadingNumber(sz.substr(nPos + 14, nLineEnd - nPos - 14)));
            nPos = nLineEnd + 2;
        }
        if (sz.size() < nEnd + 4 + nLength)
            return EReply::Incomplete;
        const bool bGood = sz.substr(0, 13) == "HTTP/1.1 200 " && nCode == 0
            && (!bGet || nLength == options.nValueSize);
        return bGood ? EReply::Good : EReply::Bad;
    }
    case EProtocol::Memcached:
    {
        const size_t nLineEnd = sz.find("\r\n");
        if (nLineEnd == std::string_view::npos)
            return EReply::Incomplete;
        if (!bGet)
            return sz.substr(0, nLineEnd) == "STORED" ? EReply::Good : EReply::Bad;
        if (sz.substr(0, 6) != "VALUE ")
            return EReply::Bad;
        const size_t nLastSpace = sz.substr(0, nLineEnd).rfind(' ');
        const uint64_t nLength = LeadingNumber(sz.substr(nLastSpace + 1, nLineEnd - nLastSpace - 1));
        const size_t nWhole = nLineEnd + 2 + nLength + 2 + 5;
        if (sz.size() < nWhole)
            return EReply::Incomplete;
        return nLength == options.nValueSize && sz.substr(nWhole - 5) == "END\r\n" ? EReply::Good : EReply::Bad;
    }
    case EProtocol::Redis:
    {
        const size_t nLineEnd = sz.find("\r\n");
        if (nLineEnd == std::string_view::npos)
            return EReply::Incomplete;
        if (!bGet)
            return sz.substr(0, nLineEnd) == "+OK" ? EReply::Good : EReply::Bad;
        if (sz[0] != '$' || sz[1] == '-')
            return EReply::Bad;
        const uint64_t nLength = LeadingNumber(sz.substr(1, nLineEnd - 1));
        if (sz.size() < nLineEnd + 2 + nLength + 2)
            return EReply::Incomplete;
        return nLength == options.nValueSize ? EReply::Good : EReply::Bad;
    }
    }
    return EReply::Bad;
}

bool ParseArgs(int argc, char** argv, GLoadOptions& options)
{
    for (int i = 1; i + 1 < argc; i += 2)
    {
        std::string_view szArg = argv[i];
        const char* szValue = argv[i + 1];
        if (szArg == "--protocol")
        {
            std::string_view sz = szValue;
            if (sz == "harbinet")
                options.protocol = EProtocol::Harbinet;
            else if (sz == "memcached")
                options.protocol = EProtocol::Memcached;
            else if (sz == "redis")
                options.protocol = EProtocol::Redis;
            else
                return false;
        }
        else if (szArg == "--host")
            options.szHost = szValue;
        else if (szArg == "--port")
            options.nPort = static_cast<uint16_t>(atoi(szValue));
        else if (szArg == "--connections")
            options.nConnections = atoi(szValue);
        else if (szArg == "--seconds")
            options.dSeconds = atof(szValue);
        else if (szArg == "--warmup")
            options.dWarmup = atof(szValue);
        else if (szArg == "--value-size")
            options.nValueSize = static_cast<size_t>(atol(szValue));
        else if (szArg == "--keys")
            options.nKeys = atoi(szValue);
        else if (szArg == "--max-ops")
            options.nMaxOps = strtoull(szValue, nullptr, 10);
        else if (szArg == "--base-path")
            options.szBasePath = szValue;
        else if (szArg == "--mode" && (std::string_view(szValue) == "event" || std::string_view(szValue) == "blocking"))
            options.bBlocking = std::string_view(szValue) == "blocking";
        else
            return false;
    }
    return (argc % 2) == 1 && options.nConnections >= 1 && options.nConnections <= 10000 && options.nKeys >= 1
        && options.dSeconds > 0 && options.dSeconds <= 600;
}

bool SendAll(int nFd, const std::string& str)
{
    size_t nDone = 0;
    while (nDone < str.size())
    {
        const ssize_t n = send(nFd, str.data() + nDone, str.size() - nDone, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        nDone += static_cast<size_t>(n);
    }
    return true;
}

// What one run measured, whichever way its connections were driven.
struct GRunResult
{
    GHistogram histogram;
    uint64_t nErrors = 0;
    uint64_t nOpsMeasured = 0;
    uint64_t nOpsAll = 0;
    int64_t nMeasuredEndNs = 0;
};

void ReportBadReply(std::atomic<uint64_t>& nErrors, std::string_view szReply)
{
    if (nErrors.fetch_add(1) < 3)
        fprintf(stderr, "harbinet-load: unexpected reply: %.*s\n", static_cast<int>(std::min<size_t>(szReply.size(), 200)),
            szReply.data());
}

// One thread per connection, each sending a request and blocking in recv
// until its whole reply is in, as an application's client library does.
bool RunBlocking(const GLoadOptions& options, std::vector<GLoadConnection>& vecConnections, int64_t nMeasureFromNs,
    int64_t nStopNs, GRunResult& result)
{
    std::atomic<uint64_t> nOpsAll{0};
    std::atomic<uint64_t> nErrors{0};
    std::atomic<bool> bFailed{false};
    std::atomic<int64_t> nFirstEndNs{INT64_MAX};
    // Latencies in microseconds; a thread of its own each, merged at the end.
    std::vector<std::vector<uint32_t>> vecLatencies(vecConnections.size());
    std::vector<std::thread> vecThreads;
    for (GLoadConnection& conn : vecConnections)
    {
        vecThreads.emplace_back([&, pConn = &conn] {
            GLoadConnection& c = *pConn;
            std::vector<uint32_t>& vecMine = vecLatencies[static_cast<size_t>(c.nIndex)];
            for (;;)
            {
                const size_t nKey = static_cast<size_t>(c.nKey);
                c.nSentNs = NowNs();
                if (!SendAll(c.nFd, c.bGet ? c.vecGets[nKey] : c.vecSets[nKey]))
                {
                    fprintf(stderr, "harbinet-load: send failed\n");
                    bFailed = true;
                    return;
                }
                c.nIn = 0;
                EReply reply = EReply::Incomplete;
                while (reply == EReply::Incomplete)
                {
                    const ssize_t n = c.nIn == c.vecIn.size()
                        ? 0 : recv(c.nFd, c.vecIn.data() + c.nIn, c.vecIn.size() - c.nIn, 0);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n <= 0)
                    {
                        fprintf(stderr, "harbinet-load: connection %d ended\n", c.nIndex);
                        bFailed = true;
                        return;
                    }
                    c.nIn += static_cast<size_t>(n);
                    reply = CheckReply(options, std::string_view(c.vecIn.data(), c.nIn), c.bGet);
                }
                const int64_t nNow = NowNs();
                if (reply == EReply::Bad)
                    ReportBadReply(nErrors, std::string_view(c.vecIn.data(), c.nIn));
                if (c.nSentNs >= nMeasureFromNs && nNow <= nStopNs)
                    vecMine.push_back(static_cast<uint32_t>(std::min<int64_t>((nNow - c.nSentNs) / 1000, 1000000)));
                if (nNow >= nStopNs || nOpsAll.fetch_add(1) + 1 >= options.nMaxOps || bFailed)
                {
                    int64_t nFirst = nFirstEndNs.load();
                    while (nNow < nFirst && !nFirstEndNs.compare_exchange_weak(nFirst, nNow))
                    {
                    }
                    return;
                }
                if (c.bGet)
                    c.nKey = (c.nKey + 1) % options.nKeys;
                c.bGet = !c.bGet;
            }
        });
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    for (const std::vector<uint32_t>& vec : vecLatencies)
    {
        for (uint32_t nUs : vec)
            result.histogram.Record(static_cast<int64_t>(nUs) * 1000);
        result.nOpsMeasured += vec.size();
    }
    result.nOpsAll = nOpsAll;
    result.nErrors = nErrors;
    result.nMeasuredEndNs = std::min(nFirstEndNs.load(), nStopNs);
    return !bFailed;
}

} // namespace

int main(int argc, char** argv)
{
    GLoadOptions options;
    if (!ParseArgs(argc, argv, options))
    {
        fprintf(stderr,
            "usage: harbinet-load --protocol harbinet|memcached|redis --port N [--host ADDR]\n"
            "       [--connections C] [--seconds S] [--warmup S] [--value-size BYTES]\n"
            "       [--keys K] [--max-ops N] [--base-path PATH] [--mode event|blocking]\n");
        return 2;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options.nPort);
    if (inet_pton(AF_INET, options.szHost.c_str(), &address.sin_addr) != 1)
    {
        fprintf(stderr, "harbinet-load: bad host %s\n", options.szHost.c_str());
        return 2;
    }

    // A VT_I4 image holding 42, padded to the requested size.
    std::string strValue(options.nValueSize, '\0');
    if (strValue.size() >= 12)
    {
        strValue[0] = 3;
        strValue[8] = 42;
    }

    const int nEpoll = epoll_create1(0);
    std::vector<GLoadConnection> vecConnections(static_cast<size_t>(options.nConnections));
    for (int i = 0; i < options.nConnections; ++i)
    {
        GLoadConnection& conn = vecConnections[static_cast<size_t>(i)];
        conn.nIndex = i;
        conn.nFd = socket(AF_INET, SOCK_STREAM, 0);
        if (conn.nFd < 0 || connect(conn.nFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        {
            fprintf(stderr, "harbinet-load: cannot connect to %s:%u: %s\n", options.szHost.c_str(),
                options.nPort, strerror(errno));
            return 1;
        }
        int nOne = 1;
        setsockopt(conn.nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = &conn;
        epoll_ctl(nEpoll, EPOLL_CTL_ADD, conn.nFd, &ev);
    }

    GHistogram histogram;
    uint64_t nErrors = 0;
    const int64_t nStartNs = NowNs();
    const int64_t nMeasureFromNs = nStartNs + static_cast<int64_t>(options.dWarmup * 1e9);
    const int64_t nStopNs = nMeasureFromNs + static_cast<int64_t>(options.dSeconds * 1e9);
    uint64_t nOpsMeasured = 0;
    uint64_t nOpsAll = 0;
    int64_t nMeasuredEndNs = nStopNs;

    for (GLoadConnection& conn : vecConnections)
    {
        for (int k = 0; k < options.nKeys; ++k)
        {
            const std::string strKey = MakeKey(conn.nIndex, k);
            conn.vecSets.push_back(FormatRequest(options, strKey, false, strValue));
            conn.vecGets.push_back(FormatRequest(options, strKey, true, strValue));
        }
        conn.vecIn.resize(options.nValueSize + 4096);
    }
    if (options.bBlocking)
    {
        GRunResult result;
        if (!RunBlocking(options, vecConnections, nMeasureFromNs, nStopNs, result))
            return 1;
        histogram = std::move(result.histogram);
        nErrors = result.nErrors;
        nOpsMeasured = result.nOpsMeasured;
        nOpsAll = result.nOpsAll;
        nMeasuredEndNs = result.nMeasuredEndNs;
    }
    else
    {
        for (GLoadConnection& conn : vecConnections)
        {
            conn.nSentNs = NowNs();
            if (!SendAll(conn.nFd, conn.vecSets[0]))
            {
                fprintf(stderr, "harbinet-load: send failed\n");
                return 1;
            }
        }

        std::vector<epoll_event> vecEvents(static_cast<size_t>(options.nConnections));
        int nOpen = options.nConnections;
        bool bStopping = false;
        while (nOpen > 0)
        {
            const int nReady = epoll_wait(nEpoll, vecEvents.data(), static_cast<int>(vecEvents.size()), 1000);
            if (nReady < 0 && errno != EINTR)
                break;
            if (NowNs() > nStopNs + 5000000000LL)
            {
                fprintf(stderr, "harbinet-load: replies stopped coming; giving up\n");
                return 1;
            }
            for (int e = 0; e < nReady; ++e)
            {
                GLoadConnection& conn = *static_cast<GLoadConnection*>(vecEvents[static_cast<size_t>(e)].data.ptr);
                if (conn.nIn == conn.vecIn.size())
                {
                    fprintf(stderr, "harbinet-load: reply on connection %d is too long\n", conn.nIndex);
                    return 1;
                }
                const ssize_t n = recv(conn.nFd, conn.vecIn.data() + conn.nIn, conn.vecIn.size() - conn.nIn, 0);
                if (n <= 0)
                {
                    fprintf(stderr, "harbinet-load: connection %d ended\n", conn.nIndex);
                    return 1;
                }
                conn.nIn += static_cast<size_t>(n);
                const std::string_view szReply(conn.vecIn.data(), conn.nIn);
                const EReply reply = CheckReply(options, szReply, conn.bGet);
                if (reply == EReply::Incomplete)
                    continue;
                const int64_t nNow = NowNs();
                if (reply == EReply::Bad)
                {
                    ++nErrors;
                    if (nErrors <= 3)
                        fprintf(stderr, "harbinet-load: unexpected reply: %.*s\n",
                            static_cast<int>(std::min<size_t>(szReply.size(), 200)), szReply.data());
                }
                if (conn.nSentNs >= nMeasureFromNs && nNow <= nStopNs)
                {
                    histogram.Record(nNow - conn.nSentNs);
                    ++nOpsMeasured;
                }
                ++nOpsAll;
                conn.nIn = 0;
                if (nNow >= nStopNs || nOpsAll >= options.nMaxOps)
                {
                    if (!bStopping)
                        nMeasuredEndNs = std::min(nNow, nStopNs);
                    bStopping = true;
                    epoll_ctl(nEpoll, EPOLL_CTL_DEL, conn.nFd, nullptr);
                    close(conn.nFd);
                    --nOpen;
                    continue;
                }
                // Each connection sets a key and then reads it back before moving
                // on to the next of its own keys.
                if (conn.bGet)
                    conn.nKey = (conn.nKey + 1) % options.nKeys;
                conn.bGet = !conn.bGet;
                conn.nSentNs = nNow;
                const size_t nKey = static_cast<size_t>(conn.nKey);
                if (!SendAll(conn.nFd, conn.bGet ? conn.vecGets[nKey] : conn.vecSets[nKey]))
                {
                    fprintf(stderr, "harbinet-load: send failed\n");
                    return 1;
                }
            }
        }
    }

    static const char* const s_szNames[] = {"harbinet", "memcached", "redis"};
    const double dMeasured = static_cast<double>(nMeasuredEndNs - nMeasureFromNs) / 1e9;
    // ops_all also counts the warm-up and the last replies, so that the
    // server's processor time over the whole run can be divided by it.
    printf("protocol=%s mode=%s connections=%d ops=%llu seconds=%.3f ops_per_s=%.0f p50_us=%.1f p99_us=%.1f "
           "p999_us=%.1f ops_all=%llu errors=%llu\n",
        s_szNames[static_cast<int>(options.protocol)], options.bBlocking ? "blocking" : "event", options.nConnections,
        static_cast<unsigned long long>(nOpsMeasured), dMeasured,
        dMeasured > 0 ? static_cast<double>(nOpsMeasured) / dMeasured : 0.0, histogram.Percentile(0.50),
        histogram.Percentile(0.99), histogram.Percentile(0.999), static_cast<unsigned long long>(nOpsAll),
        static_cast<unsigned long long>(nErrors));
    close(nEpoll);
    return nErrors == 0 ? 0 : 1;
}
