// Fixed 10-point Gauss–Legendre rule over a finite interval.
//
// Exact for polynomials up to degree 19. For a function analytic in the Bernstein ellipse with
// foci a, b and semi-axis sum ρ·(b − a)/2 the error falls like ρ^-20: a singularity one interval
// width beyond an end point gives ρ = 3 + √8 ≈ 5.83 and a relative error near 1e-15. The
// flux-map normaliser uses it on each table segment (a quadratic in r, integrated exactly).
#pragma once

#include <iterator>

#include "numerics/quadrature/gauss_rules.hpp"

namespace velmora {

namespace gauss_legendre_nodes {
// The positive roots x_k of P₁₀ and their weights 2/((1 − x²)·P₁₀′(x)²), from the rule table;
// −x_k carries the same weight.
inline constexpr const auto& kTen = gauss_rules::kNodes10;
static_assert(std::size(kTen) == 5);
}  // namespace gauss_legendre_nodes

// ∫_a^b f(x) dx with the 10-point rule: f is evaluated 10 times, at c·(±x_k) + d.
template <class F>
double gauss_legendre(F&& f, double a, double b) {
    const double c = 0.5 * (b - a);
    const double d = 0.5 * (a + b);
    double sum = 0.0;
    for (const QuadratureNode& node : gauss_legendre_nodes::kTen) {
        sum = sum + node.weight * (f(c * node.abscissa + d) + f(d - c * node.abscissa));
    }
    return c * sum;
}

}  // namespace velmora
