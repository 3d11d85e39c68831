// The mathematical and floating-point constants of the numerics, each with one home. They are the
// doubles std::numbers and std::numeric_limits define (π rounded once; π/2 and 2π from it exactly,
// a power-of-two scaling being exact).
#pragma once

#include <limits>
#include <numbers>

namespace velmora::constants {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kHalfPi = std::numbers::pi / 2.0;
inline constexpr double kTwoPi = 2.0 * std::numbers::pi;
inline constexpr double kThreePi = 3.0 * std::numbers::pi;  // rounded once, from the rounded π: 9.42477796076938
inline constexpr double kLn4 = 2.0 * std::numbers::ln2;     // exact doubling: ln 4 rounded, 1.3862943611198906
inline constexpr double kSqrt2 = std::numbers::sqrt2;

// The double epsilon 2^-52 and its square root 2^-26 (both exact).
inline constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
inline constexpr double kSqrtEpsilon = 1.4901161193847656e-08;
static_assert(kSqrtEpsilon * kSqrtEpsilon == kEpsilon);
// The largest length the models square unscaled (in whatever unit they take lengths: Einstein or
// source radii). Its square, and a sum of a few such squares, stay far inside the doubles (1e300
// against 1.8e308). Beyond it the ring magnification scales its lengths down by 2^-600 first
// (models/heyrovsky.cpp) and the uniform disk is 1 to double precision (A − 1 ~ 2/u⁴; models/witt_mao.cpp).
inline constexpr double kHugeLength = 1e150;
// The smallest length the models square unscaled: its square, 1e-300, stays far above the smallest
// normal double (2.2e-308), with room for a product of a few such factors. Below it a form that
// squares a length takes another arrangement (or its scale-free limit).
inline constexpr double kTinyLength = 1e-150;

// cbrt(2^-52) rounded to the nearest double (std::cbrt is not constexpr in C++20); the tests check
// it against the library cube root.
inline constexpr double kCbrtEpsilon = 6.0554544523933395e-06;

}  // namespace velmora::constants
