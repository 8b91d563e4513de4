// Formatting of element names.
#include "values/element_name.h"

#include <cwchar>

bool MakeElementName(const wchar_t* szName, ULONG nIndex, GBstr& bstrElement)
{
    wchar_t szElement[ELEMENT_NAME_UNITS];
    const int n = swprintf(szElement, ELEMENT_NAME_UNITS, L"%ls(%d)", szName, static_cast<int>(nIndex));
    if (n < 0 || static_cast<size_t>(n) >= ELEMENT_NAME_UNITS)
        return false;
    bstrElement = GBstr::FromText(szElement);
    return true;
}
