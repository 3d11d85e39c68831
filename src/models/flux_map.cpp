#include "models/flux_map.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "models/heyrovsky.hpp"
#include "models/interrupt.hpp"
#include "models/panic.hpp"

namespace velmora {
namespace {
constexpr std::size_t kRingsPerPoll = 256;
}  // namespace

CalcResult<std::vector<double>> discrete_flux_map_heyrovsky_magnification(std::vector<double> l, double re,
                                                                          double rstar, std::vector<double> bl,
                                                                          std::vector<double> bf) {
    assert_equal_lengths(bl.size(), bf.size());
    std::vector<double> out;
    out.reserve(l.size());
    for (const double li : l) {
        double sum = 0.0;
        // Polled for an interrupt every kRingsPerPoll rings: a table may be long.
        for (std::size_t start = 0; start < bl.size(); start += kRingsPerPoll) {
            const std::size_t end = std::min(bl.size(), start + kRingsPerPoll);
            if (interrupt::poll(static_cast<std::int32_t>(end - start))) return interrupt::stopped();
            for (std::size_t k = start; k < end; ++k) {
                const CalcResult<double> a = heyrovsky_magnification(li, bl[k], re, rstar);
                if (!a) return a.failure();
                // A ring of zero weight adds nothing, also when the lens sits on it (∞·0).
                if (bf[k] != 0.0) sum = sum + *a * bf[k];
            }
        }
        out.push_back(sum);
    }
    return out;
}

}  // namespace velmora
