// The integrands of the radius integrals: the magnifications they integrate over the source radius
// r, and the integrand in a variable x (r itself, t = tan(φ/2) or v = r²) built from one of them.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "models/heyrovsky.hpp"
#include "models/interrupt.hpp"
#include "models/witt_mao.hpp"
#include "numerics/calc_result.hpp"
#include "numerics/quadrature/gauss_rules.hpp"

namespace velmora::integrated {

inline double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// The magnifications of one lens position at many radii, one at a time or a batch at once (in
// lanes), the same bit for bit: the ring magnification A(l, r) ...
struct RingMagnification {
    double l, re, rstar;
    double operator()(double r) const { return heyrovsky_magnification(l, r, re, rstar).value_or(NAN); }
    void operator()(std::span<const double> r, std::span<double> out) const {
        heyrovsky_magnifications(l, r, re, rstar, out);
    }
};

// ... and W_r, the uniform-disk magnification of the concentric disk of radius r (the lens at l/r of
// its radius, source radius r·rstar).
struct ConcentricDiskMagnification {
    double l, rho;
    double operator()(double r) const { return UniformDisk::value(l / r, r * rho); }
    void operator()(std::span<const double> r, std::span<double> out) const { UniformDisk::concentric(l, rho, r, out); }
};

// What the integrand is at a point x of its variable: the radius r there, and the factors around the
// magnification, taken as (inner·M(r))·outer in that order (the rounding is that of this order).
struct AtRadius {
    double r, inner, outer;
};

// The radius integrand x ↦ (inner·M(r))·outer, non-finite values counting as 0 (as the rules
// require), with at(x) giving the AtRadius of x. Called for a whole panel at once, it takes the
// magnifications as a batch.
template <class Magnification, class At>
struct RadiusIntegrand {
    Magnification magnification;
    At at;
    static constexpr std::size_t kMaxBatch = static_cast<std::size_t>(gauss_rules::kRules.back().size);

    double operator()(double x) const {
        const AtRadius p = at(x);
        return finite_or_zero((p.inner * magnification(p.r)) * p.outer);
    }
    void operator()(std::span<const double> x, std::span<double> y) const {
        std::array<AtRadius, kMaxBatch> points;
        std::array<double, kMaxBatch> r;
        const std::size_t n = std::min(x.size(), kMaxBatch);
        for (std::size_t k = 0; k < n; ++k) points[k] = at(x[k]), r[k] = points[k].r;
        magnification(std::span<const double>(r.data(), n), y.first(n));
        for (std::size_t k = 0; k < n; ++k) y[k] = finite_or_zero((points[k].inner * y[k]) * points[k].outer);
    }
    // With a pair of ring functions (the magnification and the centroid numerator), both integrands
    // from one evaluation of the pair at each radius, each with the same factors.
    void operator()(std::span<const double> x, std::span<double> y, std::span<double> z) const
        requires requires(const Magnification& m, std::span<const double> radii, std::span<double> out) {
            m(radii, out, out);
        }
    {
        std::array<AtRadius, kMaxBatch> points;
        std::array<double, kMaxBatch> r;
        const std::size_t n = std::min(x.size(), kMaxBatch);
        for (std::size_t k = 0; k < n; ++k) points[k] = at(x[k]), r[k] = points[k].r;
        magnification(std::span<const double>(r.data(), n), y.first(n), z.first(n));
        for (std::size_t k = 0; k < n; ++k) {
            y[k] = finite_or_zero((points[k].inner * y[k]) * points[k].outer);
            z[k] = finite_or_zero((points[k].inner * z[k]) * points[k].outer);
        }
    }
};
template <class Magnification, class At>
RadiusIntegrand(Magnification, At) -> RadiusIntegrand<Magnification, At>;

// The full disk's W(l) for the disk routes at the positions below `far` (NaN from there on, where the
// far-field series needs none), with the uniform-disk function's kernel errors: only a lens on the
// limb can raise one, and the limb is always below `far`, so the first error is the one the disk
// function would raise. Polls for an interrupt once per position.
inline CalcResult<std::vector<double>> full_disk_below(const std::vector<double>& l, double re, double rstar,
                                                       double far) {
    const UniformDisk disk(re, rstar);
    std::vector<double> out(l.size(), NAN);
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (interrupt::poll()) return interrupt::stopped();
        if (l[i] >= far) continue;
        const CalcResult<double> w = disk.checked_value(l[i]);
        if (!w) return w.failure();
        out[i] = *w;
    }
    return out;
}

}  // namespace velmora::integrated
