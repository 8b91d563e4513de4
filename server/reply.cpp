// Reply heads: the status line, the result headers, the length, the empty line.
#include "reply.h"

#include <charconv>

namespace
{

void AppendNumber(std::string& strOut, uint64_t n)
{
    char sz[24];
    auto result = std::to_chars(sz, sz + sizeof(sz), n);
    strOut.append(sz, static_cast<size_t>(result.ptr - sz));
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
    strOut.append("HTTP/1.1 ");
    AppendNumber(strOut, reply.nStatus);
    strOut.push_back(' ');
    strOut.append(StatusText(reply.nStatus));
    strOut.append("\r\n");
    if (reply.nResultCode >= 0)
    {
        strOut.append("x-result-code: ");
        AppendNumber(strOut, static_cast<uint64_t>(reply.nResultCode));
        strOut.append("\r\n");
    }
    if (!reply.szReason.empty())
    {
        strOut.append("x-result-reason: ");
        strOut.append(reply.szReason);
        strOut.append("\r\n");
    }
    if (!reply.szCookie.empty())
    {
        strOut.append("set-cookie: ");
        strOut.append(reply.szCookie);
        strOut.append("\r\n");
    }
    if (reply.nType >= 0)
    {
        strOut.append("content-type: application/x-variant-");
        AppendNumber(strOut, static_cast<uint64_t>(reply.nType));
        strOut.append("\r\n");
    }
    strOut.append("content-length: ");
    AppendNumber(strOut, reply.nContentLength);
    strOut.append("\r\n");
    if (reply.bClose)
        strOut.append("connection: close\r\n");
    strOut.append("\r\n");
}
