#include "models/ring_centroid.hpp"

#include <array>
#include <cmath>
#include <cstddef>

#include "models/heyrovsky.hpp"
#include "numerics/constants.hpp"
#include "numerics/ellip/cel.hpp"
#include "numerics/lanes.hpp"

namespace velmora {
namespace {

// The variables are those of the uniform disk's closed form (models/centroid.cpp), with the ring's
// radius R = rρ for the disk's: σ = (u + R)², S² = (u − R)² + 4, c = 4uR/S², m = 4c/σ, kc = √(1 − m)
// formed from the geometry, t = sin²ψ, P = 1 + ct, Δ = √(1 − m t), and the angle about the source
// centre is θ with dθ = (2/√(1 − n')) dψ/P, √(1 − n') = S/√(σ + 4).
//
// The ring magnification. A(s) = (s² + 2)/(s√(s² + 4)) with s² = σ(1 − mt)/P and s² + 4 = (σ + 4)/P
// is (σ + 4 − 2P)/(√(σ(σ + 4))·Δ), so its mean over θ is
//   A = (2/(πS(u + R)))·[(σ + 4)·cel(kc, 1 + c, 1, 1) − 2K],
// and with C = cel(kc, 1 + c, 1, 0), E = cel(kc, 1 + c, 0, 1) and K = C + (1 + c)E:
//   A = (2/(πS(u + R)))·[(σ + 2)·C + (σ + 2 − 2c)·E] = (2/(πS(u + R)))·[(S² − 2)·K + 4uR·C],
// every term positive (σ + 2 − 2c ≥ σ/2 + 2, since 2c ≤ 2uR ≤ σ/2).
//
// The numerator Z = (1/2π)∮ [g(s)·x/s − u·A(s)] dθ, x the point's coordinate along the axis, is
//   Z = (1/(π(u + R)S⁵)) ∫₀^{π/2} (n₀ + n₁t + n₂t²)/P² dψ/Δ,
//   n₀ = 2S⁴(Rσ + 3R + u),  n₁ = −4RS²(R⁴ + 2R³u + 2R²u² + 7R² + 2Ru³ + 10Ru + u⁴ + 3u² + 12),
//   n₂ = 16R²u(R² + 3u² + 4)
// (the 1/u of x − u = (s² − u² − R²)/(2u) + … divides out of every coefficient), and with the
// derivatives in p = 1 + c of C and E, ∫(1 − t)²/P² = C + (1 + c)C', ∫t(1 − t)/P² = −C', ∫t²/P² = −E'.
// Near the lens on the ring (m → 1) that is accurate to a few ulps; as m → 0 the t-moments of 1/Δ
// tend to each other and the sum loses ~1/m. There the numerator is taken as
//   Z = u·[(1/2π)∮ dθ/(s√(s² + 4)) + R²·(1/2π)∮ f'(s)·sin²θ/s dθ],   f = g/s,  f' = −2(s² + 6)/(s²(s² + 4)^{3/2})
// (g·x/s − uA = u(f − A) + R·f·cos θ, and ∮ f(s) cos θ dθ = uR∮ f'(s) sin²θ/s dθ by parts), i.e.
//   Z = 2uK/(π(u + R)S) − 4Rc/(π(u + R)Sσ) · I,   I = ∫₀^{π/2} [(σ + 6) + 2ct]·t(1 − t)/(PΔ³) dψ,
// two terms with an explicit factor u and non-negative integrands, and I = 2∂_m F with
//   F = ∫₀^{π/2} [(σ + 4)(1 − t)/P + 2(1 − t)] dψ/Δ = (σ + 4)·cel(kc, 1 + c, 1, 0) + 2·cel(kc, 1, 1, 0)
// (c, σ held fixed: ∂_m Δ^-1 = t/(2Δ³)); the derivative in kc (∂_m = −∂_kc/(2kc)) is carried through
// Bulirsch's iteration as a dual number. That derivative is ill-conditioned as kc → 0 (terms of size
// kc^-1/2 cancel to ~kc·log kc), the other form's trouble is m → 0: the switch at m = 1/2 keeps each
// where it loses at most a factor ~2. Both forms give A from the same passes.
//
// Each form is a template over its arithmetic type (numerics/lanes.hpp): one radius, or several of
// one lens position side by side, the same operations in every lane.

// A value and its derivative in one variable.
template <class V>
struct Dual {
    V v, d;
};
template <class V>
[[gnu::always_inline]] inline Dual<V> operator+(const Dual<V>& x, const Dual<V>& y) {
    return {x.v + y.v, x.d + y.d};
}
template <class V>
[[gnu::always_inline]] inline Dual<V> operator*(const Dual<V>& x, const Dual<V>& y) {
    return {x.v * y.v, x.d * y.v + x.v * y.d};
}
template <class V>
[[gnu::always_inline]] inline Dual<V> times(V k, const Dual<V>& x) {
    return {k * x.v, k * x.d};
}
template <class V>
[[gnu::always_inline]] inline Dual<V> reciprocal(const Dual<V>& x) {
    const V r = 1.0 / x.v;
    return {r, -(x.d * (r * r))};
}
template <class V>
[[gnu::always_inline]] inline Dual<V> quotient(const Dual<V>& x, const Dual<V>& y) {
    const V r = 1.0 / y.v;
    return {x.v * r, (x.d * y.v - x.v * y.d) * (r * r)};
}
template <class V>
[[gnu::always_inline]] inline Dual<V> root(const Dual<V>& x) {
    const V r = lanes::vsqrt(x.v);
    return {r, x.d / (2.0 * r)};
}
// The live lanes take x, the others keep y.
template <class V, class Live>
[[gnu::always_inline]] inline Dual<V> select(const Live& live, const Dual<V>& x, const Dual<V>& y) {
    return {live ? x.v : y.v, live ? x.d : y.d};
}

// The geometry of a ring of radius R = rρ with the lens at u = lρ (Einstein radii). u − R is formed
// as (l − r)·ρ, exact to an ulp next to the ring (u and R rounded first would leave it ~1e-16·u off,
// all of it when the lens is 1e-13 from the ring).
template <class V>
struct Geometry {
    V big_r, sum, sigma, big_s2, big_s, c, kc;
};

template <class V>
[[gnu::always_inline]] inline Geometry<V> geometry(double l, double rho, V r) {
    using lanes::vabs, lanes::vsqrt;
    const double u = l * rho;
    const V big_r = r * rho;
    const V d = (l - r) * rho;
    const V sum = (l + r) * rho;
    const V sigma = sum * sum;
    const V big_s2 = d * d + 4.0;
    const V c = 4.0 * u * (big_r / big_s2);
    const V kc = vabs(d) / sum * vsqrt((sigma + 4.0) / big_s2);
    return {big_r, sum, sigma, big_s2, vsqrt(big_s2), c, kc};
}

// Whether the radius takes the form for m ≥ 1/2: m = 16uR/(σS²), compared without dividing.
bool near_form(double l, double rho, double r) {
    const double sum = (l + r) * rho, d = (l - r) * rho;
    return 32.0 * (l * rho) * (r * rho) >= (sum * sum) * (d * d + 4.0);
}

// The form for m ≥ 1/2: C, C', E, E' by Bulirsch's cel iteration (numerics/ellip/cel.hpp, its p > 0
// branch) with (a, b) = (1, 0) and (0, 1) side by side, a, b, p carried as dual numbers in p and the
// AGM terms (functions of kc alone) as plain numbers. The common factor π/2 of cel is left out.
template <class V>
[[gnu::always_inline]] inline void near_lane_values(double l, double rho, V r, V& magnification, V& numerator) {
    const Geometry<V> g = geometry(l, rho, r);
    const double u = l * rho;
    const V big_r = g.big_r;
    const V one = lanes::broadcast(1.0, big_r), zero = lanes::broadcast(0.0, big_r);
    const V sqrt_p0 = lanes::vsqrt(1.0 + g.c);
    Dual<V> p{sqrt_p0, 0.5 / sqrt_p0};
    Dual<V> a1{one, zero}, b1{zero, zero};
    Dual<V> a2{zero, zero}, b2 = reciprocal(p);
    const V em = agm_passes(g.kc, [&](const auto& live, V e, V, V) __attribute__((always_inline)) {
        const Dual<V> inv_p = reciprocal(p);
        const Dual<V> step = times(e, inv_p);
        const Dual<V> twice1 = b1 + a1 * step;
        const Dual<V> twice2 = b2 + a2 * step;
        a1 = select(live, a1 + b1 * inv_p, a1);
        a2 = select(live, a2 + b2 * inv_p, a2);
        b1 = select(live, twice1 + twice1, b1);
        b2 = select(live, twice2 + twice2, b2);
        p = select(live, p + step, p);
    });
    const Dual<V> scale = reciprocal(times(em, Dual<V>{em + p.v, p.d}));
    const Dual<V> cc = (b1 + times(em, a1)) * scale;
    const Dual<V> ee = (b2 + times(em, a2)) * scale;
    const V big_r2 = big_r * big_r, u2 = lanes::broadcast(u * u, big_r), s4 = g.big_s2 * g.big_s2;
    const V n0 = 2.0 * s4 * (big_r * g.sigma + 3.0 * big_r + u);
    const V n1 = -4.0 * big_r * g.big_s2 *
                 (big_r2 * big_r2 + 2.0 * big_r2 * big_r * u + 2.0 * big_r2 * u2 + 7.0 * big_r2 +
                  2.0 * big_r * u2 * u + 10.0 * big_r * u + u2 * u2 + 3.0 * u2 + 12.0);
    const V n2 = 16.0 * big_r2 * u * (big_r2 + 3.0 * u2 + 4.0);
    const V total = n0 * (cc.v + (1.0 + g.c) * cc.d) - (2.0 * n0 + n1) * cc.d - (n0 + n1 + n2) * ee.d;
    // With the factor π/2 left out of C and E: Z = (π/2)·total/(π(u + R)S⁵), A as above.
    numerator = total / (2.0 * g.sum * s4 * g.big_s);
    magnification = ((g.sigma + 2.0) * cc.v + ((g.sigma + 2.0) - 2.0 * g.c) * ee.v) / (g.big_s * g.sum);
}

// The form for m < 1/2: cel(kc, p, 1, 0) and cel(kc, 1, 1, 0) with their derivatives in kc (the AGM
// terms dual numbers in kc; besides the terms themselves their derivatives must agree before a lane
// stops), and K = cel(kc, 1, 1, 1) (its p stays em: cel.hpp's pair).
template <class V>
[[gnu::always_inline]] inline void far_lane_values(double l, double rho, V r, V& magnification, V& numerator) {
    using lanes::any, lanes::vabs;
    const Geometry<V> g = geometry(l, rho, r);
    const double u = l * rho;
    const V big_r = g.big_r;
    const V one = lanes::broadcast(1.0, big_r), zero = lanes::broadcast(0.0, big_r);
    const Dual<V> kc{g.kc, one};
    Dual<V> p{lanes::vsqrt(1.0 + g.c), zero}, a{one, zero}, b{zero, zero};
    Dual<V> p1{one, zero}, a1{one, zero}, b1{zero, zero};
    V ak = one, bk = one;
    Dual<V> qc = kc, e = kc, em{one, zero};
    auto live = one == one;
    for (int pass = 0; pass < cel_detail::kMaxPasses; ++pass) {
        const Dual<V> step = quotient(e, p), step1 = quotient(e, p1);
        const Dual<V> twice = b + a * step, twice1 = b1 + a1 * step1;
        a = select(live, a + quotient(b, p), a);
        a1 = select(live, a1 + quotient(b1, p1), a1);
        b = select(live, twice + twice, b);
        b1 = select(live, twice1 + twice1, b1);
        p = select(live, p + step, p);
        p1 = select(live, p1 + step1, p1);
        const V twice_k = bk + ak * qc.v;
        ak = live ? ak + bk / em.v : ak;
        bk = live ? twice_k + twice_k : bk;
        const Dual<V> old_em = em;
        em = select(live, em + qc, em);
        // Written as "above" so that a NaN gap ends the lane.
        const auto values = vabs(old_em.v - qc.v) > old_em.v * cel_detail::kGap;
        const auto slopes = vabs(old_em.d - qc.d) > vabs(old_em.d) * cel_detail::kGap;
        live = live && (values | slopes);
        if (!any(live)) break;
        qc = times(lanes::broadcast(2.0, big_r), root(e));
        e = qc * em;
    }
    const Dual<V> at_p = quotient(b + a * em, em * (em + p));
    const Dual<V> at_one = quotient(b1 + a1 * em, em * (em + p1));
    const V k = (bk + ak * em.v) / (em.v * (em.v + em.v));
    // The factor π/2 of cel is left out of at_p, at_one and k above, and put back here.
    const V df_dkc = (g.sigma + 4.0) * at_p.d + 2.0 * at_one.d;
    const V i = constants::kHalfPi * (2.0 * (df_dkc * (-0.5 / g.kc)));
    const V first = u * k / (g.sum * g.big_s);
    const V second = 4.0 * big_r * g.c / (constants::kPi * g.sum * g.big_s * g.sigma) * i;
    numerator = first - second;
    magnification = ((g.big_s2 - 2.0) * k + 4.0 * u * big_r * at_p.v) / (g.big_s * g.sum);
}

// The radii that neither form takes: true, with their values in `out`.
bool special(double l, double r, double rho, RingPair& out) {
    const double u = l * rho, big_r = r * rho;
    if (u == 0.0) {
        // The lens at the centre: every point of the ring at s = R, and Z = 0 by symmetry.
        // (1 to double precision past kHugeLength, where R² would overflow)
        const double a = big_r == 0.0                      ? HUGE_VAL
                         : big_r > constants::kHugeLength ? 1.0
                                                          : (big_r * big_r + 2.0) / (big_r * std::sqrt(big_r * big_r + 4.0));
        out = {a, 0.0};
        return true;
    }
    if (l == r) {
        out = {HUGE_VAL, -HUGE_VAL};  // the lens on the ring
        return true;
    }
    if (u + big_r > 1e60) {
        // Leading terms of Z, below 1e-60; the magnification by the ring function, which scales.
        out = {heyrovsky_magnification(l, r, 1.0, rho).value_or(NAN), u > big_r ? 1.0 / u : -u / (big_r * big_r)};
        return true;
    }
    return false;
}

RingPair one_pair(double l, double r, double rho) {
    double a = 0.0, z = 0.0;
    if (near_form(l, rho, r)) {
        near_lane_values(l, rho, r, a, z);
    } else {
        far_lane_values(l, rho, r, a, z);
    }
    return {a, z};
}

#if VELMORA_LANES
// One form over the radii r[at[0..n)], in chunks of the vector's width (the last padded with
// its last radius), the results written to a[at[k]], z[at[k]].
template <class V, bool Near>
[[gnu::always_inline]] inline void form_in_lanes(double l, double rho, const double* r, const std::size_t* at, std::size_t n,
                                                double* a, double* z) {
    constexpr std::size_t width = lanes::kWidth<V>;
    for (std::size_t i = 0; i < n; i += width) {
        const std::size_t count = n - i < width ? n - i : width;
        std::array<double, width> in{}, out_a{}, out_z{};
        for (std::size_t j = 0; j < count; ++j) in[j] = r[at[i + j]];
        V va, vz;
        if constexpr (Near) {
            near_lane_values(l, rho, lanes::load<V>(in.data(), count), va, vz);
        } else {
            far_lane_values(l, rho, lanes::load<V>(in.data(), count), va, vz);
        }
        lanes::store(va, out_a.data(), count);
        lanes::store(vz, out_z.data(), count);
        for (std::size_t j = 0; j < count; ++j) a[at[i + j]] = out_a[j], z[at[i + j]] = out_z[j];
    }
}

template <class V>
[[gnu::always_inline]] inline void forms_in_lanes(double l, double rho, const double* r, const std::size_t* near,
                                                 std::size_t near_count, const std::size_t* far, std::size_t far_count,
                                                 double* a, double* z) {
    form_in_lanes<V, true>(l, rho, r, near, near_count, a, z);
    form_in_lanes<V, false>(l, rho, r, far, far_count, a, z);
}

VELMORA_AVX void forms_avx(double l, double rho, const double* r, const std::size_t* near, std::size_t near_count,
                           const std::size_t* far, std::size_t far_count, double* a, double* z) {
    forms_in_lanes<lanes::Lanes4>(l, rho, r, near, near_count, far, far_count, a, z);
}

void forms_sse2(double l, double rho, const double* r, const std::size_t* near, std::size_t near_count,
                const std::size_t* far, std::size_t far_count, double* a, double* z) {
    forms_in_lanes<lanes::Lanes2>(l, rho, r, near, near_count, far, far_count, a, z);
}
#endif

}  // namespace

RingPair ring_pair(double l, double r, double rho) {
    RingPair out;
    if (special(l, r, rho, out)) return out;
    return one_pair(l, r, rho);
}

void ring_pairs(double l, double rho, std::span<const double> r, std::span<double> magnification,
                std::span<double> numerator) {
#if VELMORA_LANES
    // Blocks of radii, each sorted into the two forms (the special radii taken at once), each form
    // then run in lanes.
    constexpr std::size_t kBlock = 64;
    std::array<std::size_t, kBlock> near, far;
    for (std::size_t start = 0; start < r.size(); start += kBlock) {
        const std::size_t n = r.size() - start < kBlock ? r.size() - start : kBlock;
        std::size_t near_count = 0, far_count = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const double rk = r[start + k];
            RingPair one;
            if (special(l, rk, rho, one)) {
                magnification[start + k] = one.magnification, numerator[start + k] = one.numerator;
            } else if (near_form(l, rho, rk)) {
                near[near_count++] = k;
            } else {
                far[far_count++] = k;
            }
        }
        const double* radii = r.data() + start;
        double* a = magnification.data() + start;
        double* z = numerator.data() + start;
        if (lanes::has_avx()) {
            forms_avx(l, rho, radii, near.data(), near_count, far.data(), far_count, a, z);
        } else {
            forms_sse2(l, rho, radii, near.data(), near_count, far.data(), far_count, a, z);
        }
    }
#else
    for (std::size_t k = 0; k < r.size(); ++k) {
        const RingPair one = ring_pair(l, r[k], rho);
        magnification[k] = one.magnification, numerator[k] = one.numerator;
    }
#endif
}

}  // namespace velmora
