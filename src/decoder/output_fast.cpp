// Upsampling by replication fused with the colour output, compiled once per
// instruction set and picked at run time. The samples go straight from the
// decoded blocks into the band, eight pixels at a time, and the YCbCr->RGB
// arithmetic is the colour tables' own integer formula evaluated in 32-bit
// lanes, so every byte equals what upSample and storeMcu write.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "decoder/output_fast.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "decoder/fast.h"

HWY_BEFORE_NAMESPACE();
namespace mox {
namespace HWY_NAMESPACE {
namespace {

#if HWY_TARGET == HWY_SCALAR
// Without 128-bit vectors (processors older than SSSE3): one pixel at a
// time, the same formula.
inline uint8_t clampByte(int32_t v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

void StoreYccMcu(const int32_t* luma, const int32_t* cbBlock, const int32_t* crBlock, int hMax,
                 int vMax, uint8_t* out, size_t stride)
{
    for (int line = 0; line < 8 * vMax; ++line) {
        uint8_t* dst = out + size_t(line) * stride;
        for (int x = 0; x < 8 * hMax; ++x) {
            int32_t y = luma[kBlockSamples * ((line / 8) * hMax + x / 8) + 8 * (line % 8) + x % 8];
            int32_t at = 8 * (line / vMax) + x / hMax;
            int32_t cb = cbBlock[at] - 128, cr = crBlock[at] - 128;
            *dst++ = clampByte(y + ((91881 * cr + 32768) >> 16));
            *dst++ = clampByte(y + ((-22554 * cb + (-46802 * cr + 32768)) >> 16));
            *dst++ = clampByte(y + ((116130 * cb + 32768) >> 16));
        }
    }
}

void StoreGrayMcu(const int32_t* block, uint8_t* out, size_t stride)
{
    for (int line = 0; line < 8; ++line)
        for (int x = 0; x < 8; ++x) out[size_t(line) * stride + x] = clampByte(block[8 * line + x]);
}
#else
namespace hn = hwy::HWY_NAMESPACE;
using D32 = hn::FixedTag<int32_t, 4>;
using D8x4 = hn::Rebind<uint8_t, D32>;
using D8 = hn::FixedTag<uint8_t, 8>;
using V32 = hn::Vec<D32>;

// Eight samples as bytes; the conversion saturates to 0..255, which is what
// the range-limit table does for every value this path can produce.
HWY_INLINE hn::Vec<D8> toBytes(V32 low, V32 high)
{
    const D8x4 d4;
    return hn::Combine(D8(), hn::DemoteTo(d4, high), hn::DemoteTo(d4, low));
}

struct Offsets {
    V32 r, g, b;
};

// crToR[cr], (cbToG[cb] + crToG[cr]) >> 16 and cbToB[cb] of tables.cpp.
HWY_INLINE Offsets colourOffsets(V32 cb, V32 cr)
{
    const D32 d;
    const V32 half = hn::Set(d, 1 << 15);
    const V32 x = hn::Sub(cb, hn::Set(d, 128));
    const V32 z = hn::Sub(cr, hn::Set(d, 128));
    Offsets o;
    o.r = hn::ShiftRight<16>(hn::Add(hn::Mul(z, hn::Set(d, 91881)), half));
    o.g = hn::ShiftRight<16>(
        hn::Add(hn::Mul(x, hn::Set(d, -22554)), hn::Add(hn::Mul(z, hn::Set(d, -46802)), half)));
    o.b = hn::ShiftRight<16>(hn::Add(hn::Mul(x, hn::Set(d, 116130)), half));
    return o;
}

// Eight RGB pixels from eight luma samples and their chroma offsets.
HWY_INLINE void storeRgb(V32 y0, V32 y1, const Offsets& o0, const Offsets& o1, uint8_t* out)
{
    const D8 d8;
    hn::StoreInterleaved3(toBytes(hn::Add(y0, o0.r), hn::Add(y1, o1.r)),
                          toBytes(hn::Add(y0, o0.g), hn::Add(y1, o1.g)),
                          toBytes(hn::Add(y0, o0.b), hn::Add(y1, o1.b)), d8, out);
}

// One whole MCU of a YCbCr picture whose chroma blocks are single (1x1) and
// whose luma has the frame's factors (hMax, vMax in {1, 2}).
void StoreYccMcu(const int32_t* luma, const int32_t* cbBlock, const int32_t* crBlock, int hMax,
                 int vMax, uint8_t* out, size_t stride)
{
    const D32 d;
    const int lines = 8 * vMax;
    for (int line = 0; line < lines; ++line) {
        const int32_t* cbRow = cbBlock + 8 * (line / vMax);
        const int32_t* crRow = crBlock + 8 * (line / vMax);
        uint8_t* dst = out + size_t(line) * stride;
        for (int segment = 0; segment < hMax; ++segment) {
            const int32_t* y = luma + kBlockSamples * ((line / 8) * hMax + segment) + 8 * (line % 8);
            Offsets o0, o1;
            if (hMax == 2) {
                const V32 cb = hn::LoadU(d, cbRow + 4 * segment);
                const V32 cr = hn::LoadU(d, crRow + 4 * segment);
                const Offsets o = colourOffsets(cb, cr);
                o0 = {hn::InterleaveLower(d, o.r, o.r), hn::InterleaveLower(d, o.g, o.g),
                      hn::InterleaveLower(d, o.b, o.b)};
                o1 = {hn::InterleaveUpper(d, o.r, o.r), hn::InterleaveUpper(d, o.g, o.g),
                      hn::InterleaveUpper(d, o.b, o.b)};
            } else {
                o0 = colourOffsets(hn::LoadU(d, cbRow), hn::LoadU(d, crRow));
                o1 = colourOffsets(hn::LoadU(d, cbRow + 4), hn::LoadU(d, crRow + 4));
            }
            storeRgb(hn::LoadU(d, y), hn::LoadU(d, y + 4), o0, o1, dst + 24 * segment);
        }
    }
}

// One 8x8 MCU of a one-component picture.
void StoreGrayMcu(const int32_t* block, uint8_t* out, size_t stride)
{
    const D32 d;
    for (int line = 0; line < 8; ++line) {
        const int32_t* y = block + 8 * line;
        hn::StoreU(toBytes(hn::LoadU(d, y), hn::LoadU(d, y + 4)), D8(), out + size_t(line) * stride);
    }
}

#endif  // HWY_TARGET == HWY_SCALAR

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace mox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace mox {

HWY_EXPORT(StoreYccMcu);
HWY_EXPORT(StoreGrayMcu);

namespace {

enum class Fused { kNone, kGray, kYcc };

// The layouts the fused path covers: baseline full-size decoding of a gray
// picture, or of a YCbCr picture to RGB with single chroma blocks. Others
// keep the reference upSample and storeMcu.
Fused fusedLayout(const DecoderContext* ctx)
{
    if (ctx->mode != MOX_MODE_JPEG || ctx->reduction != 1) return Fused::kNone;
    if (ctx->componentCount == 1 && ctx->hMax == 1 && ctx->vMax == 1) return Fused::kGray;
    if (ctx->componentCount == 3 && ctx->outFormat == 1 && ctx->hSamp[1] == 1 && ctx->vSamp[1] == 1 &&
        ctx->hSamp[2] == 1 && ctx->vSamp[2] == 1 && ctx->hSamp[0] == ctx->hMax &&
        ctx->vSamp[0] == ctx->vMax && ctx->hMax <= 2 && ctx->vMax <= 2)
        return Fused::kYcc;
    return Fused::kNone;
}

}  // namespace

int32_t upSampleFast(DecoderContext* ctx)
{
    // The fused layouts read the decoded blocks directly in storeMcuFast.
    return fusedLayout(ctx) == Fused::kNone ? upSample(ctx) : 0;
}

int32_t storeMcuFast(DecoderContext* ctx, int32_t column, int32_t row)
{
    const Fused layout = fusedLayout(ctx);
    if (layout == Fused::kNone) return storeMcu(ctx, column, row);
    const bool whole = (column != ctx->mcusPerRow - 1 || ctx->lastMcuWidth == ctx->mcuWidth) &&
                       (row != ctx->mcuRows - 1 || ctx->lastMcuHeight == ctx->mcuHeight);
    if (!whole) {
        // An MCU cut by the picture's edge: the reference, rasters first.
        int32_t status = upSample(ctx);
        return status != 0 ? status : storeMcu(ctx, column, row);
    }
    uint8_t* out = ctx->writePointer + size_t(column) * ctx->mcuWidth * ctx->bytesPerPixel;
    if (layout == Fused::kGray) {
        HWY_DYNAMIC_DISPATCH(StoreGrayMcu)(ctx->blockArea[0], out, ctx->lineStride);
    } else {
        HWY_DYNAMIC_DISPATCH(StoreYccMcu)(ctx->blockArea[0], ctx->blockArea[1], ctx->blockArea[2],
                                          ctx->hMax, ctx->vMax, out, ctx->lineStride);
    }
    return 0;
}

}  // namespace mox
#endif
