#include "models/witt_mao.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

#include "models/at_least_one.hpp"
#include "models/interrupt.hpp"
#include "numerics/constants.hpp"
#include "numerics/ellip/cel.hpp"
#include "numerics/lanes.hpp"
#include "numerics/messages.hpp"

namespace velmora {
namespace {

using constants::kPi;

// Why the far field starts at l = 16 (UniformDisk::kFarField): the closed form's last step subtracts two terms of size ~l whose difference is ~ρ²l²/2 + O(1),
// so it keeps about 1e-16·min(l/2, 2/(ρ²l)) relative: ≤ 1e-14 below l = 16. From there on the
// series' truncation error is below 1e-17 (measured at 50 digits; its terms fall like l^-2k).

// Beyond constants::kHugeLength Einstein radii every magnification is 1 to double precision
// (A − 1 ~ 2/u⁴) and the squares below would overflow.
using constants::kHugeLength;
using constants::kTinyLength;

// The far-field series, W/A(u) = 1 + s²/(2(2 − s)) · Σ_k Q_k(s)·l^-2k with s = 4/(u² + 4).
// It is the mean-value expansion of the point-lens magnification A over a disk of radius ρ,
//   W = Σ_k ρ^2k/(4^k k!(k+1)!) · Δ^k A(u),
// with Δ the plane Laplacian; for the radial A = (w + 2)/√(w(w + 4)), w = u²,
//   Δ^k A / A = P_k(w) / ((w + 2) w^k (w + 4)^2k)
// with P_k a polynomial of degree 2k − 1, and ρ²/w = 1/l². Substituting w = 4(1 − s)/s gives the
// polynomials Q_k of far_field_series.hpp, derived in exact rational arithmetic by
// scripts/far_field_series.py and checked against the closed form at 60 digits. The series
// converges like l^-2 per term for every ρ (its nearest singularity is the lens, at distance u).
// On 0 ≤ s ≤ 1 the k-th term's factor s²/(2(2 − s))·|Q_k(s)| is at most 0.125, 0.047, 0.024, 0.015,
// 0.010, 0.0073, 0.0055, 0.0043, 0.0034, 0.0028, 0.0024, 0.0020 (k = 1..12) and 0.0017 (k = 13,
// the first one never taken), computed at 40 digits on a grid of 201 values of s.
using far_field_series::kQ1;
using far_field_series::kQ2;
using far_field_series::kQ3;
using far_field_series::kQ4;
using far_field_series::kQ5;
using far_field_series::kQ6;
using far_field_series::kQ7;
using far_field_series::kQ8;
using far_field_series::kQ9;
using far_field_series::kQ10;
using far_field_series::kQ11;
using far_field_series::kQ12;
constexpr std::span<const double> kQ[] = {kQ1, kQ2, kQ3, kQ4, kQ5, kQ6, kQ7, kQ8, kQ9, kQ10, kQ11, kQ12};
static_assert(std::size(kQ) == UniformDisk::kFarFieldTerms);

// How many terms the series takes at l: the least K whose first omitted term, at most
// C_{K+1}·l^-2(K+1) with the bounds C_k above, is below 3e-17 (relative, unit weights), and all
// 12 below l = 3.8, where at l = 3 the omitted term is below 7e-16. A profile's weight
// (k + 1)μ_k/μ_0 multiplies these bounds: at most k + 1 for P ≥ 0, below 1 for the law.
struct TermsFrom {
    double l;
    std::size_t terms;
};
constexpr TermsFrom kTermsFrom[] = {{16.0, 5}, {10.5, 6}, {7.8, 7}, {6.1, 8}, {5.0, 9}, {4.3, 10}, {3.8, 11}};

std::size_t terms_at(double l) {
    for (const TermsFrom& step : kTermsFrom) {
        if (l >= step.l) return step.terms;
    }
    return UniformDisk::kFarFieldTerms;
}

// The same for the derivatives: the least K whose first omitted term, with its factor K + 1 and the
// 2/ρ of ∂W/∂ρ, 2(K + 1)·C_{K+1}·l^-2(K+1), is below 1e-16 (a tenth of the bound 1e-15·A/ρ);
// all 12 below l = 4.7 (at l = 4, the derivatives' switch, the 13th is below 2e-17).
constexpr TermsFrom kGradientTermsFrom[] = {{32.0, 5}, {17.6, 6}, {11.6, 7}, {8.5, 8}, {6.7, 9}, {5.5, 10}, {4.7, 11}};

std::size_t gradient_terms_at(double l) {
    for (const TermsFrom& step : kGradientTermsFrom) {
        if (l >= step.l) return step.terms;
    }
    return UniformDisk::kFarFieldTerms;
}

constexpr std::array<double, UniformDisk::kFarFieldTerms> kUniformWeights = [] {
    std::array<double, UniformDisk::kFarFieldTerms> ones{};
    ones.fill(1.0);
    return ones;
}();

// Q_{k+1}(s) by Horner's rule, its length known at compile time so that the loop unrolls.
template <std::size_t K>
double horner(double x) {
    const std::span<const double> q = kQ[K];
    constexpr std::size_t size = std::size(kQ[K]);
    double acc = q[0];
    for (std::size_t i = 1; i < size; ++i) acc = acc * x + q[i];
    return acc;
}

// y·(w₁Q₁ + y·(w₂Q₂ + y·(… + y·w_T·Q_T))) for T terms, innermost first: one unrolled function per
// T, so that the T polynomials (independent of each other) can be evaluated side by side.
template <std::size_t Terms>
double series(double s, double y, const double* weights) {
    double sum = 0.0;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((sum = y * (weights[Terms - 1 - I] * horner<Terms - 1 - I>(s) + sum)), ...);
    }(std::make_index_sequence<Terms>{});
    return sum;
}

#if VELMORA_LANES
// The same in lanes, each lane a lens position with its own weights: a lane that needs fewer terms
// than the chunk's most has weight 0 for the others, which adds exact zeros innermost, so every
// lane gets its own series bit for bit (y·(0·Q + 0) = 0 with Q finite, and then y·(w·Q + 0) is
// the first step of the shorter series, whose sum starts at 0).
template <std::size_t K, class V>
[[gnu::always_inline]] inline V horner_lanes(V x) {
    const std::span<const double> q = kQ[K];
    constexpr std::size_t size = std::size(kQ[K]);
    V acc = lanes::broadcast(q[0], x);
    for (std::size_t i = 1; i < size; ++i) acc = acc * x + q[i];
    return acc;
}

template <std::size_t Terms, class V>
[[gnu::always_inline]] inline V series_lanes(V s, V y, const V* weights) {
    V sum = lanes::broadcast(0.0, s);
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((sum = y * (weights[Terms - 1 - I] * horner_lanes<Terms - 1 - I>(s) + sum)), ...);
    }(std::make_index_sequence<Terms>{});
    return sum;
}
#endif

