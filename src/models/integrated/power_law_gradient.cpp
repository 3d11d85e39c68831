// The power law's magnification with its derivatives ∂A/∂u at fixed ρ and ∂A/∂ρ at fixed u
// (u = lρ, ρ = rstar/re). Differentiating the ring route under the integral would meet ∂A_ring/∂u,
// which diverges like 1/|r − l| where the ring passes through the lens: not integrable. Integrating
// by parts first (the disk route's form, routes.hpp) moves the derivative onto the profile:
//
//   A = (1/N) ∫₀¹ P(r) dF(r),  F(r) = πr²·W(u, rρ)  (the concentric disk of radius r),
//     = (1/N) [P(1)·F(1) − ∫₀¹ P'(r)·F(r) dr],
//
// and W's derivatives only diverge like log|r − l|. With P = Σ_j w_j μ^p_j, P(1) is the uniform
// part w₀ (μ = 0 at the limb), −P'(r) = r·Σ_j w_j p_j μ^(p_j − 2), and ∂F/∂ρ = πr³·W_ρ(u, rρ), so
//
//   ∂A/∂u = (1/N) [w₀·π·W_u(u, ρ) + ∫₀¹ πr³ Σ_j w_j p_j μ^(p_j − 2)·W_u(u, rρ) dr],
//   ∂A/∂ρ = (1/N) [w₀·π·W_ρ(u, ρ) + ∫₀¹ πr⁴ Σ_j w_j p_j μ^(p_j − 2)·W_ρ(u, rρ) dr],
//
// W_u, W_ρ the uniform disk's derivatives (UniformDisk::gradient). In c = μ (r dr = −c dc) the
// integrands are πr²·S(c)·W_u and πr³·S(c)·W_ρ with S(c) = Σ_j w_j p_j c^(p_j − 1)
// (PowerLaw::slope). For the disks that do not hold the lens (r < l) W is even in the disk's radius
// and both are analytic in r² = 1 − c² apart from the log at the lens, c_l = √(1 − l²) for l < 1,
// and the points of singular_in_mu; the disks that hold it (r > l) add the branch points of W's
// √(s² + 4)/s (its value with the lens at the centre, s the disk's radius) at r² = 0 and −4ε²,
// which the rule must see when the lens is near the centre (below: the part r ≤ 1/2 then runs in
// v = r²). S has a branch
// point at the limb c = 0 unless every power is an integer; the piece at the limb then runs in σ
// with c = a·σ^m, where S(c) dc = m·a·Σ_j w_j p_j (aσ^m)^(p_j − 1)·σ^(m − 1) dσ carries σ^(m·p_j − 1):
// m = 2 makes it a polynomial for half-integer powers, and m = ⌈6/p_min⌉ (at most kMostSigmaPower)
// leaves at least σ^5 for any other power, a Gauss error falling like n^-12 (as the mapped panels
// of graded_gauss.hpp). With the lens on the limb (l = 1) the log sits at c = 0 too: that end is
// then mapped as well. Dark at the limb (w₀ = 0) the derivatives stay finite at l = 1, since
// ∫ c^(p − 1)·log c dc converges for p > 0; with w₀ ≠ 0 they are W's ±∞ times w₀π/N.
//
// Far from the source the law's far-field series (ProfileFarField) is differentiated term by term
// (UniformDisk::far_field_gradient with the law's weights) from the value's own switch, the law's
// far_from() (l = 3 for the common laws), on: its first omitted term is 13 times the value's, below
// 2e-11 of the derivatives there (measured: at most 0.25 of the bound 1e-10·|d| + 1e-15·A/ρ over
// l = 3..4, ρ = 1e-6..1e4, eight laws, against the radius integral below).
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "models/gradient.hpp"
#include "models/integrated/routes.hpp"
#include "models/integrated/singular_points.hpp"
#include "models/interrupt.hpp"
#include "models/power_law.hpp"
#include "models/small_source.hpp"
#include "models/witt_mao.hpp"
#include "numerics/constants.hpp"
#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora::integrated {

