// _velmora_kernels: a private test-only extension that exposes the numerical kernels to pytest,
// so that they can be checked directly against mpmath. Not part of velmora's API.
#include <Python.h>

#include <cmath>
#include <complex>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "numerics/derivative/central_difference.hpp"
#include "numerics/ellip/carlson.hpp"
#include "numerics/ellip/cel.hpp"
#include "numerics/ellip/legendre.hpp"
#include "numerics/interp/linear.hpp"
#include "models/centroid.hpp"
#include "models/heyrovsky.hpp"
#include "models/ring_centroid.hpp"
#include "models/small_source.hpp"
#include "models/integrated/testing.hpp"
#include "models/witt_mao.hpp"
#include "numerics/lanes.hpp"
#include "numerics/lanes_testing.hpp"
#include "numerics/messages.hpp"
#include "numerics/quadrature/gauss_legendre.hpp"
#include "numerics/quadrature/graded_gauss.hpp"
#include "numerics/quadrature/tanh_sinh.hpp"

namespace {

using velmora::CalcResult;

// Wraps a kernel of N doubles: the value as a float, a failure as RuntimeError with its message.
template <auto Kernel, std::size_t... I>
PyObject* call_kernel(PyObject* args, std::index_sequence<I...>) {
    double x[sizeof...(I)];
    const char format[] = {(static_cast<void>(I), 'd')..., '\0'};
    if (!PyArg_ParseTuple(args, format, &x[I]...)) return nullptr;
    const CalcResult<double> r = Kernel(x[I]...);
    if (!r) {
        PyErr_SetString(PyExc_RuntimeError, r.error());
        return nullptr;
    }
    return PyFloat_FromDouble(*r);
}

template <auto Kernel, std::size_t N>
PyObject* py_kernel(PyObject*, PyObject* args) {
    return call_kernel<Kernel>(args, std::make_index_sequence<N>{});
}

// The paired kernels, as tuples: ellipke(m) -> (K, E), elliprf_elliprj_complete(c, p) -> (RF, RJ).
// ellipke(m) and ellipke_complement(x): the pair (K, E), a failure as RuntimeError.
template <velmora::CalcResult<velmora::CompleteKE> (*Pair)(double)>
PyObject* py_ke_pair(PyObject*, PyObject* args) {
    double x;
    if (!PyArg_ParseTuple(args, "d", &x)) return nullptr;
    const CalcResult<velmora::CompleteKE> r = Pair(x);
    if (!r) {
        PyErr_SetString(PyExc_RuntimeError, r.error());
        return nullptr;
    }
    return Py_BuildValue("(dd)", r->k, r->e);
}

PyObject* py_elliprf_elliprj_complete(PyObject*, PyObject* args) {
    double c, p;
    if (!PyArg_ParseTuple(args, "dd", &c, &p)) return nullptr;
    const CalcResult<velmora::CompleteRfRj> r = velmora::elliprf_elliprj_complete(c, p);
    if (!r) {
        PyErr_SetString(PyExc_RuntimeError, r.error());
        return nullptr;
    }
    return Py_BuildValue("(dd)", r->rf, r->rj);
}

// cel_sqrt_p(kc, sqrt_p, a, b) and cel_pair(kc, sqrt_p, a, b, a1, b1) -> (first, second): the
// unchecked forms the models call.
PyObject* py_cel_sqrt_p(PyObject*, PyObject* args) {
    double kc, sqrt_p, a, b;
    if (!PyArg_ParseTuple(args, "dddd", &kc, &sqrt_p, &a, &b)) return nullptr;
    return PyFloat_FromDouble(velmora::cel_sqrt_p(kc, sqrt_p, a, b));
}

PyObject* py_cel_pair(PyObject*, PyObject* args) {
    double kc, sqrt_p, a, b, a1, b1;
    if (!PyArg_ParseTuple(args, "dddddd", &kc, &sqrt_p, &a, &b, &a1, &b1)) return nullptr;
    const velmora::CelPair r = velmora::cel_pair(kc, sqrt_p, a, b, a1, b1);
    return Py_BuildValue("(dd)", r.first, r.second);
}

// Calls a Python function of one float. The first Python exception is kept (later calls are
// skipped and give NaN) and raised when the kernel returns.
struct PyFunction {
    PyObject* callable;
    bool failed = false;
    double operator()(double x) {
        if (failed) return NAN;
        PyObject* arg = PyFloat_FromDouble(x);
        PyObject* out = arg ? PyObject_CallOneArg(callable, arg) : nullptr;
        Py_XDECREF(arg);
        if (out == nullptr) {
            failed = true;
            return NAN;
        }
        const double v = PyFloat_AsDouble(out);
        Py_DECREF(out);
        if (v == -1.0 && PyErr_Occurred()) failed = true;
        return v;
    }
};

// Appends the pair (a, b) to a list; false with an error set on failure.
bool append_pair(PyObject* list, double a, double b) {
    PyObject* pair = Py_BuildValue("(dd)", a, b);
    const bool ok = pair != nullptr && PyList_Append(list, pair) == 0;
    Py_XDECREF(pair);
    return ok;
}

// gauss_legendre(f, a, b): the 10-point rule; gauss_legendre_nodes(): its (abscissa, weight) pairs.
PyObject* py_gauss_legendre(PyObject*, PyObject* args) {
    PyObject* f;
    double a, b;
    if (!PyArg_ParseTuple(args, "Odd", &f, &a, &b)) return nullptr;
    PyFunction fn{f};
    const double value = velmora::gauss_legendre(fn, a, b);
    if (fn.failed) return nullptr;
    return PyFloat_FromDouble(value);
}

PyObject* py_gauss_legendre_nodes(PyObject*, PyObject*) {
    PyObject* out = PyList_New(0);
    if (out == nullptr) return nullptr;
    for (const auto& node : velmora::gauss_legendre_nodes::kTen) {
        if (!append_pair(out, node.abscissa, node.weight)) {
            Py_DECREF(out);
            return nullptr;
        }
    }
    return out;
}

PyObject* py_integrate(PyObject*, PyObject* args) {
    PyObject* f;
    double a, b, target;
    if (!PyArg_ParseTuple(args, "Oddd", &f, &a, &b, &target)) return nullptr;
    PyFunction fn{f};
    const velmora::QuadratureOutput out = velmora::integrate(fn, a, b, target);
    if (fn.failed) return nullptr;
    return Py_BuildValue("(ddI)", out.integral, out.error_estimate, static_cast<unsigned>(out.function_evaluations));
}

// sderivative(f, x, step=None, failing=False): with failing, f's value None counts as a failed
// CalcResult (the path of the ring magnification's errors).
PyObject* py_sderivative(PyObject*, PyObject* args) {
    PyObject* f;
    double x;
    PyObject* step_obj = Py_None;
    int failing = 0;
    if (!PyArg_ParseTuple(args, "Od|Op", &f, &x, &step_obj, &failing)) return nullptr;
    std::optional<double> step;
    if (step_obj != Py_None) {
        step = PyFloat_AsDouble(step_obj);
        if (*step == -1.0 && PyErr_Occurred()) return nullptr;
    }
    bool failed = false;
    double result;
    if (failing) {
        auto g = [&](double t) -> CalcResult<double> {
            PyObject* arg = PyFloat_FromDouble(t);
            PyObject* out = arg ? PyObject_CallOneArg(f, arg) : nullptr;
            Py_XDECREF(arg);
            if (out == nullptr) {
                failed = true;
                return velmora::Failure{"test: call failed"};
            }
            if (out == Py_None) {
                Py_DECREF(out);
                return velmora::Failure{"test: failure"};
            }
            const double v = PyFloat_AsDouble(out);
            Py_DECREF(out);
            return v;
        };
        result = velmora::sderivative(g, x, step);
    } else {
        PyFunction fn{f};
        result = velmora::sderivative(fn, x, step);
        failed = fn.failed;
    }
    if (failed || PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(result);
}

PyObject* py_cbrt_eps(PyObject*, PyObject*) { return PyFloat_FromDouble(velmora::cbrt_eps()); }

// The uniform disk's centroid shift by one form: 0 the closed form in doubles, 1 in double-double,
// 2 the far-field series, 3 the factored form.
PyObject* py_centroid_form(PyObject*, PyObject* args) {
    double l, rho;
    int form;
    if (!PyArg_ParseTuple(args, "ddi", &l, &rho, &form)) return nullptr;
    using velmora::UniformDiskCentroid;
    const double v = form == 0   ? UniformDiskCentroid::closed_form(l, rho)
                     : form == 1 ? UniformDiskCentroid::closed_form_extended(l, rho)
                     : form == 2 ? UniformDiskCentroid::far_field(l, rho)
                     : form == 3 ? UniformDiskCentroid::factored_form(l, rho)
                                 : UniformDiskCentroid::factored_loss(l, rho);
    return PyFloat_FromDouble(v);
}

PyObject* py_ring_centroid(PyObject*, PyObject* args) {
    double l, r, rho;
    if (!PyArg_ParseTuple(args, "ddd", &l, &r, &rho)) return nullptr;
    return PyFloat_FromDouble(velmora::ring_centroid(l, r, rho));
}

// ring_pair(l, r, rho): (A, Z), the ring magnification and shift numerator from one AGM.
PyObject* py_ring_pair(PyObject*, PyObject* args) {
    double l, r, rho;
    if (!PyArg_ParseTuple(args, "ddd", &l, &r, &rho)) return nullptr;
    const velmora::RingPair both = velmora::ring_pair(l, r, rho);
    return Py_BuildValue("(dd)", both.magnification, both.numerator);
}

bool to_vector(PyObject* seq, std::vector<double>& out) {
    PyObject* fast = PySequence_Fast(seq, "expected a sequence");
    if (fast == nullptr) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast);
    for (Py_ssize_t i = 0; i < n; ++i) {
        const double v = PyFloat_AsDouble(PySequence_Fast_GET_ITEM(fast, i));
        if (v == -1.0 && PyErr_Occurred()) {
            Py_DECREF(fast);
            return false;
        }
        out.push_back(v);
    }
    Py_DECREF(fast);
    return true;
}

// A new list of n items, item(i) giving each as a new reference (nullptr: an error is set).
template <class Item>
PyObject* list_of(std::size_t n, Item&& item) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
    for (std::size_t i = 0; list != nullptr && i < n; ++i) {
        PyObject* one = item(i);
        if (one == nullptr) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), one);
    }
    return list;
}

