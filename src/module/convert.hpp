// The conversions between Python objects and the models' doubles and vectors.
// Each returns false / null with a Python error set on failure.
#pragma once

#include <Python.h>

#include <vector>

#include "models/gradient.hpp"

namespace velmora::module {

// A float is read directly; anything else goes through __float__ / __index__ (PyFloat_AsDouble).
bool float_argument(PyObject* object, double* out);

// A sequence (not a str) iterated element by element, each converted as a float argument.
bool float_sequence_argument(PyObject* object, std::vector<double>* out);

PyObject* float_result(double value);
PyObject* float_list_result(const std::vector<double>& values);
// A tuple of three lists: the magnifications, ∂A/∂u and ∂A/∂ρ.
PyObject* gradient_result(const GradientLists& lists);

}  // namespace velmora::module
