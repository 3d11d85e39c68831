#include "models/centroid.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <span>
#include <vector>

#include "models/centroid_far_field_series.hpp"
#include "models/interrupt.hpp"
#include "models/witt_mao.hpp"
#include "numerics/constants.hpp"
#include "numerics/ellip/cel.hpp"
#include "numerics/extended/double_double.hpp"
#include "numerics/lanes.hpp"
#include "numerics/messages.hpp"

namespace velmora {
namespace {

using extended::DoubleDouble;

// The closed form.
//
// A source point at distance s from the lens has two images, at (s ± √(s² + 4))/2 along the unit
// vector to the point, with magnifications (A ± 1)/2, A(s) = (s² + 2)/(s√(s² + 4)) (Paczyński 1986,
// ApJ 304, 1, eqs. 6–9); their magnification-weighted sum of positions is
// g(s) = (As + √(s² + 4))/2 = (s² + 3)/√(s² + 4), bounded at s = 0. With the lens
// at the origin and the disk centred at (u, 0), u = lρ, the shift is
//   shift = N/M − u,   N = ∫_disk g(s)·x/s dA,   M = ∫_disk A(s) dA,
// x the point's coordinate along the axis. Since g(s)·x̂ = ∇h with h' = g, N = ∮ h·n_x dl, and an
// integration by parts in the polar angle θ about the disk centre gives
//   N = uρ² ∫₀^2π g(s)·sin²θ/s dθ;
// M = ∮ ∂_nΦ dl with A = ΔΦ, Φ' = √(s² + 4)/2. Both are integrals of R(s²)/(s√(s² + 4)) over θ.
// With θ = 2φ, x = sin²φ the square root is that of x(1 − x)(1 − nx)(1 − n'x), n = 4uρ/(u + ρ)²,
// n' = 4uρ/((u + ρ)² + 4), and the Möbius map x = t/((1 − n') + n't), t = sin²ψ, takes it to the
// Legendre form: s² = σ(1 − mt)/P, s² + 4 = (σ + 4)/P, P = 1 + ct, with σ = (u + ρ)²,
// S² = (u − ρ)² + 4, c = 4uρ/S² and m = 4c/σ the Witt–Mao modulus (1 − m = kc², the complement
// formed from the geometry as in models/witt_mao.cpp). Then (Δ = √(1 − m sin²ψ))
//   N = Λ·4ρc·J3,   J3 = ∫₀^{π/2} t(1 − t)(B − ct)/P³ dψ/Δ,   B = σ + 3,
//   M = Λ·J2,       J2 = ∫₀^{π/2} [a(1 − t) + bt]/P² dψ/Δ,   a = 2ρ(u + ρ), b = 2ρ(ρ − u)(σ + 4)/S²,
// with Λ = (σ + 4)/((u + ρ)S), which cancels: shift = 4ρc·J3/J2 − u.
// The powers of P are derivatives in Bulirsch's p = 1 + c of his general complete integral
// (numerics/ellip/cel.hpp): with C(p) = cel(kc, p, 1, 0), E(p) = cel(kc, p, 0, 1),
//   J3 = −B·C' − (B + 1)·c·C''/2,   J2 = a·(C + cC') + b·(E + cE'),
// and the derivatives are carried through Bulirsch's iteration as truncated Taylor series in p
// (each pass is an analytic function of p; the number of passes depends on kc alone). Every
// integrand above is non-negative or a difference of bounded, comparable terms: no cancellation
// of large terms until the last subtraction of u, which loses about log10(u/|shift|) digits (~ρ²
// inside a large disk, u² beyond it, all of them at the limb, where the shift vanishes). The
// factored form below avoids it; where that form's own difference cancels, the closed form keeps
// its digits, and the same steps in double-double arithmetic are the last resort.

template <class T>
struct Jet {  // value and first two derivatives in p
    T v{}, d1{}, d2{};
};

template <class T>
Jet<T> operator+(const Jet<T>& x, const Jet<T>& y) {
    return {x.v + y.v, x.d1 + y.d1, x.d2 + y.d2};
}

template <class T>
Jet<T> operator*(const Jet<T>& x, const Jet<T>& y) {
    return {x.v * y.v, x.d1 * y.v + x.v * y.d1, x.d2 * y.v + T(2.0) * (x.d1 * y.d1) + x.v * y.d2};
}

template <class T>
Jet<T> operator*(const T& k, const Jet<T>& x) {
    return {k * x.v, k * x.d1, k * x.d2};
}

template <class T>
Jet<T> reciprocal(const Jet<T>& x) {
    const T r = T(1.0) / x.v;
    const T r2 = r * r;
    return {r, -(x.d1 * r2), T(2.0) * (x.d1 * x.d1) * (r2 * r) - x.d2 * r2};
}

double magnitude(double x) { return std::fabs(x); }
DoubleDouble magnitude(const DoubleDouble& x) { return extended::abs(x); }
double root(double x) { return std::sqrt(x); }
DoubleDouble root(const DoubleDouble& x) { return extended::sqrt(x); }
double leading(double x) { return x; }
double leading(const DoubleDouble& x) { return x.hi; }

// The AGM stopping gap: cel_detail::kGap gives ~1e-17 relative in double; the double-double results
// need the gap's square over 8 below 1e-32, one pass more.
template <class T>
constexpr double kStopGap = cel_detail::kGap;
template <>
constexpr double kStopGap<DoubleDouble> = 1e-16;

// C, C', C'' and E, E' at p (above): Bulirsch's cel iteration (cel.hpp, its p > 0 branch) with
// (a, b) = (1, 0) and (0, 1) side by side, a, b, p carried as Taylor series in p and the AGM terms
// (functions of kc alone) as plain numbers. The common factor π/2 is left out (it cancels).
template <class T>
struct CentroidIntegrals {
    Jet<T> c, e;
};

template <class T>
CentroidIntegrals<T> integrals(T kc, T p0) {
    const T sqrt_p0 = root(p0);
    Jet<T> p{sqrt_p0, T(0.5) / sqrt_p0, T(-0.25) / (sqrt_p0 * p0)};
    Jet<T> a1{T(1.0)}, b1{};
    Jet<T> a2{}, b2 = reciprocal(p);
    T qc = magnitude(kc);
    T e = qc;
    T em(1.0);
    for (int pass = 0; pass < cel_detail::kMaxPasses; ++pass) {
        const Jet<T> inv_p = reciprocal(p);
        const Jet<T> g = e * inv_p;
        const Jet<T> twice1 = b1 + a1 * g;
        const Jet<T> twice2 = b2 + a2 * g;
        a1 = a1 + b1 * inv_p;
        a2 = a2 + b2 * inv_p;
        b1 = T(2.0) * twice1;
        b2 = T(2.0) * twice2;
        p = p + g;
        const T old_em = em;
        em = em + qc;
        if (!(std::fabs(leading(old_em - qc)) > leading(old_em) * kStopGap<T>)) break;
        qc = root(e);
        qc = qc + qc;
        e = qc * em;
    }
    const Jet<T> em_jet{em};
    const Jet<T> scale = reciprocal(em * (em_jet + p));
    return {(b1 + em * a1) * scale, (b2 + em * a2) * scale};
}

template <class T>
T shift_closed(double l_in, double rho_in) {
    const T l(l_in), rho(rho_in);
    const T u = l * rho;
    const T d = u - rho;
    const T sum = u + rho;
    const T sigma = sum * sum;
    const T big_s2 = d * d + T(4.0);
    const T c = T(4.0) * u * (rho / big_s2);
    const T sigma4 = sigma + T(4.0);
    const T kc = magnitude(l - T(1.0)) / (l + T(1.0)) * root(sigma4 / big_s2);
    const CentroidIntegrals<T> w = integrals(kc, T(1.0) + c);
    const T b_big = sigma + T(3.0);
    const T j3 = -(b_big * w.c.d1) - (b_big + T(1.0)) * c * w.c.d2 * T(0.5);
    const T a = T(2.0) * rho * sum;
    const T b = T(2.0) * rho * (rho - u) * (sigma4 / big_s2);
    const T j2 = a * (w.c.v + c * w.c.d1) + b * (w.e.v + c * w.e.d1);
    return T(4.0) * rho * c * (j3 / j2) - u;
}

// The factored form.
//
// The images' centroid excess splits as g(s)·x/s − u·A(s) = A(s)·(x − u) + x/(s√(s² + 4)), since
// g(s)/s − A(s) = 1/(s√(s² + 4)). Over the disk the second term is ∮ asinh(s/2)·n_x dl, i.e.
// uρ²·I[1] after the integration by parts above, I[R] = ∫₀^2π R(s²)·sin²θ/(s√(s² + 4)) dθ. In the
// first, A − 1 = ΔΦ₁ with Φ₁' = (√(s² + 4) − s)/2 (the 1 integrates to 0 against x − u), and Green's
// identity with two integrations by parts in θ gives −uρ²·I[1 + (ρ² − u²)/s²]. The two I[1] cancel
// exactly, before any rounding, and
//   shift·M = uρ²·(u² − ρ²)·I[1/s²],
// one integral of a positive integrand with the sign change at the limb a factor of its own. In the
// Legendre form above, 1/s² = P/(σ(1 − mt)), so uρ²·I[1/s²] = Λ·(4ρc/σ)·J4 with
//   J4 = ∫₀^{π/2} t(1 − t)/(P·(1 − mt)) dψ/Δ = (C(kc²) − C(1 + c))/(c + m),
// the divided difference of C(p) = cel(kc, p, 1, 0) between 1 − m = kc² and 1 + c (1 − mt = Δ² is
// the P of p = kc²). With m = 4c/σ,
//   shift = 4ρ·(u − ρ)(u + ρ)·(C(kc²) − C(1 + c))/((σ + 4)·J2),
// u − ρ formed as (l − 1)ρ. The difference of the two C loses about C(kc²)/(C(kc²) − C(1 + c)) of
// its digits, which is large only where c + m is small: the lens near the centre of a small disk,
// where the closed form keeps its digits (value() picks by the two estimates).
struct FactoredShift {
    double value;
    double loss;  // C(kc²)/(C(kc²) − C(1 + c)), the rounding's amplification by the difference
};

FactoredShift shift_factored(double l, double rho) {
    const double u = l * rho;
    const double d = (l - 1.0) * rho;
    const double sum = u + rho;
    const double sigma = sum * sum;
    const double big_s2 = d * d + 4.0;
    const double c = 4.0 * u * (rho / big_s2);
    const double sigma4 = sigma + 4.0;
    const double kc = std::fabs(l - 1.0) / (l + 1.0) * std::sqrt(sigma4 / big_s2);
    // Bartky's passes (numerics/ellip/cel.hpp) for three integrals that share the AGM of kc:
    // C(p) and E(p) = cel(kc, p, 0, 1) at p = 1 + c with their first derivatives in p, carried as
    // (value, derivative) pairs, and C at p = kc² (√p = kc). The common factor π/2 is left out.
    const double sqrt_p0 = std::sqrt(1.0 + c);
    double p = sqrt_p0, dp = 0.5 / sqrt_p0;
    double a1 = 1.0, da1 = 0.0, b1 = 0.0, db1 = 0.0;
    double a2 = 0.0, da2 = 0.0, b2 = 1.0 / p, db2 = -dp / (p * p);
    double q = kc, a3 = 1.0, b3 = 0.0;
    double qc = kc, e = kc, em = 1.0;
    for (int pass = 0; pass < cel_detail::kMaxPasses; ++pass) {
        const double inv = 1.0 / p;
        const double dinv = -dp * inv * inv;
        const double g = e * inv, dg = e * dinv;
        const double t1 = b1 + a1 * g, dt1 = db1 + da1 * g + a1 * dg;
        const double t2 = b2 + a2 * g, dt2 = db2 + da2 * g + a2 * dg;
        a1 += b1 * inv, da1 += db1 * inv + b1 * dinv;
        a2 += b2 * inv, da2 += db2 * inv + b2 * dinv;
        b1 = 2.0 * t1, db1 = 2.0 * dt1;
        b2 = 2.0 * t2, db2 = 2.0 * dt2;
        p += g, dp += dg;
        const double inv3 = 1.0 / q;
        const double g3 = e * inv3;
        const double t3 = b3 + a3 * g3;
        a3 += b3 * inv3;
        b3 = 2.0 * t3;
        q += g3;
        const double old_em = em;
        em += qc;
        if (!(std::fabs(old_em - qc) > old_em * cel_detail::kGap)) break;
        qc = std::sqrt(e);
        qc += qc;
        e = qc * em;
    }
    // cel = (b + a·em)/(em·(em + p)), and its derivative through a, b and p.
    const double inv_den = 1.0 / (em * (em + p));
    const double cv = (b1 + em * a1) * inv_den;
    const double cd = (db1 + em * da1) * inv_den - cv * dp / (em + p);
    const double ev = (b2 + em * a2) * inv_den;
    const double ed = (db2 + em * da2) * inv_den - ev * dp / (em + p);
    const double c_low = (b3 + em * a3) / (em * (em + q));
    const double a = 2.0 * rho * sum;
    const double b = -2.0 * rho * d * (sigma4 / big_s2);
    const double j2 = a * (cv + c * cd) + b * (ev + c * ed);
    const double diff = c_low - cv;
    return {4.0 * rho * d * sum * diff / (sigma4 * j2), c_low / diff};
}

// The far-field series (scripts/centroid_far_field_series.py): R_k by Horner's rule.
using namespace centroid_far_field_series;
constexpr std::span<const double> kR[] = {kR1, kR2, kR3, kR4, kR5, kR6, kR7, kR8, kR9, kR10, kR11, kR12};
static_assert(std::size(kR) == kCentroidFarFieldTerms && kCentroidFarFieldTerms == UniformDisk::kFarFieldTerms);

// How many terms at l: the first omitted term, max over z ∈ [0, 1] of |R_k(z)| times l^-2k, stays
// below 1e-20 relative from l = 16 on and below 1e-17 from l = 4 on; between 3 and 4 all twelve
// terms, the 13th below 1.8e-14 at l = 3. The maxima (40 digits on 401 values of z, k = 1..13):
// 0.625, 0.246, 0.169, 0.131, 0.108, 0.0925, 0.0809, 0.072, 0.0648, 0.059, 0.0542, 0.0502, 0.0466.
// (A law's k-th term is also times its weight (k + 1)μ_k/μ_0, below 1 for the usual laws.)
struct TermsFrom {
    double l;
    std::size_t terms;
};
constexpr TermsFrom kTermsFrom[] = {{1e6, 2}, {2e3, 3}, {200.0, 4}, {70.0, 5}, {32.0, 6}, {10.0, 7},
                                    {7.6, 8},  {6.2, 9}, {5.2, 10},  {4.6, 11}};

std::size_t terms_at(double l) {
    for (const TermsFrom& step : kTermsFrom) {
        if (l >= step.l) return step.terms;
    }
    return kCentroidFarFieldTerms;
}

// The series' shift at l with the given weights (the first `terms` of them) and magnification; V is
// double or a vector of positions (numerics/lanes.hpp), `weights` then one vector per term.
template <class V, class W>
[[gnu::always_inline]] inline V series_shift(V l, double rho, const W* weights, std::size_t terms, V magnification) {
    const V u = l * rho;
    const V y = 1.0 / (l * l);
    const V z = 4.0 / (u * u + 4.0);
    V sum = lanes::broadcast(0.0, l);
    for (std::size_t k = terms; k-- > 0;) {
        const std::span<const double> q = kR[k];
        V acc = lanes::broadcast(q[0], l);
        for (std::size_t i = 1; i < q.size(); ++i) acc = acc * z + q[i];
        sum = y * (weights[k] * acc + sum);
    }
    // Past kHugeLength u² would overflow: 1/√(u² + 4) is 1/u there to double precision.
    const V inv_root = u > constants::kHugeLength ? 1.0 / u : 1.0 / lanes::vsqrt(u * u + 4.0);
    return (1.0 + sum) * inv_root / magnification;
}

// A source from this size on (Einstein radii) may take the leading terms of its shift, and beyond
// kExtendedLimit takes them everywhere (UniformDiskCentroid::value()).
constexpr double kLargeSource = 1e8;
constexpr double kLargeProfileSource = 1e7;
constexpr double kExtendedLimit = 1e10;

// The factored form's rounding error is at most 7.3ε times its loss times |shift| (measured against
// the double-double closed form on 47 000 points, ρ from 1e-6 to 1e4, l from 1e-10 to 3 and within
// 1e-13 of the limb): it serves wherever twice that bound is within the accuracy asked, which is
// everywhere but with the lens within ~3e-3 source radii of the centre of a disk of up to a few
// Einstein radii, where the closed form in doubles keeps its digits.
constexpr double kFactoredErrorFactor = 16.0 * constants::kEpsilon;

// Below this size of the extended form's estimated rounding error, relative to the accuracy asked
// of the shift (1e-12·|shift| + 1e-16·(u + ρ)), the double closed form is kept.
constexpr double kDoubleErrorFactor = 64.0 * constants::kEpsilon;

}  // namespace

// The leading terms are exact to relative order 2/ρ² and 1/(2δ²), δ = |1 − l|ρ the lens's distance
// from the limb in Einstein radii (the half-plane beyond a nearby limb takes ∫(A − 1) dA ≈ π/(2δ²)
// of the magnification's excess). The disk's factored form keeps its digits to ρ ~ 1e50 (its
// products of lengths overflow by 1e100); the leading terms, cheaper, take over wherever their own
// error, below 5e-15, is as small (δ ≥ 1e7 from ρ = 1e8), and everywhere beyond kExtendedLimit,
// where the ring's numerator, whose last subtraction of u loses ~ρ² of its digits, keeps none.
// Within a few Einstein radii of the limb of a source beyond kExtendedLimit they are off by O(1/ρ)
// (the shift changes sign across the limb), still within the accuracy asked, 1e-16·(u + ρ).
// A profile's leading terms are off by about 1.5·log(ρ)/ρ² and 5/δ² (large_source_shift()), below
// 1e-12 from ρ = 1e7 and δ = 3e6 on, where the ring route's numerator keeps ~1e-8.
bool leading_terms_serve(double l, double rho, bool profile) {
    if (!(rho >= (profile ? kLargeProfileSource : kLargeSource))) return false;
    return rho > kExtendedLimit || std::fabs(1.0 - l) * rho >= (profile ? 3e6 : 1e7);
}

double UniformDiskCentroid::closed_form(double l, double rho) { return shift_closed<double>(l, rho); }

double UniformDiskCentroid::closed_form_extended(double l, double rho) {
    return extended::to_double(shift_closed<DoubleDouble>(l, rho));
}

double UniformDiskCentroid::factored_form(double l, double rho) { return shift_factored(l, rho).value; }
double UniformDiskCentroid::factored_loss(double l, double rho) { return shift_factored(l, rho).loss; }

double centroid_far_field(double l, double rho, std::span<const double> weights, double magnification) {
    return series_shift(l, rho, weights.data(), terms_at(l), magnification);
}

#if VELMORA_LANES
namespace {

// centroid_far_field() for n positions in chunks of the vector's width, the last one padded. A lane
// that needs fewer terms than the chunk's most has the weights beyond its own set to 0, which keeps
// its sum exactly +0 until its first term: every lane is the scalar value bit for bit.
template <class V>
[[gnu::always_inline]] inline void shifts_in_lanes(const double* l, const double* magnification, std::size_t n,
                                                  double rho, const double* weights, double* out) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        const V lv = lanes::load<V>(l + i, count);
        std::size_t most = 0;
        std::array<V, kCentroidFarFieldTerms> w;
        for (int j = 0; j < lanes::kWidth<V>; ++j) {
            const std::size_t terms = terms_at(lv[j]);
            most = std::max(most, terms);
            for (std::size_t k = 0; k < kCentroidFarFieldTerms; ++k) w[k][j] = k < terms ? weights[k] : 0.0;
        }
        lanes::store(series_shift(lv, rho, w.data(), most, lanes::load<V>(magnification + i, count)), out + i, count);
    }
}

