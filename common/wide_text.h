// GWideText: one narrow text converted to UTF-16 from a given code page.
#pragma once

#include <windows.h>

#include "common/text_buffer.h"

class GWideText
{
public:
    // A null input gives a null result. Throws CAtlException when the conversion fails.
    explicit GWideText(const char* szText, UINT nCodePage = CP_THREAD_ACP);
    GWideText(const GWideText&) = delete;
    GWideText& operator=(const GWideText&) = delete;

    const wchar_t* Get() const noexcept { return m_buffer.Get(); }
    operator const wchar_t*() const noexcept { return m_buffer.Get(); }
    bool IsInline() const noexcept { return m_buffer.IsInline(); }
    size_t Capacity() const noexcept { return m_buffer.Capacity(); }

private:
    GTextBuffer<wchar_t> m_buffer;
};
