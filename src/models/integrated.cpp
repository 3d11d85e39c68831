// The integrated functions: each its route with the rule it ships with, floored at 1.
#include "models/integrated.hpp"

#include "models/integrated/routes.hpp"

namespace velmora {

using integrated::Floor;

CalcResult<std::vector<double>> integrated_heyrovsky_magnification(std::vector<double> l, double re, double rstar) {
    return integrated::law_ring_route(l, re, rstar, integrated::kLawRule, Floor::at_one);
}

CalcResult<std::vector<double>> integrated_witt_mao_magnification(std::vector<double> l, double re, double rstar) {
    return integrated::law_disk_route(l, re, rstar, integrated::kLawRule, Floor::at_one);
}

CalcResult<std::vector<double>> integrated_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                            double rstar, std::vector<double> bl,
                                                                            std::vector<double> bf) {
    return integrated::table_ring_route(l, re, rstar, bl, bf, integrated::kTableRule, Floor::at_one);
}

CalcResult<std::vector<double>> integrated_flux_map_witt_mao_magnification(std::vector<double> l, double re,
                                                                           double rstar, std::vector<double> bl,
                                                                           std::vector<double> bf) {
    return integrated::table_disk_route(l, re, rstar, bl, bf, integrated::kTableRule, Floor::at_one);
}

CalcResult<std::vector<double>> integrated_law_heyrovsky_magnification(std::vector<double> l, double re, double rstar,
                                                                       std::vector<double> powers,
                                                                       std::vector<double> weights) {
    return integrated::power_law_ring_route(l, re, rstar, powers, weights, integrated::kPowerLawRule, Floor::at_one);
}

CalcResult<std::vector<double>> integrated_law_heyrovsky_centroid_shift(std::vector<double> l, double re, double rstar,
                                                                        std::vector<double> powers,
                                                                        std::vector<double> weights) {
    return integrated::power_law_centroid_route(l, re, rstar, powers, weights, integrated::kPowerLawRule);
}

CalcResult<std::vector<double>> integrated_flux_map_heyrovsky_centroid_shift(std::vector<double> l, double re,
                                                                              double rstar, std::vector<double> bl,
                                                                              std::vector<double> bf) {
    return integrated::table_centroid_route(l, re, rstar, bl, bf, integrated::kTableRule);
}

CalcResult<GradientLists> integrated_law_heyrovsky_magnification_gradient(std::vector<double> l, double re,
                                                                          double rstar, std::vector<double> powers,
                                                                          std::vector<double> weights) {
    return integrated::power_law_gradient_route(l, re, rstar, powers, weights, integrated::kPowerLawGradientRule);
}

CalcResult<GradientLists> integrated_flux_map_heyrovsky_magnification_gradient(std::vector<double> l, double re,
                                                                              double rstar, std::vector<double> bl,
                                                                              std::vector<double> bf) {
    return integrated::table_gradient_route(l, re, rstar, bl, bf, integrated::kTableRule);
}

}  // namespace velmora
