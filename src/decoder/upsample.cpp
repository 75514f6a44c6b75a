// Upsampling by replication: every component's decoded blocks become one
// MCU raster of (hMax x 8) x (vMax x 8) samples. Factors are 1 or 2 (Init
// refuses others), so four relations cover every frame.
#include <cstring>

#include "decoder/decoder.h"
#include "frame/errlog.h"

namespace mox {

namespace {

constexpr int kBlockSide = 8;

// Copies block b (64 samples, row-major) to the raster at (left, top).
void placeBlock(const int32_t* block, int32_t* raster, int stride, int left, int top)
{
    for (int r = 0; r < kBlockSide; ++r)
        std::memcpy(raster + (top + r) * stride + left, block + r * kBlockSide,
                    kBlockSide * sizeof(int32_t));
}

// Replicates one block by (dx, dy) in {1, 2} into the raster at (left, top).
void stretchBlock(const int32_t* block, int32_t* raster, int stride, int left, int top, int dx,
                  int dy)
{
    for (int r = 0; r < kBlockSide; ++r)
        for (int k = 0; k < kBlockSide; ++k) {
            int32_t sample = block[r * kBlockSide + k];
            for (int y = 0; y < dy; ++y)
                for (int x = 0; x < dx; ++x)
                    raster[(top + r * dy + y) * stride + left + k * dx + x] = sample;
        }
}

}  // namespace

int32_t upSample(DecoderContext* ctx)
{
    const int hMax = ctx->hMax;
    const int vMax = ctx->vMax;
    const int stride = hMax * kBlockSide;
    for (int c = 0; c < ctx->componentCount; ++c) {
        const int h = ctx->hSamp[c];
        const int v = ctx->vSamp[c];
        const int32_t* blocks = ctx->blockArea[c];
        int32_t* raster = ctx->upsampleArea[c];
        if (h == hMax && v == vMax) {
            if (hMax == 1) {
                ctx->upsampled[c] = ctx->blockArea[c];  // the blocks already form the raster
                continue;
            }
            for (int b = 0; b < h * v; ++b)
                placeBlock(blocks + b * kBlockSamples, raster, stride, (b % h) * kBlockSide,
                           (b / h) * kBlockSide);
        } else if (2 * h == hMax && v == vMax) {
            for (int j = 0; j < v; ++j)
                stretchBlock(blocks + j * kBlockSamples, raster, stride, 0, j * kBlockSide, 2, 1);
        } else if (h == hMax && 2 * v == vMax) {
            for (int j = 0; j < h; ++j)
                stretchBlock(blocks + j * kBlockSamples, raster, stride, j * kBlockSide, 0, 1, 2);
        } else if (2 * h == hMax && 2 * v == vMax) {
            stretchBlock(blocks, raster, stride, 0, 0, 2, 2);
        } else {
            return MOX_FAIL("upSample", MOX_ERR_SAMPLING, ctx);
        }
        ctx->upsampled[c] = raster;
    }
    return 0;
}

}  // namespace mox
