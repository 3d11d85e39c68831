// Bulirsch's general complete elliptic integral
//
//   cel(kc, p, a, b) = ∫₀^{π/2} (a cos²θ + b sin²θ) / ((cos²θ + p sin²θ) √(cos²θ + kc² sin²θ)) dθ
//
// R. Bulirsch, "Numerical calculation of elliptic integrals and elliptic functions. III",
// Numer. Math. 13 (1969) 305–315, procedure cel; written here from that paper (its p > 0 branch).
// Bulirsch's iteration is Bartky's transformation: with e = kc, em = 1, b := b/√p, p := √p, each pass
//   f := a;  a := a + b/p;  g := e/p;  b := 2(b + f·g);  p := p + g;  g := em;  em := em + kc,
// and, unless |g − kc| ≤ g·ca, kc := 2√e and e := kc·em for the next pass; then
//   cel = (π/2)·(b + a·em)/(em·(em + p)).
// The arrangement below is this program's own: one reciprocal of p per pass where the paper divides
// twice (so the roundings are those of a·(1/p), not a/p), the AGM terms kc, e, em shared by several
// integrals, and lanes run side by side.
//
// It takes the complementary modulus kc = √(1 − m) and p = 1 − n directly, so callers that know
// the complements exactly (the magnification models form them from the geometry) never round
// m or n near 1:
//   K(m) = cel(kc, 1, 1, 1),  E(m) = cel(kc, 1, 1, kc²),  Π(n, m) = cel(kc, 1 − n, 1, 1),
// and any combination αK + βΠ is one call, cel(kc, p, α + β, αp + β). Every term of the iteration
// is positive for a, b ≥ 0, so nothing cancels. The convergence is that of the arithmetic-geometric
// mean of 1 and kc: quadratic, at most 7 passes for kc ≥ 1e-300 and kc ≤ 1.
#pragma once

#include <cmath>

#include "numerics/calc_result.hpp"
#include "numerics/constants.hpp"
#include "numerics/lanes.hpp"
#include "numerics/messages.hpp"

