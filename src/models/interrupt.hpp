// Stopping a long call. The models poll between lens positions (and between the rings of a
// discrete table); every few milliseconds a poll asks the boundary, through a hook the boundary
// installs at import, whether the call should stop: the Python boundary checks for a pending
// signal there and says stop when the signal's handler raised. The model then returns the
// sentinel failure stopped(), and the call frame raises the pending exception instead of a
// RuntimeError. The models know nothing of Python: a function pointer and a sentinel.
//
// Cost: a poll is a subtraction and a branch until its work budget runs out; then one clock
// read, and at most every kAskInterval one call of the hook.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "numerics/calc_result.hpp"
#include "numerics/messages.hpp"

namespace velmora::interrupt {

// Returns true when the call should stop (the boundary then has an exception pending).
using Hook = bool (*)();

// The sentinel message; told apart from every kernel message by its address.
inline constexpr const char* kStopped = messages::kStopped;

// Work between two clock reads, in units of about one kernel evaluation (0.1 µs): a few
// hundred microseconds of the cheapest loops.
inline constexpr std::int32_t kBudget = 4096;
// The hook is asked at most this often (a call stops within about this long of a signal).
inline constexpr std::chrono::nanoseconds kAskInterval = std::chrono::milliseconds(10);

namespace detail {
inline std::atomic<Hook> hook{nullptr};
// The budget is a plain integer, so that the fast path is one subtraction in memory and a branch.
// The module is only called with the interpreter lock held (it declares that it needs the GIL),
// so calls never poll at the same time.
inline std::int32_t budget = kBudget;
inline std::atomic<std::int64_t> last_ask{0};  // steady-clock nanoseconds

// The slow path of poll(): refills the budget, reads the clock and asks the hook when due.
inline bool ask() {
    budget = kBudget;
    const Hook ask_boundary = hook.load(std::memory_order_relaxed);
    if (ask_boundary == nullptr) return false;
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    if (now - last_ask.load(std::memory_order_relaxed) < kAskInterval.count()) return false;
    last_ask.store(now, std::memory_order_relaxed);
    return ask_boundary();
}
}  // namespace detail

// Installed once by the boundary; without a hook polls never stop a call.
inline void install(Hook hook) { detail::hook.store(hook, std::memory_order_relaxed); }

// Called by the models with the work done since their last poll; true: stop and return stopped().
// The budget carries over from one call to the next.
inline bool poll(std::int32_t work = 1) {
    detail::budget -= work;
    if (detail::budget > 0) return false;
    return detail::ask();
}

inline Failure stopped() { return Failure{kStopped}; }
inline bool is_stopped(const char* message) { return message == kStopped; }

}  // namespace velmora::interrupt
