// What a gradient function returns: per lens position the magnification A, ∂A/∂u at fixed ρ and
// ∂A/∂ρ at fixed u, with u = l·ρ the lens–source distance and ρ = rstar/re the source radius,
// both in Einstein radii. The three lists are as long as l; the boundary hands them to Python
// as a tuple of three lists.
#pragma once

#include <cstddef>
#include <vector>

namespace velmora {

// One lens position's magnification and its two partial derivatives.
struct Gradient {
    double value;
    double d_u;
    double d_rho;
};

struct GradientLists {
    std::vector<double> value;
    std::vector<double> d_u;
    std::vector<double> d_rho;

    void reserve(std::size_t n) {
        value.reserve(n);
        d_u.reserve(n);
        d_rho.reserve(n);
    }
    void push_back(const Gradient& g) {
        value.push_back(g.value);
        d_u.push_back(g.d_u);
        d_rho.push_back(g.d_rho);
    }
};

}  // namespace velmora
