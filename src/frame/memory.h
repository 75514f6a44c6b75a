// Caller allocator schemes. A context copies the five allocator fields at
// its head and from then on allocates and releases only through that copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "frame/errlog.h"
#include "moxcodec.h"

namespace mox {

// The five allocator fields, in the order of both system records.
struct Allocator {
    MoxAllocFunc allocFunc;
    MoxFreeFunc freeFunc;
    MoxPartAllocFunc partAllocFunc;
    MoxPartFreeFunc partFreeFunc;
    void* allocUser;
};

template <typename Record>
Allocator allocatorOf(const Record& sys)
{
    return Allocator{sys.allocFunc, sys.freeFunc, sys.partAllocFunc, sys.partFreeFunc,
                     sys.allocUser};
}

// A complete scheme: the whole pair, or the user triple.
inline bool hasScheme(const Allocator& a)
{
    bool whole = a.allocFunc != nullptr && a.freeFunc != nullptr;
    bool user = a.partAllocFunc != nullptr && a.partFreeFunc != nullptr && a.allocUser != nullptr;
    return whole || user;
}

// allocUser alone chooses the scheme.
inline void* allocate(const Allocator& a, uint32_t size)
{
    return a.allocUser != nullptr ? a.partAllocFunc(a.allocUser, size) : a.allocFunc(size);
}

inline void release(const Allocator& a, void* pointer)
{
    if (pointer == nullptr) return;
    if (a.allocUser != nullptr) {
        a.partFreeFunc(a.allocUser, pointer);
    } else {
        a.freeFunc(pointer);
    }
}

// Sizes derived from caller input: computed in 64 bits and refused when
// they do not fit the allocator's 32-bit size.
inline bool fitsSize(uint64_t size, uint32_t* out)
{
    if (size > UINT32_MAX) return false;
    *out = static_cast<uint32_t>(size);
    return true;
}

// Allocates a context through the caller's scheme and copies the scheme
// into its head. Returns null when the allocation fails. The context is
// value-initialised (the allocator contract does not clear memory).
template <typename Context>
Context* allocateContext(const Allocator& a)
{
    void* memory = allocate(a, static_cast<uint32_t>(sizeof(Context)));
    if (memory == nullptr) return nullptr;
    Context* ctx = new (memory) Context{};
    ctx->alloc = a;
    return ctx;
}

// The opening steps of both Inits: the record must hold a complete scheme
// (else MOX_ERR_ALLOCATOR) and the context must be allocated (else
// MOX_ERR_ALLOC). On failure records under `name`, stores the code in
// *status and returns null.
template <typename Context, typename Record>
Context* openContext(const Record& sys, const char* name, int32_t* status)
{
    Allocator scheme = allocatorOf(sys);
    if (!hasScheme(scheme)) {
        *status = MOX_FAIL(name, MOX_ERR_ALLOCATOR, nullptr);
        return nullptr;
    }
    Context* ctx = allocateContext<Context>(scheme);
    if (ctx == nullptr) *status = MOX_FAIL(name, MOX_ERR_ALLOC, nullptr);
    return ctx;
}

// Releases a context through its own allocator copy.
template <typename Context>
void releaseContext(Context* ctx)
{
    Allocator a = ctx->alloc;
    ctx->~Context();
    release(a, ctx);
}

}  // namespace mox
