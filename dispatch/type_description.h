// The type description of IHarbinet that every object of both classes dispatches through.
#pragma once

#include <windows.h>
#include <oaidl.h>

extern ITypeInfo* g_pTI_IHarbinet;

// Loads the type library from the module's own file and keeps only the description
// of IHarbinet. Returns false when the file holds no such library or interface.
bool LoadTypeDescription(const wchar_t* szModulePath) noexcept;
void ReleaseTypeDescription() noexcept;
