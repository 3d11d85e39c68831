#include "models/small_source.hpp"

#include <algorithm>
#include <cmath>

#include "numerics/constants.hpp"
#include "numerics/ellip/legendre.hpp"

namespace velmora {
namespace {

using small_source_series::kA;
using small_source_series::kCoefficients;
using small_source_series::kE;
using small_source_series::kMostLength;
using small_source_series::kMostOutsidePower;
using small_source_series::kMostPower;
using small_source_series::kTerms;
using Table = small_source_series::Polynomials[kTerms];

constexpr std::size_t kPowers = static_cast<std::size_t>(kMostPower) + 1;
constexpr std::size_t kBoundTerms = sizeof(kA) / sizeof(kA[0]);
static_assert(sizeof(kE) == sizeof(kA));

// The bound on the terms from j = first on at x = ρ(1 + l): Σ_j |a_j| x^(2j)·B over the tabulated
// a_j (each further term is less than x²/4 of the one before, far below the last one here).
// `coefficients` is a_j for the magnification and e_j for the centroid (kA, kE: as many of each).
double omitted(std::size_t first, double x, double scale, const double* coefficients = kA) {
    const double x2 = x * x;
    double power = 1.0;  // x^(2j)
    for (std::size_t j = 0; j < first; ++j) power *= x2;
    double sum = 0.0;
    for (std::size_t j = first; j < kBoundTerms; ++j, power *= x2) sum += std::abs(coefficients[j]) * power;
    return sum * scale;
}

// The fewest terms whose omitted ones are within the tolerance at x, or kTerms + 1 if none is.
std::size_t terms_for(double x, double scale, const double* coefficients = kA) {
    for (std::size_t terms = 1; terms <= kTerms; ++terms) {
        if (omitted(terms, x, scale, coefficients) <= SmallSourceSeries::kTolerance) return terms;
    }
    return kTerms + 1;
}

// acc[i] += factor·c[i] over one tabulated polynomial, and the longest length so far.
void add_scaled(std::array<double, kMostLength>& acc, std::size_t& length, double factor, std::size_t at,
                std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) acc[i] += factor * kCoefficients[at + i];
    length = std::max(length, count);
}

double horner(const std::array<double, kMostLength>& c, std::size_t length, double m) {
    double acc = 0.0;
    for (std::size_t i = length; i-- > 0;) acc = acc * m + c[i];
    return acc;
}

// A polynomial and its derivative at m.
struct WithSlope {
    double value, slope;
};
WithSlope horner_with_slope(const std::array<double, kMostLength>& c, std::size_t length, double m) {
    double acc = 0.0, slope = 0.0;
    for (std::size_t i = length; i-- > 0;) {
        slope = slope * m + acc;
        acc = acc * m + c[i];
    }
    return {acc, slope};
}

// (K − E)/m: its Taylor series for small m, where K and E agree to within m·π/4; the difference
// itself beyond.
double k_minus_e_over_m(double m, double k, double e) {
    if (m > small_source_series::kKMinusEBelow) return (k - e) / m;
    double acc = 0.0;
    for (std::size_t n = sizeof(small_source_series::kKMinusE) / sizeof(double); n-- > 0;) {
        acc = acc * m + small_source_series::kKMinusE[n];
    }
    return acc;
}

}  // namespace

