// The time limits an administrator may set for every connection in the process.
#pragma once

#include <windows.h>

// Milliseconds; 0 means no limit, which is also what an absent or unreadable setting
// gives. Written once, by the first Open in the process (StartClient), before any
// connection exists, and only read after that, so no lock guards them.
extern DWORD g_nConnectTimeout;
extern DWORD g_nSendTimeout;
extern DWORD g_nReceiveTimeout;

// Reads ConnectTimeout, SendTimeout and ReceiveTimeout (DWORD values) below
// HKEY_LOCAL_MACHINE\SOFTWARE\Harbinet in the 64-bit view.
void LoadTimeLimits() noexcept;
