// Lanes: a few independent evaluations of one kernel run side by side.
//
// The kernels that need it (the complete elliptic integrals' AGM loop) are written once as
// templates over their arithmetic type: `double` for one value, or a GCC/Clang vector of doubles
// for several. Every lane then does exactly the IEEE operations the scalar code does (+, −, ×, ÷
// and √ are correctly rounded element by element, and -ffp-contract=off forbids fusing them), so a
// value does not depend on the lane width or on its neighbours, bit for bit. A loop whose lanes
// converge at different passes keeps each finished lane's values by selection and runs until the
// last lane is done.
//
// Widths: Lanes2 uses SSE2, present on every x86-64; Lanes4 is compiled only into functions
// marked VELMORA_AVX, which the callers take behind the run-time check has_avx(). On other
// compilers or architectures VELMORA_LANES is 0 and callers use the scalar code alone.
#pragma once

#include <cmath>
#include <cstddef>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define VELMORA_LANES 1
#define VELMORA_AVX __attribute__((target("avx")))
#else
#define VELMORA_LANES 0
#define VELMORA_AVX
#endif

namespace velmora::lanes {

// The scalar forms, so that a kernel template reads the same for every type.
inline double vsqrt(double x) { return std::sqrt(x); }
inline double vabs(double x) { return std::fabs(x); }
inline bool any(bool live) { return live; }
inline double broadcast(double x, double) { return x; }

#if VELMORA_LANES
// Vector parameters and returns never cross a call: the kernels taking them are always inlined
// into the VELMORA_AVX (or plain SSE2) function that uses them, and those take pointers. So GCC's
// note that a vector's calling convention depends on AVX does not apply, in every file using lanes.
#pragma GCC diagnostic ignored "-Wpsabi"
using Lanes2 = double __attribute__((vector_size(16)));
using Lanes4 = double __attribute__((vector_size(32)));

template <class V>
inline constexpr int kWidth = sizeof(V) / sizeof(double);

template <class V>
[[gnu::always_inline]] inline V vsqrt(V x) {
    V out;
    for (int j = 0; j < kWidth<V>; ++j) out[j] = __builtin_sqrt(x[j]);
    return out;
}
template <class V>
[[gnu::always_inline]] inline V vabs(V x) {
    V out;
    for (int j = 0; j < kWidth<V>; ++j) out[j] = __builtin_fabs(x[j]);
    return out;
}
// Whether any lane of a comparison's mask (0 or all ones per lane) is set.
template <class M>
[[gnu::always_inline]] inline bool any(M live) {
    decltype(live[0] | live[0]) set = 0;
    for (int j = 0; j < static_cast<int>(sizeof(M) / sizeof(live[0])); ++j) set |= live[j];
    return set != 0;
}
// x in every lane of the type of `like`.
template <class V>
[[gnu::always_inline]] inline V broadcast(double x, V) {
    V out;
    for (int j = 0; j < kWidth<V>; ++j) out[j] = x;
    return out;
}
// The lanes of V from p[0..count), count ≥ 1; lanes beyond repeat p[count − 1] (a valid input), and
// store() writes back only the first count.
template <class V>
[[gnu::always_inline]] inline V load(const double* p, std::size_t count) {
    V out;
    for (int j = 0; j < kWidth<V>; ++j) out[j] = p[static_cast<std::size_t>(j) < count ? j : count - 1];
    return out;
}
template <class V>
[[gnu::always_inline]] inline void store(V v, double* p, std::size_t count) {
    for (std::size_t j = 0; j < count && j < static_cast<std::size_t>(kWidth<V>); ++j) p[j] = v[j];
}

// Whether this CPU (and its operating system) runs AVX code, checked once, and AVX is allowed
// (numerics/lanes_testing.hpp lets the tests forbid it).
bool has_avx();
#else
inline bool has_avx() { return false; }
#endif

}  // namespace velmora::lanes
