// Reply heads: the status line, the result headers, the length, the empty line.
#include "reply.h"

#include <charconv>
#include <cstring>

namespace
{

// Writes at p and returns the end; the caller has made room.
char* Put(char* p, std::string_view sz)
{
    memcpy(p, sz.data(), sz.size());
    return p + sz.size();
}

char* PutNumber(char* p, uint64_t n)
{
    return std::to_chars(p, p + 20, n).ptr;
}

} // namespace

const char* StatusText(uint16_t nStatus)
{
    switch (nStatus)
    {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
    }
}

void AppendReplyHead(const GReply& reply, std::string& strOut)
{
    // Every line's fixed text and number fit in this much; the two texts of
    // variable length are added on top. The head is written straight into
    // the output, which a reply per request makes worth it.
    const size_t nRoom = 256 + reply.szReason.size() + reply.szCookie.size() + reply.szContentType.size();
    const size_t nStart = strOut.size();
    strOut.resize(nStart + nRoom);
    char* const pStart = strOut.data() + nStart;
    char* p = pStart;
    p = Put(p, "HTTP/1.1 ");
    p = PutNumber(p, reply.nStatus);
    *p++ = ' ';
    p = Put(p, StatusText(reply.nStatus));
    p = Put(p, "\r\n");
    if (reply.nResultCode >= 0)
    {
        p = Put(p, "x-result-code: ");
        p = PutNumber(p, static_cast<uint64_t>(reply.nResultCode));
        p = Put(p, "\r\n");
    }
    if (!reply.szReason.empty())
    {
        p = Put(p, "x-result-reason: ");
        p = Put(p, reply.szReason);
        p = Put(p, "\r\n");
    }
    if (!reply.szCookie.empty())
    {
        p = Put(p, "set-cookie: ");
        p = Put(p, reply.szCookie);
        p = Put(p, "\r\n");
    }
    if (reply.nType >= 0)
    {
        p = Put(p, "content-type: application/x-variant-");
        p = PutNumber(p, static_cast<uint64_t>(reply.nType));
        p = Put(p, "\r\n");
    }
    if (!reply.szContentType.empty())
    {
        p = Put(p, "content-type: ");
        p = Put(p, reply.szContentType);
        p = Put(p, "\r\n");
    }
    p = Put(p, "content-length: ");
    p = PutNumber(p, reply.nContentLength);
    p = Put(p, "\r\n");
    if (reply.bClose)
        p = Put(p, "connection: close\r\n");
    p = Put(p, "\r\n");
    strOut.resize(nStart + static_cast<size_t>(p - pStart));
}
