// The request head scanner: one state per position in the grammar, one switch.
#include "request_parser.h"


namespace
{

// Character classes of HTTP, one table lookup per byte instead of a chain of tests.
enum : uint8_t
{
    kToken = 1,   // may appear in methods and header names
    kValue = 2,   // may appear in header values
    kTarget = 4,  // may appear in the request target
};

constexpr bool IsTokenCharSlow(unsigned c)
{
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    for (char cPunct : std::string_view("!#$%&'*+-.^_`|~"))
    {
        if (c == static_cast<unsigned char>(cPunct))
            return true;
    }
    return false;
}

struct GCharTable
{
    uint8_t nClass[256] = {};
    constexpr GCharTable()
    {
        for (unsigned c = 0; c < 256; ++c)
        {
            if (IsTokenCharSlow(c))
                nClass[c] |= kToken;
            // Names and cookies are narrow text in whatever code page the
            // client uses, so bytes above 0x7F are ordinary value bytes; only
            // controls other than the tab are not.
            if (c == '\t' || (c >= 0x20 && c != 0x7F))
                nClass[c] |= kValue;
            if (c > 0x20 && c != 0x7F)
                nClass[c] |= kTarget;
        }
    }
};

constexpr GCharTable g_charTable;

inline bool IsTokenChar(unsigned char c)
{
    return (g_charTable.nClass[c] & kToken) != 0;
}

// The position of the first byte from nPos on that is not of the class: the
// long stretches of a head (values, names, the target) are crossed here in a
// tight loop rather than a state transition per byte.
inline uint32_t SkipClass(const char* pHead, uint32_t nPos, size_t nEnd, uint8_t nClass)
{
    while (nPos < nEnd && (g_charTable.nClass[static_cast<unsigned char>(pHead[nPos])] & nClass) != 0)
        ++nPos;
    return nPos;
}

// ASCII comparison ignoring letter case; szWanted is lower case.
bool NameIs(std::string_view szName, std::string_view szWanted)
{
    if (szName.size() != szWanted.size())
        return false;
    for (size_t i = 0; i < szName.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(szName[i]);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c | 0x20);
        if (c != static_cast<unsigned char>(szWanted[i]))
            return false;
    }
    return true;
}

} // namespace

void GRequestParser::Reset()
{
    m_state = EState::MethodStart;
    m_nPos = 0;
    m_nTokenStart = 0;
    m_pField = nullptr;
    m_head = GRequestHead{};
    m_nBadStatus = 0;
    m_szBadReason = "";
}

EParse GRequestParser::Fail(uint16_t nStatus, const char* szReason)
{
    m_nBadStatus = nStatus;
    m_szBadReason = szReason;
    return EParse::Bad;
}

void GRequestParser::EndName(const char* pHead)
{
    std::string_view szName(pHead + m_nTokenStart, m_nPos - m_nTokenStart);
    GSpan* pField = nullptr;
    switch (szName.size())
    {
    case 6:
        if (NameIs(szName, "cookie"))
            pField = &m_head.spanCookie;
        else if (NameIs(szName, "expect"))
            pField = &m_head.spanExpect;
        break;
    case 12:
        if (NameIs(szName, "content-type"))
            pField = &m_head.spanContentType;
        else if (NameIs(szName, "x-param-name"))
            pField = &m_head.spanName;
        break;
    case 14:
        if (NameIs(szName, "content-length"))
            pField = &m_head.spanContentLength;
        break;
    case 15:
        if (NameIs(szName, "x-param-timeout"))
            pField = &m_head.spanTimeout;
        break;
    case 17:
        if (NameIs(szName, "transfer-encoding"))
            m_head.bTransferEncoding = true;
        break;
    default:
        break;
    }
    m_pField = pField;
}

void GRequestParser::EndValue(const char* pHead)
{
    GSpan span{m_nTokenStart, m_nPos - m_nTokenStart, true};
    if (m_pField == nullptr)
        return;
    if (!m_pField->bPresent)
    {
        // The first line of a name counts; later ones are ignored.
        *m_pField = span;
    }
    else if (m_pField == &m_head.spanContentLength && span.In(pHead) != m_pField->In(pHead))
    {
        // Two different lengths leave no way to tell where the body ends.
        m_head.bLengthConflict = true;
    }
    m_pField = nullptr;
}

