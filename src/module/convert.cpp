#include "module/convert.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>

#include "module/refs.hpp"
#include "numerics/messages.hpp"

namespace velmora::module {
namespace {

// The capacity reserved from a sequence's __len__ is capped: a __len__ may be wrong (or huge), and
// the vector grows as needed anyway.
constexpr Py_ssize_t kMaxReserve = Py_ssize_t{1} << 20;

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

void set_not_sequence_error(PyObject* object) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
    // An interned name, made once: the type attribute cache keeps a reference to each name it
    // is asked for, so a fresh string per refused call would pile up there.
    static PyObject* const qualname = PyUnicode_InternFromString("__qualname__");
    Owned name(qualname != nullptr ? PyObject_GetAttr(type, qualname) : nullptr);
    if (name && PyUnicode_Check(name.get())) {
        PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to 'Sequence'", name.get());
    } else {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'Sequence'", Py_TYPE(object)->tp_name);
    }
}

// The buffer format of a native double: "d", optionally with a native-order prefix, or the
// explicit byte order that matches this machine's.
bool is_native_double_format(const char* format) {
    if (format == nullptr) return false;  // no format given means unsigned bytes
    if (*format == '@' || *format == '=' || *format == (kLittleEndian ? '<' : '>')) ++format;
    return format[0] == 'd' && format[1] == '\0';
}

// Zero-copy path for sequences that expose a C-contiguous one-dimensional buffer of doubles
// (NumPy float64 arrays, array('d'), memoryviews of them): the values are copied in one block,
// with no Python float per element. Returns false, with no error set, when the object offers no
// such buffer; the caller then iterates, which gives the same values for these objects.
bool read_double_buffer(PyObject* object, std::vector<double>* out) {
    if (!PyObject_CheckBuffer(object)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
        PyErr_Clear();  // e.g. a strided array: iterate it instead
        return false;
    }
    const bool usable = view.ndim == 1 && view.itemsize == static_cast<Py_ssize_t>(sizeof(double)) &&
                        is_native_double_format(view.format);
    if (usable) {
        const auto* first = static_cast<const double*>(view.buf);
        out->assign(first, first + view.len / view.itemsize);
    }
    PyBuffer_Release(&view);
    return usable;
}

}  // namespace

bool float_argument(PyObject* object, double* out) {
    if (PyFloat_CheckExact(object)) {
        *out = PyFloat_AS_DOUBLE(object);
        return true;
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    *out = value;
    return true;
}

bool float_sequence_argument(PyObject* object, std::vector<double>* out) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, messages::kStrForSequence);
        return false;
    }
    if (!PySequence_Check(object)) {
        set_not_sequence_error(object);
        return false;
    }
    if (read_double_buffer(object, out)) return true;

    Py_ssize_t capacity = PySequence_Size(object);
    if (capacity == -1) {
        PyErr_Clear();
        capacity = 0;
    }
    out->clear();
    out->reserve(static_cast<std::size_t>(std::min(capacity, kMaxReserve)));

    Owned iterator(PyObject_GetIter(object));
    if (!iterator) return false;
    while (true) {
        Owned item(PyIter_Next(iterator.get()));
        if (!item) break;
        double value;
        if (!float_argument(item.get(), &value)) return false;
        out->push_back(value);
    }
    return !PyErr_Occurred();
}

PyObject* float_result(double value) { return PyFloat_FromDouble(value); }

PyObject* float_list_result(const std::vector<double>& values) {
    Owned list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyFloat_FromDouble(values[i]);
        if (item == nullptr) return nullptr;  // the list (with null slots) is released by its holder
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
    }
    return list.release();
}

PyObject* gradient_result(const GradientLists& lists) {
    // Each list is held until the tuple takes it, so a failure on the way releases what was built.
    Owned value(float_list_result(lists.value));
    if (!value) return nullptr;
    Owned d_u(float_list_result(lists.d_u));
    if (!d_u) return nullptr;
    Owned d_rho(float_list_result(lists.d_rho));
    if (!d_rho) return nullptr;
    Owned tuple(PyTuple_New(3));
    if (!tuple) return nullptr;
    PyTuple_SET_ITEM(tuple.get(), 0, value.release());  // steals each
    PyTuple_SET_ITEM(tuple.get(), 1, d_u.release());
    PyTuple_SET_ITEM(tuple.get(), 2, d_rho.release());
    return tuple.release();
}

}  // namespace velmora::module