// The derivatives are asked to 1e-10·|d| + 1e-15·A/ρ, not the values' 1e-12, so each panel aims at
// e^-34 of its own size where the values' rule aims at e^-40 (raised alike for powers above 2).
// Measured against the stored mpmath differences: the worst error over the tests' points is the same
// fraction of that bound with the aim anywhere from e^-28 to e^-40 (0.57, set by points the rule
// does not limit); the small powers' limb map (α = 0.05 to 0.2) stays within 1e-13 of an aim of
// e^-80 from e^-34 on (at e^-30 it moves by 1.5e-13); the weakened rule of the tests (e^-12) still
// misses the bound.
const GradedRule kPowerLawGradientRule(34.0, 0.25);

namespace {

using constants::kPi;

// The largest m of the map c = a·σ^m: its images of the singular points crowd toward |σ| = 1 as m
// grows (the graded rule splits toward them). Powers below 6/240 = 0.025 keep σ^(m·p − 1) with
// m·p − 1 < 5, a weaker end point: with the rule's aim raised from e^-40 to e^-80 the derivatives
// move by 1e-15 at p = 0.05 and 0.1 but by 5e-10 at p = 0.03 (m = 200: the images' crowd).
constexpr int kMostSigmaPower = 240;

// Up to this lens distance the disk's part r ≤ kCentreInV runs in v = r² (slope_integrals), the rest
// in c from the limb to kCentreC = √(1 − kCentreInV²). Beyond it c serves as before: its panels do
// not see the branch points at the centre (c = 1, past c_l), but they are then at least l²/2 beyond
// the piece (measured against the small-source series and against an aim of e^-80: within 2e-12 of
// the derivatives from l = 0.05 on, where c alone was 5e-8 off at l = 1e-4).
constexpr double kCentreLens = 0.05;
constexpr double kCentreInV = 0.5;
const double kCentreC = std::sqrt(1.0 - kCentreInV * kCentreInV);

// The largest panel of the graded rules.
constexpr std::size_t kMostNodes = static_cast<std::size_t>(gauss_rules::kRules.back().size);

// ∫_a^b of two integrands that share their nodes: f(x, n, y1, y2) fills y1[k], y2[k] at the panel's
// n nodes x[k] together, summed as graded_gauss sums one.
template <class F>
std::array<double, 2> graded_gauss_pair(F&& f, double a, double b, std::span<const std::complex<double>> points,
                                        SingularEnd singular, const GradedRule& rule) {
    std::array<double, 2> total{0.0, 0.0};
    graded_panels(a, b, points, singular, rule, [&](const GradedPanel& panel) {
        std::array<double, kMostNodes> x, factor, y1, y2;
        std::size_t n = 0;
        panel.nodes([&](double xk, double fk) { x[n] = xk, factor[n] = fk, ++n; });
        f(x.data(), n, y1.data(), y2.data());
        total[0] += panel.sum(y1.data(), factor.data());
        total[1] += panel.sum(y2.data(), factor.data());
    });
    return total;
}

inline double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// The two integrands at the nodes c[k] = μ, times weight[k] (the Jacobian of a map into c); the
// concentric disks' derivatives at all of them in one batch (several radii at a time).
struct SlopeIntegrand {
    const PowerLaw& law;
    double l, rho;
    void at(const double* c, const double* weight, std::size_t n, double* y_u, double* y_rho) const {
        std::array<double, kMostNodes> r, r2, l_minus_r;
        for (std::size_t k = 0; k < n; ++k) {
            r2[k] = (1.0 - c[k]) * (1.0 + c[k]);
            r[k] = std::sqrt(r2[k]);
            // l − r = (l² − r²)/(l + r) = ((l − 1)(l + 1) + c²)/(l + r), from c to its last bits.
            l_minus_r[k] = ((l - 1.0) * (l + 1.0) + c[k] * c[k]) / (l + r[k]);
        }
        at_radii(c, r.data(), r2.data(), l_minus_r.data(), weight, n, y_u, y_rho);
    }
    // The same at nodes v = r² (the centre's piece, below): c = √(1 − v) and l − r = (l² − v)/(l + r)
    // from v, whose relative precision near the centre c does not have (c = 1 − v/2 there).
    void at_v(const double* v, double l2, std::size_t n, double* y_u, double* y_rho) const {
        std::array<double, kMostNodes> c, r, weight, l_minus_r;
        for (std::size_t k = 0; k < n; ++k) {
            r[k] = std::sqrt(v[k]);
            c[k] = std::sqrt((1.0 - v[k]));
            weight[k] = 0.5 / c[k];  // dc = −dv/(2c), the piece's direction reversed
            l_minus_r[k] = (l2 - v[k]) / (l + r[k]);
        }
        at_radii(c.data(), r.data(), v, l_minus_r.data(), weight.data(), n, y_u, y_rho);
    }
    void at_radii(const double* c, const double* r, const double* r2, const double* l_minus_r, const double* weight,
                  std::size_t n, double* y_u, double* y_rho) const {
        std::array<double, kMostNodes> d_u, d_rho;
        UniformDisk::concentric_derivatives(l, rho, std::span<const double>(r, n), std::span<const double>(l_minus_r, n),
                                            std::span<double>(d_u.data(), n), std::span<double>(d_rho.data(), n));
        for (std::size_t k = 0; k < n; ++k) {
            const double s = (kPi * r2[k]) * law.slope(c[k], r[k]) * weight[k];
            y_u[k] = finite_or_zero(s * d_u[k]);
            y_rho[k] = finite_or_zero((s * r[k]) * d_rho[k]);
        }
    }
    // At nodes in c itself (no map: every weight 1).
    void at(const double* c, std::size_t n, double* y_u, double* y_rho) const {
        std::array<double, kMostNodes> ones;
        std::fill_n(ones.data(), n, 1.0);
        at(c, ones.data(), n, y_u, y_rho);
    }
};

// The points z in c seen in σ, c = a·σ^m: the principal m-th root of z/a and its two neighbours
// (the other roots are farther from [0, 1]).
SingularPoints in_sigma(const SingularPoints& in_c, double a, int m) {
    SingularPoints s;
    const double turn = 2.0 * kPi / m;
    for (const std::complex<double>& z : in_c.span()) {
        if (s.count + 3 > s.points.size()) break;
        const std::complex<double> root = std::pow(z / a, 1.0 / m);
        if (root == 0.0) continue;  // the end σ = 0 itself, flagged by the caller
        s.add(root);
        if (m > 2) s.add(root * std::polar(1.0, turn)), s.add(root * std::polar(1.0, -turn));
    }
    return s;
}

// ∫ over [0, 1] in c of both integrands, for 0 ≤ l < 4 (any finite l below the far field).
std::array<double, 2> slope_integrals(const PowerLaw& law, double l, double rho, double eps, const GradedRule& rule) {
    const SlopeIntegrand f{law, l, rho};
    const bool inside = l < 1.0;
    const double c_l = inside ? std::sqrt((1.0 - l) * (1.0 + l)) : 0.0;
    // For l > 1 the first point is i√(l² − 1) (its conjugate bounds nothing more); at l = 1 it is
    // 0, the flagged limb.
    SingularPoints points = singular_in_mu(l, eps);
    std::array<double, 2> total{0.0, 0.0};
    // A lens near the centre (l ≤ kCentreLens): r ≤ kCentreInV runs in v = r² (below), and the piece at
    // the limb ends at c = kCentreC, clear of the lens.
    const bool centre = inside && l <= kCentreLens;
    const double a = centre ? kCentreC : inside ? c_l : 1.0;  // the piece at the limb, [0, a]
    const bool limb_log = l == 1.0;
    const bool lens_end = inside && !centre;
    if (law.all_integer()) {
        const SingularEnd end = lens_end ? SingularEnd::end : (limb_log ? SingularEnd::start : SingularEnd::none);
        if (a > 0.0) {
            total = graded_gauss_pair(
                [&](const double* c, std::size_t n, double* y1, double* y2) { f.at(c, n, y1, y2); }, 0.0, a,
                points.span(), end, rule);
        }
    } else if (a > 0.0) {
        const int m = law.all_half_integer()
                          ? 2
                          : std::clamp(static_cast<int>(std::ceil(6.0 / law.min_power())), 2, kMostSigmaPower);
        const SingularPoints s = in_sigma(points, a, m);
        const SingularEnd end = lens_end ? SingularEnd::end : (limb_log ? SingularEnd::start : SingularEnd::none);
        total = graded_gauss_pair(
            [&](const double* sigma, std::size_t n, double* y1, double* y2) {
                // c = a·σ^m, dc = m·a·σ^(m − 1) dσ
                std::array<double, kMostNodes> c, weight;
                for (std::size_t k = 0; k < n; ++k) {
                    const double power = std::pow(sigma[k], m - 1);
                    c[k] = a * (power * sigma[k]);
                    weight[k] = (m * a) * power;
                }
                f.at(c.data(), weight.data(), n, y1, y2);
            },
            0.0, 1.0, s.span(), end, rule);
    }
    if (centre) {
        // r ≤ kCentreInV in v = r², split at the lens v = l²: in c the piece from the lens to the
        // centre is [√(1 − l²), 1], of width l²/2 next to c = 1, which the doubles resolve only to
        // 1.1e-16, and the branch points of the disks that hold the lens (above) sit l²/2 from c_l,
        // unseen by c's panels (the derivatives were 5e-8 off at l = 1e-4, 400 times the accuracy
        // asked). The integrands are analytic in v but for the lens at v = l² and its shifts
        // (singular_in_v), the limb v = 1, where dc/dv = −1/(2c) and a non-integer power are
        // singular, and beyond the lens those branch points.
        const double l2 = l * l;
        // (at l = 0 the lens is no singular point: the integrands are even in the lens position)
        SingularPoints in_v;
        if (l2 > 0.0) {
            in_v = singular_in_v(l, eps);
        } else if (std::isfinite(4.0 * eps * eps)) {
            in_v.add(std::complex<double>(-4.0 * eps * eps, 0.0));
        }
        in_v.add(1.0);
        const auto in_v_at = [&](const double* v, std::size_t n, double* y1, double* y2) { f.at_v(v, l2, n, y1, y2); };
        if (l2 > 0.0) {
            const std::array<double, 2> near = graded_gauss_pair(in_v_at, 0.0, l2, in_v.span(), SingularEnd::end, rule);
            total[0] += near[0], total[1] += near[1];
        }
        // Beyond the lens the concentric disks hold it, and W is not analytic in r² there: at the
        // centre (v = 0) and at s² = −4 (v = −4ε²) it has the branch points of √(s² + 4)/s, its value
        // with the lens at the centre.
        in_v.add(0.0);
        if (std::isfinite(4.0 * eps * eps)) in_v.add(std::complex<double>(-4.0 * eps * eps, 0.0));
        const std::array<double, 2> out = graded_gauss_pair(in_v_at, l2, kCentreInV * kCentreInV, in_v.span(),
                                                            l2 > 0.0 ? SingularEnd::start : SingularEnd::none, rule);
        total[0] += out[0], total[1] += out[1];
    } else if (inside && c_l < 1.0) {
        // From the lens to the centre: the branch point c = 0 of a non-integer power bounds the panels.
        if (!law.all_integer()) points.add(0.0);
        const std::array<double, 2> rest = graded_gauss_pair(
            [&](const double* c, std::size_t n, double* y1, double* y2) { f.at(c, n, y1, y2); }, c_l, 1.0,
            points.span(), SingularEnd::start, rule);
        total[0] += rest[0], total[1] += rest[1];
    }
    return total;
}

}  // namespace