namespace velmora {

namespace cel_detail {

// Bulirsch's ca: stop when the two AGM terms agree to this relative gap. The next pass would shrink
// the gap to about its square over 8 (~3e-18), below the double rounding, so the last pass done is
// final (the paper takes ca as the square root of the machine precision).
constexpr double kGap = 1.5e-8;
// A cap on the passes; quadratic convergence needs ~7 at kc = 1e-300 and 5 at kc = 1e-16.
constexpr int kMaxPasses = 40;

}  // namespace cel_detail

// The loops below are templates over their arithmetic type (numerics/lanes.hpp): `double` for one
// integral, a vector of doubles for several side by side with the same operations in each lane.
// A lane whose AGM has converged keeps its values (selected, not updated) until the last lane is
// done, so every lane ends exactly where the scalar loop would have stopped for it.

// The AGM passes shared by the integrals below: the terms e, em and qc (Bulirsch's kc as the passes
// change it) depend on kc alone, and each pass first hands them to update(live, e, qc, em), which
// advances the integrals' own terms a, b, p in the live lanes, then advances em and stops each lane
// once em and qc agree. Returns the final em.
template <class V, class Update>
[[gnu::always_inline]] inline V agm_passes(V kc, Update&& update) {
    using lanes::any, lanes::vabs, lanes::vsqrt;
    V qc = vabs(kc);
    V e = qc;
    V em = lanes::broadcast(1.0, kc);
    auto live = em == em;
    for (int pass = 0; pass < cel_detail::kMaxPasses; ++pass) {
        update(live, e, qc, em);
        const V old_em = em;
        em = live ? em + qc : em;
        // Written as "above" so that a NaN gap ends the lane.
        live = live && (vabs(old_em - qc) > old_em * cel_detail::kGap);
        if (!any(live)) break;
        qc = vsqrt(e);
        qc = qc + qc;
        e = qc * em;
    }
    return em;
}

// cel with √p given instead of p (callers with p = (x/y)² pass x/y and save a square root),
// for kc ≠ 0 and √p > 0; a, b any reals. No domain checks: see cel() below.
template <class V>
[[gnu::always_inline]] inline V cel_sqrt_p_lanes(V kc, V sqrt_p, V a, V b) {
    V p = sqrt_p;
    b = b / p;
    const V em = agm_passes(kc, [&](const auto& live, V e, V, V) __attribute__((always_inline)) {
        const V inv_p = 1.0 / p;  // one division where the paper divides twice by p
        const V g = e * inv_p;
        const V twice = b + a * g;  // b + f·g, f the a before this pass
        a = live ? a + b * inv_p : a;
        b = live ? twice + twice : b;
        p = live ? p + g : p;
    });
    return constants::kHalfPi * (b + a * em) / (em * (em + p));
}

inline double cel_sqrt_p(double kc, double sqrt_p, double a, double b) { return cel_sqrt_p_lanes(kc, sqrt_p, a, b); }

// Two integrals with the same kc in one loop, for the uniform disk (a Π-type and an E/K-type
// combination at one parameter):
//   first  = cel(kc, p, a, b)   with √p = sqrt_p,
//   second = cel(kc, 1, a1, b1).
// For p = 1 the recurrence of p is that of em (both start at 1 and gain e/pp = qc per pass, as
// e = qc·em), so the second integral needs one division per pass; the first takes one reciprocal
// instead of two divisions. The values agree with two cel calls to rounding, not bit for bit.
template <class V>
struct CelPairOf {
    V first;
    V second;
};
using CelPair = CelPairOf<double>;

template <class V>
[[gnu::always_inline]] inline CelPairOf<V> cel_pair_lanes(V kc, V sqrt_p, V a, V b, V a1, V b1) {
    V p = sqrt_p;
    b = b / p;
    const V em = agm_passes(kc, [&](const auto& live, V e, V qc, V em_now) __attribute__((always_inline)) {
        const V inv_p = 1.0 / p;
        const V g = e * inv_p;
        const V twice = b + a * g;
        const V twice1 = b1 + a1 * qc;  // the second integral's p stays em, so its g is e/em = qc
        a = live ? a + b * inv_p : a;
        b = live ? twice + twice : b;
        p = live ? p + g : p;
        a1 = live ? a1 + b1 / em_now : a1;
        b1 = live ? twice1 + twice1 : b1;
    });
    const V scale = constants::kHalfPi / em;
    return {scale * (b + a * em) / (em + p), scale * (b1 + a1 * em) / (em + em)};
}

inline CelPair cel_pair(double kc, double sqrt_p, double a, double b, double a1, double b1) {
    return cel_pair_lanes(kc, sqrt_p, a, b, a1, b1);
}

// Two integrals with the same kc in one loop, for the uniform disk's gradient:
//   first  = cel(kc, p, a, b)   with √p = sqrt_p,
//   second = cel(kc, 1, α, β)   given by its state after Bartky's first pass, a1 = α + β and
//            b1 = 2(β + α·kc) (the first pass maps (a, b) to (a + b, 2(b + a·kc)) and em to 1 + kc).
// The second form exists for combinations whose first pass cancels: (2D − K)/k², with
// D = (K − E)/k², is cel(kc, 1, −1, 1)/k², whose first pass gives b1 = 2(1 − kc)/k², and 1 − kc
// formed from a rounded kc keeps only ~k²/ε digits; given as 2/(1 + kc) instead, every later
// term is positive and nothing cancels.
template <class V>
[[gnu::always_inline]] inline CelPairOf<V> cel_pair_after_first_pass_lanes(V kc, V sqrt_p, V a, V b, V a1, V b1) {
    V p = sqrt_p;
    b = b / p;
    bool first_pass = true;
    const V em = agm_passes(kc, [&](const auto& live, V e, V qc, V em_now) __attribute__((always_inline)) {
        const V inv_p = 1.0 / p;
        const V g = e * inv_p;
        const V twice = b + a * g;
        a = live ? a + b * inv_p : a;
        b = live ? twice + twice : b;
        p = live ? p + g : p;
        if (first_pass) {
            first_pass = false;  // (a1, b1) already hold this pass's result
            return;
        }
        const V twice1 = b1 + a1 * qc;
        a1 = live ? a1 + b1 / em_now : a1;
        b1 = live ? twice1 + twice1 : b1;
    });
    const V scale = constants::kHalfPi / em;
    return {scale * (b + a * em) / (em + p), scale * (b1 + a1 * em) / (em + em)};
}

inline CelPair cel_pair_after_first_pass(double kc, double sqrt_p, double a, double b, double a1, double b1) {
    return cel_pair_after_first_pass_lanes(kc, sqrt_p, a, b, a1, b1);
}

// cel(kc, p, a, b) for kc ≠ 0 and p > 0 (a NaN passes both checks and gives NaN). kc = 0 is the
// logarithmic singularity m = 1, p ≤ 0 the characteristic n ≥ 1 (not needed by the models).
inline CalcResult<double> cel(double kc, double p, double a, double b) {
    if (kc == 0.0) return Failure{messages::kCelKc};
    if (p <= 0.0) return Failure{messages::kCelP};
    kc = std::fabs(kc);
    if (kc > 1.0) {
        // By the homogeneity of Carlson's form, cel = a·RF(0, kc², 1) + (b − pa)/3·RJ(0, kc², 1, p),
        //   cel(kc, p, a, b) = cel(1/kc, p/kc², a/kc, b/kc³);
        // with kc ≤ 1 the loop's terms stay in range (for kc = 1e8 and p = 1e-300 they overflowed).
        const double t = 1.0 / kc;
        return cel_sqrt_p(t, std::sqrt(p) * t, a * t, b * (t * t * t));
    }
    return cel_sqrt_p(kc, std::sqrt(p), a, b);
}

}  // namespace velmora
