// Gauss–Legendre quadrature with the node count chosen a priori from where the integrand's
// singular points are, and geometric splitting toward the ones too close to the interval.
//
// For f analytic inside the Bernstein ellipse E_ρ with foci a, b (semi-axis sum ρ·(b − a)/2),
// the n-point Gauss–Legendre error is at most (64/15)·M·ρ^-2n/(ρ² − 1), M the bound of |f| on E_ρ
// (Trefethen, "Is Gauss quadrature better than Clenshaw–Curtis?", SIAM Review 50 (2008), Thm 4.5).
// The rule for a panel is the smallest tabulated n with ρ^2n ≥ e^T, ρ the parameter of the nearest
// singular point; a panel that would need more than the largest rule is split. Nothing depends on
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

#include "numerics/quadrature/gauss_rules.hpp"

namespace velmora {

// Where a panel's integrand is singular on the panel itself.
enum class SingularEnd { none, start, end };

struct GradedRule {
    double exponent;  // T: each panel's rule is chosen for an error below e^-T relative to its size
    double ratio;     // σ: a point near an end splits the panel at σ of its width from that end
};

// The Bernstein parameter ρ of the ellipse with foci a, b through z: with z mapped to w on
// [−1, 1], ρ = s + √(s² − 1), s the half sum of the distances from w to ±1.
inline double bernstein_rho(std::complex<double> z, double a, double b) {
    const double half = 0.5 * (b - a);
    const double x = (z.real() - 0.5 * (a + b)) / half;
    const double y = z.imag() / half;
    const double s = 0.5 * (std::sqrt((x - 1.0) * (x - 1.0) + y * y) + std::sqrt((x + 1.0) * (x + 1.0) + y * y));
    return s + std::sqrt((s - 1.0) * (s + 1.0));
}

namespace graded_detail {

// The most panels one integral may use. Splitting stops there (the remaining panels take the
// largest rule): it is reached only by singular points ~1e-300 from the interval.
inline constexpr std::size_t kMaxPanels = 512;

struct Panel {
    double a, b;
    SingularEnd singular;
};

// The tabulated rule for ρ at exponent T, or nullptr when even the largest needs more.
inline const gauss_rules::Rule* rule_for(double rho, double exponent) {
    if (!(rho > 1.0)) return nullptr;
    const double need = exponent / (2.0 * std::log(rho));  // n with ρ^2n = e^T
    for (const gauss_rules::Rule& rule : gauss_rules::kRules) {
        if (rule.size >= need) return &rule;
    }
    return nullptr;
}

// Σ w_k g(ξ_k) on [−1, 1], the symmetric nodes summed pairwise.
template <class G>
double apply(const gauss_rules::Rule& rule, G&& g) {
    const std::size_t count = static_cast<std::size_t>((rule.size + 1) / 2);
    double sum = 0.0;
    std::size_t k = 0;
    if (rule.size % 2 == 1) {
        sum = rule.nodes[0].weight * g(0.0);
        k = 1;
    }
    for (; k < count; ++k) {
        const gauss_rules::Node& node = rule.nodes[k];
        sum = sum + node.weight * (g(node.abscissa) + g(-node.abscissa));
    }
    return sum;
}

}  // namespace graded_detail

// ∫_a^b f(x) dx, a < b, f analytic on the interval apart from the flagged end, with `points`
// its singular points that matter (complex; those of a real f come in conjugate pairs, of which
// one is enough). f is evaluated only strictly inside the panels.
template <class F>
double graded_gauss(F&& f, double a, double b, std::span<const std::complex<double>> points, SingularEnd singular,
                    const GradedRule& rule) {
    using graded_detail::Panel;
    const gauss_rules::Rule& largest = gauss_rules::kRules.back();
    std::array<Panel, graded_detail::kMaxPanels> stack;
    std::size_t top = 0;
    std::size_t panels = 1;
    stack[top++] = Panel{a, b, singular};
    double total = 0.0;
    while (top > 0) {
        const Panel p = stack[--top];
        const double w = p.b - p.a;
        const bool may_split = panels + 1 < graded_detail::kMaxPanels && w > 1e-300;
        if (p.singular == SingularEnd::none) {
            double rho = INFINITY;
            std::complex<double> nearest = 0.5 * (p.a + p.b);
            for (const std::complex<double>& z : points) {
                const double r = bernstein_rho(z, p.a, p.b);
                if (r < rho) rho = r, nearest = z;
            }
            const gauss_rules::Rule* gauss = graded_detail::rule_for(rho, rule.exponent);
            if (gauss != nullptr || !may_split) {
                const double c = 0.5 * w, d = 0.5 * (p.a + p.b);
                total += c * graded_detail::apply(gauss ? *gauss : largest, [&](double xi) { return f(d + c * xi); });
                continue;
            }
            // Split toward the nearest point: at σ from the end it is next to, or at its projection.
            const double t = std::clamp((nearest.real() - p.a) / w, 0.0, 1.0);
            const double cut = t <= rule.ratio ? p.a + rule.ratio * w
                               : t >= 1.0 - rule.ratio ? p.b - rule.ratio * w
                                                        : nearest.real();
            stack[top++] = Panel{p.a, cut, SingularEnd::none};
            stack[top++] = Panel{cut, p.b, SingularEnd::none};
            panels += 1;
            continue;
        }
        // The singular end: the other points as seen from the variable s of x = e ± w·s⁶.
        const bool at_start = p.singular == SingularEnd::start;
        const double e = at_start ? p.a : p.b;
        double rho = INFINITY;
        for (const std::complex<double>& z : points) {
            const std::complex<double> t = (at_start ? z - e : e - z) / w;
            // The flagged point itself (or one within rounding of it): the map takes care of it.
            if (std::abs(t) <= 1e-14) continue;
            rho = std::min(rho, bernstein_rho(std::pow(t, 1.0 / 6.0), 0.0, 1.0));
        }
        const gauss_rules::Rule* gauss = graded_detail::rule_for(rho, rule.exponent);
        if (gauss != nullptr || !may_split) {
            const double signed_w = at_start ? w : -w;
            // s = (1 + ξ)/2, dx = 6w·s⁵ ds = 3w·s⁵ dξ
            const double sum = graded_detail::apply(gauss ? *gauss : largest, [&](double xi) {
                const double s = 0.5 * (1.0 + xi);
                const double s2 = s * s, s3 = s2 * s;
                return f(e + signed_w * (s3 * s3)) * (s3 * s2);
            });
            total += 3.0 * w * sum;
            continue;
        }
        const double cut = at_start ? p.a + rule.ratio * w : p.b - rule.ratio * w;
        stack[top++] = at_start ? Panel{p.a, cut, SingularEnd::start} : Panel{cut, p.b, SingularEnd::end};
        stack[top++] = at_start ? Panel{cut, p.b, SingularEnd::none} : Panel{p.a, cut, SingularEnd::none};
        panels += 1;
    }
    return total;
}

}  // namespace velmora
