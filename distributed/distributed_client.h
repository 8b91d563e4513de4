// GDistributedClient: the state of a distributed object, its pool and its cookie, and the forwarding of calls.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "common/bstr.h"
#include "distributed/checkout.h"
#include "distributed/server_pool.h"
#include "harbinet_h.h"

class GDistributedClient
{
public:
    GDistributedClient() noexcept = default;
    ~GDistributedClient();
    GDistributedClient(const GDistributedClient&) = delete;
    GDistributedClient& operator=(const GDistributedClient&) = delete;

    HRESULT OpenPool(BSTR sList);
    void ClosePool() noexcept;
    bool IsOpen() const noexcept { return m_pPool != nullptr; }
    // Reports "Is not connecting." for a call on an object that is not open.
    static HRESULT RefuseClosed() noexcept;

    HRESULT PutCookie(BSTR sCookie);
    HRESULT GetCookie(BSTR* p) const;

    // Runs work(IHarbinet*) on a pooled connection for the server entry that the cookie,
    // or without one sName, picks; refuses an object that is not open. The cookie goes
    // into the connection before and comes back from it after; a failure anywhere leaves
    // the object's cookie as it was and drops the connection instead of giving it back.
    // When the work succeeded but its end fails, undo() gives back what the work handed
    // out, so that a failed call leaves the caller nothing to release.
    // The call ends on the pool it began on: a Close or an Open that a callback makes
    // during the work changes only the calls after it.
    template <class F, class U>
    HRESULT Forward(BSTR sName, F work, U undo)
    {
        if (!IsOpen())
            return RefuseClosed();
        GCheckedOut connection;
        HRESULT hr = BeginCall(sName, connection);
        if (FAILED(hr))
            return hr;
        hr = work(connection.Get()->Harbinet());
        if (FAILED(hr))
            return hr;
        const HRESULT hrEnd = EndCall(connection);
        if (FAILED(hrEnd))
            undo();
        return hrEnd;
    }
    template <class F>
    HRESULT Forward(BSTR sName, F work)
    {
        return Forward(sName, work, [] {});
    }

private:
    HRESULT BeginCall(BSTR sName, GCheckedOut& connection);
    HRESULT EndCall(GCheckedOut& connection);

    GServerPool* m_pPool = nullptr;
    GBstr m_bstrCookie;
};
