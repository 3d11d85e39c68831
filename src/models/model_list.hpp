// The models the module exposes, in registration order (the order of __all__): each its C++
// function, the name it is exposed under and its parameters' names in order. A model takes doubles
// and vectors of doubles and returns a CalcResult of either. Nothing here knows Python: the boundary
// builds its functions from this list (module/function_table.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include "models/centroid.hpp"
#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace velmora::models {

// The number of parameters of a model function.
template <class Function>
struct Arity;
template <class R, class... A>
struct Arity<R (*)(A...)> {
    static constexpr std::size_t value = sizeof...(A);
};

template <auto Function, std::size_t N>
struct Model {
    static constexpr auto function = Function;
    const char* name;
    std::array<const char*, N> parameters;
};

// One entry: the function, its name and one name per parameter (a wrong count does not compile).
template <auto Function, class... Names>
constexpr Model<Function, sizeof...(Names)> model(const char* name, Names... parameters) {
    static_assert(sizeof...(Names) == Arity<decltype(Function)>::value, "one name per parameter of the model");
    return {name, {parameters...}};
}

inline constexpr std::tuple kModels{
    model<witt_mao_magnification>("witt_mao_magnification", "l", "re", "rstar"),
    model<integrated_witt_mao_magnification>("integrated_witt_mao_magnification", "l", "re", "rstar"),
    model<integrated_flux_map_witt_mao_magnification>("integrated_flux_map_witt_mao_magnification", "l", "re", "rstar",
                                                      "bl", "bf"),
    model<heyrovsky_magnification>("heyrovsky_magnification", "l", "r", "re", "rstar"),
    model<integrated_heyrovsky_magnification>("integrated_heyrovsky_magnification", "l", "re", "rstar"),
    model<integrated_flux_map_heyrovsky_magnification>("integrated_flux_map_heyrovsky_magnification", "l", "re", "rstar",
                                                       "bl", "bf"),
    model<discrete_flux_map_heyrovsky_magnification>("discrete_flux_map_heyrovsky_magnification", "l", "re", "rstar",
                                                     "bl", "bf"),
    model<integrated_law_heyrovsky_magnification>("integrated_law_heyrovsky_magnification", "l", "re", "rstar",
                                                  "powers", "weights"),
    model<witt_mao_magnification_gradient>("witt_mao_magnification_gradient", "l", "re", "rstar"),
    model<integrated_law_heyrovsky_magnification_gradient>("integrated_law_heyrovsky_magnification_gradient", "l",
                                                           "re", "rstar", "powers", "weights"),
    model<integrated_flux_map_heyrovsky_magnification_gradient>(
        "integrated_flux_map_heyrovsky_magnification_gradient", "l", "re", "rstar", "bl", "bf"),
    model<witt_mao_centroid_shift>("witt_mao_centroid_shift", "l", "re", "rstar"),
    model<integrated_law_heyrovsky_centroid_shift>("integrated_law_heyrovsky_centroid_shift", "l", "re", "rstar",
                                                   "powers", "weights"),
    model<integrated_flux_map_heyrovsky_centroid_shift>("integrated_flux_map_heyrovsky_centroid_shift", "l", "re",
                                                        "rstar", "bl", "bf"),
};

}  // namespace velmora::models