PyObject* float_list(const std::vector<double>& values) {
    return list_of(values.size(), [&](std::size_t i) { return PyFloat_FromDouble(values[i]); });
}

// The extrapolation named "linear", "clamp" or "fill" (with the fill value); ValueError otherwise.
bool to_extrapolation(const char* mode_name, double fill, velmora::Extrapolation& out) {
    const std::string_view mode(mode_name);
    if (mode == "linear") {
        out = velmora::Extrapolation::linear();
    } else if (mode == "clamp") {
        out = velmora::Extrapolation::clamp();
    } else if (mode == "fill") {
        out = velmora::Extrapolation::filled(fill);
    } else {
        PyErr_SetString(PyExc_ValueError, "mode must be 'linear', 'clamp' or 'fill'");
        return false;
    }
    return true;
}

// interp(xs, ys, x, mode, fill=0.0), mode one of "linear", "clamp", "fill".
PyObject* py_interp(PyObject*, PyObject* args) {
    PyObject *xs_obj, *ys_obj;
    double x, fill = 0.0;
    const char* mode_name;
    if (!PyArg_ParseTuple(args, "OOds|d", &xs_obj, &ys_obj, &x, &mode_name, &fill)) return nullptr;
    std::vector<double> xs, ys;
    if (!to_vector(xs_obj, xs) || !to_vector(ys_obj, ys)) return nullptr;
    velmora::Extrapolation extrapolation;
    if (!to_extrapolation(mode_name, fill, extrapolation)) return nullptr;
    return PyFloat_FromDouble(velmora::interp(xs, ys, x, extrapolation));
}

