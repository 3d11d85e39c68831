// Radial brightness profiles of the source disk, r in source radii (0 at the centre, 1 at the limb):
// the fixed linear limb-darkening law, whose facts its own routes use (integrated.cpp splits it into
// a uniform and a √ part), and a flux map (Profile), which the table routes integrate piece by piece.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "models/far_field_series.hpp"
#include "numerics/calc_result.hpp"
#include "numerics/constants.hpp"
#include "numerics/interp/linear.hpp"

namespace velmora {

// The law I(r) = 1 − 0.6(1 − √(1 − r²)) = 0.4 + 0.6√(1 − r²).
struct LimbDarkeningLaw {
    static constexpr double kCoefficient = -0.6;  // linear limb-darkening coefficient, with its sign

    // The law splits into a uniform part and a √ part. The uniform part of any radius integral is
    // the uniform-disk value (∫₀¹ 2πr A(l, r) dr = πW(l), since A is the ring mean of the
    // point-lens magnification); only the √ part needs quadrature.
    static constexpr double kUniformPart = 0.4;
    static constexpr double kRootPart = 0.6;
    static_assert(kUniformPart + kRootPart == 1.0 && -kRootPart == kCoefficient);

    // The normaliser ∫₀¹ 2πr I(r) dr = π(1 − 0.6/3) = 0.8π as the functions divide by it:
    // 2.5132741228717936, which is 1.6e-14 (relative) below the double nearest 0.8π; the zeroth
    // moment μ_0, for the far field's μ_0/N, is 0.8π rounded (3e-16 from 1 after the division).
    static constexpr double kNormaliser = 2.5132741228717936;
    static constexpr double kMu0 = 0.8 * constants::kPi;

    // The far-field weights (k + 1)·μ_k/μ_0, k = 1..kFarFieldTerms: μ_k = 0.4π/(k + 1) +
    // 0.6π·B(k + 1, 3/2) and μ_0 = 0.8π give 1/2 + (3/4)(k + 1)·B(k + 1, 3/2), where
    // B(k + 1, 3/2) = k!·2^(k+1)/(3·5···(2k + 3)) makes the second part the fraction
    // (k + 1)!·2^(k−1)/(5·7···(2k + 3)): 2/5, 12/35, 32/105, … Its numerator and denominator are
    // exact doubles (below 2^53 up to k = 12), so each weight is the quotient rounded once, plus
    // 1/2 rounded once.
    static constexpr std::size_t kTerms = far_field_series::kFarFieldTerms;
    static constexpr std::array<double, kTerms> kWeights = [] {
        std::array<double, kTerms> weights{};
        double numerator = 1.0, denominator = 1.0;  // (k + 1)!·2^(k−1) and 5·7···(2k + 3), built up exactly
        for (std::size_t k = 1; k <= kTerms; ++k) {
            numerator *= static_cast<double>(k + 1) * (k == 1 ? 1.0 : 2.0);
            denominator *= static_cast<double>(2 * k + 3);
            weights[k - 1] = 0.5 + numerator / denominator;
        }
        return weights;
    }();
    static_assert(kWeights[0] == 0.5 + 2.0 / 5.0 && kWeights[2] == 0.5 + 32.0 / 105.0 &&
                  kWeights[4] == 0.5 + 256.0 / 1001.0);
};

// A flux map: the table (bl, bf) read by linear interpolation, 0 outside [bl first, bl last].
class Profile {
public:
    // The absolute error target of the tanh-sinh ladder on the pieces of a table whose knots are
    // not in ascending order (a piece may then hold kinks at unknown places).
    static constexpr double kUnorderedTarget = 1e-16;

    // The table is borrowed: it must outlive the profile.
    static Profile flux_map(std::span<const double> bl, std::span<const double> bf);

    // The brightness at r.
    double operator()(double r) const;

    // Knots ascending and none NaN: every piece between kinks is one line of the table.
    bool ordered() const { return ordered_; }

    // The points of (0, 1) where the profile is not smooth (the knots), ascending.
    std::vector<double> kinks() const;

    // N = ∫₀¹ 2πr P(r) dr, split at the kinks (the pieces are quadratics in r). A long table is
    // polled for an interrupt once per piece.
    CalcResult<double> normaliser() const;

    // On a piece (a, b) free of kinks the profile is smooth: its one-sided values at the ends, its
    // value inside (a table piece is one line, so no search through the knots per point) and the
    // integral of a function against its slope, for integration by parts.
    struct Piece {
        double start, end;  // a, b
        double at_start;    // P(a⁺)
        double at_end;      // P(b⁻)
        Segment line;       // the segment's line; 0 outside the table, the value of a one-knot table
        const Profile* lookup;  // a table not in ascending order: looked up (by bisection) at every point

        // P(r) for r in [a, b].
        double operator()(double r) const {
            return lookup == nullptr ? line.at(r) : (*lookup)(r);
        }
        // One line over the whole piece (an ordered table): no kink inside.
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
    Profile(std::span<const double> bl, std::span<const double> bf);
    Piece piece_at(double a, double b, std::size_t* cursor) const;

    bool ordered_;  // knots ascending and not NaN: a piece between two knots is one segment
    std::span<const double> bl_, bf_;
    LinearTable table_;  // the table's lines and search, built once: O(log K) per point or piece
};

template <class F, class Quadrature>
double Profile::Piece::against_slope(F&& f, Quadrature&& quadrature) const {
    if (line.slope == 0.0) return 0.0;  // a flat segment, or outside the table
    return line.slope * quadrature(f, start, end);
}

}  // namespace velmora
