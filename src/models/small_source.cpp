#include "models/small_source.hpp"

#include <cmath>

#include "numerics/constants.hpp"
#include "numerics/ellip/legendre.hpp"

namespace velmora {
namespace {

using small_source_series::kA;
using small_source_series::kCoefficients;
using small_source_series::kMostPower;
using small_source_series::kPolynomials;
using small_source_series::kTerms;

constexpr std::size_t kPowers = static_cast<std::size_t>(kMostPower) + 1;
constexpr std::size_t kBoundTerms = sizeof(kA) / sizeof(kA[0]);

// acc[i] += factor·c[i] over one tabulated polynomial, and the longest length so far.
void add_scaled(std::array<double, small_source_series::kMostLength>& acc, std::size_t& length, double factor,
                std::size_t at, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) acc[i] += factor * kCoefficients[at + i];
    if (count > length) length = count;
}

double horner(const std::array<double, small_source_series::kMostLength>& c, std::size_t length, double m) {
    double acc = 0.0;
    for (std::size_t i = length; i-- > 0;) acc = acc * m + c[i];
    return acc;
}

}  // namespace

std::optional<SmallSourceSeries> SmallSourceSeries::make(const PowerLaw& law, double rho) {
    std::array<double, kPowers> w{};
    if (!law.weights_by_power(w) || !(rho > 0.0)) return std::nullopt;
    const double norm = law.normaliser();
    double scale = 0.0;  // B, the bound's factor
    for (std::size_t p = 0; p < kPowers; ++p) scale += std::abs(w[p]) * (constants::kTwoPi / (static_cast<double>(p) + 2.0));
    scale /= norm;
    // The fewest terms J whose omitted ones, Σ_{j ≥ J} |a_j|(2ρ)^(2j)·B, are below the tolerance (the
    // tabulated a_j beyond kTerms bound the sum; each further term is less than ρ² of the one before).
    const double four_rho2 = 4.0 * rho * rho;
    std::array<double, kBoundTerms> bound{};
    double power = 1.0;
    for (std::size_t j = 0; j < kBoundTerms; ++j, power *= four_rho2) bound[j] = std::abs(kA[j]) * power * scale;
    double tail = 0.0;
    std::size_t terms = kBoundTerms;
    while (terms > 0 && tail + bound[terms - 1] <= kTolerance) tail += bound[--terms];
    if (terms > kTerms || !(four_rho2 < 1.0)) return std::nullopt;
    if (terms == 0) terms = 1;

    SmallSourceSeries series;
    series.terms_ = terms;
    // w_p a_j ρ^(2j−1)/N, summed from the smallest terms up.
    const double rho2 = rho * rho;
    for (std::size_t j = terms; j-- > 0;) {
        const double rho_power = std::pow(rho2, static_cast<double>(j)) / rho;
        for (std::size_t p = 0; p < kPowers; ++p) {
            if (w[p] == 0.0) continue;
            const double factor = w[p] * kA[j] * rho_power / norm;
            const small_source_series::Polynomials& poly = kPolynomials[p][j];
            if (p % 2 == 1) {
                add_scaled(series.r_, series.r_length_, factor, poly.first_at, poly.first_length);
            } else {
                add_scaled(series.e_, series.e_length_, factor, poly.first_at, poly.first_length);
                add_scaled(series.k_, series.k_length_, factor, poly.second_at, poly.second_length);
            }
        }
    }
    return series;
}

double SmallSourceSeries::value(double l) const {
    const double m = l * l;
    // 1 − m from the factors: near the limb m rounds, and (1 − m)K is what multiplies T.
    const double x = (1.0 - l) * (1.0 + l);
    double sum = horner(r_, r_length_, m);
    if (e_length_ > 0) {
        const CalcResult<CompleteKE> ke = ellipke_complement(x);
        const double xk = x > 0.0 ? x * ke->k : 0.0;  // (1 − m)K → 0 on the limb
        sum += ke->e * horner(e_, e_length_, m) + xk * horner(k_, k_length_, m);
    }
    return sum;
}

}  // namespace velmora
