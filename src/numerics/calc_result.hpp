// CalcResult: the outcome of every numerical routine that can fail.
//
// A routine returns either its value or one static message text ("ellipk: m must be less than 1.").
// Errors travel by value: no exceptions, no global state. The first error met ends a computation
// and is passed up unchanged; only the Python boundary turns it into an exception.
#pragma once

#include <utility>

namespace velmora {

// A failure: a pointer to a static, NUL-terminated message with no placeholders.
struct Failure {
    const char* message;
};

template <class T>
class CalcResult {
public:
    CalcResult(T value) : value_(std::move(value)), error_(nullptr) {}  // NOLINT: implicit by design
    CalcResult(Failure failure) : value_(), error_(failure.message) {}  // NOLINT: implicit by design

    bool ok() const { return error_ == nullptr; }
    explicit operator bool() const { return ok(); }

    // The value; only meaningful when ok().
    const T& value() const& { return value_; }
    T&& value() && { return std::move(value_); }
    const T& operator*() const& { return value_; }
    const T* operator->() const { return &value_; }

    const char* error() const { return error_; }
    Failure failure() const { return Failure{error_}; }

    // The value, or `fallback` on error (the integrands count an error as NaN).
    T value_or(T fallback) const { return ok() ? value_ : fallback; }

private:
    T value_;
    const char* error_;
};

}  // namespace velmora
