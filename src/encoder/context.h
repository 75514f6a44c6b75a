// The encoder's job state. The allocator copy comes first; Init builds the
// rest from the caller's three records.
#pragma once

#include <cstdint>

#include "frame/memory.h"
#include "moxcodec.h"

namespace mox {
// Callback-set flags: unset until MoxEncSetInFunc / MoxEncSetOutFunc.
constexpr int32_t kCallbackUnset = -1;
constexpr int32_t kCallbackSet = 1;
}  // namespace mox

struct EncoderContext {
    mox::Allocator alloc;  // must stay first

    InputFunc inputFunc;
    void* inputUser;
    int32_t inputSet;  // kCallbackUnset / kCallbackSet
    OutputFunc outputFunc;
    void* outputUser;
    int32_t outputSet;
};
