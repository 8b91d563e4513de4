// The name under which element i of a variant array is stored: "%s(%d)".
#pragma once

#include <windows.h>

#include "common/bstr.h"

constexpr size_t ELEMENT_NAME_UNITS = 256;

// False when the name of element i would not fit in 255 UTF-16 units: a name cut
// short would alias another entry, so it is refused rather than shortened.
bool MakeElementName(const wchar_t* szName, ULONG nIndex, GBstr& bstrElement);