// The same sums for the derivatives, each term weighted: Σ w_k Q_k y^k, Σ k·w_k Q_k y^k and
// Σ w_k Q_k' y^k (Q_k' by Horner's rule beside Q_k), unrolled per number of terms.
struct GradientSums {
    double sum, k_sum, slope_sum;
};

template <std::size_t K>
void horner_with_slope(double x, double& value, double& slope) {
    const std::span<const double> q = kQ[K];
    constexpr std::size_t size = std::size(kQ[K]);
    value = q[0], slope = 0.0;
    for (std::size_t i = 1; i < size; ++i) {
        slope = slope * x + value;
        value = value * x + q[i];
    }
}

template <std::size_t Terms>
GradientSums gradient_series(double s, double y, const double* weights) {
    std::array<double, Terms> values, slopes;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (horner_with_slope<I>(s, values[I], slopes[I]), ...);
    }(std::make_index_sequence<Terms>{});
    GradientSums out{0.0, 0.0, 0.0};
    double y_k = 1.0;
    for (std::size_t k = 0; k < Terms; ++k) {
        y_k *= y;
        const double wy = weights[k] * y_k;
        out.sum += wy * values[k];
        out.k_sum += static_cast<double>(k + 1) * wy * values[k];
        out.slope_sum += wy * slopes[k];
    }
    return out;
}

using GradientSeries = GradientSums (*)(double, double, const double*);
constexpr GradientSeries kGradientSeries[] = {
    nullptr,               gradient_series<1>, gradient_series<2>, gradient_series<3>,  gradient_series<4>,
    gradient_series<5>,    gradient_series<6>, gradient_series<7>, gradient_series<8>,  gradient_series<9>,
    gradient_series<10>,   gradient_series<11>, gradient_series<12>};
static_assert(std::size(kGradientSeries) == UniformDisk::kFarFieldTerms + 1);

// The far-field derivatives of the concentric disks of one lens position (concentric_derivatives):
// every concentric disk has the position's own u = lρ (the lens at l/r of a radius rρ), so s, A(u)
// and the polynomials Q_k(s), Q_k'(s) of far_field_gradient() are the same for all of them, taken
// once here; a disk adds only its sums in y = (r/l)², as far_field_gradient() adds them. u is formed
// as lρ itself (the disk's (l/r)·(rρ) would differ from it by a rounding).
class ConcentricFarField {
public:
    // The first `terms` polynomials (the most any disk of the position will take).
    ConcentricFarField(double l, double rho, std::size_t terms = UniformDisk::kFarFieldTerms)
        : u_(l * rho), w_(u_ * u_), s_(4.0 / (w_ + 4.0)), terms_(terms) {
        point_ = (2.0 - s_) / (2.0 * (u_ < kTinyLength ? u_ / std::sqrt(w_ + 4.0) : std::sqrt(w_ / (w_ + 4.0))));
        const double two_minus_s = 2.0 - s_;
        g_ = s_ * s_ / (2.0 * two_minus_s);
        g_slope_ = s_ * (4.0 - s_) / (2.0 * two_minus_s * two_minus_s);
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            ((I < terms ? horner_with_slope<I>(s_, values_[I], slopes_[I]) : void()), ...);
        }(std::make_index_sequence<UniformDisk::kFarFieldTerms>{});
    }

    // ∂W/∂u and ∂W/∂ρ of the disk of radius rρ, the lens at lr = l/r of its radius (lr ≥ 4). V is
    // double or a vector of disks (numerics/lanes.hpp): a lane that takes fewer terms than the most
    // keeps its sums by selection, so each lane is its scalar value bit for bit.
    template <class V>
    [[gnu::always_inline]] inline void at(V lr, V rho_r, V& d_u, V& d_rho) const {
        const V y = 1.0 / (lr * lr);
        V terms;
        std::size_t most = 0;
        if constexpr (std::is_same_v<V, double>) {
            most = std::min(terms_, gradient_terms_at(lr));
            terms = static_cast<double>(most);
        }
#if VELMORA_LANES
        else {
            for (int j = 0; j < lanes::kWidth<V>; ++j) {
                const std::size_t t = std::min(terms_, gradient_terms_at(lr[j]));
                most = std::max(most, t);
                terms[j] = static_cast<double>(t);
            }
        }
#endif
        V sum = lanes::broadcast(0.0, lr), k_sum = sum, slope_sum = sum, y_k = lanes::broadcast(1.0, lr);
        for (std::size_t k = 0; k < most; ++k) {
            y_k = y_k * y;
            const auto live = terms > static_cast<double>(k);
            sum = live ? sum + y_k * values_[k] : sum;
            k_sum = live ? k_sum + static_cast<double>(k + 1) * y_k * values_[k] : k_sum;
            slope_sum = live ? slope_sum + y_k * slopes_[k] : slope_sum;
        }
        const V f = 1.0 + g_ * sum;
        d_rho = 2.0 / rho_r * point_ * g_ * k_sum;
        const V bracket = -8.0 * f / ((w_ + 4.0) * (w_ + 2.0)) -
                          0.5 * w_ * (s_ * s_) * (g_slope_ * sum + g_ * slope_sum) - 2.0 * g_ * k_sum;
        d_u = point_ / u_ * bracket;
    }

private:
    double u_, w_, s_;
    std::size_t terms_;
    double point_ = 0.0, g_ = 0.0, g_slope_ = 0.0;
    std::array<double, UniformDisk::kFarFieldTerms> values_{}, slopes_{};
};

using Series = double (*)(double, double, const double*);
constexpr Series kSeries[] = {nullptr, series<1>, series<2>, series<3>, series<4>,  series<5>, series<6>,
                              series<7>, series<8>, series<9>, series<10>, series<11>, series<12>};
static_assert(std::size(kSeries) == UniformDisk::kFarFieldTerms + 1);

}  // namespace

