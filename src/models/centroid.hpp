// The astrometric centroid shift of a uniform source disk lensed by a point mass: the centroid of the
// light of all images (the lens dark) minus the source centre, along the axis from the lens to the
// source centre, in Einstein radii, positive away from the lens.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "numerics/calc_result.hpp"
#include "numerics/constants.hpp"

namespace velmora {

class UniformDiskCentroid {
public:
    // The shift with the lens at distance l from the disk centre (l in disk radii), for a disk of
    // radius ρ > 0 (Einstein radii).
    static double value(double l, double rho);

    // From this lens distance on (in source radii) a far-field series replaces the closed forms: its
    // first omitted term is below 1.8e-14 relative at l = 3 and 1e-17 from l = 4 on.
    static constexpr double kFarField = 3.0;

    // The forms value() picks from (models/centroid.cpp), exposed for the tests of the switches:
    // the factored form and its loss (the amplification of its rounding by its one difference, large
    // only with the lens near the centre of a small disk), the closed form in double precision, and
    // the same steps in double-double arithmetic (the last resort).
    static double factored_form(double l, double rho);
    static double factored_loss(double l, double rho);
    static double closed_form(double l, double rho);
    static double closed_form_extended(double l, double rho);
    static double far_field(double l, double rho);
};

// Below this source radius (Einstein radii) the shift with the lens within a few source radii of the
// centre is ρ times a function of l alone, to relative order ρ (its values agree to 14 digits from
// ρ = 1e-20 down): the functions take it at this radius and scale it by ρ/kScaleFreeRadius. Their
// forms multiply several lengths of order ρ, which would underflow from ~1e-75 on.
inline constexpr double kScaleFreeRadius = 1e-50;

// Whether the leading terms in 1/ρ serve for the shift with the lens at l (source radii) in a source
// of radius ρ far larger than the Einstein ring (models/centroid.cpp): the uniform disk's from ρ = 1e8
// and a profile's (below) from 1e7, where they are the more accurate (the lens far enough from the
// limb in Einstein radii), and everywhere beyond 1e10, where the closed forms and the ring's
// numerator, whose last subtraction of u loses ~ρ² of their digits, keep none.
bool leading_terms_serve(double l, double rho, bool profile = false);

// Those leading terms for a radial profile P inside the source (0 < l < 1): the images' centroid
// excess is m(u)/u (the profile's 2-D field at the lens: its integral m(u) within the lens distance
// over u) less 2πu·P(l) (the magnification's excess ∫(A − 1) dA = 2π about the lens, weighted by
// x − u ≈ −u), over the total m(ρ):
//   shift = (M(l)/l − 2πl·P(l))/(ρ·N),   M(l) = ∫₀^l 2πr P(r) dr,  N = M(1),
// to relative order log(ρ)/ρ² (the profile's slope over the magnification's excess) and 1/δ²,
// δ = (1 − l)ρ (measured against the ring route at ρ = 1e4 to 1e6: 1.5·log(ρ)/ρ² and 5/δ² for a
// quadratic law). (The uniform disk: −l/ρ.)
inline double large_source_shift(double l, double rho, double enclosed, double brightness, double norm) {
    return (enclosed / l - constants::kTwoPi * l * brightness) / (rho * norm);
}

// The far-field series for a radial profile with the magnification's far-field weights
// (k + 1)μ_k/μ_0 (models/witt_mao.hpp): the shift is (1 + Σ_k w_k R_k(z) l^-2k)/(√(u² + 4)·A), A the
// profile's magnification (unfloored) at l. Its first omitted term is below 1.8e-14 relative at
// l = 3 (1e-17 from l = 4 on, 1e-20 from 16 on) times the 13th weight: a power law takes it from its
// magnification's own far_from() on (3 when that weight is at most 1).
double centroid_far_field(double l, double rho, std::span<const double> weights, double magnification);
// The same at the positions l[at[k]], with the magnifications found in out[at[k]], which the shifts
// replace; bit for bit, several at a time (the routes gather their far positions and take them
// together).
void centroid_far_fields_at(const std::vector<double>& l, double rho, std::span<const double> weights,
                            std::span<const std::size_t> at, std::vector<double>& out);

// One shift per element of l, in order; a lens on the limb of a disk of negative radius gives the
// magnification's kernel error there.
CalcResult<std::vector<double>> witt_mao_centroid_shift(std::vector<double> l, double re, double rstar);

}  // namespace velmora