CalcResult<GradientLists> power_law_gradient_route(const std::vector<double>& l, double re, double rstar,
                                                   std::span<const double> powers, std::span<const double> weights,
                                                   const GradedRule& rule, SmallSource series) {
    // The law's errors first, before anything else, as the plain function gives them.
    const CalcResult<PowerLaw> made = PowerLaw::make(powers, weights);
    if (!made) return made.failure();
    const PowerLaw& law = *made;
    const double rho = rstar / re;
    const double eps = re / rstar;
    // The values as the plain function computes them (power_law_ring_route, position by position and
    // floored alike), in the same pass as the derivatives: where the small-source series serves,
    // one evaluation gives both.
    const GradedRule value_rule = raised_rule(law, kPowerLawRule);
    // The ring route's raised aim for powers above 2: in c the polynomial Σ_j w_j p_j c^(p_j − 1)
    // grows like the Bernstein parameter to the power p − 1 off the interval.
    const GradedRule raised = raised_rule(law, rule);
    const double far_from = law.far_from();
    const std::int32_t terms = static_cast<std::int32_t>(std::min<std::size_t>(law.terms(), 1u << 20));
    const std::int32_t work = 300 + 60 * terms;  // the value's integral and the derivatives'
    const double n = law.normaliser();
    GradientLists out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, taken together below
    // Where the values take the small-source series, so do the derivatives (models/small_source.hpp),
    // the series made as the ring route makes it.
    bool series_tried = series == SmallSource::never;
    std::optional<SmallSourceSeries> small;
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double li = l[i];
        const bool far = li >= far_from;
        if (!series_tried && li >= 0.0 && li <= SmallSourceSeries::kFarthest) {
            small = SmallSourceSeries::make(law, rho, far_from), series_tried = true;
        }
        Gradient g{NAN, 0.0, 0.0};
        double d_l = 0.0, d_rho_l = 0.0;
        const bool closed = !far && small.has_value() && small->gradient(li, g.value, d_l, d_rho_l);
        if (interrupt::poll(far || closed ? 1 : work)) return interrupt::stopped();
        if (far) {
            far_at.push_back(i);  // the series' values and derivatives, below
        } else if (closed) {
            // A(l, ρ) with l = u/ρ: ∂A/∂u = (∂A/∂l)/ρ, ∂A/∂ρ at fixed u = ∂A/∂ρ − (l/ρ)·∂A/∂l.
            g.d_u = d_l / rho;
            g.d_rho = d_rho_l - (li / rho) * d_l;
        } else {
            // The series' value on the limb (its derivatives are the integral's), else the integral.
            g.value = small.has_value() && small->serves(li) ? small->value(li)
                                                             : power_law_ring_value(law, li, re, rstar, value_rule);
            if (!(li >= 0.0)) {
                g.d_u = g.d_rho = NAN;  // no lens position (negative or NaN): nothing to integrate
            } else {
                double d_u = 0.0, d_rho = 0.0;
                if (law.uniform() != 0.0) {
                    const Gradient disk = UniformDisk::gradient(li, rho);
                    d_u = law.uniform() * (kPi * disk.d_u);
                    d_rho = law.uniform() * (kPi * disk.d_rho);
                }
                if (!law.uniform_only()) {
                    const std::array<double, 2> parts = slope_integrals(law, li, rho, eps, raised);
                    d_u += parts[0];
                    d_rho += parts[1];
                }
                g.d_u = d_u / n;
                g.d_rho = d_rho / n;
            }
        }
        out.push_back(g);
    }
    law.far_field().values_at(l, rho, far_at, out.value);
    UniformDisk::far_field_gradients_at(l, rho, law.far_field().weights, law.far_field().mu0_over_norm, far_at, out);
    // The floor of the ring route (floored()): a physical source, a lens at l ≥ 0, no negative brightness.
    if (law.nonnegative() && rho > 0.0) {
        for (std::size_t i = 0; i < l.size(); ++i) out.value[i] = at_least_one(out.value[i], l[i] >= 0.0);
    }
    return out;
}

}  // namespace velmora::integrated
