// NameHash, CheckOut and CheckIn: how a forwarded call gets its pooled connection and gives it back.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "distributed/server_pool.h"

// The sum of the text's UTF-16 units, modulo 2^32; 0 for a null or empty text.
uint32_t NameHash(BSTR sText) noexcept;

// A checked-out connection and a counted reference to the pool it came from, both
// released when the call is over: a connection that was not given back with CheckIn is
// destroyed then. The pool is the one the connection returns to, whatever the object
// that checked it out does meanwhile (a Close, or an Open on another list, from a
// callback during the call).
class GCheckedOut
{
public:
    GCheckedOut() noexcept = default;
    ~GCheckedOut()
    {
        if (m_pConnection != nullptr)
            ReleaseConnection(m_pConnection);
        if (m_pPool != nullptr)
            ReleasePool(m_pPool);
    }
    GCheckedOut(const GCheckedOut&) = delete;
    GCheckedOut& operator=(const GCheckedOut&) = delete;

    GPooledConnection* Get() const noexcept { return m_pConnection; }
    GServerPool* Pool() const noexcept { return m_pPool; }
    // Takes its own reference to the pool and the caller's reference to the connection.
    void Hold(GServerPool& pool, GPooledConnection* pConnection) noexcept
    {
        pool.AddRef();
        m_pPool = &pool;
        m_pConnection = pConnection;
    }

private:
    GServerPool* m_pPool = nullptr;
    GPooledConnection* m_pConnection = nullptr;
};

// Takes a connection for the server entry that nHash picks: the idle one given back
// last if it is still live, otherwise a new one opened on the entry's primary URL and
// probed with a nop, or failing that on its fallback URL. An idle connection found
// dead means its server may have gone away and come back: the other idle connections
// of that entry are checked at once and the dead ones closed, instead of lingering
// until each is reached. On failure nothing is held and the result is the failure of
// the last step tried (without a fallback, the primary's). A successful checkout leaves
// the thread's error information as it was.
HRESULT CheckOut(GServerPool& pool, uint32_t nHash, GCheckedOut& connection);

// Gives a connection whose call succeeded back to the idle list of its own pool, under
// that pool's limit.
HRESULT CheckIn(GCheckedOut& connection) noexcept;
