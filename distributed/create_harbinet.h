// CreateHarbinet: a new single-server object, made by the module for the pools.
#pragma once

#include <windows.h>

#include "harbinet_h.h"

// A new single-server object in its initial state with one reference, counted in the
// module count like any object a class object makes; E_FAIL when it cannot be had.
// Defined by the module, which alone knows the object's full type.
HRESULT CreateHarbinet(IHarbinet** ppHarbinet) noexcept;
