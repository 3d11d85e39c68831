// A limb-darkening law given as a sum of powers of μ = √(1 − r²) (r in source radii):
//
//   I(r) = Σ_j w_j · μ^p_j  inside the source, 0 outside,
//
// with p_j ≥ 0 finite and w_j finite, any real values. The common laws are such sums: linear
// c → (0, 1), (1 − c, c); quadratic (a, b) → (0, 1, 2), (1 − a − b, a + 2b, −b); square-root (c, d)
// → (0, 1, 1/2), (1 − c − d, c, d); power-2 (c, α) → (0, α), (1 − c, c); four-coefficient aₖ →
// (0, 1/2, 1, 3/2, 2), (1 − Σa, a₁, a₂, a₃, a₄).
//
// What the law's radius integral (models/integrated/power_law_routes.cpp) needs of it: the uniform
// part (the p = 0 terms, whose ring integral is the uniform-disk value), the brightness of the
// other terms at a given μ, whether every power is an integer (then the integrand is smooth at the
// limb in t = tan(φ/2)), the exact normaliser and the far-field series' weights, from the moments
//
//   μ_k = ∫₀¹ 2πr^(2k+1) I(r) dr = π Σ_j w_j B(k + 1, p_j/2 + 1),   N = μ_0 = Σ_j w_j · 2π/(p_j + 2).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "models/witt_mao.hpp"
#include "numerics/calc_result.hpp"
#include "numerics/constants.hpp"
#include "numerics/messages.hpp"

namespace velmora {

class PowerLaw {
public:
    // The law of the given powers and weights, or the message of the first condition they break:
    // unequal lengths, no term, a power negative, NaN or infinite, a weight not finite, or a
    // normaliser N that is not positive (or not finite). Nothing else is checked or computed.
    static CalcResult<PowerLaw> make(std::span<const double> powers, std::span<const double> weights) {
        if (powers.size() != weights.size()) return Failure{messages::kLawLengths};
        if (powers.empty()) return Failure{messages::kLawEmpty};
        for (const double p : powers) {
            if (!(p >= 0.0 && std::isfinite(p))) return Failure{messages::kLawPower};
        }
        for (const double w : weights) {
            if (!std::isfinite(w)) return Failure{messages::kLawWeight};
        }
        PowerLaw law;
        double norm = 0.0;
        for (std::size_t j = 0; j < powers.size(); ++j) {
            const double p = powers[j], w = weights[j];
            norm += w * (constants::kTwoPi / (p + 2.0));
            if (p == 0.0) {
                law.uniform_ += w;
            } else if (w != 0.0) {
                law.terms_.push_back(Term::of(p, w));
                law.all_integer_ = law.all_integer_ && law.terms_.back().kind == Kind::integer;
            }
        }
        if (!(norm > 0.0 && std::isfinite(norm))) return Failure{messages::kLawNormaliser};
        law.norm_ = norm;
        law.set_far_field(powers, weights);
        law.set_nonnegative(powers, weights);
        return law;
    }

