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

// ---- Fast paths: the same values as extractSamples and convertColor ---------

namespace mox::enc {

namespace {

// roundFixed without branches: sign(t) x ((|t| + 128) >> 8). |t| stays below
// 2^31 because matrix entries are clamped to 2^20 and samples are 0..255.
inline int32_t roundFixedBranchless(int32_t t)
{
    int32_t sign = t >> 31;
    int32_t magnitude = ((t ^ sign) - sign + 128) >> 8;
    return (magnitude ^ sign) - sign;
}

// Copies one line of `count` pixels into the tile rows of up to four planes
// (tile-major, 8 samples per tile row), then repeats the last pixel to the
// end of the MCU line.
template <int kBytes, int kPlanes>
void extractLine(const uint8_t* pixels, uint32_t count, uint32_t width, int32_t* const rows[4])
{
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* pixel = pixels + size_t{x < count ? x : count - 1} * kBytes;
        uint32_t at = (x / 8) * 64 + x % 8;
        for (int c = 0; c < kPlanes; ++c) rows[c][at] = pixel[c];
    }
}

}  // namespace

void extractSamplesFast(EncoderContext* ctx, uint32_t mcuColumn)
{
    // Every sample of the planes in use is written below; planes 1 and 2 of
    // a three-byte picture that is not RGB keep the zeroes of the set-up.
    const uint32_t components = ctx->components;
    const bool allBytes = components != 3 || ctx->pixelFormat == MOX_PIXEL_RGB;
    const uint32_t planes = allBytes ? components : 1;
    const uint32_t width = 8u * ctx->hMax;
    const uint32_t firstColumn = mcuColumn * width;
    const uint32_t regionWidth = static_cast<uint32_t>(ctx->regionWidth);
    const uint32_t count = regionWidth - firstColumn < width ? regionWidth - firstColumn : width;
    // Lines whose start lies inside the row bytes are present; the others
    // repeat the last present one (line 0 when none is).
    const uint32_t lineBytes = ctx->lineBytes;
    const uint64_t present = (uint64_t{ctx->rowBytes} + lineBytes - 1) / lineBytes;
    const uint8_t* columnStart =
        ctx->rowSource + size_t{static_cast<uint32_t>(ctx->regionLeft) + firstColumn} * components;
    for (uint32_t line = 0; line < 8u * ctx->vMax; ++line) {
        uint64_t sourceLine = present == 0 ? 0 : (line < present ? line : present - 1);
        const uint8_t* pixels = columnStart + sourceLine * lineBytes;
        uint32_t rowStart = (line / 8) * ctx->hMax * 64 + (line % 8) * 8;
        int32_t* rows[4] = {};
        for (uint32_t c = 0; c < planes; ++c) rows[c] = ctx->rawPlane[c] + rowStart;
        if (components == 1) {
            extractLine<1, 1>(pixels, count, width, rows);
        } else if (components == 4) {
            extractLine<4, 4>(pixels, count, width, rows);
        } else if (allBytes) {
            extractLine<3, 3>(pixels, count, width, rows);
        } else {
            extractLine<3, 1>(pixels, count, width, rows);
        }
    }
}

void convertColorFast(EncoderContext* ctx)
{
    const int32_t* m = ctx->fixedMatrix;
    const uint32_t positions = ctx->planeSamples;
    const int32_t* const* raw = ctx->rawPlane;
    int32_t* const* out = ctx->convertedPlane;
    const int32_t* shift = ctx->levelShift;
    switch (ctx->components) {
    case 1: {
        const int32_t* r0 = raw[0];
        int32_t* o0 = out[0];
        for (uint32_t p = 0; p < positions; ++p) o0[p] = roundFixedBranchless(m[0] * r0[p]) + shift[0];
        break;
    }
    case 3: {
        const int32_t *r0 = raw[0], *r1 = raw[1], *r2 = raw[2];
        int32_t *o0 = out[0], *o1 = out[1], *o2 = out[2];
        for (uint32_t p = 0; p < positions; ++p) {
            int32_t a = r0[p], b = r1[p], c = r2[p];
            o0[p] = roundFixedBranchless(m[0] * a + m[1] * b + m[2] * c) + shift[0];
            o1[p] = roundFixedBranchless(m[4] * a + m[5] * b + m[6] * c) + shift[1];
            o2[p] = roundFixedBranchless(m[8] * a + m[9] * b + m[10] * c) + shift[2];
        }
        break;
    }
    default: {
        const int32_t *r0 = raw[0], *r1 = raw[1], *r2 = raw[2], *r3 = raw[3];
        for (uint32_t p = 0; p < positions; ++p) {
            int32_t v[4] = {r0[p], r1[p], r2[p], r3[p]};
            for (int i = 0; i < 4; ++i)
                out[i][p] = roundFixedBranchless(m[i * 4] * v[0] + m[i * 4 + 1] * v[1] +
                                                 m[i * 4 + 2] * v[2] + m[i * 4 + 3] * v[3]) +
                            shift[i];
        }
        break;
    }
    }
}

}  // namespace mox::enc