UniformDisk::UniformDisk(double re, double rstar) : rho_(rstar / re) {}

// The lens on the limb, where the closed form's integrals meet their singular point (n = m = 1):
// its limit is [(asin((ρ² − 1)/(ρ² + 1)) + π/2)·(1 + ρ²)/ρ² + 2/ρ]/π, and the arcsine term is
// 2·atan(ρ) exactly; asin near −1 would cancel (2e-8 off at ρ = 1e-5).
double UniformDisk::limb(double rho) {
    // Below kTinyLength 1/ρ² would overflow while the limit, 4/(πρ), does not: atan(ρ)(1 + 1/ρ²) is
    // (atan(ρ)/ρ)(ρ + 1/ρ) there.
    if (std::fabs(rho) < kTinyLength) return (2.0 * (std::atan(rho) / rho) * (rho + 1.0 / rho) + 2.0 / rho) / kPi;
    return (2.0 * std::atan(rho) * (1.0 + 1.0 / (rho * rho)) + 2.0 / rho) / kPi;
}

// The Witt–Mao closed form with d = u − ρ, s = u + ρ, S = √(d² + 4), n = 4ρu/s², m = 4n/S²,
//   πA = E·Ss/(2ρ²) − K·d·((u² − ρ²)/2 + 4)/(ρ²S) + Π·2(1 + ρ²)d²/(ρ²sS),
// regrouped so that nothing of size 1/ρ² cancels. With E = K − m·B, B = (K − E)/m, and
// u² − ρ² = ds, s − d = 2ρ, the K and Π terms merge into one integral of the third kind:
//   πA = 8·[cel(kc, p, 1 + d²/4, (l − 1)²/(l + 1) + d²/4) − l·cel(kc, 1, 0, 1)] / (ρ(l + 1)S),
// where cel(kc, 1, 0, 1) = B. The complements come from the geometry, without forming n or m:
//   p = 1 − n = ((l − 1)/(l + 1))²,   kc² = 1 − m = p·(s² + 4)/(d² + 4).
// Both integrals share kc and run in one loop.
// V is double or a vector of (l, ρ) pairs (numerics/lanes.hpp).
template <class V>
[[gnu::always_inline]] inline V closed_form_lanes(V l, V rho) {
    using lanes::vabs, lanes::vsqrt;
    const V lm1 = l - 1.0;
    const V lp1 = l + 1.0;
    const V d = lm1 * rho;
    const V s = lp1 * rho;
    const V q = lm1 / lp1;  // ±√p
    const V quarter_d2 = 0.25 * (d * d);
    const V inv_big_s = 1.0 / vsqrt(d * d + 4.0);
    const V kc = vabs(q) * vsqrt(s * s + 4.0) * inv_big_s;
    const CelPairOf<V> c = cel_pair_lanes(kc, vabs(q), 1.0 + quarter_d2, lm1 * q + quarter_d2,
                                          lanes::broadcast(0.0, l), lanes::broadcast(1.0, l));
    return 8.0 / (kPi * rho) * (c.first - l * c.second) * inv_big_s / lp1;
}

double UniformDisk::closed_form(double l, double rho) { return closed_form_lanes(l, rho); }

double UniformDisk::far_field(double l, double rho, std::span<const double, kFarFieldTerms> weights) {
    const double u = l * rho;
    const double w = u * u;
    const double s = 4.0 / (w + 4.0);
    // A(u) = (w + 2)/√(w(w + 4)) = (2 − s)/(2√(1 − s)), with 1 − s = w/(w + 4) formed without
    // cancellation (and 1 past kHugeLength, where w may overflow: A(u) is 1 there; below
    // kTinyLength, where w underflows, √(1 − s) is u/√(w + 4)).
    const double point = (2.0 - s) / (2.0 * (u < kTinyLength ? u / std::sqrt(w + 4.0)
                                                             : std::sqrt(u > kHugeLength ? 1.0 : w / (w + 4.0))));
    const double y = 1.0 / (l * l);
    const double sum = kSeries[terms_at(l)](s, y, weights.data());
    const double w_over_a = 1.0 + s * s / (2.0 * (2.0 - s)) * sum;
    // The closed form is odd in ρ (a negative source radius, outside the physical domain, gives
    // −W(|ρ|)); the series is even, so it takes the sign of ρ to agree with it.
    return std::copysign(point * w_over_a, rho);
}

#if VELMORA_LANES
namespace {

// far_field() for n positions in chunks of the vector's width, the last one padded; each step is
// the scalar one in every lane.
template <class V>
[[gnu::always_inline]] inline void far_fields_in_lanes(const double* l, std::size_t n, double rho, const double* weights,
                                                      double* out) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        const V lv = lanes::load<V>(l + i, count);
        std::size_t most = 0;
        std::array<V, UniformDisk::kFarFieldTerms> w;
        for (int j = 0; j < lanes::kWidth<V>; ++j) {
            const std::size_t terms = terms_at(lv[j]);
            most = std::max(most, terms);
            for (std::size_t k = 0; k < UniformDisk::kFarFieldTerms; ++k) w[k][j] = k < terms ? weights[k] : 0.0;
        }
        const V u = lv * rho;
        const V w2 = u * u;
        const V s = 4.0 / (w2 + 4.0);
        const V root = lanes::vsqrt(u > kHugeLength ? lanes::broadcast(1.0, u) : w2 / (w2 + 4.0));
        const V point = (2.0 - s) / (2.0 * (u < kTinyLength ? u / lanes::vsqrt(w2 + 4.0) : root));
        const V y = 1.0 / (lv * lv);
        V sum;
        switch (most) {
#define VELMORA_SERIES_CASE(T) \
    case T:                    \
        sum = series_lanes<T>(s, y, w.data()); \
        break;
            VELMORA_SERIES_CASE(1) VELMORA_SERIES_CASE(2) VELMORA_SERIES_CASE(3) VELMORA_SERIES_CASE(4)
            VELMORA_SERIES_CASE(5) VELMORA_SERIES_CASE(6) VELMORA_SERIES_CASE(7) VELMORA_SERIES_CASE(8)
            VELMORA_SERIES_CASE(9) VELMORA_SERIES_CASE(10) VELMORA_SERIES_CASE(11)
#undef VELMORA_SERIES_CASE
        default:
            sum = series_lanes<UniformDisk::kFarFieldTerms>(s, y, w.data());
            break;
        }
        const V w_over_a = 1.0 + s * s / (2.0 * (2.0 - s)) * sum;
        const V a = lanes::vabs(point * w_over_a);
        lanes::store(std::signbit(rho) ? -a : a, out + i, count);  // copysign(·, ρ) lane by lane
    }
}

