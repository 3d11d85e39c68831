// Test-only entry points to the integrated functions' routes, for the kernel test extension
// (tests/native/kernels_module.cpp); the module includes none of this. The tests choose the route
// and its radius rule (a weakened rule must fail them), see the values before the floor at 1, and
// read a flux map's normaliser as the functions divide by it.
#pragma once

#include <span>
#include <vector>

#include "models/flux_map_profile.hpp"
#include "models/integrated/routes.hpp"
#include "models/panic.hpp"
#include "numerics/calc_result.hpp"
#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora::integrated::testing {

// The four routes, in the order the kernel extension numbers them (0..3).
// Route 4 is a power law's ring route, its powers and weights passed as bl and bf; route 5 the same
// without the small-source series (the radius integral everywhere below the far field).
enum class Route { law_ring, law_disk, table_ring, table_disk, power_law_ring, power_law_integral };

// The route's values with the given rule, floored or not. bl and bf are ignored by the law's routes.
inline CalcResult<std::vector<double>> route_values(Route route, const std::vector<double>& l, double re, double rstar,
                                                    std::span<const double> bl, std::span<const double> bf,
                                                    const GradedRule& rule, Floor floor) {
    switch (route) {
    case Route::law_ring:
        return law_ring_route(l, re, rstar, rule, floor);
    case Route::law_disk:
        return law_disk_route(l, re, rstar, rule, floor);
    case Route::table_ring:
        return table_ring_route(l, re, rstar, bl, bf, rule, floor);
    case Route::power_law_ring:
        return power_law_ring_route(l, re, rstar, bl, bf, rule, floor);
    case Route::power_law_integral:
        return power_law_ring_route(l, re, rstar, bl, bf, rule, floor, SmallSource::never);
    case Route::table_disk:
        break;
    }
    return table_disk_route(l, re, rstar, bl, bf, rule, floor);
}

// The rule the route's public function uses.
inline const GradedRule& shipped_rule(Route route) {
    if (route == Route::power_law_ring || route == Route::power_law_integral) return kPowerLawRule;
    return route == Route::law_ring || route == Route::law_disk ? kLawRule : kTableRule;
}

// The flux map's normaliser N as the flux-map functions divide by it.
inline CalcResult<double> flux_map_normaliser(std::span<const double> bl, std::span<const double> bf) {
    assert_equal_lengths(bl.size(), bf.size());
    return FluxMap(bl, bf).normaliser();
}

}  // namespace velmora::integrated::testing
