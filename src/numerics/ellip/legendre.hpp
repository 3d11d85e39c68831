// Complete elliptic integrals in Legendre's form, as functions of the parameter m = k²:
//   K(m)    = ∫₀^{π/2} (1 − m sin²θ)^(-1/2) dθ
//   E(m)    = ∫₀^{π/2} (1 − m sin²θ)^(1/2) dθ
//   Π(n, m) = ∫₀^{π/2} (1 − n sin²θ)^(-1) (1 − m sin²θ)^(-1/2) dθ   (n the characteristic)
// K and E are rational-logarithmic approximations in x = 1 − m; Π is built from Carlson's RF
// and RJ. Pure functions returning CalcResult.
#pragma once

#include "numerics/calc_result.hpp"

namespace velmora {

CalcResult<double> ellipk(double m);
CalcResult<double> ellipe(double m);
CalcResult<double> ellippi(double n, double m);

// K(m) and E(m) together, equal bit for bit to ellipk(m) and ellipe(m) but with one logarithm;
// for m > 1 it fails with ellipe's message (E is the one evaluated first where both are needed).
struct CompleteKE {
    double k;
    double e;
};
CalcResult<CompleteKE> ellipke(double m);

// The same pair from the complementary parameter x = 1 − m, for callers that know x better than m
// (near m = 1, where 1 − m would cancel): bit for bit ellipke(1 − x) wherever 1 − x is exact and
// x ≤ 1; K = +inf at x = 0; x < 0 (m > 1) fails as ellipke does, and x > 1 is ellipke(1 − x).
CalcResult<CompleteKE> ellipke_complement(double x);

}  // namespace velmora
