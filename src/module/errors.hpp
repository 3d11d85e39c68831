// Python exceptions raised by the boundary.
#pragma once

#include <Python.h>

#include <exception>

#include "numerics/messages.hpp"

namespace velmora::module {

inline constexpr const char* kPanicMessage = messages::kPanic;

// The panic exception type (a BaseException subclass), created on the first call (at import);
// returns a new reference, or null with an error set.
PyObject* create_panic_exception_type();

// Raises the panic exception with `message`; if that is impossible, stops the process.
void raise_panic(const char* message) noexcept;

// The panic trap: runs body (→ PyObject*) and turns any C++ exception that escapes it (an internal
// assertion, std::bad_alloc) into the panic exception, so that none crosses into the interpreter.
template <class Body>
PyObject* trap_panics(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& error) {
        raise_panic(error.what());
    } catch (...) {
        raise_panic(kPanicMessage);
    }
    return nullptr;
}

// If the pending error is exactly a TypeError, replaces it by
// TypeError("argument '<name>': <message>") with the same cause; other errors pass unchanged.
void prefix_argument_error(const char* name) noexcept;

// Sets SystemError "attempted to fetch exception but none was set" if no error is pending.
void ensure_error_set() noexcept;

}  // namespace velmora::module
