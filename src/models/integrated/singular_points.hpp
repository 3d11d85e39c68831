// Where the radius integrands are singular, in each variable the routes integrate in: r itself,
// t = tan(φ/2) with r = cos φ (the law's integrals over the disk), and v = r² (the law's integrals
// with the lens outside the disk). The Gauss rules take their node counts from these points
// (numerics/quadrature/graded_gauss.hpp, gauss_jacobi.hpp).
//
// In r: the ring passes through the lens at r = l (a logarithm in A, a kink in W), the square roots
// √(f² + 4ε²) and √(S² + 4ε²) of both closed forms vanish at r = ±l ± 2iε, and S = l + r vanishes
// at r = −l. Conjugates give the same Bernstein parameter, so one of each pair is kept. At l = 0 the
// integrands 2πr·A and πr²·W are analytic at r = 0, which is then no singular point.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <span>

#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora::integrated {

struct SingularPoints {
    std::array<std::complex<double>, 10> points;
    std::size_t count = 0;
    void add(std::complex<double> z) { points[count++] = z; }
    std::span<const std::complex<double>> span() const { return {points.data(), count}; }
};

// The points in r, ε the Einstein radius in source radii. A piece of [0, 1] that does not end on
// r = l (`ends_on_l` false) needs only the nearest of them, when l > 0: r = l itself. Every other
// point is farther from each point of [0, ∞): l ± 2iε by its imaginary part, −l and −l ± 2iε by
// their mirror image, so its ellipse is never the smaller. A piece that ends on r = l sees the others
// through its map.
inline SingularPoints singular_in_r(double l, double eps, bool ends_on_l = true) {
    SingularPoints s;
    const std::complex<double> off(0.0, 2.0 * eps);
    if (l > 0.0 && !ends_on_l) {
        s.add(l);
        return s;
    }
    if (l != 0.0) s.add(l), s.add(-l);
    s.add(l + off);
    if (l != 0.0) s.add(-l + off);
    return s;
}

// The end of [a, b] at which the integrand is singular: r = l (or t = t_l).
inline SingularEnd singular_end(double a, double b, double at) {
    if (a == at) return SingularEnd::start;
    if (b == at) return SingularEnd::end;
    return SingularEnd::none;
}

// The variable t = tan(φ/2) with r = cos φ:
//   r = (1 − t²)/(1 + t²),  √(1 − r²) = sin φ = 2t/(1 + t²),  dr = −sin φ · 2 dt/(1 + t²),
// rational in t (no trigonometric function per node), with t ∈ [0, 1] for r from 1 to 0. The law's
// √(1 − r²) is smooth in t at the limb, and r = l sits at t_l = √((1 − l)/(1 + l)).
struct HalfAngle {
    double r;    // cos φ
    double q;    // 1/(1 + t²) = dφ/dt / 2
    double sin;  // sin φ
};

inline HalfAngle half_angle(double t) {
    const double q = 1.0 / (1.0 + t * t);
    return {((1.0 - t) * (1.0 + t)) * q, q, (2.0 * t) * q};  // 1 − t² without cancellation near t = 1
}

// The points in t: each r-point z gives ±τ, τ = √((1 − z)/(1 + z)) (φ = ±acos z), its mirror −z
// gives 1/τ (and −1/τ, too far from [0, 1] to matter), and the map's 1/(1 + t²) has its poles at ±i.
// At l = 1, τ = 0 and the mirror r = −1 maps to t = ∞, which bounds nothing: it is left out.
inline SingularPoints singular_in_t(double l, double eps) {
    SingularPoints s;
    auto add = [&](std::complex<double> z) {
        const std::complex<double> tau = std::sqrt((1.0 - z) / (1.0 + z));
        s.add(tau), s.add(-tau);
        if (tau != 0.0) s.add(1.0 / tau);
    };
    if (l != 0.0) add(l);  // for l > 1 τ is imaginary: r = l lies off the disk
    add(std::complex<double>(l, 2.0 * eps));
    s.add(std::complex<double>(0.0, 1.0));
    return s;
}

// The points in v = r² for a lens outside the disk (l > 1), where the integrands are even in r:
// v = l² and v = (l ± 2iε)² (one of the conjugates).
inline SingularPoints singular_in_v(double l, double eps) {
    SingularPoints s;
    const std::complex<double> shifted(l, 2.0 * eps);
    s.add(l * l);
    s.add(shifted * shifted);
    return s;
}

// The variable c = μ = √(1 − r²) for a lens outside the disk (l > 1): r² = 1 − c², and the
// integrands, even in r, are analytic in c wherever they are in r² (c = 1, the centre, included).
// Each point z of singular_in_v sits at c = ±√(1 − z); both signs are kept, since [0, 1] is not
// symmetric about 0. For z = l² the pair is ±i√(l² − 1), conjugates: one is enough.
inline SingularPoints singular_in_mu(double l, double eps) {
    SingularPoints s;
    const std::complex<double> shifted(l, 2.0 * eps);
    s.add(std::sqrt(std::complex<double>((1.0 - l) * (1.0 + l), 0.0)));  // 1 − l² without cancellation
    const std::complex<double> c = std::sqrt(1.0 - shifted * shifted);
    s.add(c), s.add(-c);
    return s;
}

}  // namespace velmora::integrated
