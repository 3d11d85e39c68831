// Piecewise-linear interpolation in a table of knots (xs ascending, not checked).
#pragma once

#include <span>

namespace velmora {

// What to return for x outside [xs[0], xs[m − 1]].
struct Extrapolation {
    enum class Mode { Linear = 0, Clamp = 1, Fill = 2 };
    Mode mode;
    double fill;  // the value under Fill

    static constexpr Extrapolation linear() { return {Mode::Linear, 0.0}; }
    static constexpr Extrapolation clamp() { return {Mode::Clamp, 0.0}; }
    static constexpr Extrapolation filled(double v) { return {Mode::Fill, v}; }
};

// The line of one table segment: value slope·x + intercept.
struct Segment {
    double slope;
    double intercept;
    double at(double x) const { return slope * x + intercept; }
};

// The segment that interp evaluates at x; needs m = min(len xs, len ys) ≥ 2.
Segment find_segment(std::span<const double> xs, std::span<const double> ys, double x);

// The table has m = min(len xs, len ys) usable knots. m = 0 gives 0 and m = 1 gives ys[0] for
// every x. Otherwise the segment is found by a linear scan over all of xs (a knot xs[i], i ≥ 1,
// belongs to the segment on its left) and evaluated in slope-intercept form s·x + c.
double interp(std::span<const double> xs, std::span<const double> ys, double x, Extrapolation mode);

}  // namespace velmora
