// A law of integer powers (models/power_law.hpp) with the lens inside a small source, in closed form.
//
// For s = ρ|r − l| < 2 the point-lens magnification is a series, A(s) = Σ_j a_j s^(2j−1), and so the
// flux of the profile μ^p magnified is
//
//   J_p(l) = Σ_j a_j ρ^(2j−1) W_j^(p)(l²),   W_j^(p)(m) = ∫∫ μ^p |r − l|^(2j−1) d²r,
//
// where, for the lens inside the source (m = l² ≤ 1), W_j^(p) is π² times a polynomial in m for odd
// p (the 1/|x| potential of μ^p times a polynomial is a polynomial inside the disk: L. A. Galin,
// Contact Problems in the Theory of Elasticity, 1953, ch. 2; and the Laplacian of |x|^(2j−1) steps j
// down), and P(m)E(m) + T(m)(1 − m)K(m) with polynomials P, T for even p (p = 0, j = 0 is the uniform
// disk's potential 4E). scripts/small_source_series.py derives the polynomials in exact arithmetic
// into models/small_source_series.hpp; the derivation is in its docstring.
//
// The law's magnification is then Σ_p w_p J_p / N: per lens position one pair of complete elliptic
// integrals and three polynomials, whose coefficients a call combines once for its ρ and law. With
// |r − l| ≤ 2 and A(s) ≥ 1/s, the j-th term is at most |a_j|(2ρ)^(2j)·B of the magnification,
// B = Σ_p |w_p|·2π/(p + 2)/N (1 for a law with no negative weight); the series is taken where the
// first omitted terms are below kTolerance, which with the tabulated terms reaches ρ ≈ 0.2.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "models/power_law.hpp"
#include "models/small_source_series.hpp"

namespace velmora {

class SmallSourceSeries {
public:
    // Relative size of the omitted terms (below the doubles' resolution of the sum, 2^-53 ≈ 1.1e-16).
    static constexpr double kTolerance = 1e-17;

    // The series of the law at ρ, or nothing: a power is not an integer from 0 to
    // small_source_series::kMostPower, or ρ is too large for the tabulated terms.
    static std::optional<SmallSourceSeries> make(const PowerLaw& law, double rho);

    // The magnification with the lens at l source radii from the centre, 0 ≤ l ≤ 1 (unfloored).
    double value(double l) const;

    // The number of terms j taken (for the tests).
    std::size_t terms() const { return terms_; }

private:
    using Coefficients = std::array<double, small_source_series::kMostLength>;
    // Each polynomial's coefficients from the constant term up, already multiplied by w_p a_j
    // ρ^(2j−1)/N and summed over the powers and terms: the factor of E, of (1 − m)K, and the rest.
    Coefficients e_{}, k_{}, r_{};
    std::size_t e_length_ = 0, k_length_ = 0, r_length_ = 0, terms_ = 0;
};

}  // namespace velmora