VELMORA_AVX void far_fields_avx(const double* l, std::size_t n, double rho, const double* weights, double* out) {
    far_fields_in_lanes<lanes::Lanes4>(l, n, rho, weights, out);
}

void far_fields_sse2(const double* l, std::size_t n, double rho, const double* weights, double* out) {
    far_fields_in_lanes<lanes::Lanes2>(l, n, rho, weights, out);
}

}  // namespace
#endif

void UniformDisk::far_fields(std::span<const double> l, double rho, std::span<const double, kFarFieldTerms> weights,
                             std::span<double> out) {
#if VELMORA_LANES
    if (lanes::has_avx()) return far_fields_avx(l.data(), l.size(), rho, weights.data(), out.data());
    return far_fields_sse2(l.data(), l.size(), rho, weights.data(), out.data());
#else
    for (std::size_t i = 0; i < l.size(); ++i) out[i] = far_field(l[i], rho, weights);
#endif
}

// A disk is a physical source when ρ > 0 and l ≥ 0.
double UniformDisk::floored(double a, double l, double rho) { return at_least_one(a, rho > 0.0 && l >= 0.0); }

// Which form value() takes at (l, ρ); NaN takes the closed form, which gives NaN.
UniformDisk::Form UniformDisk::form(double l, double rho) {
    if (l == 1.0) return Form::limb;
    if ((l + 1.0) * rho > kHugeLength) return Form::unit;
    if (l >= kFarField) return Form::far;
    return Form::closed;
}

double UniformDisk::value(double l, double rho) {
    switch (form(l, rho)) {
    case Form::limb:
        return limb(rho);
    case Form::unit:
        return 1.0;
    case Form::far:
        return floored(far_field(l, rho, kUniformWeights), l, rho);
    case Form::closed:
        break;
    }
    return floored(closed_form(l, rho), l, rho);
}

namespace {

#if VELMORA_LANES
// The closed form for n pairs (l[k], ρ[k]) in chunks of the vector's width, the last one padded.
template <class V>
[[gnu::always_inline]] inline void closed_forms_in_lanes(const double* l, const double* rho, double* out, std::size_t n) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        lanes::store(closed_form_lanes(lanes::load<V>(l + i, count), lanes::load<V>(rho + i, count)), out + i, count);
    }
}

VELMORA_AVX void closed_forms_avx(const double* l, const double* rho, double* out, std::size_t n) {
    closed_forms_in_lanes<lanes::Lanes4>(l, rho, out, n);
}

void closed_forms_sse2(const double* l, const double* rho, double* out, std::size_t n) {
    closed_forms_in_lanes<lanes::Lanes2>(l, rho, out, n);
}
#endif

}  // namespace

void UniformDisk::concentric(double l, double rho, std::span<const double> r, std::span<double> out) {
#if VELMORA_LANES
    // The closed-form points are gathered and taken in lanes; the others (limb, far field, huge)
    // one by one, as value() takes them.
    constexpr std::size_t kChunk = 64;
    std::array<double, kChunk> ls, rhos, values;
    std::array<std::size_t, kChunk> where;
    for (std::size_t start = 0; start < r.size(); start += kChunk) {
        const std::size_t end = std::min(r.size(), start + kChunk);
        std::size_t n = 0;
        for (std::size_t k = start; k < end; ++k) {
            const double lk = l / r[k], rhok = r[k] * rho;
            if (form(lk, rhok) == Form::closed) {
                ls[n] = lk, rhos[n] = rhok, where[n] = k, ++n;
            } else {
                out[k] = value(lk, rhok);
            }
        }
        if (n == 0) continue;
        if (lanes::has_avx()) {
            closed_forms_avx(ls.data(), rhos.data(), values.data(), n);
        } else {
            closed_forms_sse2(ls.data(), rhos.data(), values.data(), n);
        }
        for (std::size_t j = 0; j < n; ++j) out[where[j]] = floored(values[j], ls[j], rhos[j]);
    }
#else
    for (std::size_t k = 0; k < r.size(); ++k) out[k] = value(l / r[k], r[k] * rho);
#endif
}

CalcResult<double> UniformDisk::checked_value(double l) const {
    // On the limb a negative source radius has no value: there the closed form's parameter is
    // exactly 1, which the third-kind integral rejects; the error keeps ellippi's text (a contract,
    // numerics/messages.hpp), though the closed form runs on cel and calls no ellippi.
    if (l == 1.0 && rho_ < 0.0) return Failure{messages::kEllippiM};
    return value(l, rho_);
}

