// Magnification of a thin source ring by a point lens (Heyrovský 2003): the ring of radius r is
// centred on the source, the lens at distance l from the centre (both in source radii).
#pragma once

#include <span>

#include "numerics/calc_result.hpp"

namespace velmora {

CalcResult<double> heyrovsky_magnification(double l, double r, double re, double rstar);

// The same at every radius of r for one lens position: out[i] is heyrovsky_magnification(l, r[i],
// re, rstar) bit for bit (the radii are taken several at a time, each with the scalar operations).
// out has the size of r.
void heyrovsky_magnifications(double l, std::span<const double> r, double re, double rstar, std::span<double> out);

}  // namespace velmora
