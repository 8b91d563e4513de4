// The cookie: set by the caller, made up from a GUID, or handed over by the server.
#include "client/server_connection.h"

#include <objbase.h>
#include <cstdio>
#include <cstring>

#include "common/bstr.h"
#include "common/narrow_text.h"
#include "common/wide_text.h"

HRESULT GServerConnection::PutCookie(BSTR sCookie)
{
    if (sCookie == nullptr)
    {
        m_bCookie = 0;
        m_szCookie[0] = '\0';
        return S_OK;
    }
    if (sCookie[0] == L'\0')
    {
        // A failed generator would hand every such client the same cookie of zeros:
        // its failure is the result, and the cookie stays as it was.
        GUID guid = {};
        const HRESULT hr = CoCreateGuid(&guid);
        if (FAILED(hr))
            return hr;
        snprintf(m_szCookie, 33, "%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x",
                 static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                 guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
        m_bCookie = 1;
        return S_OK;
    }
    GNarrowText szCookie(sCookie);
    // A line break would let the cookie write header lines of its own into every request.
    if (std::strpbrk(szCookie.Get(), "\r\n") != nullptr)
        return E_INVALIDARG;
    const size_t nLength = std::strlen(szCookie.Get());
    if (nLength + 1 > COOKIE_BYTES)
        return E_FAIL;
    std::memcpy(m_szCookie, szCookie.Get(), nLength + 1);
    m_bCookie = 1;
    return S_OK;
}

HRESULT GServerConnection::GetCookie(BSTR* p)
{
    if (p == nullptr)
        return E_POINTER;
    *p = nullptr;
    if (m_bCookie)
    {
        // No copy is no cookie to the caller: that must fail, not pass as "none".
        GWideText szCookie(m_szCookie);
        *p = GBstr::FromText(szCookie.Get()).Detach();
    }
    return S_OK;
}

// Values over 255 bytes are ignored, and so are values with a line feed: they would be
// echoed into later request heads, and through a pool into another server's stream.
void GServerConnection::TakeSetCookie(const char* szValue) noexcept
{
    const size_t nLength = std::strlen(szValue);
    if (nLength + 1 > COOKIE_BYTES || std::strchr(szValue, '\n') != nullptr)
        return;
    std::memcpy(m_szCookie, szValue, nLength + 1);
    m_bCookie = 1;
}
