// hiredis's reader with object functions of our own: one allocation per
// string, straight into an entry block.
#include "redis_reply.h"

#include <charconv>
#include <cstring>
#include <hiredis/read.h>

namespace
{

GRedisReply* Attach(const redisReadTask* pTask, std::unique_ptr<GRedisReply> pReply)
{
    pReply->nType = pTask->type;
    GRedisReply* p = pReply.get();
    if (pTask->parent != nullptr)
    {
        auto* pParent = static_cast<GRedisReply*>(pTask->parent->obj);
        pParent->vecElements.at(static_cast<size_t>(pTask->idx)) = std::move(pReply);
        return p;
    }
    return pReply.release();
}

// The reader is C: nothing may be thrown through it, and a null tells it that
// memory ran out, which ends the connection.
void* CreateString(const redisReadTask* pTask, char* p, size_t n)
try
{
    auto pReply = std::make_unique<GRedisReply>();
    if (pTask->type != REDIS_REPLY_STRING)
    {
        pReply->strShort.assign(p, n);
        return Attach(pTask, std::move(pReply));
    }
    uint16_t nType = 0;
    size_t nHeader = 0;
    pReply->bImage = ParseImage(p, n, nType, nHeader);
    pReply->refText = GStore::MakeEntry(GKey{false, {}, std::string_view(p, nHeader)}, nType, 0, n - nHeader);
    if (!pReply->refText)
        return nullptr;
    memcpy(pReply->refText->Value(), p + nHeader, n - nHeader);
    return Attach(pTask, std::move(pReply));
}
catch (...)
{
    return nullptr;
}

// No command the store sends is answered with more elements than this; a
// longer array is refused before anything is made for it.
constexpr int kMostElements = 4096;

void* CreateArray(const redisReadTask* pTask, int nElements)
try
{
    if (nElements > kMostElements)
        return nullptr;
    auto pReply = std::make_unique<GRedisReply>();
    pReply->vecElements.resize(static_cast<size_t>(std::max(nElements, 0)));
    return Attach(pTask, std::move(pReply));
}
catch (...)
{
    return nullptr;
}

void* CreateInteger(const redisReadTask* pTask, long long n)
try
{
    auto pReply = std::make_unique<GRedisReply>();
    pReply->nInteger = n;
    return Attach(pTask, std::move(pReply));
}
catch (...)
{
    return nullptr;
}

void* CreateNil(const redisReadTask* pTask)
try
{
    return Attach(pTask, std::make_unique<GRedisReply>());
}
catch (...)
{
    return nullptr;
}

// Called for the top object only; it owns its elements.
void FreeObject(void* p)
{
    delete static_cast<GRedisReply*>(p);
}

redisReplyObjectFunctions g_functions = {CreateString, CreateArray, CreateInteger, CreateNil, FreeObject};

} // namespace

bool GRedisReply::IsError() const
{
    return nType == REDIS_REPLY_ERROR;
}

bool GRedisReply::IsError(std::string_view szCode) const
{
    const std::string_view sz = Text();
    return nType == REDIS_REPLY_ERROR && sz.substr(0, szCode.size()) == szCode
        && (sz.size() == szCode.size() || sz[szCode.size()] == ' ');
}

bool GRedisReply::IsStatus(std::string_view szText) const
{
    return nType == REDIS_REPLY_STATUS && Text() == szText;
}

bool ParseImage(const char* p, size_t n, uint16_t& nType, size_t& nHeader)
{
    const char* pColon = static_cast<const char*>(memchr(p, ':', std::min<size_t>(n, 6)));
    if (pColon == nullptr || pColon == p)
        return false;
    unsigned nValue = 0;
    auto result = std::from_chars(p, pColon, nValue);
    if (result.ec != std::errc() || result.ptr != pColon || nValue > 65535)
        return false;
    nType = static_cast<uint16_t>(nValue);
    nHeader = static_cast<size_t>(pColon - p) + 1;
    return true;
}

redisReader* CreateReplyReader()
{
    return redisReaderCreateWithFunctions(&g_functions);
}