    // The weight of the uniform part (the sum of the p = 0 weights), and N.
    double uniform() const { return uniform_; }
    double normaliser() const { return norm_; }
    // Every power with a non-zero weight is an integer.
    bool all_integer() const { return all_integer_; }
    // Every power with a non-zero weight is an integer or half an odd integer (square-root and
    // four-coefficient laws): then t^(p+1) = (t_l σ²)^(p+1) is σ^(2p+2) times a constant, a
    // polynomial in σ.
    bool all_half_integer() const {
        return std::all_of(terms_.begin(), terms_.end(), [](const Term& t) { return t.kind != Kind::general; });
    }
    // Every power with a non-zero weight but 0 is an odd integer: then Σ_j w_j μ^p_j is
    // √(1 − v)·Σ_j w_j (1 − v)^((p_j − 1)/2), v = r², the weight √(1 − v) times a polynomial in v.
    bool all_odd() const {
        return std::all_of(terms_.begin(), terms_.end(),
                           [](const Term& t) { return t.kind == Kind::integer && t.whole % 2 == 1; });
    }
    // Σ_j w_j c^((p_j − 1)/2) over the terms, c = 1 − v, for a law whose powers are odd integers.
    double odd_polynomial(double c) const {
        double sum = 0.0;
        for (const Term& term : terms_) sum += term.weight * integer_power(c, (term.whole - 1) / 2);
        return sum;
    }
    // No term but the uniform part.
    bool uniform_only() const { return terms_.empty(); }
    // The law's weights by power, by_power[p] = Σ w_j over the terms with p_j = p (the uniform part at
    // 0), when every power with a non-zero weight is an integer below by_power.size(); false (and
    // by_power partly filled, to be ignored) otherwise.
    bool weights_by_power(std::span<double> by_power) const {
        std::fill(by_power.begin(), by_power.end(), 0.0);
        if (by_power.empty()) return false;
        by_power[0] = uniform_;
        for (const Term& term : terms_) {
            if (term.kind != Kind::integer || static_cast<std::size_t>(term.whole) >= by_power.size()) return false;
            by_power[static_cast<std::size_t>(term.whole)] += term.weight;
        }
        return true;
    }
    // Σ_j w_j μ^p_j over the terms with p_j > 0 at radius r, μ = √(1 − r²) given (accurate near the
    // limb, where 1 − r² cancels). A general power is exp(p·log μ), with log μ = log1p(−r²)/2 toward
    // the centre: μ^p multiplies the relative error of μ by p, and μ ≈ 1 − r²/2 there cannot carry
    // r² to full precision, while log1p(−r²) can (a power of 1e6 would lose 1e-10 through μ).
    double varying(double mu, double r) const {
        double sum = 0.0;
        double root = NAN;    // √μ, when a half-integer power needs it
        double log_mu = NAN;  // log μ, when a general power needs it
        for (const Term& term : terms_) {
            double v;
            switch (term.kind) {
            case Kind::integer:
                v = integer_power(mu, term.whole);
                break;
            case Kind::half:
                if (std::isnan(root)) root = std::sqrt(mu);
                v = integer_power(mu, term.whole) * root;
                break;
            default:
                if (std::isnan(log_mu)) log_mu = mu * mu < 0.5 ? std::log(mu) : 0.5 * std::log1p(-(r * r));
                v = std::exp(term.power * log_mu);
                break;
            }
            sum += term.weight * v;
        }
        return sum;
    }
    // −μ·dI/dr / r = Σ_j w_j p_j μ^(p_j − 1) over the terms with p_j > 0 (the derivative of the
    // profile in the form the gradient's integral by parts takes it, power_law_gradient.cpp), μ
    // and r as for varying(). Infinite at μ = 0 for a power below 1.
    double slope(double mu, double r) const {
        double sum = 0.0;
        double root = NAN, log_mu = NAN;
        for (const Term& term : terms_) {
            double v;
            switch (term.kind) {
            case Kind::integer:
                v = integer_power(mu, term.whole - 1);
                break;
            case Kind::half:  // μ^(whole − 1/2)
                if (std::isnan(root)) root = std::sqrt(mu);
                v = term.whole == 0 ? 1.0 / root : integer_power(mu, term.whole - 1) * root;
                break;
            default:
                if (std::isnan(log_mu)) log_mu = mu * mu < 0.5 ? std::log(mu) : 0.5 * std::log1p(-(r * r));
                v = std::exp((term.power - 1.0) * log_mu);
                break;
            }
            sum += (term.weight * term.power) * v;
        }
        return sum;
    }
    // The profile's integral out to l ≤ 1, ∫₀^l 2πr I(r) dr (N at l = 1): each power's
    // 2π/(p + 2)·(1 − (1 − l²)^((p+2)/2)), formed by expm1 and log1p (no cancellation for small l).
    double enclosed(double l) const {
        const double l2 = l * l;
        double sum = uniform_ * (constants::kPi * l2);
        for (const Term& term : terms_) {
            const double half = 0.5 * (term.power + 2.0);
            sum += term.weight * (constants::kTwoPi / (term.power + 2.0)) * -std::expm1(half * std::log1p(-l2));
        }
        return sum;
    }

    // The smallest power with a non-zero weight but 0 (0 for a uniform law).
    double min_power() const {
        double least = 0.0;
        for (const Term& term : terms_) least = least == 0.0 ? term.power : std::min(least, term.power);
        return least;
    }
    // The largest power with a non-zero weight (0 for a uniform law).
    double max_power() const {
        double most = 0.0;
        for (const Term& term : terms_) most = std::max(most, term.power);
        return most;
    }
    // The number of terms with p > 0 (the work per node, for the interrupt polls).
    std::size_t terms() const { return terms_.size(); }

