// Narrow text to UTF-16: one unit a byte is always enough, but the converter is asked
// again if it says otherwise.
#include "common/wide_text.h"

#include <climits>
#include <cstring>

GWideText::GWideText(const char* szText, UINT nCodePage)
{
    if (szText == nullptr)
        return;
    const size_t nBytes = std::strlen(szText) + 1;
    if (nBytes > static_cast<size_t>(INT_MAX))
        throw CAtlException(E_OUTOFMEMORY);
    const int n = static_cast<int>(nBytes);

    wchar_t* p = m_buffer.Reserve(n);
    if (MultiByteToWideChar(nCodePage, 0, szText, n, p, n) != 0)
        return;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throw CAtlException::FromLastError();
    const int m = MultiByteToWideChar(nCodePage, 0, szText, n, nullptr, 0);
    p = m_buffer.Reserve(m);
    if (MultiByteToWideChar(nCodePage, 0, szText, n, p, m) == 0)
        throw CAtlException::FromLastError();
}