std::optional<SmallSourceSeries> SmallSourceSeries::make(const PowerLaw& law, double rho, double far_from) {
    std::array<double, kPowers> w{};
    if (!law.weights_by_power(w) || !(rho > 0.0)) return std::nullopt;
    const double norm = law.normaliser();
    double scale = 0.0;  // B, the bound's factor
    for (std::size_t p = 0; p < kPowers; ++p) {
        scale += std::abs(w[p]) * (constants::kTwoPi / (static_cast<double>(p) + 2.0));
    }
    scale /= norm;
    // The reach of the tabulated terms: the largest x = ρ(1 + l) whose omitted terms are within the
    // tolerance (bisection; the bound grows with x).
    double lo = 0.0, hi = 2.0;
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (lo + hi);
        (omitted(kTerms, mid, scale) <= kTolerance ? lo : hi) = mid;
    }
    if (!(2.0 * rho <= lo)) return std::nullopt;

    // Σ_p w_p·(the j-th weight)/N times each tabulated polynomial, over the first `terms` terms from
    // the smallest up; odd powers into the odd polynomials, even ones into the even. The weights of
    // the table's W_j: a_j ρ^(2j−1) for the magnification, (2j − 1)a_j ρ^(2j−2) for its ∂/∂ρ at
    // fixed l, and e_(j−1) ρ^(2j−2)/(2j − 1) (j ≥ 1) for the centroid's D (small_source.hpp).
    enum class Weights { value, rho_slope, centroid };
    const auto combine = [&](Region& region, std::size_t terms, const Table* table, std::size_t powers, Weights kind,
                             const Table* odd_slopes = nullptr) {
        region.terms = terms;
        for (std::size_t j = terms; j-- > 0;) {
            const double power = 2.0 * static_cast<double>(j) - 1.0;
            double weight = 0.0;
            switch (kind) {
            case Weights::value:
                weight = kA[j] * std::pow(rho, power);
                break;
            case Weights::rho_slope:
                weight = power * kA[j] * std::pow(rho, power - 1.0);
                break;
            case Weights::centroid:
                weight = j == 0 ? 0.0 : kE[j - 1] * std::pow(rho, power - 1.0) / power;
                break;
            }
            if (weight == 0.0) continue;
            for (std::size_t p = 0; p < powers; ++p) {
                if (w[p] == 0.0) continue;
                const double factor = w[p] * weight / norm;
                const small_source_series::Polynomials& poly = table[p][j];
                if (p % 2 == 1) {
                    add_scaled(region.odd_first, region.odd_first_length, factor, poly.first_at, poly.first_length);
                    add_scaled(region.odd_second, region.odd_second_length, factor, poly.second_at, poly.second_length);
                    if (odd_slopes != nullptr) {
                        const small_source_series::Polynomials& r = odd_slopes[p][j];
                        add_scaled(region.odd_slope, region.odd_slope_length, factor, r.first_at, r.first_length);
                    }
                } else {
                    add_scaled(region.even_first, region.even_first_length, factor, poly.first_at, poly.first_length);
                    add_scaled(region.even_second, region.even_second_length, factor, poly.second_at,
                               poly.second_length);
                }
            }
        }
    };
    SmallSourceSeries series;
    series.rho_ = rho;
    const std::size_t inside_terms = terms_for(2.0 * rho, scale);
    combine(series.inside_, inside_terms, small_source_series::kPolynomials, kPowers, Weights::value);
    combine(series.inside_rho_, inside_terms, small_source_series::kPolynomials, kPowers, Weights::rho_slope);
    // The centroid's D: W'_k for k = 1..K, e_(k−1) the coefficients, its omitted terms bounded by
    // (1 + l)·Σ_(i ≥ K) |e_i| x^(2i)·B at x = ρ(1 + l) in units of ρ (small_source.hpp).
    const std::size_t shift_terms = terms_for(2.0 * rho, 2.0 * scale, kE);
    if (shift_terms < kTerms) {
        combine(series.inside_shift_, shift_terms + 1, small_source_series::kPolynomials, kPowers, Weights::centroid);
        series.shift_reach_ = 1.0;
    }
    // Outside, for laws of powers up to kMostOutsidePower, as far as the terms reach.
    const bool low_powers = std::all_of(w.begin() + kMostOutsidePower + 1, w.end(), [](double v) { return v == 0.0; });
    const double reach = std::min({kFarthest, far_from, lo / rho - 1.0});
    if (low_powers && reach > 1.0) {
        const std::size_t outside_terms = terms_for(rho * (1.0 + reach), scale);
        const std::size_t powers = static_cast<std::size_t>(kMostOutsidePower) + 1;
        const Table* slopes = small_source_series::kOutsideSlope;
        combine(series.outside_, outside_terms, small_source_series::kOutside, powers, Weights::value, slopes);
        combine(series.outside_rho_, outside_terms, small_source_series::kOutside, powers, Weights::rho_slope);
        series.reach_ = reach;
        const std::size_t outside_shift_terms = terms_for(rho * (1.0 + reach), (1.0 + reach) * scale, kE);
        if (series.shift_reach_ == 1.0 && outside_shift_terms < kTerms) {
            combine(series.outside_shift_, outside_shift_terms + 1, small_source_series::kOutside, powers,
                    Weights::centroid, slopes);
            series.shift_reach_ = reach;
        }
    }
    return series;
}

