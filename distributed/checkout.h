// NameHash, CheckOut and CheckIn: how a forwarded call gets its pooled connection and gives it back.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "distributed/server_pool.h"

// The sum of the text's UTF-16 units, modulo 2^32; 0 for a null or empty text.
uint32_t NameHash(BSTR sText) noexcept;

// A checked-out connection, released when the call is over: a connection that was not
// given back with CheckIn is destroyed then.
class GCheckedOut
{
public:
    GCheckedOut() noexcept = default;
    ~GCheckedOut()
    {
        if (m_pConnection != nullptr)
            ReleaseConnection(m_pConnection);
    }
    GCheckedOut(const GCheckedOut&) = delete;
    GCheckedOut& operator=(const GCheckedOut&) = delete;

    GPooledConnection* Get() const noexcept { return m_pConnection; }
    GPooledConnection** Out() noexcept { return &m_pConnection; }

private:
    GPooledConnection* m_pConnection = nullptr;
};

// Takes a connection for the server entry that nHash picks: the idle one given back
// last if it is still live, otherwise a new one opened on the entry's primary URL and
// probed with a nop, or failing that on its fallback URL. On failure nothing is stored
// and the result is the failure of the last step tried (without a fallback, the
// primary's). A successful checkout leaves the thread's error information as it was.
HRESULT CheckOut(GServerPool& pool, uint32_t nHash, GPooledConnection** ppConnection);

// Gives a connection whose call succeeded back to its idle list, under the pool's limit.
HRESULT CheckIn(GServerPool& pool, GPooledConnection* pConnection) noexcept;
