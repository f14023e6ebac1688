// Whether a frame fits in memory, asked before rendering rather than found
// out by running out halfway through.
#pragma once

#include <cstdint>

namespace hostsim {

// Bytes a width x height frame needs while it is rendered and written: the
// frame buffer (three floats a pixel) and a converted copy for the writer.
uint64_t frameBytes(int width, int height);

// Bytes this process can still get: the least of its address-space and data
// limits' headroom, its control group's headroom, and the system's available
// memory and swap. UINT64_MAX when nothing limits it.
uint64_t availableBytes();

} // namespace hostsim
