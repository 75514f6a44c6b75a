// Runtime choice between a stage's reference function, which defines its
// exact arithmetic, and its fast path, which produces the same bytes.
//
// The fast paths are compiled once per instruction set with Google Highway
// (hwy/foreach_target.h) and picked at run time for the processor at hand;
// the build baseline stays generic x86-64. Setting the environment variable
// MOX_SIMD=none before the first job forces every stage to its reference
// function. The variable is read once per process.
//
// How a stage uses this: the fast file defines its kernel per target inside
// `namespace mox::HWY_NAMESPACE`, exports it with HWY_EXPORT and hands out
// HWY_DYNAMIC_DISPATCH(kernel) from a function compiled under HWY_ONCE. The
// stage's kernel table (decoder/kernels.h for the decoder) is filled once by
// pickKernel(reference, fast) and read by the hot loops.
#pragma once

namespace mox {

// False when MOX_SIMD=none was set when the library first asked.
bool simdEnabled();

// The fast kernel unless the fast paths are off or the stage has none.
// Call from a kernel table's one-time construction only.
template <class Fn>
Fn pickKernel(Fn reference, Fn fast)
{
    return simdEnabled() && fast != nullptr ? fast : reference;
}

}  // namespace mox
