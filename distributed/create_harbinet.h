// The single-server objects of the pools: made and looked at by the module, which alone knows their type.
#pragma once

#include <windows.h>

#include "harbinet_h.h"

// A new single-server object in its initial state with one reference, counted in the
// module count like any object a class object makes; E_FAIL when it cannot be had.
HRESULT CreateHarbinet(IHarbinet** ppHarbinet) noexcept;

// Whether an object made by CreateHarbinet still holds a connection that can serve the
// next exchange. One socket call, and no error information either way.
bool IsHarbinetLive(IHarbinet* pHarbinet) noexcept;
