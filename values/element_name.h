// The name under which element i of a variant array is stored: "%s(%d)".
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "common/bstr.h"

constexpr size_t ELEMENT_NAME_UNITS = 256;

// False when the name of element i would not fit in 255 UTF-16 units: a name cut
// short would alias another entry, so it is refused rather than shortened.
bool MakeElementName(const wchar_t* szName, ULONG nIndex, GBstr& bstrElement);

// Whether every element of a variant array, at every depth of nested arrays, gets a
// name of at most 255 units, given the length of the array's own name. Checked before
// a store begins, so that a name too long deep inside refuses the whole value before
// any part of it has gone out. A value that is no usable variant array has no element
// names; its own store refuses it.
bool CanNameElements(size_t nNameUnits, const VARIANT& value);
