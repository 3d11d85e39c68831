#include "numerics/lanes.hpp"

#include "numerics/lanes_testing.hpp"

#include <atomic>

namespace velmora::lanes {

#if VELMORA_LANES
namespace {
std::atomic<bool> avx_allowed{true};
}

// GCC's and Clang's CPU check also asks the operating system whether it saves the AVX registers.
bool has_avx() {
    static const bool yes = __builtin_cpu_supports("avx");
    return yes && avx_allowed.load(std::memory_order_relaxed);
}

void allow_avx(bool allowed) { avx_allowed.store(allowed, std::memory_order_relaxed); }
#endif

}  // namespace velmora::lanes
