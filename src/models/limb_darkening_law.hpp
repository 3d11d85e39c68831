// The fixed linear limb-darkening law of the integrated functions, and its facts that the law's
// radius integrals use (models/integrated/law_routes.cpp splits it into a uniform and a √ part).
#pragma once

#include <array>
#include <cstddef>

#include "models/witt_mao.hpp"
#include "numerics/constants.hpp"

namespace velmora {

// The law I(r) = 1 − 0.6(1 − √(1 − r²)) = 0.4 + 0.6√(1 − r²), r in source radii.
struct LimbDarkeningLaw {
    static constexpr double kCoefficient = -0.6;  // linear limb-darkening coefficient, with its sign

    // The law splits into a uniform part and a √ part. The uniform part of any radius integral is
    // the uniform-disk value (∫₀¹ 2πr A(l, r) dr = πW(l), since A is the ring mean of the
    // point-lens magnification); only the √ part needs quadrature.
    static constexpr double kUniformPart = 0.4;
    static constexpr double kRootPart = 0.6;
    static_assert(kUniformPart + kRootPart == 1.0 && -kRootPart == kCoefficient);

    // The normaliser N = ∫₀¹ 2πr I(r) dr = π(1 − 0.6/3) = 0.8π, as the functions divide by it: the
    // stored double 2.5132741228717936, which is 1.6e-14 (relative) below 0.8π (the double nearest
    // 0.8π is 2.5132741228718345). The zeroth moment μ_0, for the far field's μ_0/N, is 0.8π rounded
    // once, so that μ_0/N is 3e-16 from 1.
    static constexpr double kNormaliser = 2.5132741228717936;
    static constexpr double kMu0 = 0.8 * constants::kPi;

    // The far-field weights (k + 1)·μ_k/μ_0, k = 1..kFarFieldTerms: μ_k = 0.4π/(k + 1) +
    // 0.6π·B(k + 1, 3/2) and μ_0 = 0.8π give 1/2 + (3/4)(k + 1)·B(k + 1, 3/2), where
    // B(k + 1, 3/2) = k!·2^(k+1)/(3·5···(2k + 3)) makes the second part the fraction
    // (k + 1)!·2^(k−1)/(5·7···(2k + 3)): 2/5, 12/35, 32/105, … Its numerator and denominator are
    // exact doubles (below 2^53 up to k = 12), so each weight is the quotient rounded once, plus
    // 1/2 rounded once.
    static constexpr std::size_t kTerms = UniformDisk::kFarFieldTerms;
    static constexpr std::array<double, kTerms> kWeights = [] {
        std::array<double, kTerms> weights{};
        double numerator = 1.0, denominator = 1.0;  // (k + 1)!·2^(k−1) and 5·7···(2k + 3), built up exactly
        for (std::size_t k = 1; k <= kTerms; ++k) {
            numerator *= static_cast<double>(k + 1) * (k == 1 ? 1.0 : 2.0);
            denominator *= static_cast<double>(2 * k + 3);
            weights[k - 1] = 0.5 + numerator / denominator;
        }
        return weights;
    }();
    static_assert(kWeights[0] == 0.5 + 2.0 / 5.0 && kWeights[2] == 0.5 + 32.0 / 105.0 &&
                  kWeights[4] == 0.5 + 256.0 / 1001.0);

    // The law's far field: its weights and μ_0/N.
    static constexpr ProfileFarField kFarField{kWeights, kMu0 / kNormaliser};
};

}  // namespace velmora
