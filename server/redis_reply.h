// Redis answers as the store uses them: a bulk string is read straight into an
// entry block, split into the value's "<type>:" header and its body, so a found
// value goes to the client from the block hiredis's reader filled.
#pragma once

#include "store.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct redisReader;

struct GRedisReply
{
    int nType = 0;                 // REDIS_REPLY_*
    long long nInteger = 0;
    // A bulk string; one in harbinet's form keeps its header as the entry's
    // name and its body as the value, with the type parsed.
    GEntryRef refText;
    bool bImage = false;
    std::string strShort;          // a status or an error: "OK" needs no allocation

    std::vector<std::unique_ptr<GRedisReply>> vecElements;

    std::string_view Text() const
    {
        return refText ? std::string_view(refText->Data(), refText->m_nNameLength + size_t(refText->m_nValueLength))
                       : std::string_view(strShort);
    }
    bool IsError() const;
    // An error reply whose code is this word ("READONLY", "OOM"...).
    bool IsError(std::string_view szCode) const;
    bool IsStatus(std::string_view szText) const;
};

// A value image starts with its type number and a colon: "3:" and the body.
bool ParseImage(const char* p, size_t n, uint16_t& nType, size_t& nHeader);

// A protocol reader that makes GRedisReply objects; its replies are deleted by
// their receiver.
redisReader* CreateReplyReader();
