// Magnification of a thin source ring by a point lens (Heyrovský 2003): the ring of radius r is
// centred on the source, the lens at distance l from the centre (both in source radii).
#pragma once

#include "numerics/calc_result.hpp"

namespace velmora {

CalcResult<double> heyrovsky_magnification(double l, double r, double re, double rstar);

}  // namespace velmora
