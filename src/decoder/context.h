// The decoder's job state. The allocator copy comes first; Init builds the
// rest from the caller's three records.
#pragma once

#include <cstdint>

#include "frame/memory.h"
#include "moxcodec.h"

struct DecoderContext {
    mox::Allocator alloc;  // must stay first

    // Callbacks (null until set).
    InputFunc inputFunc;
    void* inputUser;
    OutputFunc outputFunc;
    void* outputUser;

    // Input pieces.
    uint32_t firstFill;   // 1 while the first piece must still be fetched
    uint32_t piecesRead;  // pieces fetched through inputFunc (or supplied first)
};
