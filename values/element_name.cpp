// Formatting of element names.
#include "values/element_name.h"

#include <cwchar>

#include "values/value_class.h"

namespace
{
// Units of the suffix "(i)".
size_t SuffixUnits(ULONG nIndex)
{
    size_t n = 3;
    for (; nIndex >= 10; nIndex /= 10)
        ++n;
    return n;
}
}

bool MakeElementName(const wchar_t* szName, ULONG nIndex, GBstr& bstrElement)
{
    wchar_t szElement[ELEMENT_NAME_UNITS];
    const int n = swprintf(szElement, ELEMENT_NAME_UNITS, L"%ls(%d)", szName, static_cast<int>(nIndex));
    if (n < 0 || static_cast<size_t>(n) >= ELEMENT_NAME_UNITS)
        return false;
    bstrElement = GBstr::FromText(szElement);
    return true;
}

// An array that holds itself ends here too: every level adds at least three units.
bool CanNameElements(size_t nNameUnits, const VARIANT& value)
{
    if (value.vt != VT_VARIANT_ARRAY || value.parray == nullptr)
        return true;
    const SAFEARRAY* pArray = value.parray;
    if (pArray->cDims != 1 || pArray->cbElements != sizeof(VARIANT) || pArray->pvData == nullptr)
        return true;
    const ULONG nElements = pArray->rgsabound[0].cElements;
    if (nElements == 0)
        return true;
    if (nNameUnits + SuffixUnits(nElements - 1) >= ELEMENT_NAME_UNITS)
        return false;
    const VARIANT* pElements = static_cast<const VARIANT*>(pArray->pvData);
    for (ULONG i = 0; i < nElements; ++i)
    {
        if (!CanNameElements(nNameUnits + SuffixUnits(i), pElements[i]))
            return false;
    }
    return true;
}
