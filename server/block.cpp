// Allocation of entry blocks and the cost rules of the allocator they come from.
#include "block.h"

#include <cassert>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace
{

const size_t g_nPageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// glibc's malloc hands out chunks in 16-byte steps, each with an 8-byte size
// word in front, and never less than 32 bytes. Counting the chunk rather than
// the request is what keeps the memory limit honest for small values.
uint64_t HeapChunkCost(size_t nBytes)
{
    uint64_t nChunk = (static_cast<uint64_t>(nBytes) + 8 + 15) & ~uint64_t(15);
    return nChunk < 32 ? 32 : nChunk;
}

} // namespace

uint64_t BlockCost(size_t nBytes)
{
    if (nBytes >= kMappedBlockFrom)
        return (static_cast<uint64_t>(nBytes) + g_nPageSize - 1) / g_nPageSize * g_nPageSize;
    return HeapChunkCost(nBytes);
}

GBlock AllocBlock(size_t nBytes)
{
    GBlock block;
    if (nBytes >= kMappedBlockFrom)
    {
        void* p = mmap(nullptr, nBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return block;
        block.p = p;
        block.bMapped = true;
    }
    else
    {
        block.p = malloc(nBytes);
        if (block.p == nullptr)
            return block;
        assert(malloc_usable_size(block.p) + 8 == HeapChunkCost(nBytes));
    }
    block.nCost = BlockCost(nBytes);
    return block;
}

void FreeBlock(const GBlock& block)
{
    if (block.p == nullptr)
        return;
    if (block.bMapped)
        munmap(block.p, static_cast<size_t>(block.nCost));
    else
        free(block.p);
}
