// A thin ring's magnification and its centroid-shift numerator, both from one AGM per radius.
#pragma once

#include <span>

namespace velmora {

// At a ring of radius r (source radii) about the source centre, the lens at l source radii from the
// centre and ρ the source radius in Einstein radii (u = lρ): the ring magnification A, the mean of the
// point magnification A(s) around the ring, and the shift numerator Z, the mean of g(s)·cos ψ − u·A(s)
// (models/ring_centroid.cpp). Over a radial profile P, ∫₀¹ 2πr P(r)·Z dr divided by ∫₀¹ 2πr P(r)·A dr
// is the profile's shift. With the lens on the ring A = +∞ and Z = −∞ (a logarithmic singularity).
struct RingPair {
    double magnification, numerator;
};
RingPair ring_pair(double l, double r, double rho);

// The same at many radii of one lens position, several at a time (in lanes), each bit for bit what
// ring_pair gives.
void ring_pairs(double l, double rho, std::span<const double> r, std::span<double> magnification,
                std::span<double> numerator);

// The numerator alone.
inline double ring_centroid(double l, double r, double rho) { return ring_pair(l, r, rho).numerator; }

}  // namespace velmora
