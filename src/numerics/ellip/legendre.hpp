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

}  // namespace velmora
