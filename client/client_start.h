// The client's process-wide needs: the socket library and the administrator's time limits, started on first use.
#pragma once

#include <windows.h>

// Starts the socket library and reads the time limits, once per load of the module,
// whichever thread comes first; later calls cost one check. A socket library that
// does not start is tried again by the next call (the socket calls fail meanwhile).
void StartClient() noexcept;

// Undoes what StartClient did, if anything. Only the module's unload calls it, after
// every pooled connection is gone and while no other call can run.
void StopClient() noexcept;
