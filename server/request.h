// What a parsed request head asks for, or the status that refuses it.
#pragma once

#include "request_parser.h"
#include "store.h"

#include <cstdint>
#include <string_view>

enum class ECommand
{
    Set,
    Get,
    Del,
    Nop,
    Metrics,   // GET /metrics
};

struct GRequest
{
    ECommand command = ECommand::Nop;
    GKey key;
    uint16_t nType = 0;
    uint32_t nTimeout = 0;
    uint64_t nContentLength = 0;
    bool bExpectContinue = false;   // the client waits for 100 Continue before its body
};

struct GRequestRules
{
    std::string_view szBasePath = "/";
    uint64_t nMaxValue = 1024 * 1024;
    bool bMetrics = false;
};

// nStatus 0 means the request is good. Otherwise the reply carries nStatus and
// szReason; with bClose the connection ends after it, else the nContentLength
// body bytes are read and dropped and the connection carries on.
struct GVerdict
{
    uint16_t nStatus = 0;
    const char* szReason = "";
    bool bClose = false;
};

GVerdict InterpretHead(const char* pHead, const GRequestHead& head, const GRequestRules& rules,
    GRequest& request);

// Value of a content-length header: decimal digits between optional blanks.
bool ParseLength(std::string_view szValue, uint64_t& nLength);

// "application/x-variant-<n>" with n a VARIANT type code (0 to 65535), the
// prefix in any letter case; media type parameters after a semicolon are allowed.
bool ParseVariantType(std::string_view szValue, uint16_t& nType);

// Lifetime in seconds: decimal digits, 0 to 4294967295.
bool ParseTimeout(std::string_view szValue, uint32_t& nTimeout);
