// The routes of the integrated functions (models/integrated.hpp): the magnification of a source disk
// with a radial brightness profile P(r), integrated over the source radius r ∈ [0, 1],
//
//   M = (1/N) ∫₀¹ 2πr · A(l, r) · P(r) dr                       (ring route, A the ring magnification)
//     = (1/N) ∫₀¹ P(r) d[πr² W(r)]                              (disk route, W(r) the uniform-disk
//                                                                magnification of the concentric disk
//                                                                of radius r)
//
// with N the profile's normaliser. Both routes compute the same quantity. Every radius integral is
// split where its integrand is not smooth (r = l inside the disk, a flux map's knots) and each piece
// is integrated by Gauss rules with a-priori node counts (numerics/quadrature/graded_gauss.hpp,
// gauss_jacobi.hpp); far from the source a series in the profile's moments takes over. Every route
// polls for an interrupt once per lens position and fails with interrupt::stopped() when asked to stop.
//
// Each route takes its radius rule, and whether the result is floored at 1 (models/at_least_one.hpp):
// the public functions pass the shipped rule and Floor::at_one, the tests other rules and Floor::none
// (models/integrated/testing.hpp).
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "models/at_least_one.hpp"
#include "models/centroid.hpp"
#include "models/gradient.hpp"
#include "models/power_law.hpp"
#include "models/ring_centroid.hpp"
#include "numerics/calc_result.hpp"
#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora::integrated {

enum class Floor { at_one, none };

// The limb-darkening law's routes (law_routes.cpp), and the rule they ship with.
extern const GradedRule kLawRule;
CalcResult<std::vector<double>> law_ring_route(const std::vector<double>& l, double re, double rstar,
                                               const GradedRule& rule, Floor floor);
CalcResult<std::vector<double>> law_disk_route(const std::vector<double>& l, double re, double rstar,
                                               const GradedRule& rule, Floor floor);

// A flux map's routes (table_routes.cpp), and the rule they ship with. Unequal column lengths abort
// (Panic).
extern const GradedRule kTableRule;
CalcResult<std::vector<double>> table_ring_route(const std::vector<double>& l, double re, double rstar,
                                                 std::span<const double> bl, std::span<const double> bf,
                                                 const GradedRule& rule, Floor floor);
CalcResult<std::vector<double>> table_disk_route(const std::vector<double>& l, double re, double rstar,
                                                 std::span<const double> bl, std::span<const double> bf,
                                                 const GradedRule& rule, Floor floor);

// A power law's ring route (power_law_routes.cpp), and the rule it ships with. Invalid powers or
// weights fail with their message (models/power_law.hpp) before anything is computed.
extern const GradedRule kPowerLawRule;
// The rule of a power law's derivative integrals (power_law_gradient.cpp).
extern const GradedRule kPowerLawGradientRule;
// `rule` with its aim raised for a law's powers above 2 (the poles of its integrands grow with the
// power), as every power-law route takes it.
GradedRule raised_rule(const PowerLaw& law, const GradedRule& rule);
// The ring route's value at one position the far field and the small-source series leave to the
// radius integral (unfloored), `raised` the law's raised_rule().
double power_law_ring_value(const PowerLaw& law, double l, double re, double rstar, const GradedRule& raised);
// Inside a source small enough, a law of integer powers takes the closed-form series instead of the
// radius integral (models/small_source.hpp); the tests can turn that off to compare the two.
enum class SmallSource { where_it_serves, never };
CalcResult<std::vector<double>> power_law_ring_route(const std::vector<double>& l, double re, double rstar,
                                                     std::span<const double> powers, std::span<const double> weights,
                                                     const GradedRule& rule, Floor floor,
                                                     SmallSource series = SmallSource::where_it_serves);

// A power law's centroid shift (power_law_routes.cpp): the ring route's integral of the ring's
// centroid-shift numerator over the same of the ring magnification, the far-field series from the
// law's far_from() (models/centroid.hpp). Not floored.
CalcResult<std::vector<double>> power_law_centroid_route(const std::vector<double>& l, double re, double rstar,
                                                         std::span<const double> powers,
                                                         std::span<const double> weights, const GradedRule& rule,
                                                         SmallSource series = SmallSource::where_it_serves);

// A flux map's centroid shift (table_routes.cpp): the ring route's pieces, each integrated with the
// ring's centroid-shift numerator and with the ring magnification, the first sum over the second;
// the far-field series where the map's magnification takes its own. Not floored.
CalcResult<std::vector<double>> table_centroid_route(const std::vector<double>& l, double re, double rstar,
                                                     std::span<const double> bl, std::span<const double> bf,
                                                     const GradedRule& rule);

// The ring magnification and the ring's centroid-shift numerator of one lens position from one AGM
// per radius (models/ring_centroid.hpp), as a pair-valued ring function: one radius, or a batch.
struct RingMagnificationAndCentroid {
    double l, rho;
    std::pair<double, double> operator()(double r) const {
        const RingPair both = ring_pair(l, r, rho);
        return {both.magnification, both.numerator};
    }
    void operator()(std::span<const double> r, std::span<double> magnification, std::span<double> numerator) const {
        ring_pairs(l, rho, r, magnification, numerator);
    }
};

// The same law's magnifications (power_law_ring_route's values, floored, bit for bit) with ∂A/∂u at
// fixed ρ and ∂A/∂ρ at fixed u, from the disk route's form integrated by parts
// (power_law_gradient.cpp); `rule` is the derivatives' radius rule. Where the values take the
// small-source series, the derivatives are the series' own (unless `series` says never). The same
// errors.
CalcResult<GradientLists> power_law_gradient_route(const std::vector<double>& l, double re, double rstar,
                                                   std::span<const double> powers, std::span<const double> weights,
                                                   const GradedRule& rule,
                                                   SmallSource series = SmallSource::where_it_serves);

// A flux map's magnifications (table_ring_route's values, floored, bit for bit) with ∂A/∂u at fixed ρ
// and ∂A/∂ρ at fixed u, from the disk route's integration by parts (table_routes.cpp); `rule` is the
// derivatives' radius rule. The same errors.
CalcResult<GradientLists> table_gradient_route(const std::vector<double>& l, double re, double rstar,
                                               std::span<const double> bl, std::span<const double> bf,
                                               const GradedRule& rule);

// The floor of a route's values: the source is physical when rstar/re > 0, the lens at l ≥ 0 and
// the profile has no negative value (`nonnegative`).
inline CalcResult<std::vector<double>> floored(CalcResult<std::vector<double>> result, const std::vector<double>& l,
                                               double rho, bool nonnegative, Floor floor) {
    if (floor == Floor::none || !result || !nonnegative || !(rho > 0.0)) return result;
    std::vector<double> out = std::move(result).value();
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = at_least_one(out[i], l[i] >= 0.0);
    return out;
}

}  // namespace velmora::integrated
