#include "models/integrated.hpp"

#include <algorithm>
#include <array>
#include <complex>
#include <cmath>
#include <cstdint>
#include <span>
#include <utility>

#include "models/at_least_one.hpp"
#include "models/heyrovsky.hpp"
#include "models/interrupt.hpp"
#include "models/panic.hpp"
#include "models/profile.hpp"
#include "models/witt_mao.hpp"
#include "numerics/constants.hpp"
#include "numerics/quadrature/graded_gauss.hpp"
#include "numerics/quadrature/tanh_sinh.hpp"

namespace velmora {
namespace {

using constants::kPi;
using constants::kTwoPi;
using Law = LimbDarkeningLaw;
constexpr double kLawNormaliser = Law::kNormaliser;
constexpr double kUniformPart = Law::kUniformPart;
constexpr double kRootPart = Law::kRootPart;

// The radius rules: each Gauss panel is chosen for e^-38 ≈ 3e-17 of its own size, so that with
// the bound's constant and the log singularities' growth the sum stays below 1e-13 relative
// (measured against mpmath over the whole domain; a smaller exponent fails those tests). A point
// near a panel's end splits it a quarter of its width from that end.
const GradedRule kRule(38.0, 0.25);
// The law's integrals over the disk run in t = tan(φ/2), whose map has poles of order 3 at t = ±i;
// near such a pole the bound's constant grows like n³, and e^-38 left 1.6e-14 (at l = 0.2 and on
// the limb; measured against mpmath). Two more in the exponent give 1.6e-15 there, for 4 % more time.
const GradedRule kLawRule(40.0, 0.25);

constexpr std::size_t kTerms = UniformDisk::kFarFieldTerms;
static_assert(Law::kTerms == kTerms);

// From these lens distances on, the law's and the tables' routes take the far-field series, with
// as many terms as l needs (all 12 below l = 3.8). Its first omitted term is below 7e-16 relative
// at l = 3 for the uniform disk, and the law's weights are below 1; a table's are at most k + 1 = 13
// (|μ_k| ≤ μ_0), so its series starts at l = 4, where that bound is below 1e-16. Measured against
// mpmath from l = 3, rstar/re from 1e-5 to 1e3: 1e-15. The disk closed form itself needs l = 16 for
// its own cancellation, which the series does not have.
constexpr double kLawFarField = 3.0;
constexpr double kTableFarField = 4.0;

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// The magnifications of one lens position at many radii, one at a time or a batch at once (in
// lanes), the same bit for bit: the ring magnification A(l, r), and the concentric disks' W_r,
// the uniform-disk magnification of the disk of radius r (the lens at l/r of its radius, source
// radius r·rstar).
struct Rings {
    double l, re, rstar;
    double operator()(double r) const { return heyrovsky_magnification(l, r, re, rstar).value_or(NAN); }
    void operator()(std::span<const double> r, std::span<double> out) const {
        heyrovsky_magnifications(l, r, re, rstar, out);
    }
};

struct Disks {
    double l, rho;
    double operator()(double r) const { return UniformDisk::value(l / r, r * rho); }
    void operator()(std::span<const double> r, std::span<double> out) const { UniformDisk::concentric(l, rho, r, out); }
};

// A radius integrand x ↦ (pre·M(r))·post, non-finite values counting as 0, where at(x) gives the
// radius r and the factors for the variable x (r itself, t = tan(φ/2) with r = cos φ, or v = r²). Called for a
// whole panel at once, it takes the magnifications as a batch.
struct Term {
    double r, pre, post;
};

template <class M, class At>
struct LensIntegrand {
    M magnification;
    At at;
    static constexpr std::size_t kMaxBatch = static_cast<std::size_t>(gauss_rules::kRules.back().size);

