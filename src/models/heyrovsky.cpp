#include "models/heyrovsky.hpp"

#include <cmath>
#include <numbers>

#include "numerics/ellip/cel.hpp"

namespace velmora {
namespace {

// Lengths beyond this are scaled down first (the magnification depends on l/ε and r/ε only), so that
// no square overflows.
constexpr double kHuge = 1e150;

// A = (2ε²·K(m) + f²·Π(n, m)) · 4/((l + r)·√(4ε² + f²)) / 2π, with f = r − l, S = l + r,
//   n = 4lr/S²,  m = 16ε²lr/(S²(4ε² + f²)).
// Both complements follow from the geometry without cancellation, since S² − 4lr = f²:
//   1 − n = f²/S²,   1 − m = f²(S² + 4ε²)/(S²(f² + 4ε²)),
// so with p = 1 − n and kc = √(1 − m) the numerator is one Bulirsch integral,
//   2ε²K + f²Π = cel(kc, p, 2ε² + f², 2ε²p + f²),
// all of whose terms are positive. Forming n and m first and then 1 − n, 1 − m instead loses
// ~1e-16·(2l/f)² relative next to the ring (0.5 at l = 1000, |f| = 1e-13) and rounds n to 1.
double ring(double l, double r, double eps) {
    const double f = r - l;
    // The lens on the ring (and a point source on the lens, l = r = 0): the ring magnification
    // has a logarithmic singularity there and is infinite.
    if (f == 0.0) return HUGE_VAL;

    const double sum = l + r;
    const double two_eps2 = 2.0 * eps * eps;
    const double f2 = f * f;
    const double d = 2.0 * two_eps2 + f2;  // 4ε² + f²
    const double sqrt_p = std::fabs(f) / sum;  // √(1 − n)
    const double kc = sqrt_p * std::sqrt((sum * sum + 2.0 * two_eps2) / d);
    const double p = sqrt_p * sqrt_p;
    const double c = cel_sqrt_p(kc, sqrt_p, two_eps2 + f2, two_eps2 * p + f2);
    const double a = 2.0 * c / (std::numbers::pi * sum * std::sqrt(d));
    // A point lens never demagnifies, so the ring's mean is ≥ 1: rounding may not take it below.
    return (a < 1.0 && l >= 0.0 && r >= 0.0) ? 1.0 : a;
}

}  // namespace

CalcResult<double> heyrovsky_magnification(double l, double r, double re, double rstar) {
    const double eps = re / rstar;  // Einstein radius in source radii
    if (std::fabs(l) + std::fabs(r) > kHuge || std::fabs(eps) > kHuge) {
        // A power of two scales exactly; the smallest lengths may underflow, which changes the
        // value by less than its rounding.
        return ring(std::ldexp(l, -600), std::ldexp(r, -600), std::ldexp(eps, -600));
    }
    return ring(l, r, eps);
}

}  // namespace velmora
