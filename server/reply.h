// A reply as the server means it, and the one function that turns it into the
// bytes of its head.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct GReply
{
    uint16_t nStatus = 200;
    int nResultCode = -1;          // -1: no x-result-code line
    std::string_view szReason;     // x-result-reason, when not empty
    std::string_view szCookie;     // set-cookie, when not empty
    int nType = -1;                // content-type of a found value, -1: none
    std::string_view szContentType; // any other content-type, when not empty
    uint64_t nContentLength = 0;   // body bytes that follow the head
    bool bClose = false;           // the connection ends after this reply
};

// Appends the head; the body, if any, is the caller's to send right behind it.
void AppendReplyHead(const GReply& reply, std::string& strOut);

const char* StatusText(uint16_t nStatus);

// The interim reply that tells a client waiting under "Expect: 100-continue" to send its body.
constexpr std::string_view kContinueReply = "HTTP/1.1 100 Continue\r\n\r\n";