    double operator()(double x) const {
        const Term t = at(x);
        return finite_or_zero((t.pre * magnification(t.r)) * t.post);
    }
    void operator()(std::span<const double> x, std::span<double> y) const {
        std::array<Term, kMaxBatch> terms;
        std::array<double, kMaxBatch> r;
        const std::size_t n = std::min(x.size(), kMaxBatch);
        for (std::size_t k = 0; k < n; ++k) terms[k] = at(x[k]), r[k] = terms[k].r;
        magnification(std::span<const double>(r.data(), n), y.first(n));
        for (std::size_t k = 0; k < n; ++k) y[k] = finite_or_zero((terms[k].pre * y[k]) * terms[k].post);
    }
};
template <class M, class At>
LensIntegrand(M, At) -> LensIntegrand<M, At>;

// The singular points of the radius integrands in the complex r plane: the ring passes through
// the lens at r = l (a logarithm in A, a kink in W), the square roots √(f² + 4ε²) and
// √(S² + 4ε²) of both closed forms vanish at r = ±l ± 2iε, and S = l + r vanishes at r = −l.
// Conjugates give the same Bernstein parameter, so one of each pair is kept. At l = 0 the
// integrands 2πr·A and πr²·W are analytic at r = 0, which is then no singular point.
struct Singular {
    std::array<std::complex<double>, 8> points;
    std::size_t count = 0;
    void add(std::complex<double> z) { points[count++] = z; }
    std::span<const std::complex<double>> span() const { return {points.data(), count}; }
};

// The points in r. A piece of [0, 1] that does not end on r = l (`ends_on_l` false) needs only the
// nearest of them, when l > 0: r = l itself. Every other point is farther from each point of
// [0, ∞): l ± 2iε by its imaginary part, −l and −l ± 2iε by their mirror image, so its ellipse is
// never the smaller. A piece that ends on r = l sees the others through its map.
Singular in_radius(double l, double eps, bool ends_on_l = true) {
    Singular s;
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

// The variable of the law's integrals over the whole disk: t = tan(φ/2) with r = cos φ, so that
//   r = (1 − t²)/(1 + t²),  √(1 − r²) = sin φ = 2t/(1 + t²),  dr = −sin φ · 2 dt/(1 + t²),
// rational in t (no trigonometric function per node), with t ∈ [0, 1] for r from 1 to 0. The law's
// √(1 − r²) is smooth in t at the limb, and r = l sits at t_l = √((1 − l)/(1 + l)).
struct HalfAngle {
    double r;    // cos φ
    double q;    // 1/(1 + t²) = dφ/dt / 2
    double sin;  // sin φ
};

HalfAngle half_angle(double t) {
    const double q = 1.0 / (1.0 + t * t);
    return {((1.0 - t) * (1.0 + t)) * q, q, (2.0 * t) * q};  // 1 − t² without cancellation near t = 1
}

// The points in t: each r-point z gives ±τ, τ = √((1 − z)/(1 + z)) (φ = ±acos z), its mirror −z
// gives 1/τ (and −1/τ, too far from [0, 1] to matter), and the map's 1/(1 + t²) has its poles at ±i.
// At l = 1, τ = 0 and the mirror r = −1 maps to t = ∞, which bounds nothing: it is left out.
Singular in_half_angle(double l, double eps) {
    Singular s;
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

// The end of [a, b] at which the integrand is singular: r = l (or t = t_l).
SingularEnd singular_end(double a, double b, double at) {
    if (a == at) return SingularEnd::start;
    if (b == at) return SingularEnd::end;
    return SingularEnd::none;
}

// ∫ over the pieces [0, t_l], [t_l, 1] (one piece [0, 1] when the lens is outside or at the centre)
// of g(t), singular at t_l.
template <class G>
double over_half_angle(G&& g, double l, double eps, const GradedRule& rule) {
    const Singular s = in_half_angle(l, eps);
    if (l > 0.0 && l <= 1.0) {
        const double t_l = std::sqrt((1.0 - l) / (1.0 + l));
        double total = 0.0;
        if (t_l > 0.0) total += graded_gauss(g, 0.0, t_l, s.span(), SingularEnd::end, rule);
        if (t_l < 1.0) total += graded_gauss(g, t_l, 1.0, s.span(), SingularEnd::start, rule);
        return total;
    }
    return graded_gauss(g, 0.0, 1.0, s.span(), SingularEnd::none, rule);
}

// A law integral ∫₀¹ (1 − v)^(±1/2) g(v) dv in v = r², for a lens outside the disk (l > 1): there
// g is analytic on [0, 1] (the integrands are even in r), the weight's branch point at the limb is
// the rule's own, and the nearest singular points are v = l² and v = (l ± 2iε)², whose ellipse sets
// the size as for a Gauss–Legendre panel (Gauss–Jacobi converges at the same rate ρ^-2n).
// `rules` holds the rules for (1 − x)^α on [−1, 1], x = 2v − 1: ∫₀¹ (1 − v)^α g dv is
// 2^-(1+α) Σ w_k g(v_k), left to the caller. NaN when even the largest rule would not do, just
// outside the limb: the caller then integrates in t = tan(φ/2).
template <class G>
double over_square(G&& g, const std::array<gauss_rules::Rule, gauss_rules::kRules.size()>& rules, double l,
                   double eps, const GradedRule& rule) {
    const std::complex<double> shifted(l, 2.0 * eps);
    const double s = std::min(bernstein_s(l * l, 0.0, 1.0), bernstein_s(shifted * shifted, 0.0, 1.0));
    const std::size_t index = rule.index_for(s);
    if (index == rules.size()) return NAN;
    const gauss_rules::Rule& jacobi = rules[index];
    const std::size_t n = static_cast<std::size_t>(jacobi.size);
    std::array<double, gauss_rules::kRules.back().size> v, values;
    for (std::size_t k = 0; k < n; ++k) v[k] = 0.5 * (1.0 + jacobi.nodes[k].abscissa);
    evaluate(g, std::span<const double>(v.data(), n), std::span<double>(values.data(), n));
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k) sum += jacobi.nodes[k].weight * values[k];
    return sum;
}

// 2^-(3/2) and 2^-(1/2), the factors of over_square's sums for α = 1/2 and −1/2.
constexpr double kHalfWeightScale = 0.25 * constants::kSqrt2;
constexpr double kMinusHalfWeightScale = 0.5 * constants::kSqrt2;

// The far-field value of a profile with weights (k + 1)μ_k/μ_0, times μ_0/N.
double far_field(double l, double rho, std::span<const double, kTerms> weights, double mu0_over_norm) {
    return mu0_over_norm * UniformDisk::far_field(l, rho, weights);
}

// The law's ring route at one position: [0.4·πW(l) + 0.6·∫₀¹ 2πr√(1 − r²) A(l, r) dr]/N. The √ part
// is π∫₀¹ √(1 − v) A(l, √v) dv outside the disk, and otherwise ∫₀¹ 2πr·sin²φ·A(l, r)·2/(1 + t²) dt
// in t = tan(φ/2), r = cos φ, where √(1 − r²) dr = −sin²φ dφ is smooth at the limb.
double law_ring(double l, double re, double rstar, double uniform, const GradedRule& rule) {
    const double eps = re / rstar;
    const Rings ring{l, re, rstar};
    double root = NAN;
    if (l > 1.0) {
        root = kPi * kHalfWeightScale * over_square(LensIntegrand{ring, [](double v) {
            return Term{std::sqrt(v), 1.0, 1.0};
        }}, gauss_rules::kJacobiHalf, l, eps, rule);
    }
    if (std::isnan(root)) {
        root = over_half_angle(LensIntegrand{ring, [](double t) {
            const HalfAngle h = half_angle(t);
            return Term{h.r, kTwoPi * h.r, (h.sin * h.sin) * (2.0 * h.q)};
        }}, l, eps, rule);
    }
    return (kUniformPart * kPi * uniform + kRootPart * root) / kLawNormaliser;
}

// The law's disk route at one position, integrated by parts:
//   ∫₀¹ I d[πr²W_r] = πI(1)W(l) − ∫₀¹ πr²W_r I′(r) dr = 0.4πW(l) + 0.6π ∫₀¹ r³ W_r/√(1 − r²) dr,
// W_r the uniform-disk magnification of the concentric disk of radius r (the lens at l/r of its
// radius, source radius r·rstar). The √ part is (π/2)∫₀¹ v W_√v/√(1 − v) dv outside the disk, and
// otherwise π∫₀¹ r³ W_r·2/(1 + t²) dt in t = tan(φ/2), r = cos φ.
double law_disk(double l, double re, double rstar, double full_disk, const GradedRule& rule) {
    const double eps = re / rstar, rho = rstar / re;
    const Disks disk{l, rho};
    double root = NAN;
    if (l > 1.0) {
        root = 0.5 * kPi * kMinusHalfWeightScale * over_square(LensIntegrand{disk, [](double v) {
            return Term{std::sqrt(v), v, 1.0};
        }}, gauss_rules::kJacobiMinusHalf, l, eps, rule);
    }
    if (std::isnan(root)) {
        root = over_half_angle(LensIntegrand{disk, [](double t) {
            const HalfAngle h = half_angle(t);
            return Term{h.r, kPi * h.r * h.r, h.r * (2.0 * h.q)};
        }}, l, eps, rule);
    }
    return (kUniformPart * kPi * full_disk + kRootPart * root) / kLawNormaliser;
}

// The end points of the smooth pieces of [0, 1]: 0, the profile's kinks, l when 0 < l < 1
// (the ring magnification has a logarithmic singularity at r = l, and W(r) a kink), and 1.
// The kinks are ascending, distinct and inside (0, 1), so l is merged in at its place found by
// bisection (dropped if it is a kink): O(K) per lens position, no sort.
// Written into `points`, whose storage is reused from one lens position to the next.
const std::vector<double>& split_points(const std::vector<double>& kinks, double l, std::vector<double>& points) {
    points.clear();
    points.push_back(0.0);
    const bool inside = l > 0.0 && l < 1.0;  // false for NaN
    const auto at = inside ? std::lower_bound(kinks.begin(), kinks.end(), l) : kinks.end();
    points.insert(points.end(), kinks.begin(), at);
    if (inside && (at == kinks.end() || *at != l)) points.push_back(l);
    points.insert(points.end(), at, kinks.end());
    points.push_back(1.0);
    return points;
}

// A table piece's rule, as a callable (f, a, b) → ∫_a^b f: the graded Gauss rule for an ordered
// table (one line per piece), the tanh-sinh ladder for an unordered one, whose pieces may hold
// kinks at unknown places. The integrands give 0 for non-finite values, as both rules require.
auto table_rule(const Profile::Piece& piece, const Singular& singular, double l, const GradedRule& rule) {
    const bool gauss = piece.smooth();
    return [gauss, &singular, l, &rule](auto&& f, double a, double b) {
        if (!gauss) return integrate(f, a, b, Profile::kUnorderedTarget).integral;
        return graded_gauss(f, a, b, singular.span(), singular_end(a, b, l), rule);
    };
}

// The work of one lens position for interrupt::poll: about ten evaluations per piece.
std::int32_t position_work(const std::vector<double>& points) {
    return static_cast<std::int32_t>(std::min<std::size_t>(points.size(), 1u << 20)) * 10;
}

// A table's moments μ_k = ∫₀¹ 2πr^(2k+1) P(r) dr, k = 0..kTerms, per piece with the 14-point rule,
// exact for the polynomial of degree ≤ 26 a line times r^(2k+1) is.
std::array<double, kTerms + 1> table_moments(const Profile& profile) {
    std::vector<double> points;
    split_points(profile.kinks(), 0.0, points);
    std::array<double, kTerms + 1> mu{};
    const gauss_rules::Rule& fourteen = gauss_rules::kRules[9];
    static_assert(gauss_rules::kRules[9].size == 14 && 2 * 14 - 1 >= 2 * kTerms + 2);
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const double a = points[i], b = points[i + 1];
        const Profile::Piece piece = profile.piece(a, b);
        const double c = 0.5 * (b - a), d = 0.5 * (a + b);
        // Σ_nodes weight·2πr·P(r)·(r²)^k for all k at once, the powers built up by multiplication
        for (std::size_t j = 0; j < static_cast<std::size_t>(fourteen.size) / 2; ++j) {
            const gauss_rules::Node& node = fourteen.nodes[j];
            for (const double xi : {-node.abscissa, node.abscissa}) {
                const double r = d + c * xi, r2 = r * r;
                double term = c * node.weight * kTwoPi * r * piece(r);
                for (double& m : mu) m += term, term *= r2;
            }
        }
    }
    return mu;
}

// The far-field weights of a table, when its far field may be used: an ordered table with no
// negative value (then |μ_k| ≤ μ_0 and the series' truncation bound holds) and μ_0 > 0.
struct FarField {
    bool usable = false;
    std::array<double, kTerms> weights{};
    double mu0_over_norm = 0.0;
};

FarField table_far_field(const Profile& profile, std::span<const double> bf, double norm) {
    FarField out;
    if (!profile.ordered()) return out;
    for (const double v : bf) {
        if (!(v >= 0.0)) return out;
    }
    const std::array<double, kTerms + 1> mu = table_moments(profile);
    if (!(mu[0] > 0.0) || !(norm > 0.0)) return out;
    for (std::size_t k = 1; k < mu.size(); ++k) out.weights[k - 1] = static_cast<double>(k + 1) * mu[k] / mu[0];
    out.mu0_over_norm = mu[0] / norm;
    out.usable = true;
    return out;
}

// The pieces of an ordered table at one lens position, integrated together: the nodes of every
// piece go into one GradedBatch, so that the magnifications are taken in full lanes however few
// nodes each piece has, and each piece's integral is then what graded_gauss gives for it alone,
// bit for bit. The storage is reused from one lens position to the next.
struct TableBatch {
    GradedBatch batch;
    std::vector<Profile::Piece> pieces;   // every piece of [0, 1], in order
    std::vector<std::size_t> integral;    // per piece: its integral's index in batch, or kNone
    std::vector<double> values;           // per node
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // The pieces between the points; those for which wanted(piece) holds get an integral.
    template <class Wanted>
    void gather(const Profile& profile, const std::vector<double>& points, double l, double eps,
                const GradedRule& rule, Wanted&& wanted) {
        const Singular all = in_radius(l, eps), near = in_radius(l, eps, false);
        batch.clear(), pieces.clear(), integral.clear();
        std::size_t cursor = 0;
        for (std::size_t i = 0; i + 1 < points.size(); ++i) {
            const double a = points[i], b = points[i + 1];
            pieces.push_back(profile.piece(a, b, cursor));
            integral.push_back(wanted(pieces.back()) ? batch.size() : kNone);
            if (integral.back() == kNone) continue;
            const SingularEnd end = singular_end(a, b, l);
            batch.add(a, b, end == SingularEnd::none ? near.span() : all.span(), end, rule);
        }
    }
    // The integrand (pre·M(r))·post at every node, at(piece, r) giving the Term; non-finite → 0.
    template <class M, class At>
    void evaluate(const M& magnification, At&& at) {
        const std::span<const double> r = batch.nodes();
        values.resize(r.size());
        magnification(r, std::span<double>(values));
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (integral[i] == kNone) continue;
            for (std::size_t k = batch.first(integral[i]); k < batch.last(integral[i]); ++k) {
                const Term t = at(pieces[i], r[k]);
                values[k] = finite_or_zero((t.pre * values[k]) * t.post);
            }
        }
    }
    // Piece i's integral.
    double of(std::size_t i) const { return batch.integral(integral[i], values); }
};

// A table's route over all positions: the far-field series from kTableFarField on (when the table
// allows it), otherwise one(i, points), the integral at position i over the pieces between the
// split points, divided by N.
template <class One>
CalcResult<std::vector<double>> table_route(const std::vector<double>& l, double rho, const Profile& profile,
                                            double norm, const FarField& far, One&& one) {
    const std::vector<double> kinks = profile.kinks();
    std::vector<double> points;
    points.reserve(kinks.size() + 3);
    std::vector<double> out;
    out.reserve(l.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double li = l[i];
        if (far.usable && li >= kTableFarField) {
            if (interrupt::poll()) return interrupt::stopped();
            out.push_back(far_field(li, rho, far.weights, far.mu0_over_norm));
            continue;
        }
        split_points(kinks, li, points);
        if (interrupt::poll(position_work(points))) return interrupt::stopped();
        out.push_back(one(i, points) / norm);
    }
    return out;
}

// Ring route of a table: (1/N) ∫₀¹ 2πr A(l, r) P(r) dr.
CalcResult<std::vector<double>> table_ring_route(const std::vector<double>& l, double re, double rstar,
                                                 const Profile& profile, double norm, const FarField& far,
                                                 const GradedRule& rule) {
    const double eps = re / rstar, rho = rstar / re;
    TableBatch work;
    return table_route(l, rho, profile, norm, far, [&](std::size_t i, const std::vector<double>& points) {
        const double li = l[i];
        double m = 0.0;
        if (profile.ordered()) {
            // every piece is one line; one that is 0 at both ends has nothing to integrate
            work.gather(profile, points, li, eps, rule,
                        [](const Profile::Piece& piece) { return piece.at_start != 0.0 || piece.at_end != 0.0; });
            work.evaluate(Rings{li, re, rstar}, [](const Profile::Piece& piece, double r) {
                return Term{r, kTwoPi * r, piece(r)};
            });
            for (std::size_t j = 0; j < work.pieces.size(); ++j) {
                if (work.integral[j] != TableBatch::kNone) m += work.of(j);
            }
            return m;
        }
        const Singular singular = in_radius(li, eps);
        for (std::size_t j = 0; j + 1 < points.size(); ++j) {
            const double a = points[j], b = points[j + 1];
            const Profile::Piece piece = profile.piece(a, b);
            if (piece.smooth() && piece.at_start == 0.0 && piece.at_end == 0.0) continue;  // nothing there
            m += table_rule(piece, singular, li, rule)(LensIntegrand{Rings{li, re, rstar}, [&](double r) {
                return Term{r, kTwoPi * r, piece(r)};
            }}, a, b);
        }
        return m;
    });
}

// Disk route of a table: (1/N) ∫₀¹ P(r) d[πr² W(r)], integrated by parts on each smooth piece (a, b):
//   ∫_a^b P d[πr²W] = πb² W(b) P(b⁻) − πa² W(a) P(a⁺) − ∫_a^b πr² W(r) P′(r) dr,
// which needs no derivative of W. W(r) is the uniform-disk magnification of the concentric disk of
// radius r: the same lens at l/r of its radius, source radius r·rstar. W(1) is the full-disk value
// computed before. Non-finite values count as 0.
CalcResult<std::vector<double>> table_disk_route(const std::vector<double>& l, const std::vector<double>& full_disk,
                                                 double re, double rstar, const Profile& profile, double norm,
                                                 const FarField& far, const GradedRule& rule) {
    const double eps = re / rstar, rho = rstar / re;
    TableBatch work;
    std::vector<double> w_at;  // W at the split points
    return table_route(l, rho, profile, norm, far, [&](std::size_t i, const std::vector<double>& points) {
        const double li = l[i];
        // W(1) is precomputed inside the far field's start; a table whose far field is not
        // usable computes it here beyond.
        const double w_full = li < kTableFarField ? full_disk[i] : UniformDisk::value(li, rho);
        auto disk = [&](double r) { return r == 1.0 ? w_full : UniformDisk::value(li / r, r * rho); };
        double m = 0.0;
        if (profile.ordered()) {
            // only a sloped piece has an integral; W at the points (but r = 0) in one batch too
            work.gather(profile, points, li, eps, rule,
                        [](const Profile::Piece& piece) { return piece.line.slope != 0.0; });
            work.evaluate(Disks{li, rho}, [](const Profile::Piece&, double r) { return Term{r, kPi * r * r, 1.0}; });
            w_at.resize(points.size());
            UniformDisk::concentric(li, rho, std::span<const double>(points).subspan(1),
                                    std::span<double>(w_at).subspan(1));
            for (std::size_t j = 0; j < work.pieces.size(); ++j) {
                const Profile::Piece& piece = work.pieces[j];
                const double a = points[j], b = points[j + 1];
                const double at_end = finite_or_zero(kPi * b * b * w_at[j + 1] * piece.at_end);
                const double at_start = a == 0.0 ? 0.0 : finite_or_zero(kPi * a * a * w_at[j] * piece.at_start);
                const double inside = work.integral[j] == TableBatch::kNone ? 0.0 : piece.line.slope * work.of(j);
                m += at_end - at_start - inside;
            }
            return m;
        }
        const Singular singular = in_radius(li, eps);
        for (std::size_t j = 0; j + 1 < points.size(); ++j) {
            const double a = points[j], b = points[j + 1];
            const Profile::Piece piece = profile.piece(a, b);
            const double at_end = finite_or_zero(kPi * b * b * disk(b) * piece.at_end);
            const double at_start = a == 0.0 ? 0.0 : finite_or_zero(kPi * a * a * disk(a) * piece.at_start);
            const double inside = piece.against_slope(LensIntegrand{Disks{li, rho}, [](double r) {
                return Term{r, kPi * r * r, 1.0};
            }}, table_rule(piece, singular, li, rule));
            m += at_end - at_start - inside;
        }
        return m;
    });
}

// The disk routes' W(l) for the positions inside `far` (NaN beyond, where the far-field series
// needs none), with the disk function's kernel errors: only a lens on the limb can raise one, and
// the limb is always inside, so the first error is the one the disk function would raise.
CalcResult<std::vector<double>> full_disk_inside(const std::vector<double>& l, double re, double rstar, double far) {
    const UniformDisk disk(re, rstar);
    std::vector<double> out(l.size(), NAN);
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (interrupt::poll()) return interrupt::stopped();
        if (l[i] >= far) continue;
        const CalcResult<double> w = disk.at(l[i]);
        if (!w) return w.failure();
        out[i] = *w;
    }
    return out;
}