// The derivatives of the uniform disk W(u, ρ) = (1/πρ²)∫_disk A, A(x) = (x² + 2)/(x√(x² + 4)),
// in the closed form's range (l ≠ 1, l < kGradientFarField). With d = u − ρ, s = u + ρ,
// S = √(d² + 4), S1 = √(s² + 4) and the closed form's kc = |l − 1|/(l + 1)·S1/S:
//  - ∂W/∂u at fixed ρ: by the divergence theorem ∂W/∂u = (1/πρ)∫₀^{2π} A(|u + ρe^{iθ}|) cos θ dθ,
//    and since A = dg/dw with g = √(w(w + 4)), w = x², integrating by parts in θ gives an integrand
//    of one sign, ∂W/∂u = −(16u/π)∫₀^π sin²θ/(w(w + 4))^{3/2} dθ, w = u² + ρ² + 2uρ cos θ. With
//    θ = 2φ and v = cot²φ it is, by partial fractions of v/((v + p)(v + q)),
//      ∫₀^∞ √v dv / ((v + p)(v + q))^{3/2} = 2(q·R_D(0, p, q) − p·R_D(0, q, p)) / (3(q − p)),
//    with Carlson's R_D (Carlson 1995, Numer. Algorithms 10, 13–26), p = d²/s², q = S²/S1².
//    By R_D(0, kc², 1) = 3D and R_D(0, 1, kc²) = 3(K − D)/kc² (DLMF 19.25.1), kc² = p/q, this is
//    2q^{-3/2}·(2D − K)/k², D = (K − E)/k², k² = 1 − kc² = 16uρ/(s²S²). So
//      ∂W/∂u = −128·u·G/(π s³ S³),   G = (2D − K)/k² = cel(kc, 1, −1, 1)/k²,
//    where G is taken after Bartky's first pass (cel_pair_after_first_pass): b1 = 2/(1 + kc), a1 = 0.
//    It is −8/(u²(u² + 4)^{3/2}), the point lens's dA/du, as ρ → 0 (G → π/16, kc → 1), and
//    diverges like log|l − 1| at the limb (kc → 0).
//  - ∂W/∂ρ at fixed u: the disk grows by its rim, so ∂W/∂ρ = (2/ρ)(A_ring − W), A_ring the mean
//    of A around the rim (the ring magnification of Heyrovský 2003 at r = 1). That difference of
//    two magnifications keeps only the last bits where they agree: for a large source both are
//    1 + O(1/ρ²), for a small one both ~A(u) (8 roundings of A measured at ρ = 1e-6, l = 2.4).
//    Instead: W(λu, λρ) is the mean of A(λx) over the disk, so u·∂W/∂u + ρ·∂W/∂ρ = H, the disk's
//    mean of x·A'(x) = −8/(x(x² + 4)^{3/2}). That is ΔF for F'(x) = −2/√(x² + 4) (F' → −1 at x = 0
//    with no flux there), so H is a rim integral again by the divergence theorem,
//      H = −(1/πρ²)∫₀^{2π} (w + ρ² − u²)/√(w(w + 4)) dθ,
//    and with θ = 2φ, tan φ = t/√q (q as above) it is one integral of the third kind,
//      H = −8·cel(kc, S1²/S², s, −d·S1²/S²)/(πρsS),
//    whose terms are positive for the lens inside (d < 0) and of both signs outside; then
//    ∂W/∂ρ = (H − u·∂W/∂u)/ρ. Against the 100-digit references its error is below 2e-4 of the
//    bound 1e-15·A/ρ over ρ = 1e-6..1e4, where (2/ρ)(A_ring − W) reached 3.3 times it.
// Each quantity is formed as ρ² times itself, finite for every ρ > 0, and divided by ρ last.
// Checked against central differences of the closed form at 100 digits and the rim integral by
// quadrature (tests/test_gradient.py).
namespace {

// closed_gradient() for one value or a vector of lens positions (V as in closed_form_lanes): the
// same operations in the same order, so every lane is the scalar result bit for bit.
template <class V>
[[gnu::always_inline]] inline void closed_gradient_lanes(V l, V lm1, V lp1, V rho, V& d_u, V& d_rho) {
    const V d = lm1 * rho;
    const V s = lp1 * rho;
    const V big_s = lanes::vsqrt(d * d + 4.0);
    const V big_s1 = lanes::vsqrt(s * s + 4.0);
    const V sqrt_p = big_s1 / big_s;
    const V kc = lanes::vabs(lm1 / lp1) * sqrt_p;
    // first = cel(kc, S1²/S², s, −d·S1²/S²) for H; second = G, whose first pass gives a1 = 0,
    // b1 = 2/(1 + kc).
    const CelPairOf<V> c = cel_pair_after_first_pass_lanes(kc, sqrt_p, s, -d * (sqrt_p * sqrt_p),
                                                           lanes::broadcast(0.0, kc), 2.0 / (1.0 + kc));
    const V h_scaled = -8.0 * c.first / (kPi * lp1 * big_s);  // ρ²·H
    const V d_u_scaled =                                       // ρ²·∂W/∂u
        -128.0 * l * c.second / (kPi * (lp1 * lp1 * lp1) * (big_s * big_s * big_s));
    d_u = d_u_scaled / rho / rho;
    d_rho = (h_scaled - l * rho * d_u_scaled) / rho / rho / rho;
}

#if VELMORA_LANES
// closed_gradient() for n positions in chunks of the vector's width, the last one padded.
template <class V>
[[gnu::always_inline]] inline void closed_gradients_in_lanes(const double* l, const double* lm1, const double* lp1,
                                                             const double* rho, double* d_u, double* d_rho,
                                                             std::size_t n) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        V u_part, rho_part;
        closed_gradient_lanes(lanes::load<V>(l + i, count), lanes::load<V>(lm1 + i, count),
                              lanes::load<V>(lp1 + i, count), lanes::load<V>(rho + i, count), u_part, rho_part);
        lanes::store(u_part, d_u + i, count);
        lanes::store(rho_part, d_rho + i, count);
    }
}

VELMORA_AVX void closed_gradients_avx(const double* l, const double* lm1, const double* lp1, const double* rho,
                                      double* d_u, double* d_rho, std::size_t n) {
    closed_gradients_in_lanes<lanes::Lanes4>(l, lm1, lp1, rho, d_u, d_rho, n);
}

void closed_gradients_sse2(const double* l, const double* lm1, const double* lp1, const double* rho, double* d_u,
                           double* d_rho, std::size_t n) {
    closed_gradients_in_lanes<lanes::Lanes2>(l, lm1, lp1, rho, d_u, d_rho, n);
}
#endif

}  // namespace

UniformDisk::ClosedGradient UniformDisk::closed_gradient(double l, double lm1, double lp1, double rho) {
    ClosedGradient g{};
    closed_gradient_lanes(l, lm1, lp1, rho, g.d_u, g.d_rho);
    return g;
}