// table_interp(xs, ys, points, mode, fill=0.0) -> (values, segment indices): one LinearTable read
// at every point; the indices are those of its bisection (None for fewer than 2 usable knots).
PyObject* py_table_interp(PyObject*, PyObject* args) {
    PyObject *xs_obj, *ys_obj, *points_obj;
    double fill = 0.0;
    const char* mode_name;
    if (!PyArg_ParseTuple(args, "OOOs|d", &xs_obj, &ys_obj, &points_obj, &mode_name, &fill)) return nullptr;
    std::vector<double> xs, ys, points;
    if (!to_vector(xs_obj, xs) || !to_vector(ys_obj, ys) || !to_vector(points_obj, points)) return nullptr;
    velmora::Extrapolation extrapolation;
    if (!to_extrapolation(mode_name, fill, extrapolation)) return nullptr;
    const velmora::LinearTable table(xs, ys);
    PyObject* values = PyList_New(0);
    PyObject* indices = PyList_New(0);
    PyObject* out = values && indices ? PyTuple_Pack(2, values, indices) : nullptr;
    Py_XDECREF(values);
    Py_XDECREF(indices);
    if (out == nullptr) return nullptr;
    for (const double x : points) {
        PyObject* value = PyFloat_FromDouble(table(x, extrapolation));
        PyObject* index = Py_None;
        if (table.size() >= 2) {
            index = PyLong_FromSize_t(table.segment_index(x));
        } else {
            Py_INCREF(index);
        }
        const bool ok = value && index && PyList_Append(values, value) == 0 && PyList_Append(indices, index) == 0;
        Py_XDECREF(value);
        Py_XDECREF(index);
        if (!ok) {
            Py_DECREF(out);
            return nullptr;
        }
    }
    return out;
}

