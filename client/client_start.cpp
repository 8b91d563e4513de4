// Starting the socket library and reading the time limits at the first connection, not while the library loads.
#include "client/client_start.h"

#include <winsock2.h>

#include "client/time_limits.h"

namespace
{
// Both are plain data: nothing runs for them when the process ends.
INIT_ONCE g_onceClient = INIT_ONCE_STATIC_INIT;
bool g_bSocketsStarted = false;

// WSAStartup loads further libraries and reading the registry may too; under the
// loader lock either can deadlock the host, so they wait for the first Open.
BOOL CALLBACK StartOnce(INIT_ONCE*, void*, void**) noexcept
{
    WSADATA wsaData;
    if (WSAStartup(MAKEWORD(2, 2), &wsaData) != 0)
        return FALSE;
    g_bSocketsStarted = true;
    LoadTimeLimits();
    return TRUE;
}
}

void StartClient() noexcept
{
    InitOnceExecuteOnce(&g_onceClient, StartOnce, nullptr, nullptr);
}

void StopClient() noexcept
{
    if (g_bSocketsStarted)
    {
        WSACleanup();
        g_bSocketsStarted = false;
    }
}
