// Module-wide state: the module count and the module's own file path.
#pragma once

#include <windows.h>

constexpr DWORD MODULE_PATH_UNITS = 260;

extern LONG g_nRefCount;
extern wchar_t g_szModulePath[MODULE_PATH_UNITS];
