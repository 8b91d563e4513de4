// The open-file limit that the connection limit depends on.
#pragma once

#include <cstdint>

// Raises the soft open-file limit as far as needed for nConnections (and the
// server's own descriptors), up to the hard limit. Returns how many
// connections the resulting limit allows, at most nConnections.
uint32_t RaiseOpenFileLimit(uint32_t nConnections);
