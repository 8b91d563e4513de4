// The process-wide registry of server pools: one pool per list text, shared by every object opened on it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "distributed/server_pool.h"

// Pools that no object holds and no call has checked a connection out of are kept
// while the registry holds at most this many pools; beyond it, making a new pool
// removes them, closing their idle connections. A host that builds a list text per
// request so cannot grow for ever, while a host with a few lists keeps their pools.
constexpr size_t MAX_KEPT_POOLS = 64;

// One counted reference to the pool of exactly this list text, made on first use.
// E_FAIL, with *ppPool null and nothing registered, when a new pool cannot be had.
// Never throws.
HRESULT FindOrCreatePool(BSTR sList, GServerPool** ppPool) noexcept;


// Start and stop with the module. Starting only prepares the lock (no allocation, so
// it may run while the library loads); the registry itself is made by the first
// FindOrCreatePool. Stopping gives up the registry's share of every pool, which
// destroys those that no open object holds, with their idle connections; so it runs
// while the socket library is still up, and only when the library is unloaded with
// FreeLibrary.
void StartPoolRegistry() noexcept;
void StopPoolRegistry() noexcept;
