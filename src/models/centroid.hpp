// The astrometric centroid shift of a uniform source disk lensed by a point mass: the centroid of the
// light of all images (the lens dark) minus the source centre, along the axis from the lens to the
// source centre, in Einstein radii, positive away from the lens.
#pragma once

#include <vector>

#include "numerics/calc_result.hpp"

namespace velmora {

class UniformDiskCentroid {
public:
    // The shift with the lens at distance l from the disk centre (l in disk radii), for a disk of
    // radius ρ > 0 (Einstein radii).
    static double value(double l, double rho);

    // From this lens distance on (in source radii) a far-field series replaces the closed form.
    static constexpr double kFarField = 16.0;

    // The closed form in double precision, or carried in double-double arithmetic (exposed for the
    // tests of the switch between the two).
    static double closed_form(double l, double rho);
    static double closed_form_extended(double l, double rho);
    static double far_field(double l, double rho);
};

// One shift per element of l, in order; a lens on the limb of a disk of negative radius gives the
// magnification's kernel error there.
CalcResult<std::vector<double>> witt_mao_centroid_shift(std::vector<double> l, double re, double rstar);

}  // namespace velmora
