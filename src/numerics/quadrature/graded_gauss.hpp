// Gauss–Legendre quadrature with the node count chosen a priori from where the integrand's
// singular points are, and geometric splitting toward the ones too close to the interval.
//
// For f analytic inside the Bernstein ellipse E_ρ with foci a, b (semi-axis sum ρ·(b − a)/2),
// the n-point Gauss–Legendre error is at most (64/15)·M·ρ^-2n/(ρ² − 1), M the bound of |f| on E_ρ
// (Trefethen, "Is Gauss quadrature better than Clenshaw–Curtis?", SIAM Review 50 (2008), Thm 4.5).
// The rule for a panel is the smallest tabulated n with ρ^2n ≥ e^T, ρ the parameter of the nearest
// singular point (compared through cosh(T/2n), so no logarithm per panel); a panel that would need more than the largest rule is split. Nothing depends on
// values of f, so the nodes, and with them the result, are fixed by the inputs alone.
//
// An end point at which f itself is singular (a logarithm: the ring magnification where the ring
// passes through the lens) is flagged. That panel is mapped by x = a + w·s⁶ (or b − w·s⁶), which
// turns f(x) dx ~ log(x − a) dx into 6w·s⁵ log(s⁶) ds, smooth enough that the Gauss error falls
// like n^-12; the other singular points move to ((z − a)/w)^(1/6) and set n as above.
//
// Geometric splitting (Schwab, "p- and hp-Finite Element Methods", 1998, ch. 4): a point near
// the end a splits the panel at a + σ(b − a); the outer part then sees it at least σ/(1 − σ) of
// its width away, and the inner part is treated again, so the panels shrink geometrically toward
// the point and their number grows like log(width/distance).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "numerics/quadrature/gauss_rules.hpp"

namespace velmora {

// Where a panel's integrand is singular on the panel itself.
enum class SingularEnd { none, start, end };

// The rule's parameters, and from them the least ellipse each tabulated size needs.
class GradedRule {
public:
    // exponent T: each panel's rule is chosen for an error below e^-T relative to its size;
    // ratio σ: a point near an end splits the panel at σ of its width from that end.
    GradedRule(double exponent, double ratio) : exponent_(exponent), ratio_(ratio) {
        // n nodes reach e^-T when ρ ≥ e^(T/2n), that is when the half sum s of the distances
        // to the foci (on [−1, 1]) is at least (ρ + 1/ρ)/2 = cosh(T/2n).
        for (std::size_t i = 0; i < gauss_rules::kRules.size(); ++i) {
            least_s_[i] = std::cosh(exponent / (2.0 * gauss_rules::kRules[i].size));
        }
    }
    double exponent() const { return exponent_; }
    double ratio() const { return ratio_; }

    // The index in gauss_rules::kRules (whose sizes the Gauss–Jacobi tables share) of the smallest
    // rule of at least `least` nodes for a nearest point at half focal-distance sum s, or
    // kRules.size() when even the largest needs more.
    std::size_t index_for(double s, int least = 1) const {
        for (std::size_t i = 0; i < gauss_rules::kRules.size(); ++i) {
            if (gauss_rules::kRules[i].size >= least && s >= least_s_[i]) return i;
        }
        return gauss_rules::kRules.size();  // s ≤ 1 (a point on the interval) or NaN included
    }

