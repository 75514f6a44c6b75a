// Upsampling by replication fused with the colour output, compiled once per
// instruction set and picked at run time. The samples go straight from the
// decoded blocks into the band, eight pixels at a time, and the YCbCr->RGB
// arithmetic is the colour tables' own integer formula evaluated in 32-bit
// lanes, so every byte equals what upSample and storeMcu write.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "decoder/output_fast.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <cstring>
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
using D16 = hn::FixedTag<int16_t, 8>;
using D16x4 = hn::Rebind<int16_t, D32>;
using D8x8 = hn::Rebind<uint8_t, D16>;
using D8x16 = hn::FixedTag<uint8_t, 16>;
using V32 = hn::Vec<D32>;
using V16 = hn::Vec<D16>;

// Eight 32-bit samples (0..255, or offsets of magnitude below 256) as 16-bit lanes.
HWY_INLINE V16 narrow(const int32_t* samples)
{
    const D32 d;
    const D16x4 d4;
    return hn::Combine(D16(), hn::DemoteTo(d4, hn::LoadU(d, samples + 4)),
                       hn::DemoteTo(d4, hn::LoadU(d, samples)));
}

HWY_INLINE V16 narrow(V32 low, V32 high)
{
    const D16x4 d4;
    return hn::Combine(D16(), hn::DemoteTo(d4, high), hn::DemoteTo(d4, low));
}

// Bytes, saturated to 0..255: what the range-limit table does for every
// sum of a sample and a colour offset.
HWY_INLINE hn::Vec<D8x8> toBytes(V16 v)
{
    return hn::DemoteTo(D8x8(), v);
}

struct Offsets {
    V16 r, g, b;
};

// crToR[cr], (cbToG[cb] + crToG[cr]) >> 16 and cbToB[cb] of tables.cpp,
// for eight chroma samples, in 32-bit lanes of the widest vector up to eight.
template <class DW>
HWY_INLINE Offsets colourOffsets(DW dw, const int32_t* cbRow, const int32_t* crRow)
{
    using VW = hn::Vec<DW>;
    constexpr size_t kLanes = hn::MaxLanes(DW());
    const VW half = hn::Set(dw, 1 << 15);
    VW r[2], g[2], b[2];
    for (size_t i = 0; i < 8 / kLanes; ++i) {
        const VW x = hn::Sub(hn::LoadU(dw, cbRow + kLanes * i), hn::Set(dw, 128));
        const VW z = hn::Sub(hn::LoadU(dw, crRow + kLanes * i), hn::Set(dw, 128));
        r[i] = hn::ShiftRight<16>(hn::Add(hn::Mul(z, hn::Set(dw, 91881)), half));
        g[i] = hn::ShiftRight<16>(
            hn::Add(hn::Mul(x, hn::Set(dw, -22554)), hn::Add(hn::Mul(z, hn::Set(dw, -46802)), half)));
        b[i] = hn::ShiftRight<16>(hn::Add(hn::Mul(x, hn::Set(dw, 116130)), half));
    }
    if constexpr (kLanes == 8) {
        const hn::Rebind<int16_t, DW> d16;
        return {hn::DemoteTo(d16, r[0]), hn::DemoteTo(d16, g[0]), hn::DemoteTo(d16, b[0])};
    } else {
        return {narrow(r[0], r[1]), narrow(g[0], g[1]), narrow(b[0], b[1])};
    }
}

// One whole MCU of a YCbCr picture whose chroma blocks are single (1x1) and
// whose luma has the frame's factors (hMax, vMax in {1, 2}).
void StoreYccMcu(const int32_t* luma, const int32_t* cbBlock, const int32_t* crBlock, int hMax,
                 int vMax, uint8_t* out, size_t stride)
{
    const D16 d16;
    const D8x16 d8;
    if (hMax == 1 && vMax == 1) {
        // Two lines at a time: sixteen pixels interleaved in one go, then
        // each line's 24 bytes put in place.
        alignas(16) uint8_t pixels[48];
        for (int line = 0; line < 8; line += 2) {
            const hn::CappedTag<int32_t, 8> d32;
            const Offsets o0 = colourOffsets(d32, cbBlock + 8 * line, crBlock + 8 * line);
            const Offsets o1 = colourOffsets(d32, cbBlock + 8 * line + 8, crBlock + 8 * line + 8);
            const V16 y0 = narrow(luma + 8 * line), y1 = narrow(luma + 8 * line + 8);
            auto channel = [&](V16 offset0, V16 offset1) {
                return hn::Combine(d8, toBytes(hn::Add(y1, offset1)), toBytes(hn::Add(y0, offset0)));
            };
            hn::StoreInterleaved3(channel(o0.r, o1.r), channel(o0.g, o1.g), channel(o0.b, o1.b), d8, pixels);
            std::memcpy(out + size_t(line) * stride, pixels, 24);
            std::memcpy(out + size_t(line + 1) * stride, pixels + 24, 24);
        }
        return;
    }
    for (int chromaRow = 0; chromaRow < 8; ++chromaRow) {
        const Offsets o = colourOffsets(hn::CappedTag<int32_t, 8>(), cbBlock + 8 * chromaRow,
                                        crBlock + 8 * chromaRow);
        for (int j = 0; j < vMax; ++j) {
            const int line = chromaRow * vMax + j;
            const int32_t* y = luma + kBlockSamples * ((line / 8) * hMax) + 8 * (line % 8);
            uint8_t* dst = out + size_t(line) * stride;
            const V16 y0 = narrow(y);
            if (hMax == 1) {
                hn::StoreInterleaved3(toBytes(hn::Add(y0, o.r)), toBytes(hn::Add(y0, o.g)),
                                      toBytes(hn::Add(y0, o.b)), D8x8(), dst);
                continue;
            }
            // Each chroma sample serves two neighbouring pixels.
            const V16 y1 = narrow(y + kBlockSamples);
            auto channel = [&](V16 offset) {
                return hn::Combine(d8, toBytes(hn::Add(y1, hn::InterleaveUpper(d16, offset, offset))),
                                   toBytes(hn::Add(y0, hn::InterleaveLower(d16, offset, offset))));
            };
            hn::StoreInterleaved3(channel(o.r), channel(o.g), channel(o.b), d8, dst);
        }
    }
}

