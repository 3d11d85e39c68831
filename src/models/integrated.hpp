// Magnifications of a source disk with a radial brightness profile, integrated over the source
// radius: the limb-darkening law's and a flux map's, each by the ring route and by the disk route
// (models/integrated/routes.hpp says what the routes compute and how).
#pragma once

#include <vector>

#include "models/gradient.hpp"
#include "numerics/calc_result.hpp"

namespace velmora {

// Linear limb darkening I(r) = 1 − 0.6(1 − √(1 − r²)) (models/limb_darkening_law.hpp).
CalcResult<std::vector<double>> integrated_heyrovsky_magnification(std::vector<double> l, double re, double rstar);
CalcResult<std::vector<double>> integrated_witt_mao_magnification(std::vector<double> l, double re, double rstar);

// The flux map (bl, bf), read by linear interpolation and 0 outside its knots; N = ∫₀¹ 2πr J(r) dr
// (models/flux_map_profile.hpp). Unequal column lengths abort (Panic).
CalcResult<std::vector<double>> integrated_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                            double rstar, std::vector<double> bl,
                                                                            std::vector<double> bf);
CalcResult<std::vector<double>> integrated_flux_map_witt_mao_magnification(std::vector<double> l, double re,
                                                                           double rstar, std::vector<double> bl,
                                                                           std::vector<double> bf);

// The law I(r) = Σ_k weights[k]·μ^powers[k], μ = √(1 − r²), over N = Σ_k weights[k]·2π/(powers[k] + 2)
// (models/power_law.hpp), ring route. Invalid powers or weights fail with their message.
CalcResult<std::vector<double>> integrated_law_heyrovsky_magnification(std::vector<double> l, double re, double rstar,
                                                                       std::vector<double> powers,
                                                                       std::vector<double> weights);

// The astrometric centroid shift of the law above (models/centroid.hpp says what the shift is), ring
// route; the same argument errors as the magnification.
CalcResult<std::vector<double>> integrated_law_heyrovsky_centroid_shift(std::vector<double> l, double re, double rstar,
                                                                        std::vector<double> powers,
                                                                        std::vector<double> weights);

// The astrometric centroid shift of the flux map (bl, bf) above, ring route; the same argument
// errors as integrated_flux_map_heyrovsky_magnification.
CalcResult<std::vector<double>> integrated_flux_map_heyrovsky_centroid_shift(std::vector<double> l, double re,
                                                                              double rstar, std::vector<double> bl,
                                                                              std::vector<double> bf);

// The same magnifications (bit for bit) with ∂A/∂u at fixed ρ and ∂A/∂ρ at fixed u per lens
// position, u = l·rstar/re and ρ = rstar/re; the same errors.
CalcResult<GradientLists> integrated_law_heyrovsky_magnification_gradient(std::vector<double> l, double re,
                                                                          double rstar, std::vector<double> powers,
                                                                          std::vector<double> weights);

// The flux map's magnifications (integrated_flux_map_heyrovsky_magnification's, bit for bit) with
// ∂A/∂u at fixed ρ and ∂A/∂ρ at fixed u; the same errors.
CalcResult<GradientLists> integrated_flux_map_heyrovsky_magnification_gradient(std::vector<double> l, double re,
                                                                              double rstar, std::vector<double> bl,
                                                                              std::vector<double> bf);

}  // namespace velmora
