#include "models/small_source.hpp"

#include <algorithm>
#include <cmath>

#include "numerics/constants.hpp"
#include "numerics/ellip/legendre.hpp"

namespace velmora {
namespace {

using small_source_series::kA;
using small_source_series::kCoefficients;
using small_source_series::kMostLength;
using small_source_series::kMostOutsidePower;
using small_source_series::kMostPower;
using small_source_series::kTerms;
using Table = small_source_series::Polynomials[kTerms];

constexpr std::size_t kPowers = static_cast<std::size_t>(kMostPower) + 1;
constexpr std::size_t kBoundTerms = sizeof(kA) / sizeof(kA[0]);

// The bound on the terms from j = first on at x = ρ(1 + l): Σ_j |a_j| x^(2j)·B over the tabulated
// a_j (each further term is less than x²/4 of the one before, far below the last one here).
double omitted(std::size_t first, double x, double scale) {
    const double x2 = x * x;
    double power = 1.0;  // x^(2j)
    for (std::size_t j = 0; j < first; ++j) power *= x2;
    double sum = 0.0;
    for (std::size_t j = first; j < kBoundTerms; ++j, power *= x2) sum += std::abs(kA[j]) * power;
    return sum * scale;
}

// The fewest terms whose omitted ones are within the tolerance at x, or kTerms + 1 if none is.
std::size_t terms_for(double x, double scale) {
    for (std::size_t terms = 1; terms <= kTerms; ++terms) {
        if (omitted(terms, x, scale) <= SmallSourceSeries::kTolerance) return terms;
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

    // Σ_p w_p a_j ρ^(2j−1)/N times each tabulated polynomial, over the first `terms` terms from the
    // smallest up; odd powers into the odd pair, even ones into the even pair.
    const auto combine = [&](Region& region, std::size_t terms, const Table* table, std::size_t powers) {
        region.terms = terms;
        for (std::size_t j = terms; j-- > 0;) {
            const double rho_power = std::pow(rho, 2.0 * static_cast<double>(j) - 1.0);
            for (std::size_t p = 0; p < powers; ++p) {
                if (w[p] == 0.0) continue;
                const double factor = w[p] * kA[j] * rho_power / norm;
                const small_source_series::Polynomials& poly = table[p][j];
                if (p % 2 == 1) {
                    add_scaled(region.odd_first, region.odd_first_length, factor, poly.first_at, poly.first_length);
                    add_scaled(region.odd_second, region.odd_second_length, factor, poly.second_at, poly.second_length);
                } else {
                    add_scaled(region.even_first, region.even_first_length, factor, poly.first_at, poly.first_length);
                    add_scaled(region.even_second, region.even_second_length, factor, poly.second_at,
                               poly.second_length);
                }
            }
        }
    };
    SmallSourceSeries series;
    combine(series.inside_, terms_for(2.0 * rho, scale), small_source_series::kPolynomials, kPowers);
    // Outside, for laws of powers up to kMostOutsidePower, as far as the terms reach.
    const bool low_powers = std::all_of(w.begin() + kMostOutsidePower + 1, w.end(), [](double v) { return v == 0.0; });
    const double reach = std::min({kFarthest, far_from, lo / rho - 1.0});
    if (low_powers && reach > 1.0) {
        combine(series.outside_, terms_for(rho * (1.0 + reach), scale), small_source_series::kOutside,
                static_cast<std::size_t>(kMostOutsidePower) + 1);
        series.reach_ = reach;
    }
    return series;
}

double SmallSourceSeries::value(double l) const { return l <= 1.0 ? inside_value(l) : outside_value(l); }

double SmallSourceSeries::inside_value(double l) const {
    const Region& in = inside_;
    const double m = l * l;
    // 1 − m from the factors: near the limb m rounds, and (1 − m)K is what multiplies T.
    const double x = (1.0 - l) * (1.0 + l);
    double sum = horner(in.odd_first, in.odd_first_length, m);
    if (in.even_first_length > 0) {
        const CalcResult<CompleteKE> ke = ellipke_complement(x);
        const double xk = x > 0.0 ? x * ke->k : 0.0;  // (1 − m)K → 0 on the limb
        sum += ke->e * horner(in.even_first, in.even_first_length, m) +
               xk * horner(in.even_second, in.even_second_length, m);
    }
    return sum;
}

double SmallSourceSeries::outside_value(double l) const {
    const Region& out = outside_;
    const double m = l * l;
    // 1 − z = (l − 1)(l + 1)/m, without the cancellation of 1 − z next to the limb.
    const double x = ((l - 1.0) * (l + 1.0)) / m;
    double sum = 0.0;
    if (out.even_first_length > 0) {
        const CalcResult<CompleteKE> ke = ellipke_complement(x);
        const double xk = x > 0.0 ? m * (x * ke->k) : 0.0;  // m(1 − z)K(z) → 0 on the limb
        sum += ke->e * horner(out.even_first, out.even_first_length, m) +
               xk * horner(out.even_second, out.even_second_length, m);
    }
    if (out.odd_first_length > 0) {
        // arcsin(1/l) as atan2(1, √(l² − 1)): arcsin itself would magnify the rounding of 1/l next to
        // the limb, where its slope is infinite.
        const double root = std::sqrt((l - 1.0) * (l + 1.0));
        sum += (l * std::atan2(1.0, root)) * horner(out.odd_first, out.odd_first_length, m) +
               (root / l) * horner(out.odd_second, out.odd_second_length, m);
    }
    return sum / l;
}

}  // namespace velmora
