// The encoder's kernel table: the reference function of each stage, or its
// fast path when the fast paths are on.
#include "encoder/fast.h"
#include "frame/simd.h"

namespace mox::enc {

namespace {

void prepareMcuReference(EncoderContext* ctx, uint32_t mcuColumn)
{
    extractSamples(ctx, mcuColumn);
    convertColor(ctx);
    downsample(ctx);
}

void prepareMcuFast(EncoderContext* ctx, uint32_t mcuColumn)
{
    const EncoderKernels& kernels = encoderKernels();
    if (!kernels.extractConvert(ctx, mcuColumn)) kernels.downsample(ctx);
}

EncoderKernels chooseKernels()
{
    EncoderKernels kernels{};
    kernels.prepareMcu = pickKernel(&prepareMcuReference, &prepareMcuFast);
    if (kernels.prepareMcu == &prepareMcuFast) {
        // The vector kernels of the instruction set chosen for this process.
        kernels.extractConvert = extractConvertKernel();
        kernels.downsample = downsampleKernel();
        kernels.forwardDctQuantize = forwardDctQuantizeKernel();
    }
    return kernels;
}

}  // namespace

const EncoderKernels& encoderKernels()
{
    static const EncoderKernels kernels = chooseKernels();
    return kernels;
}

}  // namespace mox::enc
