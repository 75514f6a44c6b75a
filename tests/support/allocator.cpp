#include "support/allocator.h"

#include <cstdlib>

namespace moxtest {

void* countingAlloc(void* user, uint32_t size)
{
    auto* counter = static_cast<CountingAllocator*>(user);
    int call = counter->calls++;
    if (call == counter->failAt) return nullptr;
    void* pointer = std::malloc(size == 0 ? 1 : size);
    if (pointer != nullptr) {
        ++counter->live;
        counter->bytes += size;
    }
    return pointer;
}

void countingFree(void* user, void* pointer)
{
    auto* counter = static_cast<CountingAllocator*>(user);
    if (pointer != nullptr) --counter->live;
    std::free(pointer);
}

void useCounting(SystemParam* sys, CountingAllocator* counter)
{
    MoxDecSetupPartMalloc(countingAlloc, countingFree, counter, sys);
}

void useCounting(EncodeSystemParam* sys, CountingAllocator* counter)
{
    MoxEncSetupPartMalloc(countingAlloc, countingFree, counter, sys);
}

void* plainAlloc(uint32_t size)
{
    return std::malloc(size == 0 ? 1 : size);
}

void plainFree(void* pointer)
{
    std::free(pointer);
}

}  // namespace moxtest
