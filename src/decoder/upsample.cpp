// Upsampling by replication: every component's decoded blocks become one
// MCU raster of (hMax x side) x (vMax x side) samples, where side is the
// block edge (8, or 4, 2, 1 in a reduced decode). Factors are 1 or 2 (Init
// refuses others), so doubling across, down or both covers every frame.
#include <cstring>

#include "decoder/decoder.h"
#include "frame/errlog.h"

namespace mox {

namespace {

// Copies one block (width x height samples, row-major) to the raster at (left, top).
void placeBlock(const int32_t* block, int width, int height, int32_t* raster, int stride, int left,
                int top)
{
    for (int r = 0; r < height; ++r)
        std::memcpy(raster + (top + r) * stride + left, block + r * width, size_t(width) * sizeof(int32_t));
}

// Replicates one block by (dx, dy) in {1, 2} into the raster at (left, top).
void stretchBlock(const int32_t* block, int width, int height, int32_t* raster, int stride, int left,
                  int top, int dx, int dy)
{
    for (int r = 0; r < height; ++r)
        for (int k = 0; k < width; ++k) {
            int32_t sample = block[r * width + k];
            for (int y = 0; y < dy; ++y)
                for (int x = 0; x < dx; ++x)
                    raster[(top + r * dy + y) * stride + left + k * dx + x] = sample;
        }
}

}  // namespace

// Each component's blocks, scaled by (dx, dy), must tile the MCU exactly:
// at full size that is one of four relations of its factors to the largest
// (equal, or half across, down or both); a reduced decode brings subsampled
// components to the MCU's resolution in the transform already.
int32_t upSample(DecoderContext* ctx)
{
    const int mcuWidth = ctx->hMax * ctx->blockSize;
    const int mcuHeight = ctx->vMax * ctx->blockSize;
    for (int c = 0; c < ctx->componentCount; ++c) {
        const int h = ctx->hSamp[c];
        const int v = ctx->vSamp[c];
        const int width = ctx->blockWidth[c];
        const int height = ctx->blockHeight[c];
        if (h < 1 || v < 1 || width < 1 || height < 1) return MOX_FAIL("upSample", MOX_ERR_SAMPLING, ctx);
        const int dx = mcuWidth / (h * width);
        const int dy = mcuHeight / (v * height);
        if (dx < 1 || dx > 2 || dy < 1 || dy > 2 || h * width * dx != mcuWidth || v * height * dy != mcuHeight)
            return MOX_FAIL("upSample", MOX_ERR_SAMPLING, ctx);
        const int32_t* blocks = ctx->blockArea[c];
        int32_t* raster = ctx->upsampleArea[c];
        if (dx == 1 && dy == 1 && h == 1) {
            ctx->upsampled[c] = ctx->blockArea[c];  // the blocks already form the raster
            continue;
        }
        for (int b = 0; b < h * v; ++b) {
            const int32_t* block = blocks + b * width * height;
            int left = (b % h) * width * dx;
            int top = (b / h) * height * dy;
            if (dx == 1 && dy == 1) {
                placeBlock(block, width, height, raster, mcuWidth, left, top);
            } else {
                stretchBlock(block, width, height, raster, mcuWidth, left, top, dx, dy);
            }
        }
        ctx->upsampled[c] = raster;
    }
    return 0;
}

}  // namespace mox
