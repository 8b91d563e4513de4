// The library entry: start and stop of the module.
#include <winsock2.h>
#include <windows.h>

#include "client/client_start.h"
#include "dispatch/type_description.h"
#include "distributed/pool_registry.h"
#include "module/module_state.h"
#include "query/command_key.h"

LONG g_nRefCount = 0;
wchar_t g_szModulePath[MODULE_PATH_UNITS] = {};

namespace
{
// The reverse of the start. What started on first use stops only if it started: the
// crypto provider, then the pools, which close their sockets while the socket library
// is still up, then the socket library; then what the entry itself started. The loader
// may call the entry again with a detach after a refused attach, so each step
// remembers whether it still has something to undo.
void StopModule() noexcept
{
    ReleaseSharedProvider();
    StopPoolRegistry();
    StopClient();
    ReleaseTypeDescription();
}
}

// Only what cannot wait happens here, under the loader lock: the module's own path, a
// lock that needs no allocation, and the type description, without which the library
// refuses to load. The socket library, the settings in the registry and the pools start
// with the first call that needs them.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        GetModuleFileNameW(hInstance, g_szModulePath, MODULE_PATH_UNITS);
        StartPoolRegistry();
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
        // libraries below may be gone already: nothing is torn down then, and no
        // object of this module has a destructor that the C runtime would run.
        StopModule();
    }
    return TRUE;
}
