// Choosing the server entry, reusing or opening its connection, and giving it back.
#include "distributed/checkout.h"

#include <new>

#include "common/com_ptr.h"
#include "distributed/create_harbinet.h"
#include "distributed/server_list_scan.h"

namespace
{

// The nop proves that a server answers before a call is trusted to it. Its name is the
// empty one; a null string goes out the same way and needs no allocation.
HRESULT OpenAndProbe(IHarbinet* pHarbinet, BSTR sURL)
{
    HRESULT hr = pHarbinet->Open(sURL);
    if (SUCCEEDED(hr))
        hr = pHarbinet->Noop(nullptr);
    return hr;
}

HRESULT OpenOnEntry(IHarbinet* pHarbinet, BSTR sEntry)
{
    const UINT nLength = SysStringLen(sEntry);
    const GEntryUrls urls = SplitServerEntry(reinterpret_cast<const char16_t*>(sEntry), nLength);
    if (!urls.bFallback)
        return OpenAndProbe(pHarbinet, sEntry);

    // A primary that fails reports its failure on the thread; when the fallback then
    // serves, the call has not failed, so the information from before is put back.
    GComPtr<IErrorInfo> pBefore;
    GetErrorInfo(0, pBefore.Out());
    HRESULT hr = OpenAndProbe(pHarbinet, GBstr::FromUnits(sEntry, static_cast<UINT>(urls.nPrimaryLength)).Get());
    if (FAILED(hr))
    {
        pHarbinet->Close();
        const GBstr bstrFallback = GBstr::FromUnits(sEntry + urls.nFallbackStart,
                                                    static_cast<UINT>(nLength - urls.nFallbackStart));
        hr = OpenAndProbe(pHarbinet, bstrFallback.Get());
    }
    if (SUCCEEDED(hr))
        SetErrorInfo(0, pBefore.Get());
    return hr;
}

// The live ones go back in their order; no lock is held while they are probed.
void DropDeadIdle(GServerPool& pool, size_t nServer) noexcept
{
    for (GPooledConnection* pConnection : pool.TakeAllIdle(nServer))
    {
        if (IsHarbinetLive(pConnection->Harbinet()))
            pool.KeepIdle(pConnection);
        ReleaseConnection(pConnection);
    }
}

}

uint32_t NameHash(BSTR sText) noexcept
{
    uint32_t nHash = 0;
    const UINT nLength = SysStringLen(sText);
    for (UINT i = 0; i < nLength; ++i)
        nHash += static_cast<uint16_t>(sText[i]);
    return nHash;
}

HRESULT CheckOut(GServerPool& pool, uint32_t nHash, GCheckedOut& connection)
{
    const size_t nServers = pool.ServerCount();
    // Without entries there is nothing to pick; the open below then fails on a null URL.
    const size_t nServer = nServers == 0 ? 0 : nHash % nServers;
    if (nServers != 0 && pool.MaxIdle() != 0)
    {
        GPooledConnection* pIdle = pool.TakeIdle(nServer);
        if (pIdle != nullptr)
        {
            if (IsHarbinetLive(pIdle->Harbinet()))
            {
                connection.Hold(pool, pIdle);
                return S_OK;
            }
            ReleaseConnection(pIdle);   // closed by the server or broken: replaced below
            DropDeadIdle(pool, nServer);
        }
    }

    GComPtr<IHarbinet> pHarbinet;
    if (FAILED(CreateHarbinet(pHarbinet.Out())))
        return E_FAIL;
    const HRESULT hr = OpenOnEntry(pHarbinet.Get(), nServers == 0 ? nullptr : pool.Server(nServer));
    if (FAILED(hr))
        return hr;
    GPooledConnection* pConnection = new (std::nothrow) GPooledConnection(pHarbinet.Get(), nServer);
    if (pConnection == nullptr)
        return E_OUTOFMEMORY;
    connection.Hold(pool, pConnection);
    return S_OK;
}

HRESULT CheckIn(GCheckedOut& connection) noexcept
{
    connection.Pool()->KeepIdle(connection.Get());
    return S_OK;
}
