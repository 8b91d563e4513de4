// The pause before the next attempt to reach something that failed: none after
// a working spell, then a first step doubling up to a cap.
#pragma once

#include <algorithm>
#include <cstdint>

class GBackoff
{
public:
    GBackoff(int64_t nFirstMs, int64_t nLongestMs) : m_nFirstMs(nFirstMs), m_nLongestMs(nLongestMs) {}

    // The pause before the attempt that follows a failure.
    int64_t Next()
    {
        const int64_t nMs = m_nFailures == 0 ? 0 : m_nFirstMs << std::min<uint32_t>(m_nFailures - 1, 20);
        ++m_nFailures;
        return std::min(nMs, m_nLongestMs);
    }
    // Only success starts the sequence again.
    void Reset() { m_nFailures = 0; }

private:
    const int64_t m_nFirstMs;
    const int64_t m_nLongestMs;
    uint32_t m_nFailures = 0;
};
