#include "numerics/interp/linear.hpp"

#include <algorithm>
#include <cstddef>

namespace velmora {

Segment find_segment(std::span<const double> xs, std::span<const double> ys, double x) {
    const std::size_t m = std::min(xs.size(), ys.size());
    // k = number of leading knots strictly below x; the scan stops at the first knot that is not
    // (a NaN x stops at once). The segment is the one ending at that knot, capped to the table.
    std::size_t k = 0;
    while (k < xs.size() && x > xs[k]) ++k;
    std::size_t j = k >= 1 ? k - 1 : 0;
    j = std::min(j, m - 2);
    // Slope-intercept form: s = Δy/Δx, c = y_j − x_j·s.
    const double slope = (ys[j + 1] - ys[j]) / (xs[j + 1] - xs[j]);
    return Segment{slope, ys[j] - xs[j] * slope};
}

double interp(std::span<const double> xs, std::span<const double> ys, double x, Extrapolation mode) {
    const std::size_t m = std::min(xs.size(), ys.size());
    if (m == 1) return ys[0];
    if (m == 0) return 0.0;
    const double u = find_segment(xs, ys, x).at(x);
    if (mode.mode != Extrapolation::Mode::Linear) {
        const bool clamp = mode.mode == Extrapolation::Mode::Clamp;
        if (x < xs[0]) return clamp ? ys[0] : mode.fill;
        if (x > xs[m - 1]) return clamp ? ys[m - 1] : mode.fill;
    }
    return u;
}

}  // namespace velmora
