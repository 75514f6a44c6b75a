// Sample extraction and colour conversion of one MCU. Extraction replicates
// the last available line downwards and the last region column to the right,
// so every MCU is complete; conversion is a 4 x 4 fixed-point matrix (8
// fractional bits) followed by the level shift.
#include <cstring>

#include "encoder/encoder.h"

namespace mox::enc {

namespace {

// Matrix entries beyond this (in units of 1/256) are clamped, so that the
// sums of conversion stay inside 32 bits whatever the caller's matrix.
constexpr double kMaxFixedEntry = 1 << 20;

}  // namespace

int32_t fixedMatrixEntry(float entry)
{
    double product = static_cast<double>(entry) * 256.0;
    if (!(product >= -kMaxFixedEntry)) product = -kMaxFixedEntry;  // also NaN
    if (product > kMaxFixedEntry) product = kMaxFixedEntry;
    product += product >= 0 ? 0.5 : -0.5;
    return static_cast<int32_t>(product);
}

int32_t roundFixed(int32_t t)
{
    return t >= 0 ? (t + 128) >> 8 : -((128 - t) >> 8);
}

void extractSamples(EncoderContext* ctx, uint32_t mcuColumn)
{
    const uint32_t components = ctx->components;
    const uint32_t bytesPerPixel = components;
    const bool allBytes = components != 3 || ctx->pixelFormat == MOX_PIXEL_RGB;
    for (uint32_t c = 0; c < components; ++c)
        std::memset(ctx->rawPlane[c], 0, ctx->planeSamples * sizeof(int32_t));

    const uint32_t tiles = components == 1 ? 1 : uint32_t{ctx->hMax} * ctx->vMax;
    const uint32_t firstColumn = mcuColumn * ctx->hMax * 8;
    const uint32_t lastColumn = static_cast<uint32_t>(ctx->regionLeft + ctx->regionWidth - 1);
    uint32_t sourceLine = 0;
    for (uint32_t tile = 0; tile < tiles; ++tile) {
        uint32_t tileX = tile % ctx->hMax;
        uint32_t tileY = tile / ctx->hMax;
        for (uint32_t y = 0; y < 8; ++y) {
            uint32_t line = tileY * 8 + y;
            if (uint64_t{line} * ctx->lineBytes < ctx->rowBytes) sourceLine = line;
            const uint8_t* source = ctx->rowSource + size_t{sourceLine} * ctx->lineBytes;
            int32_t* sampleRow[4];
            for (uint32_t c = 0; c < components; ++c)
                sampleRow[c] = ctx->rawPlane[c] + tile * 64 + y * 8;
            for (uint32_t x = 0; x < 8; ++x) {
                uint32_t column = firstColumn + tileX * 8 + x;
                uint32_t pictureColumn = column < static_cast<uint32_t>(ctx->regionWidth)
                                             ? ctx->regionLeft + column
                                             : lastColumn;
                const uint8_t* pixel = source + size_t{pictureColumn} * bytesPerPixel;
                sampleRow[0][x] = pixel[0];
                if (!allBytes) continue;  // planes 1 and 2 keep their zero samples
                for (uint32_t c = 1; c < components; ++c) sampleRow[c][x] = pixel[c];
            }
        }
    }
}

void convertColor(EncoderContext* ctx)
{
    const uint32_t components = ctx->components;
    const int32_t* m = ctx->fixedMatrix;
    const uint32_t positions = ctx->planeSamples;
    for (uint32_t p = 0; p < positions; ++p) {
        int32_t raw[4] = {0, 0, 0, 0};
        for (uint32_t j = 0; j < components; ++j) raw[j] = ctx->rawPlane[j][p];
        for (uint32_t i = 0; i < components; ++i) {
            int32_t t = 0;
            for (uint32_t j = 0; j < components; ++j) t += m[i * 4 + j] * raw[j];
            ctx->convertedPlane[i][p] = roundFixed(t) + ctx->levelShift[i];
        }
    }
}

}  // namespace mox::enc
