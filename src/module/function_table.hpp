// The Python-visible functions as data, one row per model of models/model_list.hpp: name,
// docstring (CPython's text signature first), parameter list and the routine that runs the model on
// converted arguments. The module builds its method table and its one generic call frame from this
// table (module.cpp, call_frame.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "models/gradient.hpp"
#include "models/model_list.hpp"
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

// A model's value: one float, a list of floats, or a gradient's three lists (a tuple in Python).
using Value = std::variant<double, std::vector<double>, GradientLists>;

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

// A row built from a model of the list: its parameter kinds from the function's C++ signature
// (each double a Number, each std::vector<double> a Sequence), its docstring's text signature from
// the names at compile time.
template <auto Fn, std::size_t N>
constexpr FunctionSpec function(const models::Model<Fn, N>& model) {
    using Sig = detail::Signature<decltype(Fn)>;
    static_assert(N <= kMaxParams);
    FunctionSpec row{model.name, N, {}, detail::text_signature(model.name, model.parameters), &detail::run<Fn>};
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((row.params[I] = Param{model.parameters[I], detail::kind_of<std::tuple_element_t<I, typename Sig::Args>>()}),
         ...);
    }(std::make_index_sequence<N>{});
    return row;
}

// One row per model, in the list's order (the order of __all__).
inline constexpr std::array kFunctions = []<std::size_t... I>(std::index_sequence<I...>) {
    return std::array{function(std::get<I>(models::kModels))...};
}(std::make_index_sequence<std::tuple_size_v<std::remove_cvref_t<decltype(models::kModels)>>>{});

}  // namespace velmora::api
