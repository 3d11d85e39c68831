// The module's process-wide state: created at the first import, with the interpreter lock held,
// and kept for the life of the process (the module is never re-created).
#pragma once

#include <Python.h>

namespace velmora::module {

struct ModuleState {
    PyObject* module = nullptr;      // owned: the module object, filled once
    PyObject* panic_type = nullptr;  // owned: velmora.PanicException, filled once
};

ModuleState& module_state();

}  // namespace velmora::module
