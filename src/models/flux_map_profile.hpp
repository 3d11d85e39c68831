// A flux map read as the source's radial brightness profile P(r), r in source radii (0 at the centre,
// 1 at the limb): the table (bl, bf) by linear interpolation, 0 outside [bl first, bl last]. What
// the flux-map functions need of it: its pieces between kinks (the radius integrals of
// models/integrated/table_routes.cpp go piece by piece), its normaliser N, and its moments, whose
// far-field weights are those of the limb-darkening law's beside (models/limb_darkening_law.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "models/witt_mao.hpp"
#include "numerics/calc_result.hpp"
#include "numerics/interp/linear.hpp"

namespace velmora {

class FluxMap {
public:
    // The absolute error target of the tanh-sinh ladder on the pieces of a table whose knots are
    // not in ascending order (a piece may then hold kinks at unknown places).
    static constexpr double kUnorderedTarget = 1e-16;

    // The table is borrowed: it must outlive the flux map. Its columns have equal lengths.
    FluxMap(std::span<const double> bl, std::span<const double> bf);

    // The brightness at r.
    double operator()(double r) const;

    // Knots ascending and none NaN: every piece between kinks is one line of the table.
    bool ordered() const { return ordered_; }

    // The points of (0, 1) where the profile is not smooth (the knots), ascending.
    std::vector<double> kinks() const;

    // N = ∫₀¹ 2πr P(r) dr, split at the kinks (the pieces are quadratics in r). A long table is
    // polled for an interrupt once per piece.
    CalcResult<double> normaliser() const;
    // The same out to 0 ≤ l ≤ 1, ∫₀^l 2πr P(r) dr.
    double enclosed(double l) const;

    // The moments μ_k = ∫₀¹ 2πr^(2k+1) P(r) dr, k = 0..kFarFieldTerms.
    static constexpr std::size_t kTerms = UniformDisk::kFarFieldTerms;
    std::array<double, kTerms + 1> moments() const;

    // The far field of the map with normaliser `norm` (its weights (k + 1)μ_k/μ_0 and μ_0/N), when
    // its series may be used: an ordered table with no negative value (then |μ_k| ≤ μ_0, so the
    // k-th weight is at most k + 1 and the series' truncation bound holds), μ_0 > 0 and N > 0.
    std::optional<ProfileFarField> far_field(double norm) const;

    // On a piece (a, b) free of kinks the profile is smooth: its one-sided values at the ends, its
    // value inside (a table piece is one line, so no search through the knots per point) and the
    // integral of a function against its slope, for integration by parts.
    struct Piece {
        double start, end;  // a, b
        double at_start;    // P(a⁺)
        double at_end;      // P(b⁻)
        Segment line;       // the segment's line; 0 outside the table, the value of a one-knot table
        const FluxMap* lookup;  // a table not in ascending order: looked up (by bisection) at every point

        // P(r) for r in [a, b].
        double operator()(double r) const { return lookup == nullptr ? line.at(r) : (*lookup)(r); }
        // One line over the whole piece (an ordered table): no kink inside.
        bool smooth() const { return lookup == nullptr; }
        // Nothing to integrate: one line that is 0 at both ends.
        bool zero() const { return smooth() && at_start == 0.0 && at_end == 0.0; }
    };
    Piece piece(double a, double b) const;
    // The same for pieces taken in ascending order (an ordered table's pieces one after another):
    // `cursor`, 0 before the first, carries the table search from one piece to the next.
    Piece piece(double a, double b, std::size_t& cursor) const;

private:
    Piece piece_at(double a, double b, std::size_t* cursor) const;

    bool ordered_;  // knots ascending and not NaN: a piece between two knots is one segment
    std::span<const double> bl_, bf_;
    LinearTable table_;  // the table's lines and search, built once: O(log K) per point or piece
};

}  // namespace velmora