    // The far field: weights (k + 1)μ_k/μ_0 and μ_0/N = 1, and the lens distance from which the
    // series is used: where its first omitted term, below 7e-16·|weight₁₃|·(3/l)^26 relative
    // (models/witt_mao.hpp), is below 7e-16 (l = 3 for every law whose |weight₁₃| ≤ 1, as for every
    // law with no negative weight).
    const ProfileFarField& far_field() const { return far_; }
    double far_from() const { return far_from_; }

    // The partial sums of the weights in ascending order of power are all ≥ 0: then I ≥ 0 on the
    // whole disk (by Abel summation, I = Σ_j S_j (μ^p_j − μ^p_(j+1)) + S_n μ^p_n with every
    // difference ≥ 0 for 0 ≤ μ ≤ 1), and the magnification is at least 1.
    bool nonnegative() const { return nonnegative_; }

private:
    enum class Kind { integer, half, general };
    struct Term {
        double power, weight;
        Kind kind;
        int whole;  // the integer part, for the integer and half-integer kinds
        static Term of(double p, double w) {
            // Powers up to 64 by multiplication (exact to a few ulps, cheaper than exp and log); others
            // through log μ.
            if (p <= 64.0 && p == std::floor(p)) return {p, w, Kind::integer, static_cast<int>(p)};
            if (p <= 64.0 && 2.0 * p == std::floor(2.0 * p)) return {p, w, Kind::half, static_cast<int>(std::floor(p))};
            return {p, w, Kind::general, 0};
        }
    };

    static double integer_power(double x, int k) {
        double result = 1.0, base = x;
        while (k > 0) {
            if (k & 1) result *= base;
            base *= base;
            k >>= 1;
        }
        return result;
    }

    // B(k + 1, a) for k = 0..K, a = p/2 + 1: B(1, a) = 1/a and B(k + 1, a) = B(k, a)·k/(a + k).
    static constexpr std::size_t kTerms = UniformDisk::kFarFieldTerms;
    template <class Each>
    static void betas(double p, Each&& each) {
        const double a = 0.5 * p + 1.0;
        double beta = 1.0 / a;
        each(0, beta);
        for (std::size_t k = 1; k <= kTerms + 1; ++k) {
            beta *= static_cast<double>(k) / (a + static_cast<double>(k));
            each(k, beta);
        }
    }

    void set_far_field(std::span<const double> powers, std::span<const double> weights) {
        std::array<double, kTerms + 2> moments{}, bound{};
        for (std::size_t j = 0; j < powers.size(); ++j) {
            betas(powers[j], [&](std::size_t k, double beta) {
                moments[k] += weights[j] * beta;
                bound[k] += std::abs(weights[j]) * beta;
            });
        }
        // μ_k/μ_0 with both without their factor π: μ_0 here is N/π, summed as N is.
        const double mu0 = moments[0];
        for (std::size_t k = 1; k <= kTerms; ++k) far_.weights[k - 1] = static_cast<double>(k + 1) * moments[k] / mu0;
        far_.mu0_over_norm = 1.0;
        const double omitted = static_cast<double>(kTerms + 2) * bound[kTerms + 1] / mu0;
        far_from_ = omitted <= 1.0 ? 3.0 : 3.0 * std::pow(omitted, 1.0 / 26.0);
    }

    void set_nonnegative(std::span<const double> powers, std::span<const double> weights) {
        std::vector<std::size_t> order(powers.size());
        for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return powers[a] < powers[b]; });
        double partial = 0.0;
        nonnegative_ = true;
        for (std::size_t j = 0; j < order.size(); ++j) {
            partial += weights[order[j]];
            // Terms of equal power count together.
            const bool last_of_power = j + 1 == order.size() || powers[order[j + 1]] != powers[order[j]];
            if (last_of_power && partial < 0.0) nonnegative_ = false;
        }
    }

    double uniform_ = 0.0, norm_ = 0.0, far_from_ = 3.0;
    bool all_integer_ = true, nonnegative_ = true;
    std::vector<Term> terms_;
    ProfileFarField far_{};
};

}  // namespace velmora
