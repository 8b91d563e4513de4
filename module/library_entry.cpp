// The library entry: start and stop of the module.
#include <winsock2.h>
#include <windows.h>

#include "dispatch/type_description.h"
#include "distributed/pool_registry.h"
#include "module/module_state.h"

LONG g_nRefCount = 0;
wchar_t g_szModulePath[MODULE_PATH_UNITS] = {};

namespace
{
bool g_bSocketsStarted = false;
bool g_bRegistryStarted = false;

// The reverse of the start: the pools close their sockets while the socket library is
// still up. The loader may call the entry again with a detach after a refused attach,
// so each step remembers whether it still has something to undo.
void StopModule() noexcept
{
    ReleaseTypeDescription();
    if (g_bRegistryStarted)
    {
        StopPoolRegistry();
        g_bRegistryStarted = false;
    }
    if (g_bSocketsStarted)
    {
        WSACleanup();
        g_bSocketsStarted = false;
    }
}
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        GetModuleFileNameW(hInstance, g_szModulePath, MODULE_PATH_UNITS);
        WSADATA wsaData;
        g_bSocketsStarted = WSAStartup(MAKEWORD(2, 2), &wsaData) == 0;
        StartPoolRegistry();
        g_bRegistryStarted = true;
        const bool bLoaded = LoadTypeDescription(g_szModulePath);
        DisableThreadLibraryCalls(hInstance);
        if (!bLoaded)
        {
            StopModule();
            return FALSE;
        }
    }
    else if (dwReason == DLL_PROCESS_DETACH && pReserved == nullptr)
    {
        // At process exit (pReserved set) other threads are gone mid-call and the
        // libraries below may be gone already: nothing is torn down then.
        StopModule();
    }
    return TRUE;
}
