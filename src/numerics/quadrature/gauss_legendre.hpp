// Fixed 10-point Gauss–Legendre rule over a finite interval.
//
// Exact for polynomials up to degree 19. For a function analytic in the Bernstein ellipse with
// foci a, b and semi-axis sum ρ·(b − a)/2 the error falls like ρ^-20: a singularity one interval
// width beyond an end point gives ρ = 3 + √8 ≈ 5.83 and a relative error near 1e-15. The
// flux-map normaliser uses it on each table segment (a quadratic in r, integrated exactly).
#pragma once

namespace velmora {

namespace gauss_legendre_nodes {
struct Node {
    double abscissa;  // x_k > 0 on [−1, 1]; −x_k carries the same weight
    double weight;
};
// The positive roots of P₁₀ and their weights 2/((1 − x²)·P₁₀′(x)²), computed with mpmath at
// 50 digits and rounded to the nearest double.
inline constexpr Node kTen[5] = {
    {0.14887433898163122, 0.29552422471475287},
    {0.4333953941292472, 0.26926671930999635},
    {0.6794095682990244, 0.21908636251598204},
    {0.8650633666889845, 0.1494513491505806},
    {0.9739065285171717, 0.06667134430868814},
};
}  // namespace gauss_legendre_nodes

// ∫_a^b f(x) dx with the 10-point rule: f is evaluated 10 times, at c·(±x_k) + d.
template <class F>
double gauss_legendre(F&& f, double a, double b) {
    const double c = 0.5 * (b - a);
    const double d = 0.5 * (a + b);
    double sum = 0.0;
    for (const gauss_legendre_nodes::Node& node : gauss_legendre_nodes::kTen) {
        sum = sum + node.weight * (f(c * node.abscissa + d) + f(d - c * node.abscissa));
    }
    return c * sum;
}

}  // namespace velmora