    // The same rule itself, or nullptr.
    const gauss_rules::Rule* rule_for(double s, int least = 1) const {
        const std::size_t i = index_for(s, least);
        return i < gauss_rules::kRules.size() ? &gauss_rules::kRules[i] : nullptr;
    }

private:
    double exponent_, ratio_;
    std::array<double, gauss_rules::kRules.size()> least_s_{};
};

// The ellipse with foci a, b through z, by its half focal-distance sum s on [−1, 1]; its
// Bernstein parameter is ρ = s + √(s² − 1).
inline double bernstein_s(std::complex<double> z, double a, double b) {
    const double half = 0.5 * (b - a);
    const double x = (z.real() - 0.5 * (a + b)) / half;
    const double y = z.imag() / half;
    return 0.5 * (std::sqrt((x - 1.0) * (x - 1.0) + y * y) + std::sqrt((x + 1.0) * (x + 1.0) + y * y));
}

// bernstein_s(t^(1/6), 0, 1) for the principal sixth root, without complex logarithms and
// exponentials: with R = |t|^(1/6) and x = cos(arg(t)/6), the root's distances to the foci 0 and 1
// are R and √((R − 1)² + 2R(1 − x)), whose mean with the interval's half width 1/2 is their sum.
// x is the root in [cos(π/6), 1] of 4x³ − 3x = cos(arg(t)/2) = √((1 + cos arg t)/2) (the triple
// angle), by Newton's method from x = 1, where the cubic is convex and above 0: the steps descend
// monotonically, quadratically from the first, and stop when one no longer moves x.
// The same given |t| and R = |t|^(1/6).
inline double sixth_root_bernstein_s(std::complex<double> t, double size, double root) {
    const double half_cos = std::sqrt(std::max(0.0, 0.5 * (1.0 + t.real() / size)));
    double x = 1.0;
    for (int step = 0; step < 8; ++step) {
        const double next = x - ((4.0 * x * x - 3.0) * x - half_cos) / (12.0 * x * x - 3.0);
        if (!(next < x)) break;
        x = next;
    }
    return root + std::sqrt((root - 1.0) * (root - 1.0) + 2.0 * root * (1.0 - x));
}
inline double sixth_root_bernstein_s(std::complex<double> t) {
    const double size = std::abs(t);
    return sixth_root_bernstein_s(t, size, std::cbrt(std::sqrt(size)));
}

// An integrand that evaluates many points in one call: f(x, y) sets y[k] = f(x[k]) for every k
// (it may take them several at a time), and f(x) gives one value, the same bit for bit.
template <class F>
concept BatchIntegrand = requires(F& f, std::span<const double> x, std::span<double> y) { f(x, y); };

// An integrand with two values per point, both from one evaluation (the ring magnification and the
// ring's centroid numerator from one AGM): f(x, y, z) sets y[k] and z[k] at x[k].
template <class F>
concept PairIntegrand = requires(F& f, std::span<const double> x, std::span<double> y, std::span<double> z) {
    f(x, y, z);
};

// The two integrals of a pair integrand, each summed exactly as the single integral of that value.
struct TwoIntegrals {
    double first = 0.0, second = 0.0;
    TwoIntegrals& operator+=(const TwoIntegrals& other) {
        first += other.first, second += other.second;
        return *this;
    }
};

// y[k] = f(x[k]) for a batch integrand or a plain one.
template <class F>
void evaluate(F& f, std::span<const double> x, std::span<double> y) {
    if constexpr (BatchIntegrand<F>) {
        f(x, y);
    } else {
        for (std::size_t k = 0; k < x.size(); ++k) y[k] = f(x[k]);
    }
}

namespace graded_detail {

// The most panels one integral may use. Splitting stops there (the remaining panels take the
// largest rule): it is reached only by singular points ~1e-300 from the interval.
inline constexpr std::size_t kMaxPanels = 512;

struct Panel {
    double a, b;
    SingularEnd singular;
};

// The fewest nodes a mapped panel takes, whatever its other singular points: the logarithm at
// the flagged end leaves 6w·s⁵ log(s⁶), whose Gauss error falls only like n^-12 (for
// ∫₀¹ log x dx = −1: 2.7e-12 at n = 16, 2.0e-13 at 20, 2.2e-14 at 24, 2.7e-15 at 28).
inline constexpr int kMinMappedSize = 28;

}  // namespace graded_detail

// One final panel of a graded rule: its Gauss rule, where its nodes lie and the factor of its sum.
// A plain panel's node ξ is at x = d + c·ξ; a mapped panel's at x = e ± w·u⁶ with u = (1 + ξ)/2,
// where the integrand takes the factor u⁵ (dx = 3w·u⁵ dξ, the 3w being the panel's scale).
struct GradedPanel {
    const gauss_rules::Rule* rule;
    bool mapped;
    double origin;  // d, or the singular end e
    double step;    // c, or ±w
    double scale;   // c, or 3w

    // out(x, factor) for each node, in the order sum() takes them: the centre first for an odd
    // rule, then the pairs ±ξ_k.
    template <class Out>
    void nodes(Out&& out) const {
        const std::size_t count = static_cast<std::size_t>((rule->size + 1) / 2);
        const bool odd = rule->size % 2 == 1;
        auto node = [&](double xi) {
            if (!mapped) return out(origin + step * xi, 1.0);
            const double u = 0.5 * (1.0 + xi);
            const double u2 = u * u, u3 = u2 * u;
            out(origin + step * (u3 * u3), u3 * u2);
        };
        for (std::size_t k = 0; k < count; ++k) {
            if (odd && k == 0) {
                node(0.0);
            } else {
                node(rule->nodes[k].abscissa), node(-rule->nodes[k].abscissa);
            }
        }
    }

