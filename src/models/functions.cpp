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
CalcResult<Value> to_value(std::vector<double> values) { return Value(std::move(values)); }

// Wrappers: unpack the converted arguments by position and run the model. Three signatures:
// (l, re, rstar), (l, re, rstar, bl, bf) with l, bl, bf sequences, and the scalar ring.
template <auto Model>
CalcResult<Value> run_sequence(Arguments& a) {
    return to_value(Model(std::move(a.sequences[0]), a.numbers[1], a.numbers[2]));
}
template <auto Model>
CalcResult<Value> run_flux_map(Arguments& a) {
    return to_value(Model(std::move(a.sequences[0]), a.numbers[1], a.numbers[2], std::move(a.sequences[3]),
                          std::move(a.sequences[4])));
}
CalcResult<Value> run_ring(Arguments& a) {
    return to_value(heyrovsky_magnification(a.numbers[0], a.numbers[1], a.numbers[2], a.numbers[3]));
}

}  // namespace

const std::array<FunctionSpec, 7> kFunctions = {{
    {"witt_mao_magnification", "witt_mao_magnification(l, re, rstar)\n--\n\n", 3,
     {kSequence("l"), kNumber("re"), kNumber("rstar")}, run_sequence<witt_mao_magnification>},
    {"integrated_witt_mao_magnification", "integrated_witt_mao_magnification(l, re, rstar)\n--\n\n", 3,
     {kSequence("l"), kNumber("re"), kNumber("rstar")}, run_sequence<integrated_witt_mao_magnification>},
    {"integrated_flux_map_witt_mao_magnification",
     "integrated_flux_map_witt_mao_magnification(l, re, rstar, bl, bf)\n--\n\n", 5,
     {kSequence("l"), kNumber("re"), kNumber("rstar"), kSequence("bl"), kSequence("bf")},
     run_flux_map<integrated_flux_map_witt_mao_magnification>},
    {"heyrovsky_magnification", "heyrovsky_magnification(l, r, re, rstar)\n--\n\n", 4,
     {kNumber("l"), kNumber("r"), kNumber("re"), kNumber("rstar")}, run_ring},
    {"integrated_heyrovsky_magnification", "integrated_heyrovsky_magnification(l, re, rstar)\n--\n\n", 3,
     {kSequence("l"), kNumber("re"), kNumber("rstar")}, run_sequence<integrated_heyrovsky_magnification>},
    {"integrated_flux_map_heyrovsky_magnification",
     "integrated_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n", 5,
     {kSequence("l"), kNumber("re"), kNumber("rstar"), kSequence("bl"), kSequence("bf")},
     run_flux_map<integrated_flux_map_heyrovsky_magnification>},
    {"discrete_flux_map_heyrovsky_magnification",
     "discrete_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n", 5,
     {kSequence("l"), kNumber("re"), kNumber("rstar"), kSequence("bl"), kSequence("bf")},
     run_flux_map<discrete_flux_map_heyrovsky_magnification>},
}};

}  // namespace velmora::api
