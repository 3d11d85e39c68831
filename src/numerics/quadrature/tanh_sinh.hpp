// Tanh-sinh (double-exponential) quadrature over a finite interval with a fixed 7-level ladder.
//
// The integral over [a, b] is mapped to [−1, 1] (x = d + c·t, c the signed half-width) and taken
// with the trapezoidal rule in t = tanh((π/2) sinh s). Each level halves the step and adds only
// the new odd points; the previous estimate is reused by halving. After each level from the third
// on, the change of the estimate δ is compared with the previous change: when ln δ / ln δ_prev is
// near 2 the rule is in its quadratic regime and δ² estimates the error, otherwise δ does.
// Non-finite integrand values count as 0, so endpoint singularities do not stop the rule.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include "numerics/constants.hpp"
#include "numerics/quadrature/tanh_sinh_nodes.hpp"

namespace velmora {

struct QuadratureOutput {
    double integral;
    double error_estimate;
    std::uint32_t function_evaluations;
};

namespace tanh_sinh_nodes {
inline constexpr std::span<const Node> kLevels[7] = {kLevel0, kLevel1, kLevel2, kLevel3,
                                                     kLevel4, kLevel5, kLevel6};
}  // namespace tanh_sinh_nodes

// ∫_a^b f(x) dx. f: callable double → double. Always returns a record: between 25 and 385
// evaluations of f (1 + 6 + 6 + 12 + … + 192), the convergence test running after levels 2 … 6.
template <class F>
QuadratureOutput integrate(F&& f, double a, double b, double target_absolute_error) {
    constexpr double kCentre = constants::kPi;  // the centre node's weight π/2, times 2
    constexpr double kLargest = std::numeric_limits<double>::max();

    const double c = 0.5 * (b - a);
    const double d = 0.5 * (a + b);
    auto g = [&](double t) {
        const double v = f(c * t + d);
        return std::isfinite(v) ? v : 0.0;
    };

    const double tau = 0.25 * target_absolute_error / c;
    double integral = kCentre * g(0.0);
    std::uint32_t evaluations = 1;
    double delta_prev = kLargest;
    double error = kLargest;

    for (const std::span<const tanh_sinh_nodes::Node> level : tanh_sinh_nodes::kLevels) {
        double sum = 0.0;
        for (const tanh_sinh_nodes::Node& node : level) {
            const double right = g(node.abscissa);
            const double left = g(-node.abscissa);
            sum = sum + node.weight * (right + left);
        }
        evaluations += static_cast<std::uint32_t>(2 * level.size());

        const double delta = std::fabs(0.5 * integral - sum);
        integral = 0.5 * integral + sum;
        const double log_delta_prev = std::log(delta_prev);

        if (evaluations <= 13) {  // levels 0 and 1: too few points to judge convergence
            delta_prev = delta;
            continue;
        }
        if (delta == 0.0) {
            error = 0.0;
            break;
        }
        const double ratio = std::log(delta) / log_delta_prev;
        error = (ratio > 1.9 && ratio < 2.1) ? delta * delta : delta;
        if (error < tau) break;
        delta_prev = delta;
    }
    return QuadratureOutput{c * integral, c * error, evaluations};
}

}  // namespace velmora
