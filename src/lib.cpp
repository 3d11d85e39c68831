// velmora: point-lens microlensing magnification of extended sources.
//
// The module ties three layers together:
//   src/numerics  kernels: Carlson and Legendre elliptic integrals, tanh-sinh quadrature,
//                 central differences, linear interpolation (no Python);
//   src/models    the magnification models and the list of them with their parameter names (no Python);
//   src/module    the Python boundary: the function table built from that list (text signatures,
//                 argument slots), module creation, the call frame, conversions, exceptions.
#include <Python.h>

#include "module/module.hpp"

PyMODINIT_FUNC PyInit_velmora(void) { return velmora::module::initialise(); }
