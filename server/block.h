// Memory blocks for stored entries, and the exact number of bytes each one costs.
#pragma once

#include <cstddef>
#include <cstdint>

// Blocks of this size or more are mapped straight from the kernel, so that a
// large value gives its pages back the moment it goes, and a body that is still
// arriving costs only the pages already written.
constexpr size_t kMappedBlockFrom = 64 * 1024;

struct GBlock
{
    void* p = nullptr;
    uint64_t nCost = 0;
    bool bMapped = false;
};

// What a block of nBytes costs: the allocator's chunk with its header for small
// blocks, whole pages for mapped ones.
uint64_t BlockCost(size_t nBytes);

// p is null when the system has no memory left.
GBlock AllocBlock(size_t nBytes);

void FreeBlock(const GBlock& block);
