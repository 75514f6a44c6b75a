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
    extractConvertKernel()(ctx, mcuColumn);
    downsampleKernel()(ctx);
}

int32_t codeBlockReference(const int32_t* block, const McuComponent& component,
                           int32_t* predictor, BitCursor* cursor, CodePositions* positions)
{
    return codeJpgBlk(block, &component.record, predictor, cursor, positions);
}

int32_t codeBlockFast(const int32_t* block, const McuComponent& component, int32_t* predictor,
                      BitCursor* cursor, CodePositions* positions)
{
    if (component.divisors == nullptr)
        return codeJpgBlk(block, &component.record, predictor, cursor, positions);
    return codeJpgBlkFast(block, component, predictor, cursor);
}

EncoderKernels chooseKernels()
{
    EncoderKernels kernels{};
    kernels.prepareMcu = pickKernel(&prepareMcuReference, &prepareMcuFast);
    kernels.codeBlock = pickKernel(&codeBlockReference, &codeBlockFast);
    kernels.keepsPositions = kernels.codeBlock == &codeBlockReference;
    return kernels;
}

}  // namespace

const EncoderKernels& encoderKernels()
{
    static const EncoderKernels kernels = chooseKernels();
    return kernels;
}

}  // namespace mox::enc
