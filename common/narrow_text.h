// GNarrowText: one UTF-16 text converted to narrow text in a given code page.
#pragma once

#include <windows.h>

#include "common/text_buffer.h"

class GNarrowText
{
public:
    // A null input gives a null result. Throws CAtlException when the conversion fails.
    explicit GNarrowText(const wchar_t* szText, UINT nCodePage = CP_THREAD_ACP);
    GNarrowText(const GNarrowText&) = delete;
    GNarrowText& operator=(const GNarrowText&) = delete;

    const char* Get() const noexcept { return m_buffer.Get(); }
    operator const char*() const noexcept { return m_buffer.Get(); }
    bool IsInline() const noexcept { return m_buffer.IsInline(); }
    size_t Capacity() const noexcept { return m_buffer.Capacity(); }

private:
    GTextBuffer<char> m_buffer;
};
