// Runs a test body once per instruction set of the vector kernels.
#pragma once

#include <functional>
#include <string>

namespace moxtest {

// Runs `body` once per instruction set the processor supports, with that
// set chosen for dynamic dispatch (its name as the argument), then restores
// the normal choice.
void forEachTarget(const std::function<void(const std::string&)>& body);

}  // namespace moxtest