// The law's routes over all positions: one(l, index) inside kLawFarField, the far field from there.
template <class One>
CalcResult<std::vector<double>> law_route(const std::vector<double>& l, double rho, One&& one) {
    std::vector<double> out;
    out.reserve(l.size());
    const double mu0_over_norm = Law::kMu0 / kLawNormaliser;
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double li = l[i];
        const bool far = li >= kLawFarField;
        if (interrupt::poll(far ? 1 : 100)) return interrupt::stopped();
        out.push_back(far ? far_field(li, rho, Law::kWeights, mu0_over_norm) : one(li, i));
    }
    return out;
}

// The floor at 1 (models/at_least_one.hpp): the source is physical when rstar/re > 0, the lens at
// l ≥ 0 and the profile has no negative value.
CalcResult<std::vector<double>> floored(CalcResult<std::vector<double>> result, const std::vector<double>& l,
                                        double rho, bool nonnegative) {
    if (!result || !nonnegative || !(rho > 0.0)) return result;
    std::vector<double> out = std::move(result).value();
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = velmora::at_least_one(out[i], l[i] >= 0.0);
    return out;
}

}  // namespace

CalcResult<std::vector<double>> integrated_with_rule(Route route, std::vector<double> l, double re, double rstar,
                                                     std::span<const double> bl, std::span<const double> bf,
                                                     const GradedRule& rule) {
    const double rho = rstar / re;
    if (route == Route::law_ring) {
        // The uniform part without the disk function's checks: the ring route raises no kernel error.
        return floored(law_route(l, rho, [&](double li, std::size_t) {
            return law_ring(li, re, rstar, UniformDisk::value(li, rho), rule);
        }), l, rho, true);
    }
    std::vector<double> full_disk;
    if (route != Route::table_ring) {
        CalcResult<std::vector<double>> w = full_disk_inside(l, re, rstar,
                                                             route == Route::law_disk ? kLawFarField : kTableFarField);
        if (!w) return w;
        full_disk = std::move(*w);
    }
    if (route == Route::law_disk) {
        return floored(law_route(l, rho, [&](double li, std::size_t i) {
            return law_disk(li, re, rstar, full_disk[i], rule);
        }), l, rho, true);
    }
    assert_equal_lengths(bl.size(), bf.size());
    const Profile profile = Profile::flux_map(bl, bf);
    const CalcResult<double> norm = profile.normaliser();
    if (!norm) return norm.failure();
    const FarField far = table_far_field(profile, bf, *norm);
    const bool nonnegative = std::all_of(bf.begin(), bf.end(), [](double v) { return v >= 0.0; }) && *norm > 0.0;
    if (route == Route::table_ring) {
        return floored(table_ring_route(l, re, rstar, profile, *norm, far, rule), l, rho, nonnegative);
    }
    return floored(table_disk_route(l, full_disk, re, rstar, profile, *norm, far, rule), l, rho, nonnegative);
}