// A route's values as a list, or its failure as RuntimeError.
PyObject* route_result(const CalcResult<std::vector<double>>& r) {
    if (!r) {
        PyErr_SetString(PyExc_RuntimeError, r.error());
        return nullptr;
    }
    PyObject* out = PyList_New(0);
    for (const double v : *r) {
        PyObject* item = out ? PyFloat_FromDouble(v) : nullptr;
        if (item == nullptr || PyList_Append(out, item) != 0) {
            Py_XDECREF(item);
            Py_XDECREF(out);
            return nullptr;
        }
        Py_DECREF(item);
    }
    return out;
}

// small_source_terms(rho, powers, weights): (terms inside, terms outside, reach) of the law's
// small-source series at rho, or None where it does not serve (or the law is invalid).
PyObject* py_small_source_terms(PyObject*, PyObject* args) {
    double rho;
    PyObject *powers_obj, *weights_obj;
    if (!PyArg_ParseTuple(args, "dOO", &rho, &powers_obj, &weights_obj)) return nullptr;
    std::vector<double> powers, weights;
    if (!to_vector(powers_obj, powers) || !to_vector(weights_obj, weights)) return nullptr;
    const CalcResult<velmora::PowerLaw> law = velmora::PowerLaw::make(powers, weights);
    if (!law) Py_RETURN_NONE;
    const std::optional<velmora::SmallSourceSeries> series = velmora::SmallSourceSeries::make(*law, rho, law->far_from());
    if (!series) Py_RETURN_NONE;
    return Py_BuildValue("(nnd)", static_cast<Py_ssize_t>(series->terms()),
                         static_cast<Py_ssize_t>(series->outside_terms()), series->reach());
}

namespace testing = velmora::integrated::testing;

// integrated_with_rule(route, l, re, rstar, bl, bf, exponent, ratio): route 0..5 = law ring, law
// disk, table ring, table disk, power law ring (its powers and weights as bl and bf), the same without
// the small-source series; the radius rule's exponent and ratio as given (None: the shipped one).
// Floored at 1 as the public functions are.
PyObject* py_integrated_with_rule(PyObject*, PyObject* args) {
    int route;
    PyObject *l_obj, *bl_obj, *bf_obj, *exponent_obj, *ratio_obj;
    double re, rstar;
    if (!PyArg_ParseTuple(args, "iOddOOOO", &route, &l_obj, &re, &rstar, &bl_obj, &bf_obj, &exponent_obj, &ratio_obj)) {
        return nullptr;
    }
    std::vector<double> l, bl, bf;
    if (!to_vector(l_obj, l) || !to_vector(bl_obj, bl) || !to_vector(bf_obj, bf)) return nullptr;
    if (route < 0 || route > 5) {
        PyErr_SetString(PyExc_ValueError, "route must be 0, 1, 2, 3, 4 or 5");
        return nullptr;
    }
    const testing::Route which = static_cast<testing::Route>(route);
    const velmora::GradedRule& shipped = testing::shipped_rule(which);
    double exponent = shipped.exponent(), ratio = shipped.ratio();
    if (exponent_obj != Py_None && (exponent = PyFloat_AsDouble(exponent_obj)) == -1.0 && PyErr_Occurred()) return nullptr;
    if (ratio_obj != Py_None && (ratio = PyFloat_AsDouble(ratio_obj)) == -1.0 && PyErr_Occurred()) return nullptr;
    const velmora::GradedRule rule(exponent, ratio);
    return route_result(testing::route_values(which, l, re, rstar, bl, bf, rule, velmora::integrated::Floor::at_one));
}

// A gradient route's (values, dA/du, dA/drho) as a tuple of three lists, or its failure as RuntimeError.
PyObject* gradient_result(const velmora::CalcResult<velmora::GradientLists>& r) {
    if (!r) {
        PyErr_SetString(PyExc_RuntimeError, r.error());
        return nullptr;
    }
    PyObject* value = route_result(r->value);
    PyObject* d_u = value ? route_result(r->d_u) : nullptr;
    PyObject* d_rho = d_u ? route_result(r->d_rho) : nullptr;
    PyObject* out = d_rho ? PyTuple_Pack(3, value, d_u, d_rho) : nullptr;
    Py_XDECREF(value);
    Py_XDECREF(d_u);
    Py_XDECREF(d_rho);
    return out;
}

