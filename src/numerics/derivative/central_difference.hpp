// Central-difference first derivative of a scalar function.
#pragma once

#include <cmath>
#include <optional>
#include <type_traits>

#include "numerics/calc_result.hpp"
#include "numerics/constants.hpp"

namespace velmora {

// Default relative step: the cube root of the double epsilon, cbrt(2^-52) = 6.0554544523933395e-06,
// which balances the O(h²) truncation error against the O(ε/h) rounding error.
constexpr double cbrt_eps() { return constants::kCbrtEpsilon; }

namespace detail {
inline double as_double(double v) { return v; }
// A failed evaluation counts as NaN; its message is dropped.
inline double as_double(const CalcResult<double>& v) { return v.value_or(NAN); }
}  // namespace detail

// (f(x + h) − f(x − h)) / 2h with h = (|x| + 1)·step: a relative step with a floor of `step` at
// small |x|. f returns a double or a CalcResult<double>; f(x + h) is evaluated first.
template <class F>
double sderivative(F&& f, double x, std::optional<double> step = std::nullopt) {
    const double eps = step ? *step : cbrt_eps();
    const double h = (std::fabs(x) + 1.0) * eps;
    const double forward = detail::as_double(f(x + h));
    const double backward = detail::as_double(f(x - h));
    return (forward - backward) / (h + h);
}

}  // namespace velmora
