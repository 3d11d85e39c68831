// Reference ownership at the Python boundary.
//
// Rules, followed by every function in src/module:
//  - A reference handed to us by the interpreter (a call's arguments, the keyword-name tuple, the
//    module passed as self) or read from a container without a new reference is BORROWED: it stays
//    valid for the call, and we never release it. It is held as a plain PyObject*, marked
//    "borrowed" where it is declared; to keep it beyond its owner, take a reference with Py_INCREF
//    into an Owned.
//  - A reference returned by an API documented as "new reference" is OWNED: it goes straight into
//    an Owned, which releases it when the holder goes out of scope, on every path, including a
//    C++ exception. Owned::release() hands the reference on (to the caller, or to an API that
//    steals it) and empties the holder.
//  - A function returning PyObject* to the interpreter returns a new reference or null with a
//    Python error set.
#pragma once

#include <Python.h>

#include <utility>

namespace velmora::module {

class Owned {
public:
    Owned() noexcept = default;
    // Takes over a new reference (which may be null, after a failed API call).
    explicit Owned(PyObject* new_reference) noexcept : object_(new_reference) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    ~Owned() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

}  // namespace velmora::module
