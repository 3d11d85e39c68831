// The Python-visible functions as data: name, docstring (text signature first), parameter list
// and the routine that runs the model on converted arguments. The module boundary builds its
// method table and its one generic call frame from this table; nothing here knows Python.
#pragma once

#include <array>
#include <cstddef>
#include <variant>
#include <vector>

#include "numerics/calc_result.hpp"

namespace velmora::api {

enum class ParamKind : unsigned char {
    Number,    // one double
    Sequence,  // a vector of doubles
};

struct Param {
    const char* name;
    ParamKind kind;
};

inline constexpr std::size_t kMaxParams = 5;

// Converted arguments, indexed by parameter position: numbers[i] for a Number parameter,
// sequences[i] for a Sequence parameter. The routine may move the vectors out.
struct Arguments {
    std::array<double, kMaxParams> numbers{};
    std::array<std::vector<double>, kMaxParams> sequences{};
};

// A model's value: one float or a list of floats.
using Value = std::variant<double, std::vector<double>>;

struct FunctionSpec {
    const char* name;
    const char* doc;
    std::size_t param_count;
    std::array<Param, kMaxParams> params;
    CalcResult<Value> (*run)(Arguments& args);
};

// In registration order.
extern const std::array<FunctionSpec, 7> kFunctions;

}  // namespace velmora::api
