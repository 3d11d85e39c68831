#include "models/functions.hpp"

#include <utility>

#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace velmora::api {
namespace {

constexpr Param kNumber(const char* name) { return {name, ParamKind::Number}; }
constexpr Param kSequence(const char* name) { return {name, ParamKind::Sequence}; }

template <class T>
CalcResult<Value> to_value(CalcResult<T> result) {
    if (!result) return result.failure();
    return Value(std::move(result).value());
}

// Wrappers: unpack the converted arguments by position and run the model.
CalcResult<Value> run_witt_mao(Arguments& a) {
    return to_value(witt_mao_magnification(std::move(a.sequences[0]), a.numbers[1], a.numbers[2]));
}
CalcResult<Value> run_integrated_witt_mao(Arguments& a) {
    return to_value(integrated_witt_mao_magnification(std::move(a.sequences[0]), a.numbers[1], a.numbers[2]));
}
CalcResult<Value> run_integrated_flux_map_witt_mao(Arguments& a) {
    return to_value(integrated_flux_map_witt_mao_magnification(std::move(a.sequences[0]), a.numbers[1], a.numbers[2],
                                                               std::move(a.sequences[3]), std::move(a.sequences[4])));
}
CalcResult<Value> run_heyrovsky(Arguments& a) {
    return to_value(heyrovsky_magnification(a.numbers[0], a.numbers[1], a.numbers[2], a.numbers[3]));
}
CalcResult<Value> run_integrated_heyrovsky(Arguments& a) {
    return to_value(CalcResult<std::vector<double>>(
        integrated_heyrovsky_magnification(std::move(a.sequences[0]), a.numbers[1], a.numbers[2])));
}
CalcResult<Value> run_integrated_flux_map_heyrovsky(Arguments& a) {
    return to_value(CalcResult<std::vector<double>>(integrated_flux_map_heyrovsky_magnification(
        std::move(a.sequences[0]), a.numbers[1], a.numbers[2], std::move(a.sequences[3]), std::move(a.sequences[4]))));
}
CalcResult<Value> run_discrete_flux_map_heyrovsky(Arguments& a) {
    return to_value(discrete_flux_map_heyrovsky_magnification(std::move(a.sequences[0]), a.numbers[1], a.numbers[2],
                                                              std::move(a.sequences[3]), std::move(a.sequences[4])));
}

}  // namespace

const std::array<FunctionSpec, 7> kFunctions = {{
    {"witt_mao_magnification", "witt_mao_magnification(l, re, rstar)\n--\n\n", 3,
     {kSequence("l"), kNumber("re"), kNumber("rstar")}, run_witt_mao},
    {"integrated_witt_mao_magnification", "integrated_witt_mao_magnification(l, re, rstar)\n--\n\n", 3,
     {kSequence("l"), kNumber("re"), kNumber("rstar")}, run_integrated_witt_mao},
    {"integrated_flux_map_witt_mao_magnification",
     "integrated_flux_map_witt_mao_magnification(l, re, rstar, bl, bf)\n--\n\n", 5,
     {kSequence("l"), kNumber("re"), kNumber("rstar"), kSequence("bl"), kSequence("bf")},
     run_integrated_flux_map_witt_mao},
    {"heyrovsky_magnification", "heyrovsky_magnification(l, r, re, rstar)\n--\n\n", 4,
     {kNumber("l"), kNumber("r"), kNumber("re"), kNumber("rstar")}, run_heyrovsky},
    {"integrated_heyrovsky_magnification", "integrated_heyrovsky_magnification(l, re, rstar)\n--\n\n", 3,
     {kSequence("l"), kNumber("re"), kNumber("rstar")}, run_integrated_heyrovsky},
    {"integrated_flux_map_heyrovsky_magnification",
     "integrated_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n", 5,
     {kSequence("l"), kNumber("re"), kNumber("rstar"), kSequence("bl"), kSequence("bf")},
     run_integrated_flux_map_heyrovsky},
    {"discrete_flux_map_heyrovsky_magnification",
     "discrete_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n", 5,
     {kSequence("l"), kNumber("re"), kNumber("rstar"), kSequence("bl"), kSequence("bf")},
     run_discrete_flux_map_heyrovsky},
}};

}  // namespace velmora::api
