// The process-wide registry of server pools: one pool per list text, kept until the module stops.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "distributed/server_pool.h"

// One counted reference to the pool of exactly this list text, made on first use.
// E_FAIL, with *ppPool null and nothing registered, when a new pool cannot be had.
HRESULT FindOrCreatePool(BSTR sList, GServerPool** ppPool);

// Start and stop with the module. Stopping gives up the registry's share of every pool,
// which destroys those that no open object holds, with their idle connections; so it
// runs while the socket library is still up.
void StartPoolRegistry() noexcept;
void StopPoolRegistry() noexcept;