// law_gradient_with_rule(l, re, rstar, powers, weights, exponent, ratio[, series]): the power law's
// gradient route, (values, dA/du, dA/drho) as three lists, its derivatives' radius rule as given
// (None: the shipped one); series=False keeps the derivatives off the small-source series. A failure
// is a RuntimeError.
PyObject* py_law_gradient_with_rule(PyObject*, PyObject* args) {
    PyObject *l_obj, *powers_obj, *weights_obj, *exponent_obj, *ratio_obj;
    double re, rstar;
    int series = 1;
    if (!PyArg_ParseTuple(args, "OddOOOO|p", &l_obj, &re, &rstar, &powers_obj, &weights_obj, &exponent_obj, &ratio_obj,
                          &series)) {
        return nullptr;
    }
    std::vector<double> l, powers, weights;
    if (!to_vector(l_obj, l) || !to_vector(powers_obj, powers) || !to_vector(weights_obj, weights)) return nullptr;
    const velmora::GradedRule& shipped = velmora::integrated::kPowerLawGradientRule;
    double exponent = shipped.exponent(), ratio = shipped.ratio();
    if (exponent_obj != Py_None && (exponent = PyFloat_AsDouble(exponent_obj)) == -1.0 && PyErr_Occurred()) return nullptr;
    if (ratio_obj != Py_None && (ratio = PyFloat_AsDouble(ratio_obj)) == -1.0 && PyErr_Occurred()) return nullptr;
    const velmora::CalcResult<velmora::GradientLists> r = velmora::integrated::power_law_gradient_route(
        l, re, rstar, powers, weights, velmora::GradedRule(exponent, ratio),
        series ? velmora::integrated::SmallSource::where_it_serves : velmora::integrated::SmallSource::never);
    return gradient_result(r);
}

// law_centroid(l, re, rstar, powers, weights, series): the power law's centroid shifts, series=False
// keeping them off the small-source series (the radius integrals everywhere below the far field).
PyObject* py_law_centroid(PyObject*, PyObject* args) {
    PyObject *l_obj, *powers_obj, *weights_obj;
    double re, rstar;
    int series = 1;
    if (!PyArg_ParseTuple(args, "OddOO|p", &l_obj, &re, &rstar, &powers_obj, &weights_obj, &series)) return nullptr;
    std::vector<double> l, powers, weights;
    if (!to_vector(l_obj, l) || !to_vector(powers_obj, powers) || !to_vector(weights_obj, weights)) return nullptr;
    return route_result(velmora::integrated::power_law_centroid_route(
        l, re, rstar, powers, weights, velmora::integrated::kPowerLawRule,
        series ? velmora::integrated::SmallSource::where_it_serves : velmora::integrated::SmallSource::never));
}

// table_gradient_with_rule(l, re, rstar, bl, bf, exponent, ratio): the flux map's gradient route,
// (values, dA/du, dA/drho) as three lists, its derivatives' radius rule as given (None: the
// shipped one). A failure is a RuntimeError.
PyObject* py_table_gradient_with_rule(PyObject*, PyObject* args) {
    PyObject *l_obj, *bl_obj, *bf_obj, *exponent_obj, *ratio_obj;
    double re, rstar;
    if (!PyArg_ParseTuple(args, "OddOOOO", &l_obj, &re, &rstar, &bl_obj, &bf_obj, &exponent_obj, &ratio_obj)) {
        return nullptr;
    }
    std::vector<double> l, bl, bf;
    if (!to_vector(l_obj, l) || !to_vector(bl_obj, bl) || !to_vector(bf_obj, bf)) return nullptr;
    if (bl.size() != bf.size()) {
        PyErr_SetString(PyExc_ValueError, "bl and bf must have the same length");
        return nullptr;
    }
    const velmora::GradedRule& shipped = velmora::integrated::kTableRule;
    double exponent = shipped.exponent(), ratio = shipped.ratio();
    if (exponent_obj != Py_None && (exponent = PyFloat_AsDouble(exponent_obj)) == -1.0 && PyErr_Occurred()) return nullptr;
    if (ratio_obj != Py_None && (ratio = PyFloat_AsDouble(ratio_obj)) == -1.0 && PyErr_Occurred()) return nullptr;
    const velmora::CalcResult<velmora::GradientLists> r =
        velmora::integrated::table_gradient_route(l, re, rstar, bl, bf, velmora::GradedRule(exponent, ratio));
    return gradient_result(r);
}

// integrated_unfloored(name, l, re, rstar, bl=(), bf=()): what the integrated function `name` (one of
// velmora's five integrated_* names) computes before its final floor at 1, with its shipped rule;
// the ring and disk magnifications inside the integrals are as the function takes them. bl and bf
// are read by the flux-map functions only (and are the powers and weights of the power law's). An unknown name is a ValueError.
PyObject* py_integrated_unfloored(PyObject*, PyObject* args) {
    const char* name;
    PyObject *l_obj, *bl_obj = nullptr, *bf_obj = nullptr;
    double re, rstar;
    if (!PyArg_ParseTuple(args, "sOdd|OO", &name, &l_obj, &re, &rstar, &bl_obj, &bf_obj)) return nullptr;
    std::vector<double> l, bl, bf;
    if (!to_vector(l_obj, l)) return nullptr;
    if (bl_obj != nullptr && !to_vector(bl_obj, bl)) return nullptr;
    if (bf_obj != nullptr && !to_vector(bf_obj, bf)) return nullptr;
    constexpr std::pair<std::string_view, testing::Route> kNames[] = {
        {"integrated_heyrovsky_magnification", testing::Route::law_ring},
        {"integrated_witt_mao_magnification", testing::Route::law_disk},
        {"integrated_flux_map_heyrovsky_magnification", testing::Route::table_ring},
        {"integrated_flux_map_witt_mao_magnification", testing::Route::table_disk},
        {"integrated_law_heyrovsky_magnification", testing::Route::power_law_ring},
    };
    for (const auto& [known, route] : kNames) {
        if (known != name) continue;
        return route_result(testing::route_values(route, l, re, rstar, bl, bf, testing::shipped_rule(route),
                                                  velmora::integrated::Floor::none));
    }
    PyErr_Format(PyExc_ValueError, "no integrated function is named '%s'", name);
    return nullptr;
}

