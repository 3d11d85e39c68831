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
// Outside the source (m > 1) the same series holds with the exterior forms of W_j^(p), which the
// script derives for p ≤ 3 (the ring average of the kernel is then l^(2j−1) times a series in
// z = 1/m, whose closed form is E(z), K(z) for even p and arcsin(1/l), √(1 − z) for odd p over
// polynomials in m).
//
// The law's magnification is then Σ_p w_p J_p / N: per lens position one pair of complete elliptic
// integrals (or an arcsine and a square root) and a few polynomials, whose coefficients a call
// combines once for its ρ and law. With |r − l| ≤ 1 + l and A(s) ≥ 1/s, the j-th term is at most
// |a_j|(ρ(1 + l))^(2j)·B of the magnification, B = Σ_p |w_p|·2π/(p + 2)/N (1 for a law with no
// negative weight); the series is taken where the omitted terms are below kTolerance: inside the
// source up to ρ ≈ 0.17, and outside it up to l = ρ_t/ρ − 1 (ρ_t the same reach, about 0.35) or the
// far field's l = 3, whichever comes first. Beyond l = 3 the exterior forms' poles in z cancel
// (p = 2 loses 360 times ε at l = 3), and the far-field series serves there anyway.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <optional>

#include "models/power_law.hpp"
#include "models/small_source_series.hpp"

namespace velmora {

class SmallSourceSeries {
public:
    // Relative size of the omitted terms (below the doubles' resolution of the sum, 2^-53 ≈ 1.1e-16).
    static constexpr double kTolerance = 1e-17;
    // The farthest lens the exterior forms serve, in source radii (their poles' cancellation).
    static constexpr double kFarthest = 3.0;

    // The series of the law at ρ, or nothing: a power is not an integer from 0 to
    // small_source_series::kMostPower, or ρ is too large for the tabulated terms inside the source.
    // `far_from` is where the law's far-field series takes over; the exterior forms stop there.
    static std::optional<SmallSourceSeries> make(const PowerLaw& law, double rho, double far_from);

    // Whether value(l) serves at l: 0 ≤ l ≤ 1, or 1 < l ≤ reach() for a law with the exterior forms.
    bool serves(double l) const { return l >= 0.0 && l <= reach_; }
    double reach() const { return reach_; }

    // The magnification with the lens at l source radii from the centre, where serves(l) (unfloored).
    double value(double l) const;

    // Whether gradient(l) serves at l: where value(l) does but on the limb (there the uniform part's
    // derivatives are infinite, and the caller takes them), for ρ ≥ kLeastGradientRadius: below it
    // ∂A/∂ρ at fixed l, ~A/ρ ~ 1/ρ², overflows, and with it ∂A/∂ρ at fixed u, which this form takes
    // as a difference (the integral's form gives the derivatives themselves).
    static constexpr double kLeastGradientRadius = 1e-150;
    bool serves_gradient(double l) const { return serves(l) && l != 1.0 && rho_ >= kLeastGradientRadius; }

    // value(l) bit for bit, with ∂A/∂l at fixed ρ and ∂A/∂ρ at fixed l, where serves_gradient(l)
    // (else false, nothing written). The derivatives of each term's closed form: in m,
    // dE/dm = (E − K)/(2m) and d((1 − m)K)/dm = (E − (1 + m)K)/(2m), whose poles cancel in
    // dW/dl = l·(Y·K − U·(K − E)/m) with U = 2mP' + P + T and Y = 2P' + 2(1 − m)T' − T, (K − E)/m
    // summed by its Taylor series for small m where K − E cancels; outside, W = F/l and
    // dW/dl = 2 dF/dm − F/l² with dE(z)/dm = −z(E − K)/2, d(m(1 − z)K(z))/dm = K − (E − (1 − z)K)/2 and
    // d(l·arcsin(1/l))/dm = (z/2)(l·arcsin(1/l) − 1/√(1 − z)). ∂A/∂ρ at fixed l is the same sums with
    // the weights (2j − 1)a_j ρ^(2j−2).
    bool gradient(double l, double& value, double& d_l, double& d_rho) const;

    // The astrometric centroid shift (models/centroid.hpp) where serves_shift(l) (else false, nothing
    // written). With the lens at the origin, the source centre at distance u = lρ on the axis ê, and
    // g(s)/s = (s² + 3)/(s√(s² + 4)) = Σ_i e_i s^(2i−1) for the images' light-weighted centroid g, the
    // shift's numerator ∫∫ I·[g(s)(x·ê)/s − u·A(s)] d²r, x = u + ρr the source point, splits as
    // (x·ê)(g/s − A) + ((x − u)·ê)A, and ∫∫ I (r − ℓ)|r − ℓ|^(2j−1) d²r = −∇_ℓ W_(j+1)/(2j + 1) (ℓ the
    // lens about the centre) turns both into
    //   shift·A·N = Σ_(k≥1) e_(k−1) ρ^(2k−2) W'_k(l)/(2k − 1) − u·A·N,
    // W'_k = dW_k/dl; the first sum's omitted terms are below (1 + l)·Σ_(i≥K) |e_i|(ρ(1 + l))^(2i)·B
    // times ρ. On the limb W'_k (k ≥ 1) is finite (its kernel's gradient is bounded).
    // shift() returns false within kLimbBand of the limb where the shift is below kLeastShift of u
    // (small_source.cpp).
    static constexpr double kLimbBand = 1e-2;
    static constexpr double kLeastShift = 1e-2;
    bool serves_shift(double l) const { return l >= 0.0 && l <= shift_reach_ && rho_ >= kLeastGradientRadius; }
    bool shift(double l, double& value) const;

    // The number of terms j taken inside and outside the source (0: no exterior forms), for the tests.
    std::size_t terms() const { return inside_.terms; }
    std::size_t outside_terms() const { return outside_.terms; }

private:
    using Coefficients = std::array<double, small_source_series::kMostLength>;
    // One region's polynomials in m, their coefficients from the constant term up, already
    // multiplied by w_p a_j ρ^(2j−1)/N and summed over the powers and terms: the factors of the two
    // functions of even powers (E and (1 − m)K inside, E(z) and m(1 − z)K(z) outside) and of the two
    // of odd powers (1 and nothing inside, l·arcsin(1/l) and √(1 − z) outside).
    struct Region {
        Coefficients even_first{}, even_second{}, odd_first{}, odd_second{}, odd_slope{};
        std::size_t even_first_length = 0, even_second_length = 0, odd_first_length = 0, odd_second_length = 0,
                    odd_slope_length = 0;  // odd_slope: R̃ outside (small_source_series.hpp), for the slopes
        std::size_t terms = 0;
    };
    // The special functions at l, and a region's sum with them (the derivatives' regions hold the
    // weights (2j − 1)a_j ρ^(2j−2) w_p/N).
    struct Functions;
    Functions functions(double l) const;
    double sum(const Region& region, const Functions& f, double l) const;
    // d/dl of a region's sum.
    double slope(const Region& region, const Functions& f, double l) const;

    Region inside_, outside_, inside_rho_, outside_rho_, inside_shift_, outside_shift_;
    double reach_ = 1.0, rho_ = 0.0;
    double shift_reach_ = -1.0;  // none until the centroid's terms are known to reach
};

}  // namespace velmora
