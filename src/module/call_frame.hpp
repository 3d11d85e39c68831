// The one call frame of every Python-visible function.
#pragma once

#include <Python.h>

#include "module/function_table.hpp"

namespace velmora::module {

// Binds positional and keyword arguments to fn's parameters, converts them in parameter order,
// runs the model and converts its value. Errors: argument binding and conversion TypeError
// (conversion messages prefixed "argument '<name>': "), a model's message as RuntimeError, and any
// C++ exception as the panic exception, and a model stopped by a signal as the exception its
// handler raised (KeyboardInterrupt for Ctrl-C). Nothing escapes into the interpreter.
PyObject* call_frame(const api::FunctionSpec& fn, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept;

}  // namespace velmora::module