// sixth_root_bernstein_s(t): a mapped panel's view of the singular point t (complex).
PyObject* py_sixth_root_bernstein_s(PyObject*, PyObject* args) {
    Py_complex t;
    if (!PyArg_ParseTuple(args, "D", &t)) return nullptr;
    return PyFloat_FromDouble(velmora::sixth_root_bernstein_s(std::complex<double>(t.real, t.imag)));
}

// graded_gauss(f, a, b, points, end, exponent, ratio): end 0 none, 1 at a, 2 at b; points complex.
PyObject* py_graded_gauss(PyObject*, PyObject* args) {
    PyObject *f, *points_obj;
    double a, b, exponent, ratio;
    int end;
    if (!PyArg_ParseTuple(args, "OddOidd", &f, &a, &b, &points_obj, &end, &exponent, &ratio)) return nullptr;
    PyObject* seq = PySequence_Fast(points_obj, "points must be a sequence");
    if (seq == nullptr) return nullptr;
    std::vector<std::complex<double>> points;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i) {
        const Py_complex z = PyComplex_AsCComplex(PySequence_Fast_GET_ITEM(seq, i));
        if (z.real == -1.0 && PyErr_Occurred()) {
            Py_DECREF(seq);
            return nullptr;
        }
        points.emplace_back(z.real, z.imag);
    }
    Py_DECREF(seq);
    PyFunction fn{f};
    const double value = velmora::graded_gauss(fn, a, b, points, static_cast<velmora::SingularEnd>(end),
                                               velmora::GradedRule{exponent, ratio});
    if (fn.failed) return nullptr;
    return PyFloat_FromDouble(value);
}

// The batch magnifications with the widest lanes (avx true) or two: rings(l, r, re, rstar, avx) gives
// the ring magnifications at the radii r, concentric(l, rho, r, avx) the concentric disks'.
template <bool Ring>
PyObject* py_lanes(PyObject*, PyObject* args) {
    PyObject* r_obj;
    double l, a, b = 0.0;
    int avx;
    const bool parsed = Ring ? PyArg_ParseTuple(args, "dOddp", &l, &r_obj, &a, &b, &avx)
                             : PyArg_ParseTuple(args, "ddOp", &l, &a, &r_obj, &avx);
    if (!parsed) return nullptr;
    std::vector<double> r;
    if (!to_vector(r_obj, r)) return nullptr;
    std::vector<double> out(r.size());
    velmora::lanes::allow_avx(avx != 0);
    if (Ring) {
        velmora::heyrovsky_magnifications(l, r, a, b, out);
    } else {
        velmora::UniformDisk::concentric(l, a, r, out);
    }
    velmora::lanes::allow_avx(true);
    return float_list(out);
}

// ring_pairs(l, rho, r, avx): the pairs of ring_pair at the radii r, taken in lanes, as a list of
// (A, Z) tuples.
PyObject* py_ring_pairs(PyObject*, PyObject* args) {
    PyObject* r_obj;
    double l, rho;
    int avx;
    if (!PyArg_ParseTuple(args, "ddOp", &l, &rho, &r_obj, &avx)) return nullptr;
    std::vector<double> r;
    if (!to_vector(r_obj, r)) return nullptr;
    std::vector<double> a(r.size()), z(r.size());
    velmora::lanes::allow_avx(avx != 0);
    velmora::ring_pairs(l, rho, r, a, z);
    velmora::lanes::allow_avx(true);
    return list_of(r.size(), [&](std::size_t i) { return Py_BuildValue("(dd)", a[i], z[i]); });
}

