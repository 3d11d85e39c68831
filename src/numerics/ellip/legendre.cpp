#include "numerics/ellip/legendre.hpp"

#include <cmath>
#include <cstddef>

#include "numerics/constants.hpp"
#include "numerics/ellip/carlson.hpp"
#include "numerics/messages.hpp"

namespace velmora {
namespace {

using constants::kEpsilon;
using constants::kHalfPi;
using constants::kLn4;

// Provenance: coefficients from Cephes (S. L. Moshier) as SciPy bundles it, BSD-3-Clause; see
// THIRD_PARTY_NOTICES.md.
// Cephes' minimax fits for the complete integrals (ellpk.c, ellpe.c), coefficients from the
// highest power down, for 0 < x = 1 − m ≤ 1:
//   K = P_K(x) − ln(x)·Q_K(x),   E = P_E(x) − ln(x)·x·Q_E(x).
constexpr double kKP[] = {
    0.00013798286460627325, 0.002280257240058756, 0.007974040132204152, 0.00985821379021226,
    0.006874896874499499,   0.006189010336376876, 0.008790782739527438, 0.014938044891680526,
    0.0308851465246712,     0.09657359028116902,  1.3862943611198906,
};
constexpr double kKQ[] = {
    2.940789550485985e-05, 0.0009141847238659173, 0.005940583037531678, 0.01548505166497624,
    0.023908960271592488,  0.030120471522760404,  0.037377431417382326, 0.04882803475709983,
    0.07031249969639575,   0.12499999999987083,   0.5,
};
constexpr double kEP[] = {
    0.0001535525773010133, 0.0025088849216360204, 0.008687868165658896, 0.010735094905607619,
    0.007773954925167871,  0.007583952894135147,  0.011568843681057412, 0.021831799601555724,
    0.05680519456178606,   0.44314718056099084,   1.0,
};
constexpr double kEQ[] = {
    3.2795489857648585e-05, 0.0010096279267935672, 0.006506094899769275, 0.016886216399331133,
    0.026176974245449364,   0.03348339048882249,   0.04271809265189315,  0.0585936634471101,
    0.09374999971976443,    0.2499999999998883,
};

template <std::size_t N>
constexpr double horner(const double (&coefficients)[N], double x) {
    double acc = coefficients[0];
    for (std::size_t i = 1; i < N; ++i) acc = acc * x + coefficients[i];
    return acc;
}

// K and E from the complementary parameter x = 1 − m, 0 < x ≤ 1 (x may be NaN), and ln x, which
// the two share when both are wanted.
double ellipk_complement(double x, double log_x) {
    // Below the double epsilon the polynomial terms are beyond the last digit: K ~ ln 4 − ln(x)/2.
    if (x < kEpsilon) return kLn4 - 0.5 * log_x;
    return horner(kKP, x) - log_x * horner(kKQ, x);
}

double ellipe_complement(double x, double log_x) { return horner(kEP, x) - log_x * x * horner(kEQ, x); }

}  // namespace

CalcResult<double> ellipk(double m) {
    if (m > 1.0) return Failure{messages::kEllipkM};
    if (m == 1.0) return HUGE_VAL;
    if (m == 0.0) return kHalfPi;
    // Negative parameter: K(m) = K(m') / √(1 − m) with m' = m/(m − 1) in (0, 1), whose complement
    // 1 − m' = 1/(1 − m) is formed directly (1 − m' would cancel for large |m|). The fit is made
    // for 0 < x ≤ 1 and is useless beyond it (it would give K(−5) < 0).
    if (m < 0.0) {
        const double one_minus_m = 1.0 - m;
        const double x = 1.0 / one_minus_m;
        return ellipk_complement(x, std::log(x)) / std::sqrt(one_minus_m);
    }
    const double x = 1.0 - m;
    return ellipk_complement(x, std::log(x));
}

CalcResult<double> ellipe(double m) {
    if (m > 1.0) return Failure{messages::kEllipeM};
    if (m == 1.0) return 1.0;
    if (m == 0.0) return kHalfPi;
    // Negative parameter: E(m) = √(1 − m) · E(m') with m' = m/(m − 1) in (0, 1). The complement
    // 1 − m' = 1/(1 − m) is formed directly: from m' it would cancel, and for m ≤ −2^53 m' rounds
    // to 1, which would give x = 0 and a NaN from 0·ln 0.
    double scale = 1.0;
    double x = 1.0 - m;
    if (m < 0.0) {
        scale = std::sqrt(x);
        x = 1.0 / x;
    }
    return scale * ellipe_complement(x, std::log(x));
}

CalcResult<CompleteKE> ellipke(double m) {
    // E is the first of the pair: its domain error is the one reported.
    if (m > 1.0) return Failure{messages::kEllipeM};
    if (m == 1.0) return CompleteKE{HUGE_VAL, 1.0};
    if (m == 0.0) return CompleteKE{kHalfPi, kHalfPi};
    // The same transformation for m < 0 as in ellipk and ellipe, with one logarithm for both.
    if (m < 0.0) {
        const double one_minus_m = 1.0 - m;
        const double x = 1.0 / one_minus_m;
        const double log_x = std::log(x);
        const double root = std::sqrt(one_minus_m);
        return CompleteKE{ellipk_complement(x, log_x) / root, root * ellipe_complement(x, log_x)};
    }
    const double x = 1.0 - m;
    const double log_x = std::log(x);
    return CompleteKE{ellipk_complement(x, log_x), ellipe_complement(x, log_x)};
}

CalcResult<CompleteKE> ellipke_complement(double x) {
    if (x < 0.0) return Failure{messages::kEllipeM};
    if (x == 0.0) return CompleteKE{HUGE_VAL, 1.0};
    if (x == 1.0) return CompleteKE{kHalfPi, kHalfPi};
    if (!(x < 1.0)) return ellipke(1.0 - x);  // a negative parameter (or x NaN)
    const double log_x = std::log(x);
    return CompleteKE{ellipk_complement(x, log_x), ellipe_complement(x, log_x)};
}

CalcResult<double> ellippi(double n, double m) {
    if (m >= 1.0) return Failure{messages::kEllippiM};
    if (n > 1.0) return Failure{messages::kEllippiN};
    if (n == 0.0) {
        if (m == 0.0) return kHalfPi;
        return ellipk(m);
    }
    const double c = 1.0 - m;
    if (n < 0.0) {
        // Negative characteristic: with q = 1 − n and d = m − n, Π is written through K and the
        // Carlson integrals with the positive p = c/q (no principal value needed):
        //   Π(n, m) = m K/d − c·[(RF(0, c, 1) + (d/q)·RJ(0, c, 1, c/q)/3)·n/q]/d.
        const double q = 1.0 - n;
        const CalcResult<double> rf = elliprf(0.0, c, 1.0);
        if (!rf) return rf;
        const CalcResult<double> rj = elliprj(0.0, c, 1.0, c / q);
        if (!rj) return rj;
        const CalcResult<double> k = ellipk(m);
        if (!k) return k;
        const double d = m - n;
        const double t = ((*rf + ((d / q) * *rj) / 3.0) * n) / q;
        return (m * *k) / d - (c * t) / d;
    }
    // 0 < n ≤ 1: Π(n, m) = RF(0, 1 − m, 1) + n/3 · RJ(0, 1 − m, 1, 1 − n)   (DLMF 19.25.2).
    const CalcResult<CompleteRfRj> r = elliprf_elliprj_complete(c, 1.0 - n);
    if (!r) return r.failure();
    return r->rf + (n * r->rj) / 3.0;
}

}  // namespace velmora
