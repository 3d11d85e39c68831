#include "module/module.hpp"

#include <array>
#include <tuple>
#include <type_traits>
#include <utility>

#include "module/function_table.hpp"
#include "models/interrupt.hpp"
#include "module/call_frame.hpp"
#include "module/errors.hpp"
#include "module/refs.hpp"
#include "numerics/messages.hpp"
#include "module/state.hpp"

namespace velmora::module {
namespace {

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION (the version in pyproject.toml) is set by CMakeLists.txt"
#endif

constexpr const char kModuleDoc[] =
    "Point-lens microlensing magnification of extended sources: uniform disks, thin rings, "
    "limb-darkened disks and radial flux maps.";

constexpr std::size_t kFunctionCount = std::tuple_size_v<std::remove_cvref_t<decltype(api::kFunctions)>>;

// The models' interrupt hook: runs the Python handlers of pending signals (the models poll it
// every few milliseconds, always on a thread holding the interpreter lock). True when a handler
// raised, as the default SIGINT handler does with KeyboardInterrupt: the call then stops.
bool signal_raised() { return PyErr_CheckSignals() != 0; }

// One entry point per function, all running the same call frame on their row of the table.
template <std::size_t I>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_frame(api::kFunctions[I], args, nargs, kwnames);
}

template <std::size_t... I>
std::array<PyMethodDef, sizeof...(I)> make_method_table(std::index_sequence<I...>) {
    return {{PyMethodDef{api::kFunctions[I].name,
                         reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<I>)),
                         METH_FASTCALL | METH_KEYWORDS, api::kFunctions[I].doc.data()}...}};
}

PyModuleDef& definition() {
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT,
        "velmora",   // m_name
        kModuleDoc,  // m_doc
        0,           // m_size
        nullptr,     // m_methods: functions are added one by one, in order
        nullptr,     // m_slots
        nullptr,     // m_traverse
        nullptr,     // m_clear
        nullptr,     // m_free
    };
    return def;
}

// Appends the function's __name__ to __all__ (creating the list) and sets the attribute.
bool add_function(PyObject* module, PyObject* function) {
    Owned name(PyObject_GetAttrString(function, "__name__"));
    if (!name) return false;
    PyObject* dict = PyModule_GetDict(module);  // borrowed
    PyObject* all = PyDict_GetItemString(dict, "__all__");  // borrowed
    if (all == nullptr) {
        Owned created(PyList_New(0));
        if (!created || PyDict_SetItemString(dict, "__all__", created.get()) < 0) return false;
        all = created.get();  // the module dict keeps it alive
    }
    if (!PyList_Check(all) || PyList_Append(all, name.get()) < 0) {
        PyErr_SetString(PyExc_ImportError, messages::kAllNotList);
        return false;
    }
    return PyObject_SetAttr(module, name.get(), function) == 0;
}

// Adds the functions in registration order, then the panic exception type and __version__.
bool populate(PyObject* module) {
    static std::array<PyMethodDef, kFunctionCount> methods =
        make_method_table(std::make_index_sequence<kFunctionCount>{});
    Owned module_name(PyModule_GetNameObject(module));
    if (!module_name) return false;
    for (PyMethodDef& method : methods) {
        Owned function(PyCMethod_New(&method, module, module_name.get(), nullptr));
        if (!function || !add_function(module, function.get())) return false;
    }
    Owned panic(create_panic_exception_type());
    if (!panic || PyObject_SetAttrString(module, "PanicException", panic.get()) < 0) return false;
    return PyModule_AddStringConstant(module, "__version__", VELMORA_VERSION) == 0;
}

PyObject* create_module() {
    // Only the main interpreter may import: the module object and the panic type are shared
    // process-wide. Asking which interpreter is the main one (rather than letting the first
    // importer claim the process) keeps a sub-interpreter that imports first, and is then
    // destroyed, from locking the main interpreter out.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, messages::kSubinterpreter);
        return nullptr;
    }

    if (module_state().module != nullptr) {
        Py_INCREF(module_state().module);
        return module_state().module;
    }

    Owned module(PyModule_Create2(&definition(), PYTHON_API_VERSION));
    if (!module) return nullptr;
#if PY_VERSION_HEX >= 0x030D0000 && defined(Py_GIL_DISABLED)
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED) < 0) return nullptr;
#endif
    if (!populate(module.get())) return nullptr;
    interrupt::install(&signal_raised);

    if (module_state().module == nullptr) module_state().module = module.release();
    Py_INCREF(module_state().module);
    return module_state().module;
}

}  // namespace

ModuleState& module_state() {
    static ModuleState state;
    return state;
}

PyObject* initialise() noexcept { return trap_panics(create_module); }

}  // namespace velmora::module