// centroid_far_fields(l, rho, weights, magnifications, avx): the centroid's far-field series at
// every l (each with its magnification), taken in lanes; centroid_far_field(l, rho, weights, a):
// the same at one position.
PyObject* py_centroid_far_fields(PyObject*, PyObject* args) {
    PyObject *l_obj, *w_obj, *a_obj;
    double rho;
    int avx;
    if (!PyArg_ParseTuple(args, "OdOOp", &l_obj, &rho, &w_obj, &a_obj, &avx)) return nullptr;
    std::vector<double> l, w, out;
    if (!to_vector(l_obj, l) || !to_vector(w_obj, w) || !to_vector(a_obj, out)) return nullptr;
    if (w.size() != velmora::UniformDisk::kFarFieldTerms || out.size() != l.size()) {
        PyErr_SetString(PyExc_ValueError, "12 weights and one magnification per position");
        return nullptr;
    }
    std::vector<std::size_t> at(l.size());
    for (std::size_t i = 0; i < at.size(); ++i) at[i] = i;
    velmora::lanes::allow_avx(avx != 0);
    velmora::centroid_far_fields_at(l, rho, w, at, out);
    velmora::lanes::allow_avx(true);
    return float_list(out);
}

PyObject* py_centroid_far_field(PyObject*, PyObject* args) {
    PyObject* w_obj;
    double l, rho, a;
    if (!PyArg_ParseTuple(args, "ddOd", &l, &rho, &w_obj, &a)) return nullptr;
    std::vector<double> w;
    if (!to_vector(w_obj, w)) return nullptr;
    if (w.size() != velmora::UniformDisk::kFarFieldTerms) {
        PyErr_SetString(PyExc_ValueError, "12 weights");
        return nullptr;
    }
    return PyFloat_FromDouble(velmora::centroid_far_field(l, rho, w, a));
}

// concentric_derivatives(l, rho, r, avx): (∂W/∂u, ∂W/∂ρ) of the concentric disks of radii r, taken
// in lanes, as two lists; concentric_derivative(l, r, rho): the same for one radius.
PyObject* py_concentric_derivatives(PyObject*, PyObject* args) {
    PyObject* r_obj;
    double l, rho;
    int avx;
    if (!PyArg_ParseTuple(args, "ddOp", &l, &rho, &r_obj, &avx)) return nullptr;
    std::vector<double> r;
    if (!to_vector(r_obj, r)) return nullptr;
    std::vector<double> l_minus_r(r.size()), d_u(r.size()), d_rho(r.size());
    for (std::size_t i = 0; i < r.size(); ++i) l_minus_r[i] = l - r[i];
    velmora::lanes::allow_avx(avx != 0);
    velmora::UniformDisk::concentric_derivatives(l, rho, r, l_minus_r, d_u, d_rho);
    velmora::lanes::allow_avx(true);
    PyObject* u_list = float_list(d_u);
    if (u_list == nullptr) return nullptr;
    PyObject* rho_list = float_list(d_rho);
    if (rho_list == nullptr) {
        Py_DECREF(u_list);
        return nullptr;
    }
    return Py_BuildValue("(NN)", u_list, rho_list);
}

PyObject* py_concentric_derivative(PyObject*, PyObject* args) {
    double l, r, rho;
    if (!PyArg_ParseTuple(args, "ddd", &l, &r, &rho)) return nullptr;
    const velmora::Gradient g = velmora::UniformDisk::concentric_derivatives(l, r, l - r, rho);
    return Py_BuildValue("(dd)", g.d_u, g.d_rho);
}

// flux_map_normaliser(bl, bf): N = ∫₀¹ 2πr P(r) dr as the flux-map functions divide by it.
PyObject* py_flux_map_normaliser(PyObject*, PyObject* args) {
    PyObject *bl_obj, *bf_obj;
    if (!PyArg_ParseTuple(args, "OO", &bl_obj, &bf_obj)) return nullptr;
    std::vector<double> bl, bf;
    if (!to_vector(bl_obj, bl) || !to_vector(bf_obj, bf)) return nullptr;
    if (bl.size() != bf.size()) {
        PyErr_SetString(PyExc_ValueError, "bl and bf must have the same length");
        return nullptr;
    }
    const CalcResult<double> n = testing::flux_map_normaliser(bl, bf);
    if (!n) {
        PyErr_SetString(PyExc_RuntimeError, n.error());
        return nullptr;
    }
    return PyFloat_FromDouble(*n);
}

// The node table as a list of 7 lists of (weight, abscissa).
PyObject* py_tanh_sinh_nodes(PyObject*, PyObject*) {
    PyObject* levels = PyList_New(0);
    if (levels == nullptr) return nullptr;
    for (const auto level : velmora::tanh_sinh_nodes::kLevels) {
        PyObject* items = PyList_New(0);
        if (items == nullptr || PyList_Append(levels, items) < 0) {
            Py_XDECREF(items);
            Py_DECREF(levels);
            return nullptr;
        }
        Py_DECREF(items);
        for (const auto& node : level) {
            if (!append_pair(items, node.weight, node.abscissa)) {
                Py_DECREF(levels);
                return nullptr;
            }
        }
    }
    return levels;
}

