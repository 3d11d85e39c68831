// Piecewise-linear interpolation in a table of knots (xs ascending, not checked).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

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

// The same interpolation for a table read at many points: the segment lines and the search
// structure are built once (O(len xs)), and each point then costs O(log len xs), whatever the
// order of xs. Every value and every segment index is that of interp and find_segment.
//
// The scan stops at the first i where x > xs[i] is false (xs[i] ≥ x, or xs[i] NaN). With the
// running maximum p[i] = max(xs[0..i]), a NaN counting as +∞ from there on, p is ascending and
// for x not NaN the first such i is the first i with p[i] ≥ x: before it every xs is below x,
// so p is too; at it xs[i] ≥ x or p[i] = +∞. A NaN x stops the scan at once (index 0).
// The table is borrowed: it must outlive the object.
class LinearTable {
public:
    LinearTable(std::span<const double> xs, std::span<const double> ys);

    std::size_t size() const { return m_; }  // m, the usable knots

    // k of the scan: the number of leading xs strictly below x, over the whole of xs.
    std::size_t leading_below(double x) const;
    // The segment index j the scan selects (needs m ≥ 2).
    std::size_t segment_index(double x) const;
    // That segment's line (needs m ≥ 2).
    Segment segment(double x) const { return lines_[segment_index(x)]; }
    // The same for points taken in ascending order: `cursor` (0 before the first point) holds the
    // previous point's count and the search goes on from there, so a pass over the segments in
    // order costs O(len xs) in all, not O(log len xs) per point. Same segment as segment(x).
    Segment segment(double x, std::size_t& cursor) const;
    // interp(xs, ys, x, mode).
    double operator()(double x, Extrapolation mode) const;

private:
    std::span<const double> xs_, ys_;
    std::size_t m_;
    std::vector<double> running_max_;  // len xs entries
    std::vector<Segment> lines_;       // m − 1 entries
};

}  // namespace velmora
