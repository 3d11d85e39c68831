// Gauss–Jacobi quadrature for ∫₀¹ (1 − v)^α g(v) dv, α = ±1/2, with the node count chosen a priori
// from g's singular points, as graded_gauss.hpp chooses it for Gauss–Legendre.
//
// With x = 2v − 1 the integral is 2^-(1+α) ∫₋₁¹ (1 − x)^α g((1 + x)/2) dx, which the n-point rule for
// the weight (1 − x)^α takes as 2^-(1+α) Σ w_k g(v_k). The weight's branch point at v = 1 is the
// rule's own; for g analytic inside the Bernstein ellipse of [0, 1] through its nearest singular
// point the error falls at the Gauss–Legendre rate ρ^-2n (the bound of graded_gauss.hpp holds for a
// weight that is integrable and positive), so the same table of least ellipses picks n. The rules
// are gauss_rules::kJacobiHalf and kJacobiMinusHalf, of the Gauss–Legendre sizes.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <span>

#include "numerics/constants.hpp"
#include "numerics/quadrature/gauss_rules.hpp"
#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora {

// The rules of one weight (1 − x)^α, and 2^-(1+α), the factor their sums take on [0, 1].
struct JacobiFamily {
    const std::array<gauss_rules::Rule, gauss_rules::kRules.size()>& rules;
    double scale;
};

namespace gauss_jacobi {
inline constexpr JacobiFamily kHalf{gauss_rules::kJacobiHalf, 0.25 * constants::kSqrt2};             // α = 1/2: 2^-3/2
inline constexpr JacobiFamily kMinusHalf{gauss_rules::kJacobiMinusHalf, 0.5 * constants::kSqrt2};    // α = −1/2: 2^-1/2
}  // namespace gauss_jacobi

// The family's smallest rule that `rule` allows for the nearest of `points` (at least one), or
// nullptr when even the largest would not do.
inline const gauss_rules::Rule* jacobi_rule_for(const JacobiFamily& family,
                                                std::span<const std::complex<double>> points, const GradedRule& rule) {
    double s = bernstein_s(points[0], 0.0, 1.0);
    for (std::size_t i = 1; i < points.size(); ++i) s = std::min(s, bernstein_s(points[i], 0.0, 1.0));
    const std::size_t index = rule.index_for(s);
    return index == family.rules.size() ? nullptr : &family.rules[index];
}

// Σ w_k g(v_k) over the nodes of the family's smallest rule that `rule` allows for the nearest of
// `points` (g's singular points in v, at least one; a real g's conjugates need not be given), so
// that ∫₀¹ (1 − v)^α g(v) dv is family.scale times it, the factor left to the caller. NaN when even
// the largest rule would not do (a point on or next to [0, 1]). A batch g gets all nodes in one call.
template <class G>
double gauss_jacobi_sum(G&& g, const JacobiFamily& family, std::span<const std::complex<double>> points,
                        const GradedRule& rule) {
    const gauss_rules::Rule* found = jacobi_rule_for(family, points, rule);
    if (found == nullptr) return NAN;
    const gauss_rules::Rule& jacobi = *found;
    const std::size_t n = static_cast<std::size_t>(jacobi.size);
    std::array<double, gauss_rules::kRules.back().size> v, values;
    for (std::size_t k = 0; k < n; ++k) v[k] = 0.5 * (1.0 + jacobi.nodes[k].abscissa);
    evaluate(g, std::span<const double>(v.data(), n), std::span<double>(values.data(), n));
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k) sum += jacobi.nodes[k].weight * values[k];
    return sum;
}

// The same for both values of a pair integrand (graded_gauss.hpp), each summed as above; NaN in both
// when no rule would do.
template <class G>
    requires PairIntegrand<G>
TwoIntegrals gauss_jacobi_sum(G&& g, const JacobiFamily& family, std::span<const std::complex<double>> points,
                              const GradedRule& rule) {
    const gauss_rules::Rule* found = jacobi_rule_for(family, points, rule);
    if (found == nullptr) return {NAN, NAN};
    const gauss_rules::Rule& jacobi = *found;
    const std::size_t n = static_cast<std::size_t>(jacobi.size);
    std::array<double, gauss_rules::kRules.back().size> v, first, second;
    for (std::size_t k = 0; k < n; ++k) v[k] = 0.5 * (1.0 + jacobi.nodes[k].abscissa);
    g(std::span<const double>(v.data(), n), std::span<double>(first.data(), n), std::span<double>(second.data(), n));
    TwoIntegrals sum;
    for (std::size_t k = 0; k < n; ++k) {
        sum.first += jacobi.nodes[k].weight * first[k];
        sum.second += jacobi.nodes[k].weight * second[k];
    }
    return sum;
}

}  // namespace velmora
