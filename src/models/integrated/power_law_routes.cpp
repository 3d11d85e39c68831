// A power law's ring route (models/power_law.hpp): the law's uniform part is the uniform-disk value,
// and the rest, Σ_j w_j μ^p_j over the powers p_j > 0, is one radius integral whose ring
// magnification at each node is computed once and weighted by every term. Below the far field it
// runs in t = tan(φ/2), r = cos φ (models/integrated/singular_points.hpp), where
//
//   2πr A(l, r) μ^p dr = 2πr A(l, r) sin^(p+1)φ · 2/(1 + t²) dt,   sin φ = 2t/(1 + t²),
//
// is rational in t for an integer p, so smooth at the limb t = 0. A non-integer p leaves t^(p+1)
// there, an algebraic end-point singularity: the panel at the limb is then mapped by t = w·s⁶, which
// turns it into s^(6p+11) (a polynomial for half-integer p; for any p ≥ 0 at least s^11, whose Gauss
// error falls like n^-24), and the branch point t = 0 bounds the other panels' ellipses. For
// half-integer powers alone (square-root, four-coefficient laws) the piece at the limb runs in σ,
// t = c·σ², where the limb is smooth instead. Outside the source a law of odd powers takes the
// built-in law's Gauss–Jacobi rule in v = r².
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "models/centroid.hpp"
#include "models/integrated/radius_integrand.hpp"
#include "models/integrated/routes.hpp"
#include "models/integrated/singular_points.hpp"
#include "models/interrupt.hpp"
#include "models/power_law.hpp"
#include "models/small_source.hpp"
#include "models/witt_mao.hpp"
#include "numerics/constants.hpp"
#include "numerics/quadrature/gauss_jacobi.hpp"
#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora::integrated {

// The built-in law's rule (law_routes.cpp): each panel aims at e^-40 of its own size, since the map
// t = tan(φ/2) has poles at t = ±i, of order p + 2 in the integrand of μ^p.
const GradedRule kPowerLawRule(40.0, 0.25);

