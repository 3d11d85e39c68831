#include "module/call_frame.hpp"

#include <array>
#include <string>
#include <type_traits>
#include <variant>

#include "models/interrupt.hpp"
#include "module/convert.hpp"
#include "module/errors.hpp"
#include "module/refs.hpp"
#include "numerics/messages.hpp"

namespace velmora::module {
namespace {

using Slots = std::array<PyObject*, api::kMaxParams>;  // borrowed; null = not given

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
std::string quoted_list(const api::FunctionSpec& fn, const Slots& slots) {
    std::string names;
    std::size_t total = 0;
    for (std::size_t i = 0; i < fn.param_count; ++i) total += slots[i] == nullptr;
    std::size_t seen = 0;
    for (std::size_t i = 0; i < fn.param_count; ++i) {
        if (slots[i] != nullptr) continue;
        if (seen != 0) {
            if (total > 2) names += ',';
            names += seen == total - 1 ? " and " : " ";
        }
        names += '\'';
        names += fn.params[i].name;
        names += '\'';
        ++seen;
    }
    return names;
}

// Matches positional and keyword arguments against the parameter list; all parameters are
// required and may be given either way.
bool bind_arguments(const api::FunctionSpec& fn, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    Slots& slots) {
    const auto count = static_cast<Py_ssize_t>(fn.param_count);
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd %s given", fn.name, count, nargs,
                     nargs == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];

    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);  // borrowed
        std::size_t index = fn.param_count;
        for (std::size_t i = 0; i < fn.param_count; ++i) {
            if (PyUnicode_CompareWithASCIIString(keyword, fn.params[i].name) == 0) {
                index = i;
                break;
            }
        }
        if (index == fn.param_count) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", fn.name, keyword);
            return false;
        }
        if (slots[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fn.name,
                         fn.params[index].name);
            return false;
        }
        slots[index] = args[nargs + k];
    }

    std::size_t missing = 0;
    for (std::size_t i = 0; i < fn.param_count; ++i) missing += slots[i] == nullptr;
    if (missing != 0) {
        const std::string names = quoted_list(fn, slots);
        PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s", fn.name, missing,
                     missing == 1 ? "argument" : "arguments", names.c_str());
        return false;
    }
    return true;
}

bool convert_arguments(const api::FunctionSpec& fn, const Slots& slots, api::Arguments& converted) {
    for (std::size_t i = 0; i < fn.param_count; ++i) {
        const api::Param& param = fn.params[i];
        const bool ok = param.kind == api::ParamKind::Number
                            ? float_argument(slots[i], &converted.numbers[i])
                            : float_sequence_argument(slots[i], &converted.sequences[i]);
        if (!ok) {
            prefix_argument_error(param.name);
            ensure_error_set();
            return false;
        }
    }
    return true;
}

PyObject* to_python(const api::Value& value) {
    if (const double* number = std::get_if<double>(&value)) return float_result(*number);
    if (const auto* lists = std::get_if<GradientLists>(&value)) return gradient_result(*lists);
    return float_list_result(std::get<std::vector<double>>(value));
}

}  // namespace

PyObject* call_frame(const api::FunctionSpec& fn, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    // The interpreter lock is held for the whole call; it is not released around the model.
    return trap_panics([&]() -> PyObject* {
        Slots slots{};
        if (!bind_arguments(fn, args, nargs, kwnames, slots)) return nullptr;
        api::Arguments converted;
        if (!convert_arguments(fn, slots, converted)) return nullptr;

        const CalcResult<api::Value> result = fn.run(converted);
        if (!result) {
            // Stopped by a signal: the exception its handler raised (KeyboardInterrupt for
            // SIGINT) is pending and is the call's exception; no partial result is returned.
            if (interrupt::is_stopped(result.error())) {
                ensure_error_set();
                return nullptr;
            }
            // A model's own check of its arguments (before it computed anything) is a ValueError;
            // a kernel's failure a RuntimeError.
            PyErr_SetString(messages::is_invalid_argument(result.error()) ? PyExc_ValueError : PyExc_RuntimeError,
                            result.error());
            return nullptr;
        }
        PyObject* out = to_python(result.value());
        if (out == nullptr) ensure_error_set();
        return out;
    });
}

}  // namespace velmora::module
