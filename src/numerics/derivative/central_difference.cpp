#include "numerics/derivative/central_difference.hpp"

namespace velmora {

double cbrt_eps() {
    static const double value = std::cbrt(2.220446049250313e-16);  // cbrt(2^-52)
    return value;
}

}  // namespace velmora
