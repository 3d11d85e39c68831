// Magnifications of a source disk with a radial brightness profile P(r), integrated over the
// source radius r ∈ [0, 1] (source radii):
//
//   M = (1/N) ∫₀¹ 2πr · A(l, r) · P(r) dr                       (ring route, A the ring magnification)
//     = (1/N) ∫₀¹ P(r) d[πr² W(r)]                              (disk route, W(r) the uniform-disk
//                                                                magnification of the concentric disk
//                                                                of radius r)
//
// with N the profile's normaliser. Both routes compute the same quantity. Every radius integral is
// split where its integrand is not smooth (r = l inside the disk, a flux map's knots) and each
// piece is integrated by Gauss–Legendre rules with a-priori node counts (graded_gauss.hpp); far
// from the source a series in the profile's moments takes over. Every function polls for an interrupt once per lens
// position and fails with interrupt::stopped() when asked to stop.
#pragma once

#include <span>
#include <vector>

#include "numerics/calc_result.hpp"
#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora {

// Linear limb darkening I(r) = 1 − 0.6(1 − √(1 − r²)).
CalcResult<std::vector<double>> integrated_heyrovsky_magnification(std::vector<double> l, double re, double rstar);
CalcResult<std::vector<double>> integrated_witt_mao_magnification(std::vector<double> l, double re, double rstar);

// The flux map (bl, bf), read by linear interpolation and 0 outside its knots; N = ∫₀¹ 2πr J(r) dr.
// Unequal column lengths abort (Panic).
CalcResult<std::vector<double>> integrated_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                            double rstar, std::vector<double> bl,
                                                                            std::vector<double> bf);
CalcResult<std::vector<double>> integrated_flux_map_witt_mao_magnification(std::vector<double> l, double re,
                                                                           double rstar, std::vector<double> bl,
                                                                           std::vector<double> bf);

// The four routes with a given radius rule, for the tests (a weakened rule must fail them).
// bl and bf are ignored by the law's routes.
enum class Route { law_ring, law_disk, table_ring, table_disk };
CalcResult<std::vector<double>> integrated_with_rule(Route route, std::vector<double> l, double re, double rstar,
                                                     std::span<const double> bl, std::span<const double> bf,
                                                     const GradedRule& rule);
// The rule each of the four functions above uses.
const GradedRule& integrated_rule(Route route);
// The flux map's normaliser N as those functions divide by it, for the tests.
CalcResult<double> flux_map_normaliser(std::span<const double> bl, std::span<const double> bf);

}  // namespace velmora