EParse GRequestParser::Parse(const char* pHead, size_t nAvailable, size_t nMaxHead)
{
    const size_t nEnd = nAvailable < nMaxHead ? nAvailable : nMaxHead;
    while (m_nPos < nEnd)
    {
        const unsigned char c = static_cast<unsigned char>(pHead[m_nPos]);
        switch (m_state)
        {
        case EState::MethodStart:
            if (!IsTokenChar(c))
                return Fail(400, "bad request line");
            m_nTokenStart = m_nPos;
            m_state = EState::Method;
            break;
        case EState::Method:
            m_nPos = SkipClass(pHead, m_nPos, nEnd, kToken);
            if (m_nPos == nEnd)
                continue;
            if (pHead[m_nPos] != ' ')
                return Fail(400, "bad request line");
            m_head.spanMethod = GSpan{m_nTokenStart, m_nPos - m_nTokenStart, true};
            m_state = EState::TargetStart;
            break;
        case EState::TargetStart:
            if (c <= ' ' || c == 0x7F)
                return Fail(400, "bad request line");
            m_nTokenStart = m_nPos;
            m_state = EState::Target;
            break;
        case EState::Target:
            m_nPos = SkipClass(pHead, m_nPos, nEnd, kTarget);
            if (m_nPos == nEnd)
                continue;
            if (pHead[m_nPos] != ' ')
                return Fail(400, "bad request line");
            m_head.spanTarget = GSpan{m_nTokenStart, m_nPos - m_nTokenStart, true};
            m_state = EState::VersionH;
            break;
        case EState::VersionH:
            if (c != 'H')
                return Fail(400, "bad request line");
            m_state = EState::VersionT1;
            break;
        case EState::VersionT1:
            if (c != 'T')
                return Fail(400, "bad request line");
            m_state = EState::VersionT2;
            break;
        case EState::VersionT2:
            if (c != 'T')
                return Fail(400, "bad request line");
            m_state = EState::VersionP;
            break;
        case EState::VersionP:
            if (c != 'P')
                return Fail(400, "bad request line");
            m_state = EState::VersionSlash;
            break;
        case EState::VersionSlash:
            if (c != '/')
                return Fail(400, "bad request line");
            m_state = EState::VersionMajor;
            break;
        case EState::VersionMajor:
            if (c < '0' || c > '9')
                return Fail(400, "bad request line");
            if (c != '1')
                return Fail(505, "only HTTP/1.x is spoken here");
            m_state = EState::VersionDot;
            break;
        case EState::VersionDot:
            if (c != '.')
                return Fail(400, "bad request line");
            m_state = EState::VersionMinor;
            break;
        case EState::VersionMinor:
            if (c < '0' || c > '9')
                return Fail(400, "bad request line");
            m_state = EState::RequestLineCr;
            break;
        case EState::RequestLineCr:
            // The CR is looked at here and the LF in HeaderLf, so a request
            // line must end in exactly CR LF.
            if (c == '\n')
                return Fail(400, "line not ended by CR LF");
            if (c != '\r')
                return Fail(400, "bad request line");
            m_state = EState::HeaderLf;
            break;
        case EState::HeaderLf:
            if (c != '\n')
                return Fail(400, "line not ended by CR LF");
            m_state = EState::LineStart;
            break;
        case EState::LineStart:
            if (c == '\r')
                m_state = EState::FinalLf;
            else if (c == ' ' || c == '\t')
                return Fail(400, "folded header line");
            else if (!IsTokenChar(c))
                return Fail(400, "bad header name");
            else
            {
                m_nTokenStart = m_nPos;
                m_state = EState::Name;
            }
            break;
        case EState::Name:
            m_nPos = SkipClass(pHead, m_nPos, nEnd, kToken);
            if (m_nPos == nEnd)
                continue;
            if (pHead[m_nPos] != ':')
                return Fail(400, "bad header name");
            EndName(pHead);
            m_state = EState::ValueStart;
            break;
        case EState::ValueStart:
            // One space (or tab) after the colon belongs to the form; anything
            // beyond it is part of the value, byte for byte.
            if (c == ' ' || c == '\t')
            {
                m_nTokenStart = m_nPos + 1;
                m_state = EState::Value;
                break;
            }
            m_nTokenStart = m_nPos;
            m_state = EState::Value;
            [[fallthrough]];
        case EState::Value:
            m_nPos = SkipClass(pHead, m_nPos, nEnd, kValue);
            if (m_nPos == nEnd)
                continue;
            if (pHead[m_nPos] != '\r')
                return Fail(400, "bad header value");
            EndValue(pHead);
            m_state = EState::HeaderLf;
            break;
        case EState::FinalLf:
            if (c != '\n')
                return Fail(400, "line not ended by CR LF");
            ++m_nPos;
            m_head.nHeadLength = m_nPos;
            return EParse::Done;
        }
        ++m_nPos;
    }
    if (m_nPos >= nMaxHead)
        return Fail(431, "request head too large");
    return EParse::NeedMore;
}
