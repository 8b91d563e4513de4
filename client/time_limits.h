// The time limits an administrator may set for every connection in the process.
#pragma once

#include <windows.h>

// Milliseconds; 0 means no limit, which is also what an absent or unreadable setting
// gives. Written once while the library loads, before any object exists, and only
// read after that, so no lock guards them.
extern DWORD g_nConnectTimeout;
extern DWORD g_nSendTimeout;
extern DWORD g_nReceiveTimeout;

// Reads ConnectTimeout, SendTimeout and ReceiveTimeout (DWORD values) below
// HKEY_LOCAL_MACHINE\SOFTWARE\Harbinet in the 64-bit view.
void LoadTimeLimits() noexcept;
