// CAtlException: the one exception type of the component; it carries a single HRESULT.
#pragma once

#include <windows.h>

class CAtlException
{
public:
    explicit CAtlException(HRESULT hr) noexcept : m_hr(hr) {}
    operator HRESULT() const noexcept { return m_hr; }

    // The calling thread's last platform error as an HRESULT: positive values move into
    // the Win32 facility, zero or negative values are taken as they are.
    static CAtlException FromLastError() noexcept
    {
        const LONG v = static_cast<LONG>(GetLastError());
        return CAtlException(v > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<ULONG>(v) & 0xFFFFu))
                                   : static_cast<HRESULT>(v));
    }

private:
    HRESULT m_hr;
};