namespace {

// The poles of the t map at t = ±i are of order p + 2 in the integrand of μ^p, and near a pole of
// order m the bound's constant grows like n^m: measured against mpmath with the rule above, the
// error grows about threefold per unit of p beyond 2 (1e-13 at p = 5, 9e-12 at p = 8, lens at the
// centre or on the limb). Each panel's aim is raised by 2 in the exponent per unit of the largest
// power beyond 2 (up to p = 32; higher powers are peaks, below), which keeps p = 8 within 1e-15.
// The same growth bounds the rules in c = μ (for the derivatives, of Σ_j w_j p_j c^(p_j − 1)).
double pole_order_extra(double max_power) { return 2.0 * (std::min(max_power, 32.0) - 2.0); }

// Beyond this power the profile is a narrow peak at the centre, which the rule resolves as a point
// kPeakWidths/√p off t = 1 (measured against mpmath: without it p = 1000 was within 1e-12 but p = 1e6
// off by 17 %; with it both within 4e-14).
constexpr double kPeakedPower = 64.0;
constexpr double kPeakWidths = 2.0;

// The Gauss–Jacobi rule in v outside the source takes odd powers up to this one (the polynomial
// Σ_j w_j (1 − v)^((p_j − 1)/2) then has degree 4 at most); higher ones go to the t rule.
constexpr double kMostOddPower = 9.0;

// The rule in c = μ outside the source takes integer powers up to this one: the polynomial
// Σ_j w_j c^(p_j + 1) grows like ρ^(p+1) on the Bernstein ellipse ρ, which the raised aim for
// p > 2 (pole_order_extra) covers up to here (measured against mpmath); higher ones go to the t rule.
constexpr double kMostMuPower = 8.0;

using constants::kPi;
using constants::kTwoPi;

// Whether a ring function gives pairs (routes.hpp: RingMagnificationAndCentroid), and the scaling and
// NaN test of one integral or of a pair.
template <class Ring>
constexpr bool kPairRing = requires(const Ring& ring, std::span<const double> r, std::span<double> out) {
    ring(r, out, out);
};
double times(double k, double v) { return k * v; }
TwoIntegrals times(double k, TwoIntegrals v) { return {k * v.first, k * v.second}; }
bool is_nan(double v) { return std::isnan(v); }
bool is_nan(TwoIntegrals v) { return std::isnan(v.first); }

// ∫₀¹ 2πr A(l, r) Σ_j w_j μ^p_j dr over the terms with p_j > 0, in t, split at t_l (the lens, for
// 0 < l ≤ 1). With a non-integer power the limb t = 0 is an end-point singularity too: a piece that
// runs from the limb to the lens is cut in two halves, each mapped toward its own singular end.
// `ring` is the ring function integrated: the ring magnification, or the pair of it and the ring's
// centroid-shift numerator (models/ring_centroid.hpp), which has the same singular points; a pair
// gives both integrals over the same nodes, one AGM per node.
template <class Ring>
auto varying_part(const PowerLaw& law, double l, double re, double rstar, const GradedRule& rule, const Ring& ring) {
    // One integral, or two (a pair of ring functions: the magnification and the centroid numerator).
    using Sum = std::conditional_t<kPairRing<Ring>, TwoIntegrals, double>;
    const double eps = re / rstar;
    // Outside the source a law of odd powers is π∫₀¹ √(1 − v)·Σ_j w_j (1 − v)^((p_j − 1)/2)·A(l, √v) dv:
    // analytic in v = r² apart from the weight, whose branch point at the limb the Gauss–Jacobi rule
    // takes exactly (as for the built-in law, law_routes.cpp); NaN when no tabulated rule is large
    // enough (the lens just outside the limb), and then the t rule serves.
    if (l > 1.0 && law.all_odd() && law.max_power() <= kMostOddPower) {
        const SingularPoints in_v = singular_in_v(l, eps);
        const Sum root = times(kPi * gauss_jacobi::kHalf.scale, gauss_jacobi_sum(RadiusIntegrand{
            ring, [&law](double v) {
                return AtRadius{std::sqrt(v), 1.0, law.odd_polynomial(1.0 - v)};
            }}, gauss_jacobi::kHalf, in_v.span(), rule));
        if (!is_nan(root)) return root;
    }
    // Outside the source a law of integer powers is ∫₀¹ 2πc·Σ_j w_j c^p_j·A(l, √(1 − c²)) dc in
    // c = μ (2πr dr = −2πc dc): a polynomial times A, which is analytic in c wherever it is in r²
    // (singular_in_mu). One Gauss rule then takes even and odd powers alike, where the rule in v
    // takes only odd ones and the t rule pays for its poles at ±i; just outside the limb the lens
    // at c = i√(l² − 1) is farther from the interval, relative to it, than its images in v or t.
    if (l > 1.0 && law.all_integer() && law.max_power() <= kMostMuPower) {
        const RadiusIntegrand in_mu{ring, [&law](double c) {
            const double r = std::sqrt((1.0 - c) * (1.0 + c));
            return AtRadius{r, kTwoPi * c, law.varying(c, r)};
        }};
        return graded_gauss(in_mu, 0.0, 1.0, singular_in_mu(l, eps).span(), SingularEnd::none, rule);
    }
    // Any other power (the power-2 law's α): c^(p+1) keeps a branch point at the limb c = 0, which
    // the panel there takes by its map c = w·s⁶ (c^(p+1) dc becomes s^(6p+11) ds, smooth enough).
    if (l > 1.0 && !law.all_half_integer() && law.max_power() <= kMostMuPower) {
        const RadiusIntegrand in_mu{ring, [&law](double c) {
            const double r = std::sqrt((1.0 - c) * (1.0 + c));
            return AtRadius{r, kTwoPi * c, law.varying(c, r)};
        }};
        SingularPoints points = singular_in_mu(l, eps);
        points.add(0.0);
        return graded_gauss(in_mu, 0.0, 1.0, points.span(), SingularEnd::start, rule);
    }
    // Half-integer powers too (square-root, four-coefficient laws): c^(p+1) has a branch point at
    // the limb c = 0, which c = σ² removes: 2πc^(p+1) dc = 4πσ^(2p+3) dσ, a polynomial. Each point c
    // of singular_in_mu sits at σ = ±√c.
    if (l > 1.0 && law.all_half_integer() && law.max_power() <= kMostMuPower) {
        const RadiusIntegrand in_sigma{ring, [&law](double sigma) {
            const double c = sigma * sigma;
            const double r = std::sqrt((1.0 - c) * (1.0 + c));
            return AtRadius{r, (4.0 * kPi) * (c * sigma), law.varying(c, r)};
        }};
        const SingularPoints in_c = singular_in_mu(l, eps);
        SingularPoints in_s;
        for (const std::complex<double>& z : in_c.span()) {
            const std::complex<double> root = std::sqrt(z);
            in_s.add(root), in_s.add(-root);
        }
        return graded_gauss(in_sigma, 0.0, 1.0, in_s.span(), SingularEnd::none, rule);
    }
    const RadiusIntegrand g{ring, [&law](double t) {
        const HalfAngle h = half_angle(t);
        return AtRadius{h.r, kTwoPi * h.r, (h.sin * law.varying(h.sin, h.r)) * (2.0 * h.q)};
    }};
    SingularPoints s = singular_in_t(l, eps);
    // A high power puts the profile's weight within ~1/√p of the centre, where μ^p ≈ e^(−p r²/2):
    // a Gaussian of that width, whose growth off the real line the ellipse through t = 1 + i·c/√p
    // bounds (r ≈ 1 − t near the centre t = 1).
    if (law.max_power() > kPeakedPower) s.add(std::complex<double>(1.0, kPeakWidths / std::sqrt(law.max_power())));
    const bool smooth_limb = law.all_integer();
    // Half-integer powers: the piece from the limb to the lens (or to the centre) in σ, t = c·σ²,
    // where t^(p+1) dt = c^(p+2)·2σ^(2p+3) dσ is a polynomial: the limb is then smooth, and one
    // panel mapped toward the lens does what two mapped panels do in t.
    if (!smooth_limb && law.all_half_integer()) {
        const bool inside = l > 0.0 && l <= 1.0;
        const double c = inside ? std::sqrt((1.0 - l) / (1.0 + l)) : 1.0;  // t_l, or all of [0, 1]
        if (c > 0.0) {
            SingularPoints in_sigma;  // each point z of t at σ = √(z/c) (the other root is farther)
            for (const std::complex<double>& z : s.span()) in_sigma.add(std::sqrt(z / c));
            const RadiusIntegrand h{ring, [&law, c](double sigma) {
                const double dt = 2.0 * c * sigma;
                const HalfAngle a = half_angle(c * (sigma * sigma));
                return AtRadius{a.r, kTwoPi * a.r, ((a.sin * law.varying(a.sin, a.r)) * (2.0 * a.q)) * dt};
            }};
            Sum total = graded_gauss(h, 0.0, 1.0, in_sigma.span(), inside ? SingularEnd::end : SingularEnd::none, rule);
            if (!inside) return total;
            // From the lens to the centre in t, where t = 0 is a branch point of t^(p+1).
            s.add(0.0);
            if (c < 1.0) total += graded_gauss(g, c, 1.0, s.span(), SingularEnd::start, rule);
            return total;
        }
    }
    if (!smooth_limb) s.add(0.0);
    const SingularEnd limb = smooth_limb ? SingularEnd::none : SingularEnd::start;
    if (!(l > 0.0 && l <= 1.0)) return graded_gauss(g, 0.0, 1.0, s.span(), limb, rule);
    const double t_l = std::sqrt((1.0 - l) / (1.0 + l));
    Sum total{};
    if (t_l > 0.0) {
        if (smooth_limb) {
            total += graded_gauss(g, 0.0, t_l, s.span(), SingularEnd::end, rule);
        } else {
            const double half = 0.5 * t_l;
            total += graded_gauss(g, 0.0, half, s.span(), SingularEnd::start, rule);
            total += graded_gauss(g, half, t_l, s.span(), SingularEnd::end, rule);
        }
    }
    // At l = 1 the lens sits on the limb (t_l = 0): one piece, mapped toward both at once.
    if (t_l < 1.0) total += graded_gauss(g, t_l, 1.0, s.span(), SingularEnd::start, rule);
    return total;
}

}  // namespace

