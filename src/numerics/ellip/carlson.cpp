#include "numerics/ellip/carlson.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "numerics/constants.hpp"
#include "numerics/ellip/cel.hpp"
#include "numerics/messages.hpp"

namespace velmora {
namespace {

using constants::kHalfPi;
using constants::kPi;
using constants::kThreePi;
constexpr double kAgmTolerance = 2.7 * constants::kEpsilon;  // 5.995204332975846e-16
constexpr double kRfBoundFactor = 78.8959690786408;      // (3 · 2^-52)^(-1/8)
constexpr double kRdBoundFactor = 107.63474115247546;    // (2^-52 / 4)^(-1/8)
constexpr double kRjBoundFactor = 110.67925377307274;    // (2^-52 / 5)^(-1/8)
// Caps on the duplication steps: guards, not part of the algorithm. A step divides every deviation
// by 4, so the stopping rule holds after about log_4(Q/|A_n|) steps; a call that reaches the cap
// fails with the function's convergence message.
constexpr int kRfMaxSteps = 11;
constexpr int kRdMaxSteps = 50;
constexpr int kRjMaxSteps = 100;
// The complete RJ by cel (complete_rj): the ratios p/z and y/z it forms stay in [1e-290, 1e290], so
// that 1/√(p/z) cannot overflow and √(y/z) loses no digits to a subnormal.
constexpr double kCelMinRatio = 1e-290;
constexpr double kCelMaxRatio = 1e290;

// Carlson's duplication (B. C. Carlson, "Numerical computation of real or complex elliptic
// integrals", Numer. Algorithms 10 (1995) 13–26; DLMF §19.36(i)) replaces the arguments by
// (x + λ)/4, …, λ = √x√y + √x√z + √y√z, until they agree closely enough for a Taylor series about
// their mean A_n: it stops once 4^-n·Q < |A_n|, Q = f·max|A_0 − x|, … (Carlson's stopping rule). The
// normalised deviations X = (A_0 − x)/(4^n A_n), … are then below 1/f in size. The series used are
// DLMF 19.36.1 (RF) and 19.36.2 (RD, RJ), which run to degree 7 in the deviations, one degree further
// than Carlson's 1995 series; so f is taken as (c·r)^(-1/8), r = 2^-52, leaving a degree-8 remainder
// near r (c = 3, 1/4 and 1/5 for RF, RD and RJ).

// The Taylor series shared by RD and RJ after duplication has converged (DLMF 19.36.2): with the
// normalised deviations folded into the symmetric functions E2 … E5,
//   1 − 3E2/14 + E3/6 + 9E2²/88 − 3E4/22 − 9E2E3/52 + 3E5/26 − E2³/16 + 3E3²/40
//     + 3E2E4/20 + 45E2²E3/272 − 9(E3E4 + E2E5)/68.
double rd_rj_series(double e2, double e3, double e4, double e5) {
    return 1.0 - 3.0 * e2 / 14.0 + e3 / 6.0 + 9.0 * e2 * e2 / 88.0 - 3.0 * e4 / 22.0 -
           9.0 * e2 * e3 / 52.0 + 3.0 * e5 / 26.0 - e2 * e2 * e2 / 16.0 + 3.0 * e3 * e3 / 40.0 +
           3.0 * e2 * e4 / 20.0 + 45.0 * e2 * e2 * e3 / 272.0 - 9.0 * (e3 * e4 + e2 * e5) / 68.0;
}

// RC(1, 1 + e) for the RJ duplication, taking e itself so that 1 + e is never formed when e is
// tiny (it is O(4^-3k) after k steps). The closed forms are those of elliprc with x = 1:
//   e > 0:          atan(√e)/√e                         (x < y)
//   −1/2 < e < 0:   (log1p(t) − log1p(−t))/(2t), t = √−e  (x > y, y/x > 1/2)
// e = 0 is RC(1, 1) = 1.
double rc_one_one_plus(double e) {
    if (e > 0.0) {
        const double s = std::sqrt(e);
        return std::atan(s) / s;
    }
    if (e < 0.0) {
        const double t = std::sqrt(-e);
        return (std::log1p(t) - std::log1p(-t)) / (2.0 * t);
    }
    return 1.0;
}


// RF(0, a, b) = π / (2·AGM(√a, √b)) (DLMF §19.22(ii)), one AGM step at a time. The AGM converges
// quadratically; no cap is needed.
class RfAgm {
public:
    RfAgm(double a, double b) : u_(std::sqrt(a)), v_(std::sqrt(b)) {}
    bool done() const { return !(std::fabs(u_ - v_) >= kAgmTolerance * std::fabs(u_)); }
    void step() {
        const double next_u = (u_ + v_) * 0.5;
        v_ = std::sqrt(u_ * v_);
        u_ = next_u;
    }
    double value() const { return kPi / (u_ + v_); }

private:
    double u_, v_;
};

// RJ(0, y, z, p) for finite y, z, p > 0 with one argument of the three zero: the complete integral,
// by Bulirsch's cel (cel.hpp), the one program of his iteration. With t = tan²φ in the RJ integral,
//   RJ(0, kc², 1, p) = 3 cel(kc, p, 0, 1),   RJ(0, y, z, p) = z^(-3/2) RJ(0, y/z, 1, p/z).
// For p > 0 every quantity in the iteration is positive, so nothing cancels and the result is good
// to a few ulps, at the cost of one AGM (about five passes) instead of the dozen duplication steps
// of the general algorithm. False where the iteration could overflow or lose digits: the caller then
// duplicates.
bool complete_rj(double y, double z, double p, double* out) {
    if (y > z) std::swap(y, z);  // RJ is symmetric in y and z; kc = √(y/z) ≤ 1
    const double scale = 1.0 / z;
    const double kc2 = y * scale;
    const double pk = p * scale;
    if (!(pk >= kCelMinRatio && pk <= kCelMaxRatio && kc2 >= kCelMinRatio)) return false;
    *out = 3.0 * cel_sqrt_p(std::sqrt(kc2), std::sqrt(pk), 0.0, 1.0) * scale * std::sqrt(scale);
    return true;
}

}  // namespace

CalcResult<double> elliprc(double x, double y) {
    if (x < 0.0) return Failure{messages::kElliprcX};
    if (y == 0.0) return Failure{messages::kElliprcY};

    // Cauchy principal value for y < 0:
    //   RC(x, y) = √(x/(x − y)) · RC(x − y, −y).
    double c = 1.0;
    if (y < 0.0) {
        c = std::sqrt(x / (x - y));
        x = x - y;
        y = -y;
    }

    if (x == 0.0) return (c * kHalfPi) / std::sqrt(y);
    if (x == y) return c / std::sqrt(x);
    if (x < y) {
        // RC = atan(√((y − x)/x)) / √(y − x)
        return c * std::atan(std::sqrt((y - x) / x)) / std::sqrt(y - x);
    }
    // x > y: RC = artanh(√((x − y)/x)) / √(x − y). Close to x = y the log1p form keeps the
    // digits that the plain logarithm of a ratio near 1 would lose; from y/x = 0.5 down the
    // logarithm ln((√x + √(x − y))/√y) is used.
    if (y / x > 0.5) {
        const double t = std::sqrt((x - y) / x);
        return c * (std::log1p(t) - std::log1p(-t)) / (2.0 * std::sqrt(x - y));
    }
    return c * std::log((std::sqrt(x) + std::sqrt(x - y)) / std::sqrt(y)) / std::sqrt(x - y);
}

CalcResult<double> elliprf(double x, double y, double z) {
    if (std::min({x, y, z}) < 0.0 || std::min({x + y, y + z, x + z}) == 0.0) {
        return Failure{messages::kElliprfDomain};
    }

    // Two or three equal arguments reduce to RC or to a closed form.
    if (x == y) {
        if (x == z) return 1.0 / std::sqrt(x);
        if (z == 0.0) return kPi / (2.0 * std::sqrt(x));
        return elliprc(z, x);
    }
    if (x == z) {
        if (y == 0.0) return kPi / (2.0 * std::sqrt(x));
        return elliprc(y, x);
    }
    if (y == z) {
        if (x == 0.0) return kPi / (2.0 * std::sqrt(y));
        return elliprc(x, y);
    }

    // One zero argument: RF(0, a, b) = π / (2·AGM(√a, √b)).
    if (x == 0.0 || y == 0.0 || z == 0.0) {
        double a, b;
        if (x == 0.0) {
            a = z;
            b = y;
        } else if (y == 0.0) {
            a = x;
            b = z;
        } else {
            a = x;
            b = y;
        }
        RfAgm agm(a, b);
        while (!agm.done()) agm.step();
        return agm.value();
    }

    // General case: Carlson's duplication until the arguments agree to the series' accuracy, then
    // the series of DLMF 19.36.1:
    //   1 − E2/10 + E3/14 + E2²/24 − 3E2E3/44 − 5E2³/208 + 3E3²/104 + E2²E3/16.
    const double a0 = (x + y + z) / 3.0;
    const double q = kRfBoundFactor * std::max({std::fabs(a0 - x), std::fabs(a0 - y), std::fabs(a0 - z)});
    double xn = x, yn = y, zn = z, an = a0;
    double f = 0.0;
    double power = 1.0;  // 4^k
    for (int k = 1; k <= kRfMaxSteps; ++k) {
        const double sx = std::sqrt(xn), sy = std::sqrt(yn), sz = std::sqrt(zn);
        const double lambda = sx * sy + sx * sz + sy * sz;
        xn = (xn + lambda) / 4.0;
        yn = (yn + lambda) / 4.0;
        zn = (zn + lambda) / 4.0;
        an = (an + lambda) / 4.0;
        power *= 4.0;
        if (std::fabs(an) > q / power) {
            f = power;
            break;
        }
    }
    if (f == 0.0) return Failure{messages::kElliprfConverge};

    const double dx = (a0 - x) / (f * an);
    const double dy = (a0 - y) / (f * an);
    const double dz = -dx - dy;
    const double e2 = dx * dy - dz * dz;
    const double e3 = dx * dy * dz;
    return (1.0 + e3 * (1.0 / 14.0 + 3.0 * e3 / 104.0) +
            e2 * (-0.1 + e2 / 24.0 - 3.0 * e3 / 44.0 - 5.0 * e2 * e2 / 208.0 + e2 * e3 / 16.0)) /
           std::sqrt(an);
}

CalcResult<double> elliprd(double x, double y, double z) {
    if (std::min(x, y) < 0.0 || x + y == 0.0) {
        return Failure{messages::kElliprdDomain};
    }
    if (z <= 0.0) return Failure{messages::kElliprdZ};

    // RD is symmetric in x and y: move an argument equal to z into the y slot.
    if (x == z) std::swap(x, y);

    if (y == z) {
        if (x == y) return 1.0 / (std::sqrt(x) * x);
        if (x == 0.0) return kThreePi / (4.0 * y * std::sqrt(y));
    }

    // x = 0, y ≠ z: RD(0, y, z) from the arithmetic-geometric mean of √y and √z with the
    // accumulated sum of squared differences (the Legendre relation for E − K).
    if (x == 0.0) {
        const double sy0 = std::sqrt(y);
        const double sz0 = std::sqrt(z);
        double u = sy0, v = sz0;
        double s = 0.0, w = 0.25;
        while (std::fabs(u - v) >= kAgmTolerance * std::fabs(u)) {
            const double t = std::sqrt(u * v);
            u = (u + v) / 2.0;
            v = t;
            w = 2.0 * w;
            s = s + w * (u - v) * (u - v);
        }
        return 3.0 * (kPi / (u + v)) *
               ((sy0 + 3.0 * sz0) / (4.0 * z * (sy0 + sz0)) - s / (z * (y - z)));
    }

    // General case: duplication.
    const double a0 = (x + y + 3.0 * z) / 5.0;
    double q = std::max({std::fabs(a0 - x), std::fabs(a0 - y), std::fabs(a0 - z)}) * kRdBoundFactor * 1.2;
    double xn = x, yn = y, zn = z, an = a0;
    double f = 1.0, s = 0.0;
    bool converged = false;
    for (int k = 1; k <= kRdMaxSteps; ++k) {
        const double sx = std::sqrt(xn), sy = std::sqrt(yn), sz = std::sqrt(zn);
        const double lambda = sx * sy + sx * sz + sy * sz;
        s = s + f / (sz * (zn + lambda));
        xn = (xn + lambda) / 4.0;
        yn = (yn + lambda) / 4.0;
        zn = (zn + lambda) / 4.0;
        an = (an + lambda) / 4.0;
        f = f / 4.0;
        q = q / 4.0;
        if (an > q) {
            converged = true;
            break;
        }
    }
    if (!converged) return Failure{messages::kElliprdConverge};

    const double dx = (a0 - x) * f / an;
    const double dy = (a0 - y) * f / an;
    const double dz = -(dx + dy) / 3.0;
    const double xy = dx * dy;
    const double zz = dz * dz;
    const double e2 = xy - 6.0 * zz;
    const double e3 = (3.0 * xy - 8.0 * zz) * dz;
    const double e4 = 3.0 * (xy - zz) * zz;
    const double e5 = xy * zz * dz;
    return 3.0 * s + f * std::pow(an, -1.5) * rd_rj_series(e2, e3, e4, e5);
}

CalcResult<double> elliprj(double x, double y, double z, double p) {
    if (std::min({x, y, z}) < 0.0 || std::min({x + y, y + z, x + z}) == 0.0) {
        return Failure{messages::kElliprjDomain};
    }
    if (p == 0.0) return Failure{messages::kElliprjP};

    // Provenance: these special cases follow Boost.Math's ellint_rj (BSL-1.0) and DLMF §19.20(iii);
    // see THIRD_PARTY_NOTICES.md.
    // Equal arguments reduce to RC and RD.
    if (x == y && x == z) {
        if (x == p) return 1.0 / (std::sqrt(x) * x);
        // RJ(x, x, x, p) = 3 (RC(x, p) − 1/√x) / (x − p). The difference cancels as p → x (1e-4
        // relative error at p = x(1 + 2^-40)), so, as for y == z below, it is only used when x and
        // p are well apart or p < 0; otherwise the duplication below takes it.
        if (!(std::max(x, p) / std::min(x, p) <= 1.2)) {
            const CalcResult<double> rc = elliprc(x, p);
            if (!rc) return rc;
            return (*rc - 1.0 / std::sqrt(x)) * 3.0 / (x - p);
        }
    }
    if (x == y) std::swap(x, z);  // now y == z
    if (y == z) {
        if (y == p) return elliprd(x, y, y);
        // RJ(x, y, y, p) = 3 (RC(x, y) − RC(x, p)) / (p − y); only used when y and p are
        // well apart (ratio above 1.2), where the difference loses no digits. A negative p
        // gives a negative ratio and goes on to the principal-value branch.
        if (std::max(y, p) / std::min(y, p) > 1.2) {
            const CalcResult<double> rc_y = elliprc(x, y);
            if (!rc_y) return rc_y;
            const CalcResult<double> rc_p = elliprc(x, p);
            if (!rc_p) return rc_p;
            return 3.0 * (*rc_y - *rc_p) / (p - y);
        }
    }
    if (z == p) return elliprd(x, y, z);

    // One zero argument and p > 0: the complete integral needed by Π (see complete_rj).
    if (p > 0.0 && (x == 0.0 || y == 0.0 || z == 0.0) && std::isfinite(x + y + z + p)) {
        const double a = x == 0.0 ? y : x;
        const double b = z == 0.0 ? y : z;
        double value;
        if (complete_rj(a, b, p, &value)) return value;
    }

    if (p < 0.0) {
        // Cauchy principal value (Carlson 1995, eq. 4.4): with a ≤ b ≤ c the sorted x, y, z and
        //   R = (c(a + b − p) − ab)/(c − p) > 0,
        //   (c − p) RJ(a, b, c, p) = (R − c) RJ(a, b, c, R) − 3 RF(a, b, c)
        //                            + 3 √(abc/(ab − pR)) RC(ab − pR, −pR).
        double s[3] = {x, y, z};
        std::sort(s, s + 3);
        const double a = s[0], b = s[1], c = s[2];
        const double r = (c * (a + b - p) - a * b) / (c - p);
        const CalcResult<double> rj = elliprj(a, b, c, r);
        if (!rj) return rj;
        const CalcResult<double> rf = elliprf(a, b, c);
        if (!rf) return rf;
        const CalcResult<double> rc = elliprc(a * b - p * r, -p * r);
        if (!rc) return rc;
        return ((r - c) * *rj - 3.0 * *rf + 3.0 * std::sqrt(c * a * b / (a * b - p * r)) * *rc) / (c - p);
    }

    // Provenance: the duplication scheme follows Boost.Math's ellint_rj (BSL-1.0), DLMF §19.26
    // and §19.36(i); see THIRD_PARTY_NOTICES.md.
    // p > 0 (or NaN): Carlson's duplication for RJ. With sx, sy, sz, sp the square roots at
    // step k, the step contributes 4^-k · RC(1, 1 + e_k) / d_k, where
    //   d_k = (sp + sx)(sp + sy)(sp + sz),
    //   e_k = δ_k / d_k²,  δ_k = (p_k − x_k)(p_k − y_k)(p_k − z_k) = δ_0 / 64^k
    // (duplication shrinks every difference by 4). Since δ_k = d_k (sp − sx)(sp − sy)(sp − sz),
    //   1 + e_k = 2 sp (p_k + sx(sy + sz) + sy sz) / d_k,
    // which is used when e_k is near −1, where forming 1 + e_k from e_k would cancel.
    const double a0 = (x + y + z + 2.0 * p) / 5.0;
    double q = kRjBoundFactor *
               std::max({std::fabs(a0 - x), std::fabs(a0 - y), std::fabs(a0 - z), std::fabs(a0 - p)});
    double delta = (p - x) * (p - y) * (p - z);
    double xn = x, yn = y, zn = z, pn = p, an = a0;
    double f = 1.0, sum = 0.0;
    bool converged = false;
    for (int k = 0; k < kRjMaxSteps; ++k) {
        const double sx = std::sqrt(xn), sy = std::sqrt(yn), sz = std::sqrt(zn), sp = std::sqrt(pn);
        const double d = (sp + sx) * (sp + sy) * (sp + sz);
        const double e = (delta / d) / d;
        double rc;
        if (e < -0.5) {
            const double one_plus_e = 2.0 * sp * (pn + sx * (sy + sz) + sy * sz) / d;
            const CalcResult<double> rc_full = elliprc(1.0, one_plus_e);
            if (!rc_full) return rc_full;
            rc = *rc_full;
        } else {
            rc = rc_one_one_plus(e);
        }
        sum += f / d * rc;
        const double lambda = sx * sy + sx * sz + sy * sz;
        xn = (xn + lambda) / 4.0;
        yn = (yn + lambda) / 4.0;
        zn = (zn + lambda) / 4.0;
        pn = (pn + lambda) / 4.0;
        an = (an + lambda) / 4.0;
        f /= 4.0;
        q /= 4.0;
        delta /= 64.0;
        // Converged once the mean dominates the shrinking deviation bound. Written as a negated
        // test so that a NaN argument ends the loop and yields NaN rather than a convergence error.
        if (!(an <= q)) {
            converged = true;
            break;
        }
    }
    if (!converged) return Failure{messages::kElliprjConverge};

    // Normalised deviations from the converged mean; P carries the weight of p (twice in A0).
    const double dx = (a0 - x) * f / an;
    const double dy = (a0 - y) * f / an;
    const double dz = (a0 - z) * f / an;
    const double dp = (-dx - dy - dz) / 2.0;
    const double e2 = dx * dy + dx * dz + dy * dz - 3.0 * dp * dp;
    const double e3 = dx * dy * dz + 2.0 * e2 * dp + 4.0 * dp * dp * dp;
    const double e4 = (2.0 * dx * dy * dz + e2 * dp + 3.0 * dp * dp * dp) * dp;
    const double e5 = dx * dy * dz * dp * dp;
    return 6.0 * sum + f * std::pow(an, -1.5) * rd_rj_series(e2, e3, e4, e5);
}

CalcResult<CompleteRfRj> elliprf_elliprj_complete(double c, double p) {
    const CalcResult<double> rf = elliprf(0.0, c, 1.0);
    if (!rf) return rf.failure();
    const CalcResult<double> rj = elliprj(0.0, c, 1.0, p);
    if (!rj) return rj.failure();
    return CompleteRfRj{*rf, *rj};
}

}  // namespace velmora