VELMORA_AVX void shifts_avx(const double* l, const double* magnification, std::size_t n, double rho,
                            const double* weights, double* out) {
    shifts_in_lanes<lanes::Lanes4>(l, magnification, n, rho, weights, out);
}

void shifts_sse2(const double* l, const double* magnification, std::size_t n, double rho, const double* weights,
                 double* out) {
    shifts_in_lanes<lanes::Lanes2>(l, magnification, n, rho, weights, out);
}

}  // namespace
#endif

void centroid_far_fields_at(const std::vector<double>& l, double rho, std::span<const double> weights,
                            std::span<const std::size_t> at, std::vector<double>& out) {
    std::vector<double> ls(at.size()), magnifications(at.size()), shifts(at.size());
    for (std::size_t k = 0; k < at.size(); ++k) ls[k] = l[at[k]], magnifications[k] = out[at[k]];
#if VELMORA_LANES
    if (lanes::has_avx()) {
        shifts_avx(ls.data(), magnifications.data(), at.size(), rho, weights.data(), shifts.data());
    } else {
        shifts_sse2(ls.data(), magnifications.data(), at.size(), rho, weights.data(), shifts.data());
    }
#else
    for (std::size_t k = 0; k < at.size(); ++k) shifts[k] = centroid_far_field(ls[k], rho, weights, magnifications[k]);
#endif
    for (std::size_t k = 0; k < at.size(); ++k) out[at[k]] = shifts[k];
}

