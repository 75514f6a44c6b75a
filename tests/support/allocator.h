// Counting allocators for the tests: both caller schemes, a live-block
// count that must drop to zero, and an optional failure at the n-th call.
#pragma once

#include <cstdint>

#include "moxcodec.h"

namespace moxtest {

struct CountingAllocator {
    int live = 0;          // blocks allocated and not yet released
    int calls = 0;         // allocations attempted
    int failAt = -1;       // 0-based allocation index that returns null; -1: never
    uint64_t bytes = 0;    // bytes allocated in all
};

// User scheme: pass the CountingAllocator as the user pointer.
void* countingAlloc(void* user, uint32_t size);
void countingFree(void* user, void* pointer);

void useCounting(SystemParam* sys, CountingAllocator* counter);
void useCounting(EncodeSystemParam* sys, CountingAllocator* counter);

// Whole scheme over malloc/free.
void* plainAlloc(uint32_t size);
void plainFree(void* pointer);

}  // namespace moxtest
