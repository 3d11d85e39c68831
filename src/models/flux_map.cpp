#include "models/flux_map.hpp"

#include <utility>

#include "models/heyrovsky.hpp"
#include "models/interrupt.hpp"
#include "models/panic.hpp"

namespace velmora {

CalcResult<std::vector<double>> discrete_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                          double rstar, std::vector<double> bl,
                                                                          std::vector<double> bf) {
    assert_equal_lengths(bl.size(), bf.size());
    std::vector<double> out;
    out.reserve(l.size());
    for (const double li : l) {
        double sum = 0.0;
        for (std::size_t k = 0; k < bl.size(); ++k) {
            if (interrupt::poll()) return interrupt::stopped();  // once per ring: tables may be long
            const CalcResult<double> a = heyrovsky_magnification(li, bl[k], re, rstar);
            if (!a) return a.failure();
            sum = sum + *a * bf[k];
        }
        out.push_back(sum);
    }
    return out;
}

}  // namespace velmora