double UniformDiskCentroid::far_field(double l, double rho) {
    static constexpr double kOnes[kCentroidFarFieldTerms] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0,
                                                             1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    return centroid_far_field(l, rho, kOnes, UniformDisk::value(l, rho));
}

double UniformDiskCentroid::value(double l, double rho) {
    if (l == 1.0) return 0.0;  // the lens on the limb: the shift changes sign there (checked at 30 digits)
    if (l >= kFarField) return far_field(l, rho);
    if (rho > 0.0 && rho < kScaleFreeRadius) return value(l, kScaleFreeRadius) * (rho / kScaleFreeRadius);
    // A disk far larger than the Einstein ring: the leading terms, −u/ρ² inside and 1/u outside
    // (leading_terms_serve()).
    if (leading_terms_serve(l, rho)) return l < 1.0 ? -l / rho : 1.0 / (l * rho);
    const double u = l * rho;
    const FactoredShift factored = shift_factored(l, rho);
    if (kFactoredErrorFactor * factored.loss * std::fabs(factored.value) <=
        1e-12 * std::fabs(factored.value) + 1e-16 * (u + rho)) {
        return factored.value;
    }
    const double fast = closed_form(l, rho);
    const double asked = 1e-12 * std::fabs(fast) + 1e-16 * (u + rho);
    if (kDoubleErrorFactor * (u + std::fabs(fast)) <= asked) return fast;
    return closed_form_extended(l, rho);
}

CalcResult<std::vector<double>> witt_mao_centroid_shift(std::vector<double> l, double re, double rstar) {
    const double rho = rstar / re;
    std::vector<double> out;
    out.reserve(l.size());
    std::vector<std::size_t> far_at;  // the positions left to the far field, their magnifications in out
    for (const double li : l) {
        if (interrupt::poll()) return interrupt::stopped();
        // The same error as the magnification for a lens on the limb of a disk of negative radius.
        if (li == 1.0 && rho < 0.0) return Failure{messages::kEllippiM};
        if (li >= UniformDiskCentroid::kFarField) {
            far_at.push_back(out.size());
            out.push_back(UniformDisk::value(li, rho));  // far_field()'s magnification, bit for bit
            continue;
        }
        out.push_back(UniformDiskCentroid::value(li, rho));
    }
    static constexpr double kOnes[kCentroidFarFieldTerms] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0,
                                                             1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    centroid_far_fields_at(l, rho, kOnes, far_at, out);
    return out;
}

}  // namespace velmora
