// The limb-darkening law's routes (models/limb_darkening_law.hpp): the law's uniform part is the
// uniform-disk value, and only its √ part is a radius integral, taken in v = r² with the lens outside
// the disk and in t = tan(φ/2) otherwise (models/integrated/singular_points.hpp).
#include <cmath>
#include <cstddef>
#include <vector>

#include "models/integrated/radius_integrand.hpp"
#include "models/integrated/routes.hpp"
#include "models/integrated/singular_points.hpp"
#include "models/interrupt.hpp"
#include "models/limb_darkening_law.hpp"
#include "models/witt_mao.hpp"
#include "numerics/constants.hpp"
#include "numerics/quadrature/gauss_jacobi.hpp"
#include "numerics/quadrature/graded_gauss.hpp"

namespace velmora::integrated {

// The law's integrals over the disk run in t = tan(φ/2), whose map has poles of order 3 at t = ±i;
// near such a pole the bound's constant grows like n³, and the tables' e^-38 (table_routes.cpp) left
// 1.6e-14 (at l = 0.2 and on the limb; measured against mpmath). Two more in the exponent give
// 1.6e-15 there, for 4 % more time.
const GradedRule kLawRule(40.0, 0.25);

namespace {

using constants::kPi;
using constants::kTwoPi;
using Law = LimbDarkeningLaw;

// From this lens distance on the law's routes take the far-field series (all 12 terms below
// l = 3.8): at l = 3 its first omitted term is below 7e-16 relative for unit weights, and the law's
// weights are below 1 (models/witt_mao.hpp). Measured against mpmath from l = 3, rstar/re from 1e-5
// to 1e3: 1e-15. The disk closed form itself needs l = 16 for its own cancellation, which the series
// does not have.
constexpr double kLawFarField = 3.0;

// ∫ over the pieces [0, t_l], [t_l, 1] (one piece [0, 1] when the lens is outside or at the centre)
// of g(t), singular at t_l.
template <class G>
double over_half_angle(G&& g, double l, double eps, const GradedRule& rule) {
    const SingularPoints s = singular_in_t(l, eps);
    if (l > 0.0 && l <= 1.0) {
        const double t_l = std::sqrt((1.0 - l) / (1.0 + l));
        double total = 0.0;
        if (t_l > 0.0) total += graded_gauss(g, 0.0, t_l, s.span(), SingularEnd::end, rule);
        if (t_l < 1.0) total += graded_gauss(g, t_l, 1.0, s.span(), SingularEnd::start, rule);
        return total;
    }
    return graded_gauss(g, 0.0, 1.0, s.span(), SingularEnd::none, rule);
}

// The ring route at one position: [0.4·πW(l) + 0.6·∫₀¹ 2πr√(1 − r²) A(l, r) dr]/N. The √ part is
// π∫₀¹ √(1 − v) A(l, √v) dv outside the disk (g is then analytic on [0, 1] and the weight's branch
// point at the limb is the Gauss–Jacobi rule's own), and otherwise ∫₀¹ 2πr·sin²φ·A(l, r)·2/(1 + t²) dt
// in t = tan(φ/2), r = cos φ, where √(1 − r²) dr = −sin²φ dφ is smooth at the limb; so too just
// outside the limb, where no Gauss–Jacobi rule is large enough.
double ring_at(double l, double re, double rstar, double uniform, const GradedRule& rule) {
    const double eps = re / rstar;
    const RingMagnification ring{l, re, rstar};
    double root = NAN;
    if (l > 1.0) {
        const SingularPoints in_v = singular_in_v(l, eps);
        root = kPi * gauss_jacobi::kHalf.scale * gauss_jacobi_sum(RadiusIntegrand{ring, [](double v) {
            return AtRadius{std::sqrt(v), 1.0, 1.0};
        }}, gauss_jacobi::kHalf, in_v.span(), rule);
    }
    if (std::isnan(root)) {
        root = over_half_angle(RadiusIntegrand{ring, [](double t) {
            const HalfAngle h = half_angle(t);
            return AtRadius{h.r, kTwoPi * h.r, (h.sin * h.sin) * (2.0 * h.q)};
        }}, l, eps, rule);
    }
    return (Law::kUniformPart * kPi * uniform + Law::kRootPart * root) / Law::kNormaliser;
}

// The disk route at one position, integrated by parts:
//   ∫₀¹ I d[πr²W_r] = πI(1)W(l) − ∫₀¹ πr²W_r I′(r) dr = 0.4πW(l) + 0.6π ∫₀¹ r³ W_r/√(1 − r²) dr,
// W_r the uniform-disk magnification of the concentric disk of radius r. The √ part is
// (π/2)∫₀¹ v W_√v/√(1 − v) dv outside the disk, and otherwise π∫₀¹ r³ W_r·2/(1 + t²) dt in
// t = tan(φ/2), r = cos φ.
double disk_at(double l, double re, double rstar, double full_disk, const GradedRule& rule) {
    const double eps = re / rstar, rho = rstar / re;
    const ConcentricDiskMagnification disk{l, rho};
    double root = NAN;
    if (l > 1.0) {
        const SingularPoints in_v = singular_in_v(l, eps);
        root = 0.5 * kPi * gauss_jacobi::kMinusHalf.scale * gauss_jacobi_sum(RadiusIntegrand{disk, [](double v) {
            return AtRadius{std::sqrt(v), v, 1.0};
        }}, gauss_jacobi::kMinusHalf, in_v.span(), rule);
    }
    if (std::isnan(root)) {
        root = over_half_angle(RadiusIntegrand{disk, [](double t) {
            const HalfAngle h = half_angle(t);
            return AtRadius{h.r, kPi * h.r * h.r, h.r * (2.0 * h.q)};
        }}, l, eps, rule);
    }
    return (Law::kUniformPart * kPi * full_disk + Law::kRootPart * root) / Law::kNormaliser;
}

// Over all positions: at(l, index) below kLawFarField, the far field from there.
template <class At>
CalcResult<std::vector<double>> over_positions(const std::vector<double>& l, double rho, At&& at) {
    std::vector<double> out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, taken together below
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double li = l[i];
        const bool far = li >= kLawFarField;
        if (interrupt::poll(far ? 1 : 100)) return interrupt::stopped();
        if (far) far_at.push_back(i);
        out.push_back(far ? NAN : at(li, i));
    }
    Law::kFarField.values_at(l, rho, far_at, out);
    return out;
}

}  // namespace

CalcResult<std::vector<double>> law_ring_route(const std::vector<double>& l, double re, double rstar,
                                               const GradedRule& rule, Floor floor) {
    const double rho = rstar / re;
    // The uniform part without the disk function's checks: the ring route raises no kernel error.
    return floored(over_positions(l, rho, [&](double li, std::size_t) {
        return ring_at(li, re, rstar, UniformDisk::value(li, rho), rule);
    }), l, rho, true, floor);
}

CalcResult<std::vector<double>> law_disk_route(const std::vector<double>& l, double re, double rstar,
                                               const GradedRule& rule, Floor floor) {
    const double rho = rstar / re;
    const CalcResult<std::vector<double>> full_disk = full_disk_below(l, re, rstar, kLawFarField);
    if (!full_disk) return full_disk;
    return floored(over_positions(l, rho, [&](double li, std::size_t i) {
        return disk_at(li, re, rstar, (*full_disk)[i], rule);
    }), l, rho, true, floor);
}

}  // namespace velmora::integrated
