// Downsampling of the converted planes into each component's block buffer:
// decimation (top-left sample of each group) or the rounded mean, halves
// away from zero. Factors are 1 or 2, so a group holds 1, 2 or 4 samples.
#include <cstring>

#include "encoder/encoder.h"

namespace mox::enc {

namespace {

int32_t magnitudeMean(int32_t sum, int32_t count)
{
    int32_t magnitude = (sum < 0 ? -sum : sum) + count / 2;
    int32_t mean = magnitude / count;
    return sum < 0 ? -mean : mean;
}

// Sample (x, y) of the MCU area, planes being tiles of 8 x 8 in raster order.
int32_t sampleAt(const int32_t* plane, uint32_t hMax, uint32_t x, uint32_t y)
{
    return plane[((y / 8) * hMax + x / 8) * 64 + (y % 8) * 8 + x % 8];
}

}  // namespace

void placeVelaGrayBlocks(EncoderContext* ctx)
{
    if (ctx->codingMode != kCodingVela || ctx->pixelFormat != MOX_PIXEL_VELA_GRAY) return;
    std::memcpy(ctx->blockBuf[3], ctx->convertedPlane[0], 64 * sizeof(int32_t));
    for (int c = 0; c < 3; ++c)
        for (int p = 0; p < 64; ++p) ctx->blockBuf[c][p] = -128;
}

int32_t meanOfTwo(int32_t a, int32_t b)
{
    return magnitudeMean(a + b, 2);
}

int32_t meanOfFour(int32_t a, int32_t b, int32_t c, int32_t d)
{
    return magnitudeMean(a + b + c + d, 4);
}

void downsample(EncoderContext* ctx)
{
    const uint32_t hMax = ctx->hMax;
    const bool mean = ctx->downsampleMode == 1;
    forEachComponentToDownsample(ctx, [&](const int32_t* plane, uint32_t rh, uint32_t rv,
                                          uint32_t h, uint32_t v, int32_t* out) {
        std::memset(out, 0, 64 * h * v * sizeof(int32_t));
        for (uint32_t block = 0; block < h * v; ++block) {
            uint32_t blockX = block % h;
            uint32_t blockY = block / h;
            for (uint32_t j = 0; j < 8; ++j) {
                for (uint32_t i = 0; i < 8; ++i) {
                    uint32_t x = (blockX * 8 + i) * rh;
                    uint32_t y = (blockY * 8 + j) * rv;
                    int32_t topLeft = sampleAt(plane, hMax, x, y);
                    int32_t value = topLeft;
                    if (mean) {
                        if (rh == 2 && rv == 2) {
                            value = meanOfFour(topLeft, sampleAt(plane, hMax, x + 1, y),
                                               sampleAt(plane, hMax, x, y + 1),
                                               sampleAt(plane, hMax, x + 1, y + 1));
                        } else if (rh == 2) {
                            value = meanOfTwo(topLeft, sampleAt(plane, hMax, x + 1, y));
                        } else {
                            value = meanOfTwo(topLeft, sampleAt(plane, hMax, x, y + 1));
                        }
                    }
                    out[block * 64 + j * 8 + i] = value;
                }
            }
        }
    });
}

}  // namespace mox::enc