// The functions of l the forms combine, computed once per position for the value and its slopes.
struct SmallSourceSeries::Functions {
    double m, x;      // l², and 1 − m inside the source or 1 − z = 1 − 1/m outside it
    double k, e;      // K and E at m inside, at z outside (NaN when no even power needs them)
    double xk;        // (1 − m)K inside, m(1 − z)K(z) outside: 0 on the limb
    double s, root;   // outside, for odd powers: l·arcsin(1/l) and √(1 − z)
};

SmallSourceSeries::Functions SmallSourceSeries::functions(double l) const {
    Functions f{};
    f.m = l * l;
    const bool inside = l <= 1.0;
    const Region& region = inside ? inside_ : outside_;
    // 1 − m from the factors: near the limb m rounds, and (1 − m)K is what multiplies T; outside,
    // 1 − z = (l − 1)(l + 1)/m likewise.
    f.x = inside ? (1.0 - l) * (1.0 + l) : ((l - 1.0) * (l + 1.0)) / f.m;
    f.k = f.e = f.xk = f.s = f.root = NAN;
    if (region.even_first_length > 0) {
        const CalcResult<CompleteKE> ke = ellipke_complement(f.x);
        f.k = ke->k, f.e = ke->e;
        f.xk = f.x > 0.0 ? (inside ? f.x * f.k : f.m * (f.x * f.k)) : 0.0;
    }
    if (!inside && region.odd_first_length > 0) {
        // arcsin(1/l) as atan2(1, √(l² − 1)): arcsin itself would magnify the rounding of 1/l next to
        // the limb, where its slope is infinite.
        const double root = std::sqrt((l - 1.0) * (l + 1.0));
        f.s = l * std::atan2(1.0, root);
        f.root = root / l;
    }
    return f;
}

double SmallSourceSeries::sum(const Region& region, const Functions& f, double l) const {
    double total = 0.0;
    if (l <= 1.0) {
        total = horner(region.odd_first, region.odd_first_length, f.m);
        if (region.even_first_length > 0) {
            total += f.e * horner(region.even_first, region.even_first_length, f.m) +
                     f.xk * horner(region.even_second, region.even_second_length, f.m);
        }
        return total;
    }
    if (region.even_first_length > 0) {
        total += f.e * horner(region.even_first, region.even_first_length, f.m) +
                 f.xk * horner(region.even_second, region.even_second_length, f.m);
    }
    if (region.odd_first_length > 0) {
        total += f.s * horner(region.odd_first, region.odd_first_length, f.m) +
                 f.root * horner(region.odd_second, region.odd_second_length, f.m);
    }
    return total / l;
}

double SmallSourceSeries::value(double l) const { return sum(l <= 1.0 ? inside_ : outside_, functions(l), l); }