GradedRule raised_rule(const PowerLaw& law, const GradedRule& rule) {
    const double extra = law.max_power() > 2.0 ? pole_order_extra(law.max_power()) : 0.0;
    return extra > 0.0 ? GradedRule(rule.exponent() + extra, rule.ratio()) : rule;
}

double power_law_ring_value(const PowerLaw& law, double l, double re, double rstar, const GradedRule& raised) {
    // The uniform part without the disk function's checks: the ring route raises no kernel error.
    const double uniform = law.uniform() == 0.0 ? 0.0 : law.uniform() * (kPi * UniformDisk::value(l, rstar / re));
    const double varying =
        law.uniform_only() ? 0.0 : varying_part(law, l, re, rstar, raised, RingMagnification{l, re, rstar});
    return (uniform + varying) / law.normaliser();
}

CalcResult<std::vector<double>> power_law_ring_route(const std::vector<double>& l, double re, double rstar,
                                                     std::span<const double> powers, std::span<const double> weights,
                                                     const GradedRule& rule, Floor floor, SmallSource series) {
    const CalcResult<PowerLaw> made = PowerLaw::make(powers, weights);
    if (!made) return made.failure();
    const PowerLaw& law = *made;
    const double rho = rstar / re;
    const GradedRule raised = raised_rule(law, rule);
    const std::int32_t work = 100 + 20 * static_cast<std::int32_t>(std::min<std::size_t>(law.terms(), 1u << 20));
    std::vector<double> out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, taken together below
    // The lens in or near a small source, for a law of integer powers: the closed-form series
    // (models/small_source.hpp), made at the first position it could take.
    bool series_tried = series == SmallSource::never;
    std::optional<SmallSourceSeries> small;
    for (const double li : l) {
        const bool far = li >= law.far_from();
        if (!series_tried && li >= 0.0 && li <= SmallSourceSeries::kFarthest) {
            small = SmallSourceSeries::make(law, rho, law.far_from()), series_tried = true;
        }
        const bool closed = !far && small.has_value() && small->serves(li);
        if (interrupt::poll(far || closed ? 1 : work)) return interrupt::stopped();
        if (far) {
            far_at.push_back(out.size());
            out.push_back(NAN);
            continue;
        }
        if (closed) {
            out.push_back(small->value(li));
            continue;
        }
        out.push_back(power_law_ring_value(law, li, re, rstar, raised));
    }
    law.far_field().values_at(l, rho, far_at, out);
    return floored(std::move(out), l, rho, law.nonnegative(), floor);
}

