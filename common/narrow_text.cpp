// UTF-16 to narrow text, first into a reservation of four bytes a unit, then, if
// that was short, into exactly what the converter asks for.
#include "common/narrow_text.h"

#include <climits>

GNarrowText::GNarrowText(const wchar_t* szText, UINT nCodePage)
{
    if (szText == nullptr)
        return;
    const size_t nUnits = wcslen(szText) + 1;   // the terminator is converted with the text
    if (nUnits > static_cast<size_t>(INT_MAX))
        throw CAtlException(E_OUTOFMEMORY);
    const int n = static_cast<int>(nUnits);

    // Four bytes a unit covers every code page; for texts too long for that product
    // to be counted in an int the size question comes first.
    if (nUnits <= static_cast<size_t>(INT_MAX / 4))
    {
        char* p = m_buffer.Reserve(4 * n);
        if (WideCharToMultiByte(nCodePage, 0, szText, n, p, 4 * n, nullptr, nullptr) != 0)
            return;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            throw CAtlException::FromLastError();
    }
    const int m = WideCharToMultiByte(nCodePage, 0, szText, n, nullptr, 0, nullptr, nullptr);
    char* p = m_buffer.Reserve(m);
    if (WideCharToMultiByte(nCodePage, 0, szText, n, p, m, nullptr, nullptr) == 0)
        throw CAtlException::FromLastError();
}
