// The floor at 1, the one place every model applies it.
//
// A point lens never demagnifies: A(u) = (u² + 2)/(u√(u² + 4)) ≥ 1 at every source point, so the
// magnification of a source with no negative brightness (a ring, a uniform disk, the limb-darkened
// disk, a flux map with no negative flux) is a brightness-weighted mean of values ≥ 1. A computed
// value below 1 is rounding (the closed forms' last subtraction, a sum of quadrature panels, the far
// field's μ_0/N 3e-16 from 1), and is raised to 1 where `physical` holds: each model says when its
// arguments describe such a source. V is double or lanes of doubles (numerics/lanes.hpp), and
// `physical` a bool or a lane mask to match; a NaN stays NaN.
#pragma once

#include "numerics/lanes.hpp"

namespace velmora {

template <class V, class Physical>
[[gnu::always_inline]] inline V at_least_one(V a, Physical physical) {
    return (a < 1.0 && physical) ? lanes::broadcast(1.0, a) : a;
}

}  // namespace velmora
