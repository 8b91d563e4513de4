// Socket test of resident memory when far more is written than the limit allows.
#include "server_fixture.h"

#include <cstdio>
#include <thread>
#include <vector>

class MemoryTest : public GServerFixture
{
};

TEST_F(MemoryTest, ResidentMemoryStaysWithinTenPercentOfTheLimitWhenWrittenPastIt)
{
    const unsigned long long nLimit = 64ull << 20;
    StartServer({"--memory-limit", "64M", "--threads", "2"});

    // Four writers, so that both worker threads store and evict, with sizes
    // from small heap chunks to mapped pages, 256 MiB in all.
    const int nWriters = 4;
    const unsigned long long nPerWriter = (256ull << 20) / nWriters;
    std::vector<std::thread> vecWriters;
    std::vector<int> vecFailures(nWriters, 0);
    for (int w = 0; w < nWriters; ++w)
    {
        vecWriters.emplace_back([&, w] {
            GWireClient client;
            if (!client.Connect(m_server.Port()))
            {
                ++vecFailures[w];
                return;
            }
            unsigned long long nWritten = 0;
            for (int i = 0; nWritten < nPerWriter; ++i)
            {
                const size_t nSize = 100 + static_cast<size_t>((i * 7919 + w * 104729) % 120000);
                const std::string strName = "w" + std::to_string(w) + "-" + std::to_string(i);
                if (!client.Send(SetRequest(strName, std::string(nSize, static_cast<char>('a' + w)), 8))
                    || client.ReadReply() != kStored)
                {
                    ++vecFailures[w];
                    return;
                }
                nWritten += nSize;
            }
        });
    }
    for (std::thread& thread : vecWriters)
        thread.join();
    for (int w = 0; w < nWriters; ++w)
        ASSERT_EQ(0, vecFailures[w]) << "writer " << w;

    const unsigned long long nResident = m_server.ResidentBytes();
    const unsigned long long nPeak = m_server.PeakResidentBytes();
    printf("memory limit %llu MiB, written 256 MiB: resident %.1f MiB, peak resident %.1f MiB\n", nLimit >> 20,
        static_cast<double>(nResident) / 1048576.0, static_cast<double>(nPeak) / 1048576.0);
    RecordProperty("resident_bytes", std::to_string(nResident));
    RecordProperty("peak_resident_bytes", std::to_string(nPeak));
    EXPECT_LE(nPeak, nLimit + nLimit / 10);
    EXPECT_LE(nResident, nLimit + nLimit / 10);

    // Past the limit, new values are still stored (the oldest make room for
    // them), and the first values written are long gone.
    for (int w = 0; w < nWriters; ++w)
    {
        const std::string strName = "after-" + std::to_string(w);
        EXPECT_EQ(kStored, Exchange(SetRequest(strName, std::string(50000, 'z'), 8)));
        const std::string strReply = Exchange(CommandRequest("get", strName));
        EXPECT_EQ("HTTP/1.1 200 OK\r\nx-result-code: 0\r\ncontent-type: application/x-variant-8\r\n"
                  "content-length: 50000\r\n\r\n" + std::string(50000, 'z'),
            strReply) << strName;
        EXPECT_EQ(kNotFound, Exchange(CommandRequest("get", "w" + std::to_string(w) + "-0")));
    }
}
