// Magnifications weighted by a radial flux map: a two-column table of radii bl and fluxes bf.
#pragma once

#include <vector>

#include "numerics/calc_result.hpp"

namespace velmora {

// Σ_k A(lᵢ, bl[k]) · bf[k] for each lᵢ: the ring magnification summed ring by ring with the
// table's weights (no normalisation). An empty table gives zeros; unequal columns abort.
CalcResult<std::vector<double>> discrete_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                          double rstar, std::vector<double> bl,
                                                                          std::vector<double> bf);

}  // namespace velmora
