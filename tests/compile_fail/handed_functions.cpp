// A function the host hands the module in one of its records must be
// noexcept: with MISTAKE 1 one that may throw stops the build with handed()'s
// assertion. MISTAKE 0 compiles.
#include "hostsim/checks.h"

namespace {

#if MISTAKE == 1
int32_t connected(NodeInputID) { return 0; }
#else
int32_t connected(NodeInputID) noexcept { return 0; }
#endif

} // namespace

void fill(LWNodeInputFuncs &funcs) { funcs.check = hostsim::handed(&connected); }
