// Module definition and one-time creation.
#pragma once

#include <Python.h>

namespace velmora::module {

// The body of PyInit_velmora: a new reference to the module, or null with an error set.
PyObject* initialise() noexcept;

}  // namespace velmora::module