CalcResult<std::vector<double>> integrated_heyrovsky_magnification(std::vector<double> l, double re, double rstar) {
    return integrated_with_rule(Route::law_ring, std::move(l), re, rstar, {}, {}, kLawRule);
}

CalcResult<std::vector<double>> integrated_witt_mao_magnification(std::vector<double> l, double re, double rstar) {
    return integrated_with_rule(Route::law_disk, std::move(l), re, rstar, {}, {}, kLawRule);
}

CalcResult<std::vector<double>> integrated_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                            double rstar, std::vector<double> bl,
                                                                            std::vector<double> bf) {
    return integrated_with_rule(Route::table_ring, std::move(l), re, rstar, bl, bf, kRule);
}

CalcResult<std::vector<double>> integrated_flux_map_witt_mao_magnification(std::vector<double> l, double re,
                                                                           double rstar, std::vector<double> bl,
                                                                           std::vector<double> bf) {
    return integrated_with_rule(Route::table_disk, std::move(l), re, rstar, bl, bf, kRule);
}

CalcResult<double> flux_map_normaliser(std::span<const double> bl, std::span<const double> bf) {
    assert_equal_lengths(bl.size(), bf.size());
    return Profile::flux_map(bl, bf).normaliser();
}

const GradedRule& integrated_rule(Route route) {
    return route == Route::law_ring || route == Route::law_disk ? kLawRule : kRule;
}

}  // namespace velmora
