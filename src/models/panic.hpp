// The abort path of the models: a violated invariant throws Panic, which the call frame turns
// into the module's panic exception. Nothing else in the models throws.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "numerics/messages.hpp"

namespace velmora {

class Panic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The two columns of a table must have equal lengths.
inline void assert_equal_lengths(std::size_t left, std::size_t right) {
    if (left != right) {
        throw Panic(std::string(messages::kUnequalColumns) + "\n  left: " + std::to_string(left) +
                    "\n right: " + std::to_string(right));
    }
}

}  // namespace velmora
