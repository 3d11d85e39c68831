// Uniform-disk magnification (Witt & Mao 1994): a source disk of uniform brightness lensed by a
// point mass, in closed form with complete elliptic integrals.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "models/far_field_series.hpp"
#include "models/gradient.hpp"
#include "numerics/calc_result.hpp"

namespace velmora {

// The per-call constants of one disk: ρ = rstar/re, the source radius in Einstein radii.
class UniformDisk {
public:
    UniformDisk(double re, double rstar);

    // Magnification with the lens at distance l from the disk centre (l in disk radii): value(l, ρ),
    // or the kernel error of a lens on the limb of a disk of negative radius.
    CalcResult<double> checked_value(double l) const;

    // The same for a disk of radius ρ > 0 given here (a lens on the limb gives the limb value).
    static double value(double l, double rho);

    // value(l/r, r·ρ) at every radius r of the concentric disks of a disk of radius ρ (the lens at l
    // of its radii), bit for bit; the closed-form points are taken several at a time.
    static void concentric(double l, double rho, std::span<const double> r, std::span<double> out);

    // From this lens distance on (in source radii) a far-field series replaces the closed form.
    static constexpr double kFarField = 16.0;

    // The far-field series with its terms weighted: A(u)·(1 + s²/(2(2 − s))·Σ_k weights[k−1]·Q_k(s)·l^-2k),
    // k = 1..kFarFieldTerms, of which it takes as many as l needs. Unit weights give W; the weights
    // (k + 1)·μ_k/μ_0, with μ_k = ∫₀¹ 2πr^(2k+1) P(r) dr the moments of a radial brightness
    // profile P, give the magnification of that profile divided by μ_0. Its first omitted term is
    // below 7e-16 relative at l = 3 times the largest weight (for P ≥ 0 the k-th weight is at most
    // k + 1 = 13; the law's are below 1), and falls like l^-26: below 1e-16 at l = 4 for any P ≥ 0.
    static constexpr std::size_t kFarFieldTerms = far_field_series::kFarFieldTerms;
    static double far_field(double l, double rho, std::span<const double, kFarFieldTerms> weights);
    // far_field at every element of l (each from kFarField's 3 on), bit for bit, several at a time.
    static void far_fields(std::span<const double> l, double rho, std::span<const double, kFarFieldTerms> weights,
                           std::span<double> out);

    // value(l, ρ) bit for bit, with ∂W/∂u at fixed ρ and ∂W/∂ρ at fixed u (u = lρ). On the limb
    // (l = 1) the derivatives are −∞ and +∞: both diverge like log|l − 1| there.
    static Gradient gradient(double l, double rho);

    // The derivatives of the weighted far-field series above (its value is far_field()): the
    // series differentiated term by term, for l ≥ kGradientFarField.
    static Gradient far_field_gradient(double l, double rho, std::span<const double, kFarFieldTerms> weights);
    // Its derivatives (d_u, d_rho) at several positions, bit for bit, several at a time.
    static void far_field_gradients(std::span<const double> l, double rho,
                                    std::span<const double, kFarFieldTerms> weights, std::span<double> d_u,
                                    std::span<double> d_rho);
    // The same for the positions l[at[j]], written times `scale` into out.d_u[at[j]], out.d_rho[at[j]]
    // (the routes gather their far positions and take them together).
    static void far_field_gradients_at(std::span<const double> l, double rho,
                                       std::span<const double, kFarFieldTerms> weights, double scale,
                                       std::span<const std::size_t> at, GradientLists& out);

    // From this lens distance on the derivatives come from the far-field series (the closed form's
    // ∂W/∂ρ, a difference of two magnifications, keeps ~1e-16·l/ρ² absolute there).
    static constexpr double kGradientFarField = 4.0;

    CalcResult<Gradient> checked_gradient(double l) const;

    // ∂W/∂u and ∂W/∂ρ (value NaN: not computed) of the concentric disk of radius r·ρ with the lens
    // at l, given l − r accurately (the radius integrals form it from μ).
    static Gradient concentric_derivatives(double l, double r, double l_minus_r, double rho);
    // The same for several radii r[k] (l_minus_r[k] = l − r[k]), bit for bit: the closed-form
    // radii are taken several at a time.
    static void concentric_derivatives(double l, double rho, std::span<const double> r,
                                       std::span<const double> l_minus_r, std::span<double> d_u,
                                       std::span<double> d_rho);

private:
    // The lens on the limb, a magnification of 1 to double precision, the far-field series, or
    // the closed form: value() and concentric() both branch on this one classification.
    enum class Form { limb, unit, far, closed };
    static Form form(double l, double rho);
    static double closed_form(double l, double rho);
    static double floored(double a, double l, double rho);  // at_least_one for this disk
    static double limb(double rho);
    // ∂W/∂u and ∂W/∂ρ by the closed forms, for l ≠ 1 below kGradientFarField.
    struct ClosedGradient {
        double d_u;
        double d_rho;
    };
    static ClosedGradient closed_gradient(double l, double lm1, double lp1, double rho);
    // closed_form() (bit for bit) with both derivatives, in one loop.
    struct ClosedAll {
        double value;
        double d_u;
        double d_rho;
    };
    static ClosedAll closed_all(double l, double rho);

    double rho_;
};

// The far field of a radial brightness profile P: its weights (k + 1)·μ_k/μ_0 for the series above
// and μ_0/N, N the profile's normaliser; the magnification is μ_0/N times the weighted series.
struct ProfileFarField {
    std::array<double, UniformDisk::kFarFieldTerms> weights;
    double mu0_over_norm;

    double value(double l, double rho) const { return mu0_over_norm * UniformDisk::far_field(l, rho, weights); }

    // value() at l[i] for every index i in `at`, written to out[i]: the positions a route left to
    // the far field, taken together after its loop.
    void values_at(const std::vector<double>& l, double rho, std::span<const std::size_t> at,
                   std::vector<double>& out) const {
        std::vector<double> ls(at.size()), values(at.size());
        for (std::size_t k = 0; k < at.size(); ++k) ls[k] = l[at[k]];
        UniformDisk::far_fields(ls, rho, weights, values);
        for (std::size_t k = 0; k < at.size(); ++k) out[at[k]] = mu0_over_norm * values[k];
    }
};

// One magnification per element of l, in order; the first kernel error ends the call.
CalcResult<std::vector<double>> witt_mao_magnification(std::vector<double> l, double re, double rstar);

// The same magnifications (bit for bit) with ∂A/∂u at fixed ρ and ∂A/∂ρ at fixed u per lens
// position; the same errors.
CalcResult<GradientLists> witt_mao_magnification_gradient(std::vector<double> l, double re, double rstar);

}  // namespace velmora