// The closed form's value and both derivatives in one AGM loop: the value's two integrals
// (closed_form_lanes) and the derivatives' two (closed_gradient) share kc, so one set of passes
// serves all four. The value's operations are closed_form_lanes' own, in its order, so the value is
// closed_form() bit for bit (no contraction into FMA: CMakeLists.txt); the derivatives take the
// value's kc, |q|·S1·(1/S), within an ulp or two of closed_gradient's.
UniformDisk::ClosedAll UniformDisk::closed_all(double l, double rho) {
    const double lm1 = l - 1.0;
    const double lp1 = l + 1.0;
    const double d = lm1 * rho;
    const double s = lp1 * rho;
    const double q = lm1 / lp1;
    const double quarter_d2 = 0.25 * (d * d);
    const double big_s = std::sqrt(d * d + 4.0);
    const double inv_big_s = 1.0 / big_s;
    const double big_s1 = std::sqrt(s * s + 4.0);
    const double kc = std::fabs(q) * big_s1 * inv_big_s;
    // the value's cel_pair_lanes(kc, |q|, 1 + d²/4, (l − 1)q + d²/4, 0, 1)
    double p = std::fabs(q), a = 1.0 + quarter_d2, b = lm1 * q + quarter_d2, a1 = 0.0, b1 = 1.0;
    b = b / p;
    // the derivatives' cel_pair_after_first_pass(kc, S1/S, s, −d·S1²/S², 0, 2/(1 + kc))
    const double sqrt_pg = big_s1 / big_s;
    double pg = sqrt_pg, ag = s, bg = -d * (sqrt_pg * sqrt_pg), ag1 = 0.0, bg1 = 2.0 / (1.0 + kc);
    bg = bg / pg;
    bool first_pass = true;
    const double em = agm_passes(kc, [&](bool live, double e, double qc, double em_now) {
        const double inv_p = 1.0 / p;
        const double g = e * inv_p;
        const double twice = b + a * g;
        const double twice1 = b1 + a1 * qc;
        a = live ? a + b * inv_p : a;
        b = live ? twice + twice : b;
        p = live ? p + g : p;
        a1 = live ? a1 + b1 / em_now : a1;
        b1 = live ? twice1 + twice1 : b1;
        const double inv_pg = 1.0 / pg;
        const double gg = e * inv_pg;
        const double twice_g = bg + ag * gg;
        ag = live ? ag + bg * inv_pg : ag;
        bg = live ? twice_g + twice_g : bg;
        pg = live ? pg + gg : pg;
        if (first_pass) {
            first_pass = false;
            return;
        }
        const double twice_g1 = bg1 + ag1 * qc;
        ag1 = live ? ag1 + bg1 / em_now : ag1;
        bg1 = live ? twice_g1 + twice_g1 : bg1;
    });
    const double scale = constants::kHalfPi / em;
    const double first = scale * (b + a * em) / (em + p), second = scale * (b1 + a1 * em) / (em + em);
    const double value = 8.0 / (kPi * rho) * (first - l * second) * inv_big_s / lp1;
    const double h_cel = scale * (bg + ag * em) / (em + pg), g_cel = scale * (bg1 + ag1 * em) / (em + em);
    const double h_scaled = -8.0 * h_cel / (kPi * lp1 * big_s);  // ρ²·H
    const double d_u_scaled = -128.0 * l * g_cel / (kPi * (lp1 * lp1 * lp1) * (big_s * big_s * big_s));  // ρ²·∂W/∂u
    return {value, d_u_scaled / rho / rho, (h_scaled - l * rho * d_u_scaled) / rho / rho / rho};
}

// The far-field series W = A(u)·F, F = 1 + g(s)·Σ_k w_k Q_k(s) y^k, g = s²/(2(2 − s)),
// s = 4/(u² + 4), y = 1/l² = ρ²/u², differentiated term by term (u and ρ enter through s and y):
//   ∂W/∂ρ = (2/ρ)·A·g·Σ k w_k Q_k y^k,
//   ∂W/∂u = (A/u)·[−8F/((u² + 4)(u² + 2)) − (u²s²/2)(g'·Σ w_k Q_k y^k + g·Σ w_k Q_k' y^k) − 2g·Σ k w_k Q_k y^k],
// with u·A'/A = −8/((u² + 4)(u² + 2)), u·ds/du = −u²s²/2 and g' = s(4 − s)/(2(2 − s)²); every
// bracketed factor is bounded, so a tiny u gives a large value, never ∞·0. Its terms: see
// gradient_terms_at().
Gradient UniformDisk::far_field_gradient(double l, double rho, std::span<const double, kFarFieldTerms> weights) {
    const double u = l * rho;
    // Past kHugeLength the magnification is 1 and its derivatives (~u^-5) 0 to double precision (and
    // w below may overflow).
    if (u > kHugeLength) return {1.0, 0.0, 0.0};
    const double w = u * u;
    const double s = 4.0 / (w + 4.0);
    const double point = (2.0 - s) / (2.0 * (u < kTinyLength ? u / std::sqrt(w + 4.0) : std::sqrt(w / (w + 4.0))));
    const double y = 1.0 / (l * l);
    const auto [sum, k_sum, slope_sum] = kGradientSeries[gradient_terms_at(l)](s, y, weights.data());
    const double two_minus_s = 2.0 - s;
    const double g = s * s / (2.0 * two_minus_s);
    const double g_slope = s * (4.0 - s) / (2.0 * two_minus_s * two_minus_s);
    const double f = 1.0 + g * sum;
    double d_rho = 2.0 / rho * point * g * k_sum;
    if (l > kHugeLength) {
        // y = 1/l² underflows (and 2/ρ may overflow, for a tiny source): the first term alone,
        // 2·A·g·w₁Q₁(s)/(ρl²), taken as /(u·l).
        double q1 = 0.0, q1_slope = 0.0;
        horner_with_slope<0>(s, q1, q1_slope);
        d_rho = 2.0 * point * g * (weights[0] * q1) / u / l;
    }
    const double bracket =
        -8.0 * f / ((w + 4.0) * (w + 2.0)) - 0.5 * w * (s * s) * (g_slope * sum + g * slope_sum) - 2.0 * g * k_sum;
    return {point * f, point / u * bracket, d_rho};
}

