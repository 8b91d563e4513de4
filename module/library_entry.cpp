// The library entry: start and stop of the module.
#include <winsock2.h>
#include <windows.h>

#include "client/time_limits.h"
#include "dispatch/type_description.h"
#include "module/module_state.h"

LONG g_nRefCount = 0;
wchar_t g_szModulePath[MODULE_PATH_UNITS] = {};

namespace
{
bool g_bSocketsStarted = false;

// The loader may call the entry again with a detach after a refused attach, so
// each stop step remembers whether it still has something to undo.
void StopModule() noexcept
{
    ReleaseTypeDescription();
    if (g_bSocketsStarted)
    {
        WSACleanup();
        g_bSocketsStarted = false;
    }
}
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        GetModuleFileNameW(hInstance, g_szModulePath, MODULE_PATH_UNITS);
        LoadTimeLimits();
        WSADATA wsaData;
        g_bSocketsStarted = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
        const bool bLoaded = LoadTypeDescription(g_szModulePath);
        DisableThreadLibraryCalls(hInstance);
        if (!bLoaded)
        {
            StopModule();
            return FALSE;
        }
    }
    else if (dwReason == DLL_PROCESS_DETACH)
    {
        StopModule();
    }
    return TRUE;
}
