// Uniform-disk magnification (Witt & Mao 1994): a source disk of uniform brightness lensed by a
// point mass, in closed form with complete elliptic integrals.
#pragma once

#include <vector>

#include "numerics/calc_result.hpp"

namespace velmora {

// The per-call constants of one disk: ρ = rstar/re, the source radius in Einstein radii.
class UniformDisk {
public:
    UniformDisk(double re, double rstar);

    // Magnification with the lens at distance l from the disk centre (l in disk radii).
    CalcResult<double> at(double l) const;

private:
    double closed_form(double l) const;
    double far_field(double l) const;

    double rho_, eight_over_pi_rho_, limb_;
};

// One magnification per element of l, in order; the first kernel error ends the call.
CalcResult<std::vector<double>> witt_mao_magnification(std::vector<double> l, double re, double rstar);

}  // namespace velmora
