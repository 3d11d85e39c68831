// One node of a quadrature rule on [−1, 1], the same record for every rule table.
#pragma once

namespace velmora {

struct QuadratureNode {
    double abscissa;
    double weight;
};

}  // namespace velmora