    // scale·Σ w_k y_k·factor_k over the values at the nodes, in that order, the pairs summed first.
    double sum(const double* y, const double* factor) const {
        const std::size_t count = static_cast<std::size_t>((rule->size + 1) / 2);
        double total = 0.0;
        std::size_t k = 0, j = 0;
        if (rule->size % 2 == 1) total = rule->nodes[0].weight * (y[0] * factor[0]), k = 1, j = 1;
        for (; k < count; ++k, j += 2) total = total + rule->nodes[k].weight * (y[j] * factor[j] + y[j + 1] * factor[j + 1]);
        return scale * total;
    }
};

// The panels of ∫_a^b, a < b, each handed to emit(const GradedPanel&) in the order graded_gauss
// adds them up; `points` and `singular` as for graded_gauss. Nothing depends on the integrand.
template <class Emit>
void graded_panels(double a, double b, std::span<const std::complex<double>> points, SingularEnd singular,
                   const GradedRule& rule, Emit&& emit) {
    using graded_detail::Panel;
    const gauss_rules::Rule& largest = gauss_rules::kRules.back();
    std::array<Panel, graded_detail::kMaxPanels> stack;
    std::size_t top = 0;
    std::size_t panels = 1;
    stack[top++] = Panel{a, b, singular};
    while (top > 0) {
        const Panel p = stack[--top];
        const double w = p.b - p.a;
        const bool may_split = panels + 1 < graded_detail::kMaxPanels && w > 1e-300;
        if (p.singular == SingularEnd::none) {
            double s = INFINITY;
            std::complex<double> nearest = 0.5 * (p.a + p.b);
            const double mid = 0.5 * (p.a + p.b), half = 0.5 * w;
            for (const std::complex<double>& z : points) {
                // Its parameter is at least its distance from the middle in half widths (the mean of
                // the distances to the ends): a point that cannot be the nearest is passed over.
                const double x = (z.real() - mid) / half, y = z.imag() / half;
                if (x * x + y * y >= s * s) continue;
                const double sz = bernstein_s(z, p.a, p.b);
                if (sz < s) s = sz, nearest = z;
            }
            const gauss_rules::Rule* gauss = rule.rule_for(s);
            if (gauss != nullptr || !may_split) {
                const double c = 0.5 * w;
                emit(GradedPanel{gauss ? gauss : &largest, false, 0.5 * (p.a + p.b), c, c});
                continue;
            }
            // Split toward the nearest point: at σ from the end it is next to, or at its projection.
            const double t = std::clamp((nearest.real() - p.a) / w, 0.0, 1.0);
            const double cut = t <= rule.ratio() ? p.a + rule.ratio() * w
                               : t >= 1.0 - rule.ratio() ? p.b - rule.ratio() * w
                                                        : nearest.real();
            stack[top++] = Panel{p.a, cut, SingularEnd::none};
            stack[top++] = Panel{cut, p.b, SingularEnd::none};
            panels += 1;
            continue;
        }
        // The singular end: the other points as seen from the variable s of x = e ± w·s⁶.
        const bool at_start = p.singular == SingularEnd::start;
        const double e = at_start ? p.a : p.b;
        double s = INFINITY;
        for (const std::complex<double>& z : points) {
            const std::complex<double> t = (at_start ? z - e : e - z) / w;
            const double size = std::abs(t);
            // The flagged point itself (or one within rounding of it): the map takes care of it.
            if (size <= 1e-14) continue;
            // Its parameter is at least R + |R − 1| ≥ 2R − 1: a point that cannot be the nearest is
            // passed over (the least parameter, and with it the rule, are the same).
            const double root = std::cbrt(std::sqrt(size));
            if (2.0 * root - 1.0 >= s) continue;
            s = std::min(s, sixth_root_bernstein_s(t, size, root));
        }
        const gauss_rules::Rule* gauss = rule.rule_for(s, graded_detail::kMinMappedSize);
        if (gauss != nullptr || !may_split) {
            emit(GradedPanel{gauss ? gauss : &largest, true, e, at_start ? w : -w, 3.0 * w});
            continue;
        }
        const double cut = at_start ? p.a + rule.ratio() * w : p.b - rule.ratio() * w;
        stack[top++] = at_start ? Panel{p.a, cut, SingularEnd::start} : Panel{cut, p.b, SingularEnd::end};
        stack[top++] = at_start ? Panel{cut, p.b, SingularEnd::none} : Panel{p.a, cut, SingularEnd::none};
        panels += 1;
    }
}

// ∫_a^b f(x) dx, a < b, f analytic on the interval apart from the flagged end, with `points`
// its singular points that matter (complex; those of a real f come in conjugate pairs, of which
// one is enough). f is evaluated inside the panels, and at a flagged end where a mapped node
// rounds onto it (such a node weighs below 1e-17 of the panel width): f must give a finite value (0)
// at that end. A batch f gets each panel's nodes in one call.
template <class F>
double graded_gauss(F&& f, double a, double b, std::span<const std::complex<double>> points, SingularEnd singular,
                    const GradedRule& rule) {
    constexpr std::size_t largest = static_cast<std::size_t>(gauss_rules::kRules.back().size);
    double total = 0.0;
    graded_panels(a, b, points, singular, rule, [&](const GradedPanel& panel) {
        std::array<double, largest> x, factor, y;
        std::size_t n = 0;
        panel.nodes([&](double xk, double fk) { x[n] = xk, factor[n] = fk, ++n; });
        evaluate(f, std::span<const double>(x.data(), n), std::span<double>(y.data(), n));
        total += panel.sum(y.data(), factor.data());
    });
    return total;
}

// Both integrals of a pair integrand over the same panels and nodes: each is what graded_gauss gives
// for an integrand of that value alone, bit for bit, at the cost of one evaluation per node.
template <class F>
    requires PairIntegrand<F>
TwoIntegrals graded_gauss(F&& f, double a, double b, std::span<const std::complex<double>> points,
                          SingularEnd singular, const GradedRule& rule) {
    constexpr std::size_t largest = static_cast<std::size_t>(gauss_rules::kRules.back().size);
    TwoIntegrals total;
    graded_panels(a, b, points, singular, rule, [&](const GradedPanel& panel) {
        std::array<double, largest> x, factor, y, z;
        std::size_t n = 0;
        panel.nodes([&](double xk, double fk) { x[n] = xk, factor[n] = fk, ++n; });
        f(std::span<const double>(x.data(), n), std::span<double>(y.data(), n), std::span<double>(z.data(), n));
        total.first += panel.sum(y.data(), factor.data());
        total.second += panel.sum(z.data(), factor.data());
    });
    return total;
}

// Many graded integrals evaluated together: the nodes of all of them are gathered first, so that
// one batch call can take them all (in full lanes however small each integral's rule), and then
// each integral is summed exactly as graded_gauss sums it. The storage is kept between uses.
class GradedBatch {
public:
    void clear() {
        panels_.clear(), first_node_.clear(), first_panel_.clear(), x_.clear(), factor_.clear();
    }
    // Appends ∫_a^b as the next integral (its index is the count before the call).
    void add(double a, double b, std::span<const std::complex<double>> points, SingularEnd singular,
             const GradedRule& rule) {
        first_panel_.push_back(panels_.size());
        graded_panels(a, b, points, singular, rule, [&](const GradedPanel& panel) {
            panels_.push_back(panel);
            first_node_.push_back(x_.size());
            panel.nodes([&](double xk, double fk) { x_.push_back(xk), factor_.push_back(fk); });
        });
    }
    std::size_t size() const { return first_panel_.size(); }
    // The nodes of all integrals, and the range [first, last) of integral i's among them.
    std::span<const double> nodes() const { return x_; }
    std::size_t first(std::size_t i) const { return node_of_panel(first_panel_[i]); }
    std::size_t last(std::size_t i) const {
        return node_of_panel(i + 1 < first_panel_.size() ? first_panel_[i + 1] : panels_.size());
    }
    // Integral i from the integrand's values y at all nodes.
    double integral(std::size_t i, std::span<const double> y) const {
        const std::size_t end = i + 1 < first_panel_.size() ? first_panel_[i + 1] : panels_.size();
        double total = 0.0;
        for (std::size_t p = first_panel_[i]; p < end; ++p) {
            total += panels_[p].sum(y.data() + first_node_[p], factor_.data() + first_node_[p]);
        }
        return total;
    }

private:
    std::size_t node_of_panel(std::size_t p) const { return p < first_node_.size() ? first_node_[p] : x_.size(); }

    std::vector<GradedPanel> panels_;
    std::vector<std::size_t> first_node_;   // per panel
    std::vector<std::size_t> first_panel_;  // per integral
    std::vector<double> x_, factor_;        // per node
};

}  // namespace velmora
