// GBstr: an owned BSTR, freed with SysFreeString.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/atl_exception.h"

class GBstr
{
public:
    GBstr() noexcept = default;
    explicit GBstr(BSTR bstr) noexcept : m_bstr(bstr) {}
    ~GBstr() { SysFreeString(m_bstr); }
    GBstr(const GBstr&) = delete;
    GBstr& operator=(const GBstr&) = delete;

    // Copies by characters; a null source gives a null string.
    static GBstr FromText(const wchar_t* sz)
    {
        if (sz == nullptr)
            return GBstr();
        BSTR bstr = SysAllocString(sz);
        if (bstr == nullptr)
            throw CAtlException(E_OUTOFMEMORY);
        return GBstr(bstr);
    }

    // Copies exactly nUnits units, NULs included.
    static GBstr FromUnits(const wchar_t* p, UINT nUnits)
    {
        BSTR bstr = SysAllocStringLen(p, nUnits);
        if (bstr == nullptr)
            throw CAtlException(E_OUTOFMEMORY);
        return GBstr(bstr);
    }

    // Copies by bytes, so that a string of odd byte length stays whole.
    static GBstr FromBytes(const void* p, UINT nBytes)
    {
        BSTR bstr = SysAllocStringByteLen(static_cast<const char*>(p), nBytes);
        if (bstr == nullptr)
            throw CAtlException(E_OUTOFMEMORY);
        return GBstr(bstr);
    }

    GBstr(GBstr&& other) noexcept : m_bstr(other.m_bstr) { other.m_bstr = nullptr; }
    GBstr& operator=(GBstr&& other) noexcept
    {
        if (this != &other)
        {
            SysFreeString(m_bstr);
            m_bstr = other.m_bstr;
            other.m_bstr = nullptr;
        }
        return *this;
    }

    BSTR Get() const noexcept { return m_bstr; }
    BSTR Detach() noexcept
    {
        BSTR bstr = m_bstr;
        m_bstr = nullptr;
        return bstr;
    }

private:
    BSTR m_bstr = nullptr;
};
