#include "models/heyrovsky.hpp"

#include "models/at_least_one.hpp"

#include <cmath>

#include "numerics/constants.hpp"
#include "numerics/ellip/cel.hpp"
#include "numerics/lanes.hpp"

namespace velmora {
namespace {

// Lengths beyond constants::kHugeLength are scaled down first (the magnification depends on l/ε and
// r/ε only), so that no square overflows.
using constants::kHugeLength;
using constants::kTinyLength;

// A = (2ε²·K(m) + f²·Π(n, m)) · 4/((l + r)·√(4ε² + f²)) / 2π, with f = r − l, S = l + r,
//   n = 4lr/S²,  m = 16ε²lr/(S²(4ε² + f²)).
// Both complements follow from the geometry without cancellation, since S² − 4lr = f²:
//   1 − n = f²/S²,   1 − m = f²(S² + 4ε²)/(S²(f² + 4ε²)),
// so with p = 1 − n and kc = √(1 − m) the numerator is one Bulirsch integral,
//   2ε²K + f²Π = cel(kc, p, 2ε² + f², 2ε²p + f²),
// all of whose terms are positive. Forming n and m first and then 1 − n, 1 − m instead loses
// ~1e-16·(2l/f)² relative next to the ring (0.5 at l = 1000, |f| = 1e-13) and rounds n to 1.
// V is double or a vector of radii for one lens position (numerics/lanes.hpp).
template <class V>
[[gnu::always_inline]] inline V ring(double l, V r, double eps) {
    using lanes::vabs, lanes::vsqrt;
    const V f = r - l;
    const V sum = l + r;
    const double two_eps2 = 2.0 * eps * eps;
    const V f2 = f * f;
    const V d = 2.0 * two_eps2 + f2;  // 4ε² + f²
    const V sqrt_p = vabs(f) / sum;  // √(1 − n)
    const V kc = sqrt_p * vsqrt((sum * sum + 2.0 * two_eps2) / d);
    const V p = sqrt_p * sqrt_p;
    const V c = cel_sqrt_p_lanes(kc, sqrt_p, two_eps2 + f2, two_eps2 * p + f2);
    V a = 2.0 * c / (constants::kPi * sum * vsqrt(d));
    // A ring is a physical source when l ≥ 0 and r ≥ 0.
    if (l >= 0.0) a = at_least_one(a, r >= 0.0);
    // The lens on the ring (and a point source on the lens, l = r = 0): the ring magnification
    // has a logarithmic singularity there and is infinite.
    return f == 0.0 ? lanes::broadcast(HUGE_VAL, a) : a;
}

bool huge(double l, double r, double eps) { return std::fabs(l) + std::fabs(r) > kHugeLength || std::fabs(eps) > kHugeLength; }

// All three lengths below kTinyLength: their squares would underflow (4ε² + f² to 0, and then 0/0)
// where the magnification, a function of their ratios, is an ordinary number.
bool tiny(double l, double r, double eps) {
    return std::fabs(l) < kTinyLength && std::fabs(r) < kTinyLength && std::fabs(eps) < kTinyLength;
}

double one_ring(double l, double r, double eps) {
    if (huge(l, r, eps)) {
        // A power of two scales exactly; the smallest lengths may underflow, which changes the
        // value by less than its rounding.
        return ring(std::ldexp(l, -600), std::ldexp(r, -600), std::ldexp(eps, -600));
    }
    if (tiny(l, r, eps)) return ring(std::ldexp(l, 600), std::ldexp(r, 600), std::ldexp(eps, 600));
    return ring(l, r, eps);
}

#if VELMORA_LANES
// Whether one_ring() scales the lengths first.
bool scaled(double l, double r, double eps) { return huge(l, r, eps) || tiny(l, r, eps); }

// The lane loops: one lens position, its radii in chunks of the vector's width (the last chunk
// padded with its last radius); a chunk with a radius that needs scaling goes one by one.
template <class V>
[[gnu::always_inline]] inline void rings_in_lanes(double l, const double* r, double eps, double* out, std::size_t n) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        bool plain = true;
        for (std::size_t j = 0; j < count; ++j) plain = plain && !scaled(l, r[i + j], eps);
        if (!plain) {
            for (std::size_t j = 0; j < count; ++j) out[i + j] = one_ring(l, r[i + j], eps);
            continue;
        }
        lanes::store(ring(l, lanes::load<V>(r + i, count), eps), out + i, count);
    }
}

VELMORA_AVX void rings_avx(double l, const double* r, double eps, double* out, std::size_t n) {
    rings_in_lanes<lanes::Lanes4>(l, r, eps, out, n);
}

void rings_sse2(double l, const double* r, double eps, double* out, std::size_t n) {
    rings_in_lanes<lanes::Lanes2>(l, r, eps, out, n);
}
#endif

}  // namespace

CalcResult<double> heyrovsky_magnification(double l, double r, double re, double rstar) {
    return one_ring(l, r, re / rstar);  // ε: the Einstein radius in source radii
}

void heyrovsky_magnifications(double l, std::span<const double> r, double re, double rstar, std::span<double> out) {
    const double eps = re / rstar;
#if VELMORA_LANES
    if (lanes::has_avx()) return rings_avx(l, r.data(), eps, out.data(), r.size());
    return rings_sse2(l, r.data(), eps, out.data(), r.size());
#else
    for (std::size_t i = 0; i < r.size(); ++i) out[i] = one_ring(l, r[i], eps);
#endif
}

}  // namespace velmora
