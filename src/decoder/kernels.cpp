// The decoder's kernel table: the reference function of each stage, or its
// fast path when the fast paths are on.
#include "decoder/fast.h"
#include "frame/simd.h"
#include "frame/t81tables.h"

namespace mox {

namespace {

DecoderKernels chooseKernels()
{
    DecoderKernels kernels{};
    kernels.idctBlock = pickKernel(&D_idctBlock, &idctBlockFast);
    kernels.decodeMcu = pickKernel(&decodeMcuReference, &decodeMcuFast);
    kernels.upSample = pickKernel(&upSample, &upSampleFast);
    kernels.storeMcu = pickKernel(&storeMcu, &storeMcuFast);
    // Set either way: the stage tests call decodeMcuFast directly.
    kernels.idctTransposed = idctTransposedKernel();
    kernels.idctDcOnly = idctDcOnlyKernel();
    kernels.idctBytes = idctBytesKernel();
    kernels.idctDcOnlyBytes = idctDcOnlyBytesKernel();
    return kernels;
}

}  // namespace

int32_t idctBlockFast(const int32_t* coefficients, const McuParam*, const McuComponent* component,
                      int32_t* output)
{
    int32_t block[64];
    for (int k = 0; k < 64; ++k) {
        int n = kZigzagToNatural[k];
        block[8 * (n & 7) + (n >> 3)] = static_cast<int32_t>(
            static_cast<uint32_t>(coefficients[k]) * static_cast<uint32_t>(component->quantTable[n]));
    }
    idctTransposedKernel()(block, output);
    return 0;
}

const DecoderKernels& decoderKernels()
{
    static const DecoderKernels kernels = chooseKernels();
    return kernels;
}

void prepareFastPaths(DecoderContext* ctx)
{
    if (decoderKernels().decodeMcu == &decodeMcuFast) buildLookaheadTables(ctx);
    chooseFusedOutput(ctx);
}

}  // namespace mox
