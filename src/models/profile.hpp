// Radial brightness profiles of the source disk, r in source radii (0 at the centre, 1 at the limb).
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "numerics/interp/linear.hpp"

namespace velmora {

// Either the fixed linear limb-darkening law I(r) = 1 − 0.6(1 − √(1 − r²)), or a flux map: the
// table (bl, bf) read by linear interpolation, 0 outside [bl first, bl last].
class Profile {
public:
    static constexpr double kLimbDarkening = -0.6;  // linear limb-darkening coefficient, with its sign

    static Profile limb_darkened();
    // The table is borrowed: it must outlive the profile.
    static Profile flux_map(std::span<const double> bl, std::span<const double> bf);

    // The brightness at r.
    double operator()(double r) const;

    // The law, evaluated in the order 1 − √(1 − r²), times −0.6, plus 1.
    static double limb_darkening(double r) { return 1.0 + kLimbDarkening * (1.0 - std::sqrt(1.0 - r * r)); }

    bool is_table() const { return is_table_; }
    // Knots ascending and none NaN: every piece between kinks is one line of the table.
    bool ordered() const { return ordered_; }

    // The points of (0, 1) where the profile is not smooth (a flux map's knots), ascending.
    std::vector<double> kinks() const;

    // On a piece (a, b) free of kinks the profile is smooth: its one-sided values at the ends, its
    // value inside (a table piece is one line, so no search through the knots per point) and the
    // integral of a function against its slope, for integration by parts.
    struct Piece {
        double start, end;  // a, b
        double at_start;    // P(a⁺)
        double at_end;      // P(b⁻)
        bool law;           // the limb-darkening law, or the line of a table segment
        Segment line;       // the segment's line; 0 outside the table, the value of a one-knot table
        const Profile* lookup;  // a table not in ascending order: looked up (by bisection) at every point

        // P(r) for r in [a, b].
        double operator()(double r) const {
            if (law) return limb_darkening(r);
            return lookup == nullptr ? line.at(r) : (*lookup)(r);
        }
        // One line over the whole piece (the law, or an ordered table): no kink inside.
        bool smooth() const { return lookup == nullptr; }

        // ∫_a^b f(r) P′(r) dr with the given quadrature (a callable (g, a, b) → double).
        template <class F, class Quadrature>
        double against_slope(F&& f, Quadrature&& quadrature) const;
    };
    Piece piece(double a, double b) const;
    // The same for pieces taken in ascending order (an ordered table's pieces one after another):
    // `cursor`, 0 before the first, carries the table search from one piece to the next.
    Piece piece(double a, double b, std::size_t& cursor) const;

private:
    Profile(bool is_table, std::span<const double> bl, std::span<const double> bf);
    Piece piece_at(double a, double b, std::size_t* cursor) const;

    bool is_table_;
    bool ordered_;  // knots ascending and not NaN: a piece between two knots is one segment
    std::span<const double> bl_, bf_;
    LinearTable table_;  // the table's lines and search, built once: O(log K) per point or piece
};

template <class F, class Quadrature>
double Profile::Piece::against_slope(F&& f, Quadrature&& quadrature) const {
    if (law) {
        // P′(r) = −0.6 r/√(1 − r²) is singular at the limb, and the rule's nodes stop 4e-14 short
        // of it, which would drop ~1e-7 of the integral. With r = sin θ, P′(r) dr = −0.6 sin θ dθ:
        // the integrand is smooth in θ ∈ [asin a, asin b].
        return quadrature([&](double theta) {
            const double r = std::sin(theta);
            return f(r) * (kLimbDarkening * r);
        }, std::asin(start), std::asin(end));
    }
    if (line.slope == 0.0) return 0.0;  // a flat segment, or outside the table
    return line.slope * quadrature(f, start, end);
}

}  // namespace velmora
