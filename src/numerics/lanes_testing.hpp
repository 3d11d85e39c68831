// Test-only control of the lanes, for the kernel test extension (tests/native/kernels_module.cpp);
// the module includes none of this.
#pragma once

#include "numerics/lanes.hpp"

namespace velmora::lanes {

#if VELMORA_LANES
// With false, the callers take two lanes (SSE2) even on an AVX machine, so that the tests can
// compare the widths.
void allow_avx(bool allowed);
#else
inline void allow_avx(bool) {}
#endif

}  // namespace velmora::lanes
