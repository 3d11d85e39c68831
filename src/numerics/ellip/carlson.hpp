// Carlson's symmetric elliptic integrals RF, RC, RD and RJ in double precision.
//
//   RF(x, y, z)    = 1/2 ∫₀^∞ [(t+x)(t+y)(t+z)]^(-1/2) dt
//   RC(x, y)       = RF(x, y, y)                    (closed form; principal value for y < 0)
//   RD(x, y, z)    = 3/2 ∫₀^∞ (t+x)^(-1/2)(t+y)^(-1/2)(t+z)^(-3/2) dt
//   RJ(x, y, z, p) = 3/2 ∫₀^∞ (t+x)^(-1/2)(t+y)^(-1/2)(t+z)^(-1/2)(t+p)^(-1) dt
//                                                   (principal value for p < 0)
// Pure functions; domain errors are returned as CalcResult failures with fixed texts.
// A NaN argument passes every domain test (the tests are ordered comparisons).
#pragma once

#include "numerics/calc_result.hpp"

namespace velmora {

CalcResult<double> elliprf(double x, double y, double z);
CalcResult<double> elliprc(double x, double y);
CalcResult<double> elliprd(double x, double y, double z);
CalcResult<double> elliprj(double x, double y, double z, double p);

// RF(0, c, 1) and RJ(0, c, 1, p) together: the two calls in that order (the first error is returned).
struct CompleteRfRj {
    double rf;
    double rj;
};
CalcResult<CompleteRfRj> elliprf_elliprj_complete(double c, double p);

}  // namespace velmora
