// The Python-visible functions as data: name, docstring (text signature first), parameter list
// and the routine that runs the model on converted arguments. The module boundary builds its
// method table and its one generic call frame from this table; nothing here knows Python.
//
// A row names its function and its parameters; everything else comes from the model's C++
// signature: each double parameter is a Number, each std::vector<double> a Sequence, and their
// count is the signature's (a row whose names do not match it in number does not compile). The
// docstring's text signature is built from the names at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"
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

// Room for the longest docstring, "<name>(<names>)\n--\n\n" and its terminating zero.
inline constexpr std::size_t kMaxDoc = 96;

struct FunctionSpec {
    const char* name;
    std::size_t param_count;
    std::array<Param, kMaxParams> params;
    std::array<char, kMaxDoc> doc;  // zero-terminated
    CalcResult<Value> (*run)(Arguments& args);
};

namespace detail {

template <class Model>
struct Signature;
template <class R, class... A>
struct Signature<R (*)(A...)> {
    using Args = std::tuple<A...>;
    static constexpr std::size_t arity = sizeof...(A);
};

template <class T>
constexpr ParamKind kind_of() {
    if constexpr (std::is_same_v<T, double>) {
        return ParamKind::Number;
    } else {
        static_assert(std::is_same_v<T, std::vector<double>>, "a model takes doubles and vectors of doubles");
        return ParamKind::Sequence;
    }
}

template <class T>
CalcResult<Value> to_value(CalcResult<T> result) {
    if (!result) return result.failure();
    return Value(std::move(result).value());
}

// The converted argument at position I, as the model's parameter type I takes it.
template <class T>
decltype(auto) take(Arguments& a, std::size_t i) {
    if constexpr (std::is_same_v<T, double>) {
        return a.numbers[i];
    } else {
        return std::move(a.sequences[i]);
    }
}

template <auto Model, std::size_t... I>
CalcResult<Value> invoke(Arguments& a, std::index_sequence<I...>) {
    using Args = typename Signature<decltype(Model)>::Args;
    return to_value(Model(take<std::tuple_element_t<I, Args>>(a, I)...));
}

template <auto Model>
CalcResult<Value> run(Arguments& a) {
    return invoke<Model>(a, std::make_index_sequence<Signature<decltype(Model)>::arity>{});
}

// "<name>(<a>, <b>, ...)\n--\n\n": CPython reads the text signature from the docstring's first line.
template <std::size_t N>
constexpr std::array<char, kMaxDoc> text_signature(std::string_view name, const std::array<const char*, N>& names) {
    std::array<char, kMaxDoc> out{};
    std::size_t n = 0;
    auto put = [&](std::string_view s) {
        for (const char c : s) {
            if (n + 1 >= kMaxDoc) throw "docstring longer than kMaxDoc";  // not a constant: no compile
            out[n++] = c;
        }
    };
    put(name);
    put("(");
    for (std::size_t i = 0; i < N; ++i) {
        if (i != 0) put(", ");
        put(names[i]);
    }
    put(")\n--\n\n");
    return out;
}

}  // namespace detail

// One row: the model, its Python name and its parameters' names in order.
template <auto Model, class... Names>
constexpr FunctionSpec function(const char* name, Names... names) {
    using Sig = detail::Signature<decltype(Model)>;
    static_assert(sizeof...(Names) == Sig::arity, "one name per parameter of the model");
    static_assert(Sig::arity <= kMaxParams);
    const std::array<const char*, sizeof...(Names)> list{names...};
    FunctionSpec row{name, Sig::arity, {}, detail::text_signature(name, list), &detail::run<Model>};
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((row.params[I] = Param{list[I], detail::kind_of<std::tuple_element_t<I, typename Sig::Args>>()}), ...);
    }(std::make_index_sequence<Sig::arity>{});
    return row;
}

// In registration order (the order of __all__).
inline constexpr std::array kFunctions = {
    function<witt_mao_magnification>("witt_mao_magnification", "l", "re", "rstar"),
    function<integrated_witt_mao_magnification>("integrated_witt_mao_magnification", "l", "re", "rstar"),
    function<integrated_flux_map_witt_mao_magnification>("integrated_flux_map_witt_mao_magnification", "l", "re",
                                                         "rstar", "bl", "bf"),
    function<heyrovsky_magnification>("heyrovsky_magnification", "l", "r", "re", "rstar"),
    function<integrated_heyrovsky_magnification>("integrated_heyrovsky_magnification", "l", "re", "rstar"),
    function<integrated_flux_map_heyrovsky_magnification>("integrated_flux_map_heyrovsky_magnification", "l", "re",
                                                          "rstar", "bl", "bf"),
    function<discrete_flux_map_heyrovsky_magnification>("discrete_flux_map_heyrovsky_magnification", "l", "re",
                                                        "rstar", "bl", "bf"),
};

}  // namespace velmora::api