double SmallSourceSeries::slope(const Region& region, const Functions& f, double l) const {
    const double m = f.m, x = f.x;
    if (l <= 1.0) {
        const Region& in = region;
        const WithSlope r = horner_with_slope(in.odd_first, in.odd_first_length, m);
        double d_l = 2.0 * l * r.slope;
        if (in.even_first_length > 0) {
            const WithSlope p = horner_with_slope(in.even_first, in.even_first_length, m);
            const WithSlope t = horner_with_slope(in.even_second, in.even_second_length, m);
            const double u = 2.0 * m * p.slope + p.value + t.value;
            if (x > 0.0) {
                const double y = 2.0 * p.slope + 2.0 * x * t.slope - t.value;
                d_l += l * (y * f.k - u * k_minus_e_over_m(m, f.k, f.e));
            } else {
                // On the limb, dW/dl = (E·U + K·V)/l with V = mY − U: finite only where V(1) = 0 (the
                // centroid's W'_k, k ≥ 1, whose kernels have bounded gradients), and then E(1)·U(1).
                d_l += u;
            }
        }
        return d_l;
    }
    // Outside: W = F/l, dW/dl = 2 dF/dm − F/l².
    const Region& out = region;
    const double z = 1.0 / m;
    double big_f = 0.0, df = 0.0;
    if (out.even_first_length > 0) {
        const WithSlope p = horner_with_slope(out.even_first, out.even_first_length, m);
        const WithSlope t = horner_with_slope(out.even_second, out.even_second_length, m);
        big_f += p.value * f.e + t.value * f.xk;
        // d(P̃E)/dm = P̃'E − P̃z(E − K)/2;  d(T̃·m(1 − z)K)/dm = T̃'·m(1 − z)K + T̃K − T̃(E − (1 − z)K)/2.
        df += p.slope * f.e - p.value * z * (f.e - f.k) / 2.0 + t.slope * f.xk + t.value * f.k -
              t.value * (f.e - x * f.k) / 2.0;
    }
    if (out.odd_first_length > 0) {
        const WithSlope p = horner_with_slope(out.odd_first, out.odd_first_length, m);
        const WithSlope q = horner_with_slope(out.odd_second, out.odd_second_length, m);
        big_f += p.value * f.s + q.value * f.root;
        // dS/dm = (z/2)(S − 1/√(1 − z)) and d√(1 − z)/dm = z²/(2√(1 − z)): the terms in 1/√(1 − z),
        // (z²/(2√(1 − z)))(Q̃ − mP̃), are (z/2)√(1 − z)·R̃ with R̃ the table's exact quotient.
        const double r = horner(out.odd_slope, out.odd_slope_length, m);
        df += p.slope * f.s + p.value * (z / 2.0) * f.s + q.slope * f.root + (z / 2.0) * f.root * r;
    }
    return 2.0 * df - big_f / m;
}

bool SmallSourceSeries::gradient(double l, double& value, double& d_l, double& d_rho) const {
    if (!serves_gradient(l)) return false;
    const Functions f = functions(l);
    const bool inside = l <= 1.0;
    value = sum(inside ? inside_ : outside_, f, l);
    d_l = slope(inside ? inside_ : outside_, f, l);
    d_rho = sum(inside ? inside_rho_ : outside_rho_, f, l);
    return true;
}

bool SmallSourceSeries::shift(double l, double& value) const {
    if (!serves_shift(l)) return false;
    const Functions f = functions(l);
    const bool inside = l <= 1.0;
    const double magnification = sum(inside ? inside_ : outside_, f, l);
    const double u = l * rho_;
    const double shifted = slope(inside ? inside_shift_ : outside_shift_, f, l) / magnification;
    // shift = D/A − u keeps the rounding of D/A, a few ulps of u, and next to the limb more: there D's
    // terms in K(m), ~log(1/|l − 1|), cancel (its W'_k are finite on the limb while K is not), up to
    // 30 ulps of u within 1e-12 of it. Where the shift is also small beside u (a uniform disk's changes
    // sign on the limb) that would miss 1e-12·|shift| + 1e-16·(u + ρ): within kLimbBand of the limb,
    // a shift below kLeastShift of u is left to the radius integral, whose rings' numerators hold no
    // such term (measured against it: up to 31 times that bound for the uniform law from
    // |l − 1| = 1e-3 in, within it for every law with a darkened limb).
    if (std::abs(l - 1.0) <= kLimbBand && !(std::abs(shifted - u) >= kLeastShift * u)) return false;
    value = shifted - u;
    return true;
}

}  // namespace velmora
