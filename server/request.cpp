// Turning a request head into a command, in the order that decides which
// refusal a request with several faults gets.
#include "request.h"

#include <strings.h>

namespace
{

std::string_view TrimBlanks(std::string_view sz)
{
    while (!sz.empty() && (sz.front() == ' ' || sz.front() == '\t'))
        sz.remove_prefix(1);
    while (!sz.empty() && (sz.back() == ' ' || sz.back() == '\t'))
        sz.remove_suffix(1);
    return sz;
}

bool ParseDigits(std::string_view sz, uint64_t nMax, uint64_t& nValue)
{
    if (sz.empty())
        return false;
    uint64_t n = 0;
    for (char c : sz)
    {
        if (c < '0' || c > '9')
            return false;
        const uint64_t nDigit = static_cast<uint64_t>(c - '0');
        if (n > (nMax - nDigit) / 10)
            return false;
        n = n * 10 + nDigit;
    }
    nValue = n;
    return true;
}

} // namespace

bool ParseLength(std::string_view szValue, uint64_t& nLength)
{
    return ParseDigits(TrimBlanks(szValue), UINT64_MAX, nLength);
}

bool ParseVariantType(std::string_view szValue, uint16_t& nType)
{
    constexpr std::string_view szPrefix = "application/x-variant-";
    std::string_view sz = TrimBlanks(szValue);
    if (sz.size() <= szPrefix.size() || strncasecmp(sz.data(), szPrefix.data(), szPrefix.size()) != 0)
        return false;
    sz.remove_prefix(szPrefix.size());
    const size_t nSemicolon = sz.find(';');
    std::string_view szNumber = TrimBlanks(sz.substr(0, nSemicolon));
    uint64_t n = 0;
    if (!ParseDigits(szNumber, 65535, n))
        return false;
    nType = static_cast<uint16_t>(n);
    return true;
}

bool ParseTimeout(std::string_view szValue, uint32_t& nTimeout)
{
    uint64_t n = 0;
    if (!ParseDigits(TrimBlanks(szValue), UINT32_MAX, n))
        return false;
    nTimeout = static_cast<uint32_t>(n);
    return true;
}

GVerdict InterpretHead(const char* pHead, const GRequestHead& head, const GRequestRules& rules,
    GRequest& request)
{
    request = GRequest{};

    // Without a trustworthy length the next request cannot be found, so each
    // of these ends the connection.
    if (head.bTransferEncoding)
        return {400, "transfer-encoding is not supported", true};
    if (head.bLengthConflict)
        return {400, "conflicting content-length", true};
    bool bLength = false;
    if (head.spanContentLength.bPresent)
    {
        if (!ParseLength(head.spanContentLength.In(pHead), request.nContentLength))
            return {400, "unusable content-length", true};
        bLength = true;
    }

    // Only this expectation exists; others are ignored rather than refused.
    const std::string_view szExpect = TrimBlanks(head.spanExpect.In(pHead));
    request.bExpectContinue = szExpect.size() == 12 && strncasecmp(szExpect.data(), "100-continue", 12) == 0;

    const bool bBodyTooLarge = request.nContentLength > rules.nMaxValue;
    const std::string_view szMethod = head.spanMethod.In(pHead);
    if (rules.bMetrics && szMethod == "GET" && head.spanTarget.In(pHead) == "/metrics" && !bBodyTooLarge)
    {
        request.command = ECommand::Metrics;
        return {};
    }
    if (szMethod != "POST")
    {
        // A request without a length has no body, whatever its method.
        return {405, "only POST is accepted", bBodyTooLarge};
    }
    if (!bLength)
        return {411, "content-length required", true};
    if (bBodyTooLarge)
        return {413, "body larger than the largest value", true};

    std::string_view szTarget = head.spanTarget.In(pHead);
    if (szTarget.substr(0, rules.szBasePath.size()) != rules.szBasePath)
        return {404, "unknown command", false};
    std::string_view szWord = szTarget.substr(rules.szBasePath.size());
    if (szWord == "set")
        request.command = ECommand::Set;
    else if (szWord == "get")
        request.command = ECommand::Get;
    else if (szWord == "del")
        request.command = ECommand::Del;
    else if (szWord == "nop")
        request.command = ECommand::Nop;
    else
        return {404, "unknown command", false};

    if (request.command == ECommand::Set)
    {
        if (!head.spanContentType.bPresent)
            return {415, "content-type required", false};
        if (!ParseVariantType(head.spanContentType.In(pHead), request.nType))
            return {415, "content-type is not application/x-variant-<n>", false};
        if (head.spanTimeout.bPresent && !ParseTimeout(head.spanTimeout.In(pHead), request.nTimeout))
            return {400, "unusable x-param-timeout", false};
    }

    request.key.bCookie = head.spanCookie.bPresent;
    request.key.szCookie = head.spanCookie.In(pHead);
    request.key.szName = head.spanName.In(pHead);
    return {};
}
