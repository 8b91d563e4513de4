// Opening and closing on a pool, the cookie of a distributed object, and the two ends of a forwarded call.
#include "distributed/distributed_client.h"

#include <objbase.h>
#include <cwchar>

#include "common/report_error.h"
#include "common/result_codes.h"
#include "distributed/pool_registry.h"

GDistributedClient::~GDistributedClient()
{
    ClosePool();
}

HRESULT GDistributedClient::OpenPool(BSTR sList)
{
    if (m_pPool != nullptr)
        return ReportError(E_ALREADY_CONNECTED, SOURCE_DISTRIBUTED, MSG_ALREADY_CONNECTED);
    return FindOrCreatePool(sList, &m_pPool);
}

void GDistributedClient::ClosePool() noexcept
{
    if (m_pPool != nullptr)
    {
        ReleasePool(m_pPool);
        m_pPool = nullptr;
    }
}

HRESULT GDistributedClient::RefuseClosed() noexcept
{
    return ReportError(E_NOT_CONNECTED, SOURCE_DISTRIBUTED, MSG_NOT_CONNECTED);
}

// The cookie may be of any length here; whether a connection can carry it is found out
// when it is handed over.
HRESULT GDistributedClient::PutCookie(BSTR sCookie)
{
    if (sCookie == nullptr || sCookie[0] != L'\0')
    {
        GBstr bstrCookie = sCookie == nullptr ? GBstr() : GBstr::FromUnits(sCookie, SysStringLen(sCookie));
        m_bstrCookie = std::move(bstrCookie);
        return S_OK;
    }
    // A failed generator would give every such object the same cookie of zeros, and so
    // the values of one client to another: the failure is reported instead, and the
    // cookie stays as it was.
    GUID guid = {};
    const HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr))
        return hr;
    wchar_t szCookie[33];
    swprintf(szCookie, 33, L"%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    m_bstrCookie = GBstr::FromText(szCookie);
    return S_OK;
}

HRESULT GDistributedClient::GetCookie(BSTR* p) const
{
    if (p == nullptr)
        return E_POINTER;
    *p = m_bstrCookie.Get() == nullptr
        ? nullptr
        : GBstr::FromUnits(m_bstrCookie.Get(), SysStringLen(m_bstrCookie.Get())).Detach();
    return S_OK;
}

// A cookie, even an empty one, routes every call of the object to one server entry;
// without one each call goes by its name.
HRESULT GDistributedClient::BeginCall(BSTR sName, GCheckedOut& connection)
{
    const BSTR sRoute = m_bstrCookie.Get() != nullptr ? m_bstrCookie.Get() : sName;
    const HRESULT hr = CheckOut(*m_pPool, NameHash(sRoute), connection);
    if (FAILED(hr))
        return hr;
    return connection.Get()->Harbinet()->put_Cookie(m_bstrCookie.Get());
}

HRESULT GDistributedClient::EndCall(GCheckedOut& connection)
{
    BSTR bstrCookie = nullptr;
    const HRESULT hr = connection.Get()->Harbinet()->get_Cookie(&bstrCookie);
    if (FAILED(hr))
        return hr;
    m_bstrCookie = GBstr(bstrCookie);
    return CheckIn(connection);
}