#if VELMORA_LANES
namespace {

// far_field_gradient()'s derivatives for one chunk of positions lv (source radius rho in every
// lane); each step is the scalar one in every lane. A lane that needs fewer terms than the chunk's most keeps
// its sums unchanged for the others (selected, not added), so every lane is its scalar result bit
// for bit.
template <class V>
[[gnu::always_inline]] inline void far_field_gradient_chunk(V lv, V rho, const double* weights, V& d_u, V& d_rho) {
    std::size_t most = 0;
    V terms = lanes::broadcast(0.0, lv);
    for (int j = 0; j < lanes::kWidth<V>; ++j) {
        const std::size_t t = gradient_terms_at(lv[j]);
        most = std::max(most, t);
        terms[j] = static_cast<double>(t);
    }
    const V u = lv * rho;
    const V w = u * u;
    const V s = 4.0 / (w + 4.0);
    const V root = lanes::vsqrt(w / (w + 4.0));
    const V point = (2.0 - s) / (2.0 * (u < kTinyLength ? u / lanes::vsqrt(w + 4.0) : root));
    const V y = 1.0 / (lv * lv);
    V sum = lanes::broadcast(0.0, lv), k_sum = sum, slope_sum = sum, y_k = lanes::broadcast(1.0, lv);
    V q1 = sum;  // Q₁(s), for the lanes with l past kHugeLength (far_field_gradient())
    for (std::size_t k = 0; k < most; ++k) {
        const std::span<const double> q = kQ[k];
        V value = lanes::broadcast(q[0], lv), slope = lanes::broadcast(0.0, lv);
        for (std::size_t m = 1; m < q.size(); ++m) {
            slope = slope * s + value;
            value = value * s + q[m];
        }
        if (k == 0) q1 = value;
        y_k *= y;
        const V wy = weights[k] * y_k;
        const auto live = terms > static_cast<double>(k);
        sum = live ? sum + wy * value : sum;
        k_sum = live ? k_sum + static_cast<double>(k + 1) * wy * value : k_sum;
        slope_sum = live ? slope_sum + wy * slope : slope_sum;
    }
    const V two_minus_s = 2.0 - s;
    const V g = s * s / (2.0 * two_minus_s);
    const V g_slope = s * (4.0 - s) / (2.0 * two_minus_s * two_minus_s);
    const V f = 1.0 + g * sum;
    const V bracket =
        -8.0 * f / ((w + 4.0) * (w + 2.0)) - 0.5 * w * (s * s) * (g_slope * sum + g * slope_sum) - 2.0 * g * k_sum;
    // Past kHugeLength both are 0, as far_field_gradient() returns them.
    const auto huge = u > kHugeLength;
    const V far_l = 2.0 * point * g * (weights[0] * q1) / u / lv;
    d_rho = huge ? lanes::broadcast(0.0, u) : lv > kHugeLength ? far_l : 2.0 / rho * point * g * k_sum;
    d_u = huge ? lanes::broadcast(0.0, u) : point / u * bracket;
}

// The same for n positions in chunks of the vector's width, the last one padded.
template <class V>
[[gnu::always_inline]] inline void far_field_gradients_in_lanes(const double* l, std::size_t n, double rho,
                                                               const double* weights, double* d_u, double* d_rho) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        const V lv = lanes::load<V>(l + i, count);
        V us, rhos;
        far_field_gradient_chunk(lv, lanes::broadcast(rho, lv), weights, us, rhos);
        lanes::store(us, d_u + i, count);
        lanes::store(rhos, d_rho + i, count);
    }
}

// ConcentricFarField::at() for n disks in chunks of the vector's width, the last one padded.
template <class V>
[[gnu::always_inline]] inline void concentric_far_in_lanes(const ConcentricFarField& far, const double* lr,
                                                          const double* rho_r, std::size_t n, double* d_u,
                                                          double* d_rho) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        V us, rhos;
        far.at(lanes::load<V>(lr + i, count), lanes::load<V>(rho_r + i, count), us, rhos);
        lanes::store(us, d_u + i, count);
        lanes::store(rhos, d_rho + i, count);
    }
}

VELMORA_AVX void concentric_far_avx(const ConcentricFarField& far, const double* lr, const double* rho_r,
                                    std::size_t n, double* d_u, double* d_rho) {
    concentric_far_in_lanes<lanes::Lanes4>(far, lr, rho_r, n, d_u, d_rho);
}

void concentric_far_sse2(const ConcentricFarField& far, const double* lr, const double* rho_r, std::size_t n,
                         double* d_u, double* d_rho) {
    concentric_far_in_lanes<lanes::Lanes2>(far, lr, rho_r, n, d_u, d_rho);
}

VELMORA_AVX void far_field_gradients_avx(const double* l, std::size_t n, double rho, const double* weights,
                                         double* d_u, double* d_rho) {
    far_field_gradients_in_lanes<lanes::Lanes4>(l, n, rho, weights, d_u, d_rho);
}

void far_field_gradients_sse2(const double* l, std::size_t n, double rho, const double* weights, double* d_u,
                              double* d_rho) {
    far_field_gradients_in_lanes<lanes::Lanes2>(l, n, rho, weights, d_u, d_rho);
}

}  // namespace
#endif

void UniformDisk::far_field_gradients(std::span<const double> l, double rho,
                                      std::span<const double, kFarFieldTerms> weights, std::span<double> d_u,
                                      std::span<double> d_rho) {
#if VELMORA_LANES
    if (lanes::has_avx()) {
        return far_field_gradients_avx(l.data(), l.size(), rho, weights.data(), d_u.data(), d_rho.data());
    }
    return far_field_gradients_sse2(l.data(), l.size(), rho, weights.data(), d_u.data(), d_rho.data());
#else
    for (std::size_t i = 0; i < l.size(); ++i) {
        const Gradient g = far_field_gradient(l[i], rho, weights);
        d_u[i] = g.d_u, d_rho[i] = g.d_rho;
    }
#endif
}

void UniformDisk::far_field_gradients_at(std::span<const double> l, double rho,
                                         std::span<const double, kFarFieldTerms> weights, double scale,
                                         std::span<const std::size_t> at, GradientLists& out) {
    constexpr std::size_t kChunk = 256;
    std::array<double, kChunk> ls, us, rhos;
    for (std::size_t start = 0; start < at.size(); start += kChunk) {
        const std::size_t n = std::min(kChunk, at.size() - start);
        for (std::size_t j = 0; j < n; ++j) ls[j] = l[at[start + j]];
        far_field_gradients(std::span<const double>(ls.data(), n), rho, weights, std::span<double>(us.data(), n),
                            std::span<double>(rhos.data(), n));
        for (std::size_t j = 0; j < n; ++j) {
            out.d_u[at[start + j]] = scale * us[j];
            out.d_rho[at[start + j]] = scale * rhos[j];
        }
    }
}

Gradient UniformDisk::gradient(double l, double rho) {
    switch (form(l, rho)) {
    case Form::limb:
        return {limb(rho), -HUGE_VAL, HUGE_VAL};
    case Form::unit:
        return {1.0, 0.0, 0.0};
    case Form::far: {
        Gradient g = far_field_gradient(l, rho, kUniformWeights);
        g.value = value(l, rho);
        return g;
    }
    case Form::closed:
        break;
    }
    if (l >= kGradientFarField) {
        Gradient g = far_field_gradient(l, rho, kUniformWeights);
        g.value = value(l, rho);
        return g;
    }
    const ClosedAll all = closed_all(l, rho);
    return {floored(all.value, l, rho), all.d_u, all.d_rho};
}