CalcResult<std::vector<double>> power_law_centroid_route(const std::vector<double>& l, double re, double rstar,
                                                         std::span<const double> powers,
                                                         std::span<const double> weights, const GradedRule& rule,
                                                         SmallSource series) {
    const CalcResult<PowerLaw> made = PowerLaw::make(powers, weights);
    if (!made) return made.failure();
    const PowerLaw& law = *made;
    const double rho = rstar / re;
    // A source far smaller than the Einstein radius: its shift within the far field's switch, taken at
    // kScaleFreeRadius and scaled (models/centroid.hpp).
    const bool scale_free = rho > 0.0 && rho < kScaleFreeRadius;
    const double near_re = scale_free ? 1.0 : re, near_rstar = scale_free ? kScaleFreeRadius : rstar;
    const double near_rho = scale_free ? kScaleFreeRadius : rho;
    const GradedRule raised = raised_rule(law, rule);
    // Two radius integrals per position over the same nodes, the ring function's pair taken once per node.
    const std::int32_t work = 2 * (100 + 20 * static_cast<std::int32_t>(std::min<std::size_t>(law.terms(), 1u << 20)));
    std::vector<double> out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, taken together below
    // The small-source series' own shift where it serves (models/small_source.hpp), made as the
    // magnification's ring route makes it.
    bool series_tried = series == SmallSource::never;
    std::optional<SmallSourceSeries> small;
    for (const double li : l) {
        const bool far = li >= law.far_from();
        if (!series_tried && li >= 0.0 && li <= SmallSourceSeries::kFarthest) {
            small = SmallSourceSeries::make(law, rho, law.far_from()), series_tried = true;
        }
        double shift = NAN;
        const bool closed = !far && small.has_value() && small->shift(li, shift);
        if (interrupt::poll(far || closed ? 1 : work)) return interrupt::stopped();
        if (far) {
            far_at.push_back(out.size());
            out.push_back(NAN);
            continue;
        }
        if (closed) {
            out.push_back(shift);
            continue;
        }
        if (li > 0.0 && li < 1.0 && leading_terms_serve(li, rho, true)) {
            // A source far larger than the Einstein ring (models/centroid.hpp).
            const double c = std::sqrt((1.0 - li) * (1.0 + li));
            const double brightness = law.uniform() + (law.uniform_only() ? 0.0 : law.varying(c, li));
            out.push_back(large_source_shift(li, rho, law.enclosed(li), brightness, law.normaliser()));
            continue;
        }
        // Numerator and denominator both times N, by the same rule: the uniform part's ring
        // integrals are π·W and π·W·shift of the uniform disk, the rest one radius integral each.
        const double uniform_disk =
            law.uniform() == 0.0 ? 0.0 : law.uniform() * (kPi * UniformDisk::value(li, near_rho));
        const double uniform_shift =
            law.uniform() == 0.0 ? 0.0 : uniform_disk * UniformDiskCentroid::value(li, near_rho);
        double magnification = uniform_disk, numerator = uniform_shift;
        if (!law.uniform_only()) {
            const TwoIntegrals both =
                varying_part(law, li, near_re, near_rstar, raised, RingMagnificationAndCentroid{li, near_rho});
            magnification += both.first, numerator += both.second;
        }
        out.push_back(scale_free ? numerator / magnification * (rho / kScaleFreeRadius) : numerator / magnification);
    }
    // The series in the profile's moments, over the magnification's own far-field series.
    law.far_field().values_at(l, rho, far_at, out);
    centroid_far_fields_at(l, rho, law.far_field().weights, far_at, out);
    return out;
}

}  // namespace velmora::integrated
