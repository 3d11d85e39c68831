#include "numerics/interp/linear.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace velmora {
namespace {

// The line of segment j in slope-intercept form: s = Δy/Δx, c = y_j − x_j·s.
Segment segment_line(std::span<const double> xs, std::span<const double> ys, std::size_t j) {
    const double slope = (ys[j + 1] - ys[j]) / (xs[j + 1] - xs[j]);
    return Segment{slope, ys[j] - xs[j] * slope};
}

// The segment ending at the k-th knot, capped to the m usable knots.
std::size_t segment_of(std::size_t k, std::size_t m) { return std::min(k >= 1 ? k - 1 : 0, m - 2); }

// Outside [xs[0], xs[m − 1]] under Clamp and Fill; u, the segment's value, otherwise.
double extrapolated(std::span<const double> xs, std::span<const double> ys, std::size_t m, double x, double u,
                    Extrapolation mode) {
    if (mode.mode != Extrapolation::Mode::Linear) {
        const bool clamp = mode.mode == Extrapolation::Mode::Clamp;
        if (x < xs[0]) return clamp ? ys[0] : mode.fill;
        if (x > xs[m - 1]) return clamp ? ys[m - 1] : mode.fill;
    }
    return u;
}

}  // namespace

Segment find_segment(std::span<const double> xs, std::span<const double> ys, double x) {
    const std::size_t m = std::min(xs.size(), ys.size());
    // k = number of leading knots strictly below x; the scan stops at the first knot that is not
    // (a NaN x stops at once). The segment is the one ending at that knot, capped to the table.
    std::size_t k = 0;
    while (k < xs.size() && x > xs[k]) ++k;
    return segment_line(xs, ys, segment_of(k, m));
}

double interp(std::span<const double> xs, std::span<const double> ys, double x, Extrapolation mode) {
    const std::size_t m = std::min(xs.size(), ys.size());
    if (m == 1) return ys[0];
    if (m == 0) return 0.0;
    return extrapolated(xs, ys, m, x, find_segment(xs, ys, x).at(x), mode);
}

LinearTable::LinearTable(std::span<const double> xs, std::span<const double> ys)
    : xs_(xs), ys_(ys), m_(std::min(xs.size(), ys.size())) {
    running_max_.reserve(xs.size());
    double top = -std::numeric_limits<double>::infinity();
    for (const double x : xs) {
        if (std::isnan(x)) top = std::numeric_limits<double>::infinity();
        else top = std::max(top, x);
        running_max_.push_back(top);
    }
    if (m_ >= 2) {
        lines_.reserve(m_ - 1);
        for (std::size_t j = 0; j + 1 < m_; ++j) lines_.push_back(segment_line(xs, ys, j));
    }
}

std::size_t LinearTable::leading_below(double x) const {
    if (std::isnan(x)) return 0;
    // The first entry with !(p[i] < x), i.e. p[i] ≥ x: p holds no NaN, so the comparison is a
    // strict weak order and p is sorted by it.
    return static_cast<std::size_t>(std::lower_bound(running_max_.begin(), running_max_.end(), x) -
                                    running_max_.begin());
}

std::size_t LinearTable::segment_index(double x) const { return segment_of(leading_below(x), m_); }

Segment LinearTable::segment(double x, std::size_t& cursor) const {
    if (std::isnan(x)) return lines_[segment_of(0, m_)];
    // p is ascending and the previous x was not above this one, so the first p[k] ≥ x is at or
    // after the cursor: the forward scan finds the k of lower_bound.
    std::size_t k = std::min(cursor, running_max_.size());
    while (k < running_max_.size() && running_max_[k] < x) ++k;
    cursor = k;
    return lines_[segment_of(k, m_)];
}

double LinearTable::operator()(double x, Extrapolation mode) const {
    if (m_ == 1) return ys_[0];
    if (m_ == 0) return 0.0;
    return extrapolated(xs_, ys_, m_, x, segment(x).at(x), mode);
}

}  // namespace velmora