// As gradient() for the disk of radius r·ρ, the lens at l/r of its radius, with l − r given: the
// log singularity at l = r then sees l − r to its last bits, where l/r − 1 formed from the
// rounded l/r would keep only its absolute 1e-16.
Gradient UniformDisk::concentric_derivatives(double l, double r, double l_minus_r, double rho) {
    const double lr = l / r, rho_r = r * rho;
    if (l_minus_r == 0.0) return {NAN, -HUGE_VAL, HUGE_VAL};
    if ((lr + 1.0) * rho_r > kHugeLength) return {1.0, 0.0, 0.0};
    if (lr >= kGradientFarField) {
        Gradient g{NAN, 0.0, 0.0};
        ConcentricFarField(l, rho, gradient_terms_at(lr)).at(lr, rho_r, g.d_u, g.d_rho);
        return g;
    }
    const ClosedGradient t = closed_gradient(lr, l_minus_r / r, (l + r) / r, rho_r);
    return {NAN, t.d_u, t.d_rho};
}

void UniformDisk::concentric_derivatives(double l, double rho, std::span<const double> r,
                                         std::span<const double> l_minus_r, std::span<double> d_u,
                                         std::span<double> d_rho) {
#if VELMORA_LANES
    // The closed-form radii are gathered and taken in lanes, and so are the far-field ones, from the
    // position's shared polynomials (ConcentricFarField); the others (the lens on a concentric limb,
    // huge disks) one by one, as the scalar concentric_derivatives() takes them.
    constexpr std::size_t kChunk = 64;
    std::array<double, kChunk> ls, lm1s, lp1s, rhos, us, rho_parts;
    std::array<double, kChunk> far_ls, far_rhos, far_us, far_rho_parts;
    std::array<std::size_t, kChunk> where, far_where;
    const bool avx = lanes::has_avx();
    // The far-field polynomials, as many as the nearest far-field disk takes (the most of all).
    double nearest = HUGE_VAL;
    for (std::size_t k = 0; k < r.size(); ++k) {
        const double lr = l / r[k];
        if (lr >= kGradientFarField) nearest = std::min(nearest, lr);
    }
    std::optional<ConcentricFarField> far_field;  // made at the first far-field radius
    for (std::size_t start = 0; start < r.size(); start += kChunk) {
        const std::size_t end = std::min(r.size(), start + kChunk);
        std::size_t n = 0, far = 0;
        for (std::size_t k = start; k < end; ++k) {
            const double lr = l / r[k], rho_r = r[k] * rho;
            const bool regular = l_minus_r[k] != 0.0 && !((lr + 1.0) * rho_r > kHugeLength);
            if (regular && !(lr >= kGradientFarField)) {
                ls[n] = lr, lm1s[n] = l_minus_r[k] / r[k], lp1s[n] = (l + r[k]) / r[k], rhos[n] = rho_r;
                where[n] = k, ++n;
            } else if (regular) {
                far_ls[far] = lr, far_rhos[far] = rho_r, far_where[far] = k, ++far;
            } else {
                const Gradient g = concentric_derivatives(l, r[k], l_minus_r[k], rho);
                d_u[k] = g.d_u, d_rho[k] = g.d_rho;
            }
        }
        if (n > 0) {
            if (avx) {
                closed_gradients_avx(ls.data(), lm1s.data(), lp1s.data(), rhos.data(), us.data(), rho_parts.data(), n);
            } else {
                closed_gradients_sse2(ls.data(), lm1s.data(), lp1s.data(), rhos.data(), us.data(), rho_parts.data(), n);
            }
            for (std::size_t j = 0; j < n; ++j) d_u[where[j]] = us[j], d_rho[where[j]] = rho_parts[j];
        }
        if (far > 0) {
            if (!far_field) far_field.emplace(l, rho, gradient_terms_at(nearest));
            if (avx) {
                concentric_far_avx(*far_field, far_ls.data(), far_rhos.data(), far, far_us.data(), far_rho_parts.data());
            } else {
                concentric_far_sse2(*far_field, far_ls.data(), far_rhos.data(), far, far_us.data(), far_rho_parts.data());
            }
            for (std::size_t j = 0; j < far; ++j) d_u[far_where[j]] = far_us[j], d_rho[far_where[j]] = far_rho_parts[j];
        }
    }
#else
    for (std::size_t k = 0; k < r.size(); ++k) {
        const Gradient g = concentric_derivatives(l, r[k], l_minus_r[k], rho);
        d_u[k] = g.d_u, d_rho[k] = g.d_rho;
    }
#endif
}

CalcResult<Gradient> UniformDisk::checked_gradient(double l) const {
    if (l == 1.0 && rho_ < 0.0) return Failure{messages::kEllippiM};  // as checked_value()
    return gradient(l, rho_);
}

CalcResult<GradientLists> witt_mao_magnification_gradient(std::vector<double> l, double re, double rstar) {
    const UniformDisk disk(re, rstar);
    const double rho = rstar / re;
    GradientLists out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions whose derivatives come from the series, taken together below
    for (std::size_t i = 0; i < l.size(); ++i) {
        const double li = l[i];
        if (interrupt::poll()) return interrupt::stopped();
        // As gradient() takes them: from kGradientFarField on, short of a magnification of 1.
        if (li >= UniformDisk::kGradientFarField && !((li + 1.0) * rho > kHugeLength)) {
            far_at.push_back(i);
            out.push_back({UniformDisk::value(li, rho), NAN, NAN});
            continue;
        }
        const CalcResult<Gradient> g = disk.checked_gradient(li);
        if (!g) return g.failure();
        out.push_back(*g);
    }
    UniformDisk::far_field_gradients_at(l, rho, kUniformWeights, 1.0, far_at, out);
    return out;
}

CalcResult<std::vector<double>> witt_mao_magnification(std::vector<double> l, double re, double rstar) {
    const UniformDisk disk(re, rstar);
    std::vector<double> out;
    out.reserve(l.size());
    for (const double li : l) {
        if (interrupt::poll()) return interrupt::stopped();
        const CalcResult<double> a = disk.checked_value(li);
        if (!a) return a.failure();
        out.push_back(*a);
    }
    return out;
}

}  // namespace velmora
