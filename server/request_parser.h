// Incremental scanner of one request head: request line and header lines up to
// the empty line, fed again each time more bytes arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A stretch of the head buffer, by offset from the head's first byte, so that
// it stays valid when the buffer moves.
struct GSpan
{
    uint32_t nOffset = 0;
    uint32_t nLength = 0;
    bool bPresent = false;

    std::string_view In(const char* pHead) const { return {pHead + nOffset, nLength}; }
};

struct GRequestHead
{
    GSpan spanMethod;
    GSpan spanTarget;
    GSpan spanContentLength;
    GSpan spanContentType;
    GSpan spanCookie;
    GSpan spanName;
    GSpan spanTimeout;
    GSpan spanExpect;
    bool bTransferEncoding = false;
    bool bLengthConflict = false;  // two content-length lines that disagree
    uint32_t nHeadLength = 0;       // through the empty line's LF
};

enum class EParse
{
    NeedMore,
    Done,
    Bad,
};

class GRequestParser
{
public:
    GRequestParser() { Reset(); }

    void Reset();

    // pHead points at the head's first byte and nAvailable bytes are there; the
    // bytes already scanned by earlier calls are not looked at again. A head
    // that has not ended within nMaxHead bytes is Bad with status 431.
    EParse Parse(const char* pHead, size_t nAvailable, size_t nMaxHead);

    const GRequestHead& Head() const { return m_head; }
    // Valid after Bad.
    uint16_t BadStatus() const { return m_nBadStatus; }
    const char* BadReason() const { return m_szBadReason; }
    // Bytes of the current head scanned so far.
    size_t Scanned() const { return m_nPos; }

private:
    enum class EState
    {
        MethodStart,
        Method,
        TargetStart,
        Target,
        VersionH,
        VersionT1,
        VersionT2,
        VersionP,
        VersionSlash,
        VersionMajor,
        VersionDot,
        VersionMinor,
        RequestLineCr,
        LineStart,
        Name,
        ValueStart,
        Value,
        HeaderLf,
        FinalLf,
    };

    EParse Fail(uint16_t nStatus, const char* szReason);
    void EndName(const char* pHead);
    void EndValue(const char* pHead);

    EState m_state;
    uint32_t m_nPos;
    uint32_t m_nTokenStart;
    GSpan* m_pField;       // where the current header's value goes, or null
    GRequestHead m_head;
    uint16_t m_nBadStatus;
    const char* m_szBadReason;
};
