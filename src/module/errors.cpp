#include "module/errors.hpp"

#include "module/refs.hpp"
#include "module/state.hpp"

namespace velmora::module {
namespace {

constexpr const char kPanicDoc[] =
    "The exception raised when the native code of velmora aborts (an internal assertion fails or "
    "memory runs out).\n\n"
    "Like SystemExit, it derives from BaseException, so a plain ``except Exception`` does not "
    "catch it.";

// The pending exception as one object (new reference), the error indicator cleared.
Owned take_pending_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return Owned(PyErr_GetRaisedException());
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return Owned(value);
#endif
}

void restore_exception(Owned exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception.release());
#else
    PyObject* value = exception.release();
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    Py_INCREF(type);
    PyErr_Restore(type, value, PyException_GetTraceback(value));
#endif
}

}  // namespace

PyObject* create_panic_exception_type() {
    PyObject*& type = module_state().panic_type;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc("velmora.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
        if (type == nullptr) return nullptr;
    }
    Py_INCREF(type);
    return type;
}

void raise_panic(const char* message) noexcept {
    PyObject* type = module_state().panic_type;
    if (type == nullptr) Py_FatalError(kPanicMessage);
    PyErr_SetString(type, message);
}

void prefix_argument_error(const char* name) noexcept {
    if (!PyErr_Occurred()) return;
    Owned error = take_pending_exception();
    if (!error || Py_TYPE(error.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        if (error) restore_exception(std::move(error));
        return;
    }
    Owned text(PyObject_Str(error.get()));
    if (!text) return;  // str() failed: its error is pending
    Owned message(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) return;
    Owned remapped(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!remapped) return;
    PyObject* cause = PyException_GetCause(error.get());  // new reference or null
    if (cause != nullptr) PyException_SetCause(remapped.get(), cause);  // steals cause
    restore_exception(std::move(remapped));
}

void ensure_error_set() noexcept {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, messages::kNoError);
}

}  // namespace velmora::module