// messages() -> {name: text}: every fixed message of the system, as the code raises it.
PyObject* py_messages(PyObject*, PyObject*) {
    PyObject* out = PyDict_New();
    if (out == nullptr) return nullptr;
    for (const velmora::messages::Named& m : velmora::messages::kAll) {
        PyObject* text = PyUnicode_FromString(m.text);
        if (text == nullptr || PyDict_SetItemString(out, m.name, text) < 0) {
            Py_XDECREF(text);
            Py_DECREF(out);
            return nullptr;
        }
        Py_DECREF(text);
    }
    return out;
}

PyMethodDef kMethods[] = {
    {"messages", py_messages, METH_NOARGS, nullptr},
    {"elliprf", py_kernel<velmora::elliprf, 3>, METH_VARARGS, nullptr},
    {"elliprc", py_kernel<velmora::elliprc, 2>, METH_VARARGS, nullptr},
    {"elliprd", py_kernel<velmora::elliprd, 3>, METH_VARARGS, nullptr},
    {"elliprj", py_kernel<velmora::elliprj, 4>, METH_VARARGS, nullptr},
    {"ellipk", py_kernel<velmora::ellipk, 1>, METH_VARARGS, nullptr},
    {"ellipe", py_kernel<velmora::ellipe, 1>, METH_VARARGS, nullptr},
    {"ellippi", py_kernel<velmora::ellippi, 2>, METH_VARARGS, nullptr},
    {"ellipke", py_ke_pair<velmora::ellipke>, METH_VARARGS, nullptr},
    {"ellipke_complement", py_ke_pair<velmora::ellipke_complement>, METH_VARARGS, nullptr},
    {"small_source_terms", py_small_source_terms, METH_VARARGS, nullptr},
    {"cel", py_kernel<velmora::cel, 4>, METH_VARARGS, nullptr},
    {"cel_sqrt_p", py_cel_sqrt_p, METH_VARARGS, nullptr},
    {"cel_pair", py_cel_pair, METH_VARARGS, nullptr},
    {"elliprf_elliprj_complete", py_elliprf_elliprj_complete, METH_VARARGS, nullptr},
    {"integrate", py_integrate, METH_VARARGS, nullptr},
    {"sderivative", py_sderivative, METH_VARARGS, nullptr},
    {"cbrt_eps", py_cbrt_eps, METH_NOARGS, nullptr},
    {"centroid_form", py_centroid_form, METH_VARARGS, nullptr},
    {"ring_centroid", py_ring_centroid, METH_VARARGS, nullptr},
    {"interp", py_interp, METH_VARARGS, nullptr},
    {"table_interp", py_table_interp, METH_VARARGS, nullptr},
    {"tanh_sinh_nodes", py_tanh_sinh_nodes, METH_NOARGS, nullptr},
    {"gauss_legendre", py_gauss_legendre, METH_VARARGS, nullptr},
    {"gauss_legendre_nodes", py_gauss_legendre_nodes, METH_NOARGS, nullptr},
    {"integrated_with_rule", py_integrated_with_rule, METH_VARARGS, nullptr},
    {"law_gradient_with_rule", py_law_gradient_with_rule, METH_VARARGS, nullptr},
    {"law_centroid", py_law_centroid, METH_VARARGS, nullptr},
    {"table_gradient_with_rule", py_table_gradient_with_rule, METH_VARARGS, nullptr},
    {"integrated_unfloored", py_integrated_unfloored, METH_VARARGS, nullptr},
    {"graded_gauss", py_graded_gauss, METH_VARARGS, nullptr},
    {"sixth_root_bernstein_s", py_sixth_root_bernstein_s, METH_VARARGS, nullptr},
    {"rings", py_lanes<true>, METH_VARARGS, nullptr},
    {"ring_pair", py_ring_pair, METH_VARARGS, nullptr},
    {"ring_pairs", py_ring_pairs, METH_VARARGS, nullptr},
    {"centroid_far_fields", py_centroid_far_fields, METH_VARARGS, nullptr},
    {"concentric_derivatives", py_concentric_derivatives, METH_VARARGS, nullptr},
    {"concentric_derivative", py_concentric_derivative, METH_VARARGS, nullptr},
    {"centroid_far_field", py_centroid_far_field, METH_VARARGS, nullptr},
    {"flux_map_normaliser", py_flux_map_normaliser, METH_VARARGS, nullptr},
    {"concentric", py_lanes<false>, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_velmora_kernels", "velmora's numerical kernels, for its tests.",
                       -1, kMethods, nullptr, nullptr, nullptr, nullptr};

}  // namespace


PyMODINIT_FUNC PyInit__velmora_kernels(void) { return PyModule_Create(&kModule); }