// One 8x8 MCU of a one-component picture.
void StoreGrayMcu(const int32_t* block, uint8_t* out, size_t stride)
{
    for (int line = 0; line < 8; ++line)
        hn::StoreU(toBytes(narrow(block + 8 * line)), D8x8(), out + size_t(line) * stride);
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

enum class Fused : uint8_t { kNone, kGray, kYcc };

// The layouts the fused path covers: baseline full-size decoding of a gray
// picture, or of a YCbCr picture to RGB with single chroma blocks. Others
// (RGB-coded pictures among them) keep the reference upSample and storeMcu.
Fused fusedLayout(const DecoderContext* ctx)
{
    if (ctx->mode != MOX_MODE_JPEG || ctx->reduction != 1) return Fused::kNone;
    if (ctx->componentCount == 1 && ctx->hMax == 1 && ctx->vMax == 1) return Fused::kGray;
    // YCbCr only: with colour transform 0 the three components are R, G, B.
    if (ctx->componentCount == 3 && ctx->outFormat == 1 && ctx->colorTransform != 0 &&
        ctx->hSamp[1] == 1 && ctx->vSamp[1] == 1 &&
        ctx->hSamp[2] == 1 && ctx->vSamp[2] == 1 && ctx->hSamp[0] == ctx->hMax &&
        ctx->vSamp[0] == ctx->vMax && ctx->hMax <= 2 && ctx->vMax <= 2)
        return Fused::kYcc;
    return Fused::kNone;
}

}  // namespace

void chooseFusedOutput(DecoderContext* ctx)
{
    ctx->fusedOutput = static_cast<uint8_t>(fusedLayout(ctx));
}

int32_t upSampleFast(DecoderContext* ctx)
{
    // The fused layouts read the decoded blocks directly in storeMcuFast.
    return static_cast<Fused>(ctx->fusedOutput) == Fused::kNone ? upSample(ctx) : 0;
}

int32_t storeMcuFast(DecoderContext* ctx, int32_t column, int32_t row)
{
    const Fused layout = static_cast<Fused>(ctx->fusedOutput);
    if (layout == Fused::kNone) return storeMcu(ctx, column, row);
    const bool whole = (column != ctx->mcusPerRow - 1 || ctx->lastMcuWidth == ctx->mcuWidth) &&
                       (row != ctx->mcuRows - 1 || ctx->lastMcuHeight == ctx->mcuHeight);
    if (!whole) {
        // An MCU cut by the picture's edge: the reference, rasters first.
        int32_t status = upSample(ctx);
        return status != 0 ? status : storeMcu(ctx, column, row);
    }
    storeWholeMcu(ctx, column);
    return 0;
}

void storeYccRaster(const int32_t* luma, const int32_t* cb, const int32_t* cr, uint8_t* out, size_t stride)
{
    HWY_DYNAMIC_DISPATCH(StoreYccMcu)(luma, cb, cr, 1, 1, out, stride);
}

void storeWholeMcu(DecoderContext* ctx, int32_t column)
{
    uint8_t* out = ctx->writePointer + size_t(column) * ctx->mcuWidth * ctx->bytesPerPixel;
    if (static_cast<Fused>(ctx->fusedOutput) == Fused::kGray) {
        HWY_DYNAMIC_DISPATCH(StoreGrayMcu)(ctx->blockArea[0], out, ctx->lineStride);
    } else {
        HWY_DYNAMIC_DISPATCH(StoreYccMcu)(ctx->blockArea[0], ctx->blockArea[1], ctx->blockArea[2],
                                          ctx->hMax, ctx->vMax, out, ctx->lineStride);
    }
}

}  // namespace mox
#endif
