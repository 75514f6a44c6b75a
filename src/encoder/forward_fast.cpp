// Vector forms of the encoder's forward path, compiled once per instruction
// set and picked at run time:
// - the forward DCT runs the reference's 1-D pass (encoder/fdct.h) on
//   vectors holding several columns, then several rows, with separate
//   multiplications and additions in the reference's order, so every
//   coefficient has the reference's bits;
// - quantisation divides in single precision, two coefficient rows per
//   vector (IEEE division is exact, so every lane equals the scalar
//   quotient) and rounds without double;
// - extraction, colour conversion and downsampling use 32-bit integer
//   lanes, the same products, sums and roundings as the reference.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "encoder/forward_fast.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstring>

#include "encoder/fast.h"
#include "encoder/fdct.h"

HWY_BEFORE_NAMESPACE();
namespace mox::enc {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

// ---- forward DCT -------------------------------------------------------------

using DD = hn::CappedTag<double, 8>;
using VD = hn::Vec<DD>;

struct VectorDctOps {
    DD d;
    VD Set(double value) const { return hn::Set(d, value); }
    VD Add(VD a, VD b) const { return hn::Add(a, b); }
    VD Sub(VD a, VD b) const { return hn::Sub(a, b); }
    VD Mul(VD a, VD b) const { return hn::Mul(a, b); }
};

// The vectors of one L x L block of doubles (L = lanes, rows r[0], r[step],
// ... r[(L - 1) * step]) transposed in place: afterwards r[k * step] holds
// column k. Pairs of lanes swap first, then pairs of 128-bit blocks, then
// 256-bit halves.
template <size_t kLanes>
HWY_INLINE void transposeBlock([[maybe_unused]] DD d, [[maybe_unused]] VD* r, [[maybe_unused]] size_t step)
{
#if HWY_TARGET != HWY_SCALAR
    if constexpr (kLanes >= 2) {
        for (size_t k = 0; k < kLanes; k += 2) {
            const VD a = r[k * step], b = r[(k + 1) * step];
            r[k * step] = hn::InterleaveLower(d, a, b);
            r[(k + 1) * step] = hn::InterleaveUpper(d, a, b);
        }
    }
    if constexpr (kLanes >= 4) {
        for (size_t four = 0; four < kLanes; four += 4) {
            for (size_t k = four; k < four + 2; ++k) {
                const VD a = r[k * step], c = r[(k + 2) * step];
                r[k * step] = hn::OddEvenBlocks(hn::SwapAdjacentBlocks(c), a);
                r[(k + 2) * step] = hn::OddEvenBlocks(c, hn::SwapAdjacentBlocks(a));
            }
        }
    }
    if constexpr (kLanes >= 8) {
        for (size_t k = 0; k < 4; ++k) {
            const VD a = r[k * step], e = r[(k + 4) * step];
            r[k * step] = hn::ConcatLowerLower(d, e, a);
            r[(k + 4) * step] = hn::ConcatUpperUpper(d, e, a);
        }
    }
#endif
}

// Both passes; emit(u, v0, X) receives the lanes v0.. of coefficient row u
// of the transposed result (coefficients (u, v0), (u, v0 + 1), ...). The
// intermediate result is transposed in registers, block by block.
template <class Emit>
HWY_INLINE void transform(const int32_t* samples, const Emit& emit)
{
    const DD d;
    const hn::Rebind<int32_t, DD> di;
    constexpr size_t kLanes = hn::MaxLanes(DD());
    constexpr size_t kChunks = 8 / kLanes;  // vectors per line of 8
    const VectorDctOps ops{d};
    VD rows[8 * kChunks];  // rows[kChunks * x + c]: vertical frequencies c * kLanes.. of column x
    VD in[8], out[8];
    for (size_t xc = 0; xc < kChunks; ++xc) {
        for (int y = 0; y < 8; ++y) in[y] = hn::PromoteTo(d, hn::LoadU(di, samples + 8 * y + xc * kLanes));
        dct8(ops, in, out);  // out[v]: columns xc * kLanes.. at vertical frequency v
        for (size_t vc = 0; vc < kChunks; ++vc) {
            transposeBlock<kLanes>(d, out + vc * kLanes, 1);
            for (size_t k = 0; k < kLanes; ++k) rows[kChunks * (xc * kLanes + k) + vc] = out[vc * kLanes + k];
        }
    }
    for (size_t vc = 0; vc < kChunks; ++vc) {
        for (int x = 0; x < 8; ++x) in[x] = rows[kChunks * x + vc];
        dct8(ops, in, out);
        for (int u = 0; u < 8; ++u) emit(u, vc * kLanes, out[u]);
    }
}

void ForwardDctTransposed(const int32_t* samples, float* transposed)
{
    const hn::Rebind<float, DD> df;
    transform(samples, [&](int u, size_t v0, VD x) {
        hn::StoreU(hn::DemoteTo(df, x), df, transposed + 8 * u + v0);
    });
}

// ---- quantisation ------------------------------------------------------------

// True when all 64 samples are equal.
HWY_INLINE bool isFlat(const int32_t* samples)
{
    const hn::CappedTag<int32_t, 16> d;
    const auto first = hn::Set(d, samples[0]);
    auto differ = hn::Zero(d);
    for (size_t i = 0; i < 64; i += hn::Lanes(d)) differ = hn::Or(differ, hn::Xor(hn::LoadU(d, samples + i), first));
    return hn::AllTrue(d, hn::Eq(differ, hn::Zero(d)));
}

// The quantiser works on floats, two coefficient rows per vector (one row
// where a vector has a single lane).
using DH = hn::Rebind<float, DD>;
#if HWY_TARGET == HWY_SCALAR
using DQ = DH;
#else
using DQ = hn::Twice<DH>;
#endif
using DQI = hn::Rebind<int32_t, DQ>;

// One vector of quotients quantised as quantize does: the reference adds
// 0.5 to the magnitude a in double, truncates and clamps, which is
// floor(a + 0.5) = floor(2a) - floor(a) (2a is exact in float); truncation
// is symmetric about 0, so trunc(2q) - trunc(q) is that value with the
// quotient's sign. The clamp to the largest coefficient comes after (the
// rounding is monotonic).
HWY_INLINE hn::Vec<DQI> quantizeVector(hn::Vec<DQ> quotient)
{
    const DQ df;
    const auto largest = hn::Set(df, static_cast<float>(kMaxCoefficient));
    const auto rounded = hn::Sub(hn::Trunc(hn::Add(quotient, quotient)), hn::Trunc(quotient));
    const auto clamped = hn::Min(hn::Max(rounded, hn::Neg(largest)), largest);
    // An integer -2^22..2^22 plus 1.5 x 2^23 lies in [2^23, 2^24), where the
    // float's unit is 1: its low mantissa bits hold the integer.
    const auto magic = hn::Set(df, 12582912.0f);
    const auto biased = hn::Add(clamped, magic);
    return hn::Sub(hn::BitCast(DQI(), biased), hn::BitCast(DQI(), magic));
}

// The quotients of one vector's worth of coefficients (doubles, rounded to
// float) by their divisors. IEEE division is exact, so every lane equals the
// scalar quotient.
HWY_INLINE hn::Vec<DQ> quotientVector(const double* x, const float* divisors)
{
    const DD d;
    const DH dh;
#if HWY_TARGET == HWY_SCALAR
    const auto coefficient = hn::DemoteTo(dh, hn::LoadU(d, x));
#else
    constexpr size_t kHalf = hn::MaxLanes(DD());
    const auto coefficient = hn::Combine(DQ(), hn::DemoteTo(dh, hn::LoadU(d, x + kHalf)), hn::DemoteTo(dh, hn::LoadU(d, x)));
#endif
    return hn::Div(coefficient, hn::LoadU(DQ(), divisors));
}

// quantize's values for 64 floats with their divisors, both in the same
// order (the tests' view of quantizeVector).
void QuantizeFloats(const float* coefficients, const float* divisors, int32_t* quantized)
{
    const DQ df;
    for (size_t i = 0; i < 64; i += hn::Lanes(df))
        hn::StoreU(quantizeVector(hn::Div(hn::LoadU(df, coefficients + i), hn::LoadU(df, divisors + i))), DQI(),
                   quantized + i);
}

// The DCT rounded to float and quantised (quantizeVector), in transposed
// order: the values of forwardDct and quantize. Returns the mask of nonzero
// zig-zag positions.
uint64_t ForwardDctQuantize(const int32_t* samples, const float* divisors, int32_t* quantized)
{
    const DD d;
    const DQI di;
    if (isFlat(samples)) {
        // Every difference the passes form is exactly 0, so all coefficients
        // but the DC are 0; the DC takes the reference's operations.
        double line[8], out[8];
        for (double& x : line) x = samples[0];
        dct8(ScalarDctOps{}, line, out);  // a column: out[0], then exact zeros
        for (double& x : line) x = out[0];
        dct8(ScalarDctOps{}, line, out);  // row 0
        HWY_ALIGN double dc[hn::MaxLanes(DQ())] = {};
        dc[0] = out[0];
        std::memset(quantized, 0, 64 * sizeof(int32_t));
        quantized[0] = hn::GetLane(quantizeVector(quotientVector(dc, divisors)));
        return quantized[0] != 0 ? 1 : 0;  // the DC is zig-zag position 0
    }
    HWY_ALIGN double coefficients[64];  // transposed order
    transform(samples, [&](int u, size_t v0, VD x) { hn::Store(x, d, coefficients + 8 * u + v0); });
    uint8_t bits[8] = {};  // bit n % 8 of byte n / 8: transposed position n is nonzero
    constexpr size_t kStep = hn::MaxLanes(DQ());
    for (size_t i = 0; i < 64; i += kStep) {
        const auto value = quantizeVector(quotientVector(coefficients + i, divisors + i));
        hn::StoreU(value, di, quantized + i);
        const auto nonzero = hn::Ne(value, hn::Zero(di));
        if constexpr (kStep % 8 == 0) {
            hn::StoreMaskBits(di, nonzero, bits + i / 8);
        } else {
            uint8_t part = 0;
            hn::StoreMaskBits(di, nonzero, &part);
            bits[i / 8] = static_cast<uint8_t>(bits[i / 8] | part << (i % 8));
        }
    }
    uint64_t mask = 0;
    for (int j = 0; j < 8; ++j) mask |= uint64_t{bits[j]} << (8 * j);
    return zigzagMaskOfTransposed(mask);
}

// ---- extraction and colour conversion ------------------------------------------

using DC = hn::CappedTag<int32_t, 8>;
using VC = hn::Vec<DC>;
using DB = hn::Rebind<uint8_t, DC>;

// roundFixed(t) + shift: sign(t) x ((|t| + 128) >> 8) + shift.
HWY_INLINE VC roundShift(DC d, VC t, VC shift)
{
    const VC sign = hn::ShiftRight<31>(t);
    const VC magnitude = hn::ShiftRight<8>(hn::Add(hn::Sub(hn::Xor(t, sign), sign), hn::Set(d, 128)));
    return hn::Add(hn::Sub(hn::Xor(magnitude, sign), sign), shift);
}

// Loads the samples of `lanes` pixels into raw[0..planes-1]; the others stay zero.
template <int kBytes, class D>
HWY_INLINE void loadPixels(D d, const uint8_t* pixels, bool allBytes, hn::Vec<D> raw[4])
{
    using DPixel = hn::Rebind<uint8_t, D>;
    const DPixel db;
    if (kBytes == 1) {
        raw[0] = hn::PromoteTo(d, hn::LoadU(db, pixels));
    } else if (kBytes == 3) {
        hn::Vec<DPixel> b0, b1, b2;
        hn::LoadInterleaved3(db, pixels, b0, b1, b2);
        raw[0] = hn::PromoteTo(d, b0);
        if (allBytes) {
            raw[1] = hn::PromoteTo(d, b1);
            raw[2] = hn::PromoteTo(d, b2);
        }
    } else {
        hn::Vec<DPixel> b0, b1, b2, b3;
        hn::LoadInterleaved4(db, pixels, b0, b1, b2, b3);
        raw[0] = hn::PromoteTo(d, b0);
        raw[1] = hn::PromoteTo(d, b1);
        raw[2] = hn::PromoteTo(d, b2);
        raw[3] = hn::PromoteTo(d, b3);
    }
}

#if HWY_TARGET != HWY_SCALAR  // pairs of 16-bit lanes need two lanes

// True when the 16-bit form of the three-component conversion below is
// exact: the matrix entries and the offsets' rounding constants fit 16 bits.
bool pairsFit(const EncoderContext* ctx)
{
    auto fits = [](int64_t value) { return value >= -32768 && value <= 32767; };
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            if (!fits(ctx->fixedMatrix[4 * i + j])) return false;
        if (!fits(128 + 256 * int64_t{ctx->levelShift[i]})) return false;
    }
    return true;
}

// One row of the matrix on RGB samples in 16-bit pairs: rg holds (r, g) and
// b1 holds (b, 1) in the two halves of each 32-bit lane, products summed in
// pairs (exact: the samples are 0..255 and the entries fit 16 bits).
// v = t + 128 + 256 x off; with the rounding roundFixed(t) = (t + 128 -
// [t < 0]) >> 8 (floor division, so the multiple of 256 passes through)
// the result is roundFixed(t) + off.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V convertPairs(D d, V rg, V b1, V mrg, V mb1, V negativeBelow)
{
    const hn::Repartition<int16_t, D> dw;
    V unused = hn::Zero(d);
    V sum = hn::ReorderWidenMulAccumulate(d, hn::BitCast(dw, rg), hn::BitCast(dw, mrg), hn::Zero(d), unused);
    V v = hn::RearrangeToOddPlusEven(sum, unused);
    unused = hn::Zero(d);
    sum = hn::ReorderWidenMulAccumulate(d, hn::BitCast(dw, b1), hn::BitCast(dw, mb1), hn::Zero(d), unused);
    v = hn::Add(v, hn::RearrangeToOddPlusEven(sum, unused));
    const V negative = hn::VecFromMask(d, hn::Lt(v, negativeBelow));  // -1 where t < 0
    return hn::ShiftRight<8>(hn::Add(v, negative));
}

// The 16-bit form's constants: entries (m0, m1) and (m2, 128 + 256 x off)
// per row, each pair in one 32-bit lane, low half first.
template <class D>
struct PairMatrix {
    using V = hn::Vec<D>;
    V rg[3], b1[3], negativeBelow[3];

    PairMatrix(D d, const EncoderContext* ctx)
    {
        auto pair = [](int32_t low, int32_t high) {
            return static_cast<int32_t>((static_cast<uint32_t>(low) & 0xFFFF) | (static_cast<uint32_t>(high) << 16));
        };
        for (int i = 0; i < 3; ++i) {
            const int32_t constant = 128 + 256 * ctx->levelShift[i];
            rg[i] = hn::Set(d, pair(ctx->fixedMatrix[4 * i], ctx->fixedMatrix[4 * i + 1]));
            b1[i] = hn::Set(d, pair(ctx->fixedMatrix[4 * i + 2], constant));
            negativeBelow[i] = hn::Set(d, constant);
        }
    }

    // Component i of the pixels whose sample pairs samplePairs made.
    HWY_INLINE V convert(D d, int i, V rgSamples, V b1Samples) const
    {
        return convertPairs(d, rgSamples, b1Samples, rg[i], b1[i], negativeBelow[i]);
    }
};

// The (r, g) and (b, 1) pairs of pixels' samples.
template <class D, class V = hn::Vec<D>>
HWY_INLINE void samplePairs(D d, const V raw[4], V& rg, V& b1)
{
    rg = hn::Or(raw[0], hn::ShiftLeft<16>(raw[1]));
    b1 = hn::Or(raw[2], hn::Set(d, 1 << 16));
}

// Rounded mean of 2 (kShift 1) or 4 (kShift 2) samples from their sum s,
// halves away from zero, as meanOfTwo and meanOfFour: with h = 2^(kShift-1)
// that is (s + h) >> kShift for s >= 0 and -((h - s) >> kShift) =
// (s + h - 1) >> kShift (floor division) for s < 0.
template <int kShift, class D, class V = hn::Vec<D>>
HWY_INLINE V roundedMean(D d, V sum)
{
    const V minusOneIfNegative = hn::ShiftRight<31>(sum);
    return hn::ShiftRight<kShift>(hn::Add(hn::Add(sum, hn::Set(d, 1 << (kShift - 1))), minusOneIfNegative));
}

#endif  // HWY_TARGET != HWY_SCALAR

// The pixels of the MCU's lines: the last available line repeats downwards,
// and in a line cut by the region's right end the last column repeats into
// a padded copy.
template <int kBytes>
class LineSource {
public:
    LineSource(const EncoderContext* ctx, uint32_t mcuColumn, uint32_t width)
        : width_(width), lineBytes_(ctx->lineBytes),
          present_((uint64_t{ctx->rowBytes} + ctx->lineBytes - 1) / ctx->lineBytes)
    {
        const uint32_t firstColumn = mcuColumn * width;
        const uint32_t regionWidth = static_cast<uint32_t>(ctx->regionWidth);
        count_ = regionWidth - firstColumn < width ? regionWidth - firstColumn : width;
        columnStart_ = ctx->rowSource + size_t{static_cast<uint32_t>(ctx->regionLeft) + firstColumn} * kBytes;
    }

    const uint8_t* line(uint32_t line)
    {
        uint64_t sourceLine = present_ == 0 ? 0 : (line < present_ ? line : present_ - 1);
        const uint8_t* pixels = columnStart_ + sourceLine * lineBytes_;
        if (count_ == width_) return pixels;
        std::memcpy(padded_, pixels, size_t{count_} * kBytes);
        for (uint32_t x = count_; x < width_; ++x)
            std::memcpy(padded_ + x * kBytes, pixels + (count_ - 1) * kBytes, kBytes);
        return padded_;
    }

private:
    uint32_t width_, lineBytes_, count_;
    uint64_t present_;
    const uint8_t* columnStart_;
    uint8_t padded_[16 * 4];  // room beyond the last pixel for the vector loads
};

// True when no component is downsampled: each block buffer is then its
// converted plane, and the conversion can write there directly. (With one
// component VELA blocks 1..3 are converted planes 1..3 and its grey
// placement reads converted plane 0; that mode keeps the planes.)
bool blocksAreConvertedPlanes(const EncoderContext* ctx)
{
    if (ctx->codingMode == kCodingVela && ctx->components == 1) return false;
    for (uint32_t c = 0; c < ctx->components; ++c)
        if (ctx->hSamp[c] != ctx->hMax || ctx->vSamp[c] != ctx->vMax) return false;
    return true;
}

// kBytes: bytes per pixel, which is also the component count. kIdentity:
// one component whose matrix entry is 256. kPairs: RGB with pairsFit.
// Writes the converted planes, or the block buffers when
// blocksAreConvertedPlanes (returns true then: nothing is left to downsample).
template <int kBytes, bool kAllBytes, bool kIdentity = false, bool kPairs = false>
bool extractConvert(EncoderContext* ctx, uint32_t mcuColumn)
{
    const bool direct = blocksAreConvertedPlanes(ctx);
    int32_t* const* planes = direct ? ctx->blockBuf : ctx->convertedPlane;
    const DC d;
    const size_t lanes = hn::Lanes(d);
    const uint32_t width = 8u * ctx->hMax;
    LineSource<kBytes> source(ctx, mcuColumn, width);

    if constexpr (kIdentity) {
        if (ctx->hMax == 1 && ctx->vMax == 1) {  // one block: the samples plus the level shift
            const DB db;
            const VC levelShift = hn::Set(d, ctx->levelShift[0]);
            for (uint32_t line = 0; line < 8; ++line) {
                const uint8_t* pixels = source.line(line);
                for (uint32_t x = 0; x < 8; x += static_cast<uint32_t>(lanes))
                    hn::StoreU(hn::Add(hn::PromoteTo(d, hn::LoadU(db, pixels + x)), levelShift), d,
                               planes[0] + 8 * line + x);
            }
            return direct;
        }
    }
    VC m[16], shift[4];
    for (int i = 0; i < 16; ++i) m[i] = hn::Set(d, ctx->fixedMatrix[i]);
    for (int i = 0; i < 4; ++i) shift[i] = hn::Set(d, ctx->levelShift[i]);
#if HWY_TARGET != HWY_SCALAR
    const PairMatrix pairs(d, ctx);
#endif
    for (uint32_t line = 0; line < 8u * ctx->vMax; ++line) {
        const uint8_t* pixels = source.line(line);
        uint32_t rowStart = (line / 8) * ctx->hMax * 64 + (line % 8) * 8;
        for (uint32_t x = 0; x < width; x += static_cast<uint32_t>(lanes)) {
            VC raw[4] = {hn::Zero(d), hn::Zero(d), hn::Zero(d), hn::Zero(d)};
            loadPixels<kBytes>(d, pixels + x * kBytes, kAllBytes, raw);
            uint32_t at = rowStart + (x / 8) * 64 + x % 8;
            if (kIdentity) {
                // roundFixed(256 x) is x for the samples 0..255.
                hn::StoreU(hn::Add(raw[0], shift[0]), d, planes[0] + at);
                continue;
            }
#if HWY_TARGET != HWY_SCALAR
            if (kPairs) {
                VC rg, b1;
                samplePairs(d, raw, rg, b1);
                for (int i = 0; i < 3; ++i) hn::StoreU(pairs.convert(d, i, rg, b1), d, planes[i] + at);
                continue;
            }
#endif
            for (int i = 0; i < kBytes; ++i) {
                VC t = hn::Mul(m[4 * i], raw[0]);
                for (int j = 1; j < kBytes; ++j) t = hn::Add(t, hn::Mul(m[4 * i + j], raw[j]));
                hn::StoreU(roundShift(d, t, shift[i]), d, planes[i] + at);
            }
        }
    }
    return direct;
}

#if HWY_TARGET != HWY_SCALAR

// True for RGB whose component 0 has the MCU's factors 2 x 1 and whose
// components 1 and 2 are 1 x 1 (4:2:2): extractConvertRgb422 applies.
bool isRgb422(const EncoderContext* ctx)
{
    return ctx->components == 3 && ctx->pixelFormat == MOX_PIXEL_RGB && ctx->hMax == 2 && ctx->vMax == 1 &&
           ctx->hSamp[0] == 2 && ctx->vSamp[0] == 1 && ctx->hSamp[1] == 1 && ctx->vSamp[1] == 1 &&
           ctx->hSamp[2] == 1 && ctx->vSamp[2] == 1 && pairsFit(ctx);
}

// extractConvert<3, true, false, true> and Downsample in one pass for
// isRgb422: component 0 goes straight to its blocks (they are the converted
// plane), components 1 and 2 are reduced in registers, two converted vectors
// (first samples of the pairs in even lanes, second ones in odd lanes) to
// one.
void extractConvertRgb422(EncoderContext* ctx, uint32_t mcuColumn)
{
    const DC d;
    const uint32_t lanes = static_cast<uint32_t>(hn::Lanes(d));
    constexpr uint32_t kWidth = 16;
    LineSource<3> source(ctx, mcuColumn, kWidth);
    const bool mean = ctx->downsampleMode == 1;
    const PairMatrix pairs(d, ctx);
    for (uint32_t line = 0; line < 8; ++line) {
        const uint8_t* pixels = source.line(line);
        for (uint32_t x = 0; x < kWidth; x += 2 * lanes) {
            VC rg[2], b1[2];
            for (uint32_t half = 0; half < 2; ++half) {
                VC raw[4] = {hn::Zero(d), hn::Zero(d), hn::Zero(d), hn::Zero(d)};
                const uint32_t at = x + half * lanes;
                loadPixels<3>(d, pixels + at * 3, true, raw);
                samplePairs(d, raw, rg[half], b1[half]);
                hn::StoreU(pairs.convert(d, 0, rg[half], b1[half]), d,
                           ctx->blockBuf[0] + (at / 8) * 64 + line * 8 + at % 8);
            }
            for (int i = 1; i < 3; ++i) {
                const VC lo = pairs.convert(d, i, rg[0], b1[0]);
                const VC hi = pairs.convert(d, i, rg[1], b1[1]);
                VC value = hn::ConcatEven(d, hi, lo);
                if (mean) value = roundedMean<1>(d, hn::Add(value, hn::ConcatOdd(d, hi, lo)));
                hn::StoreU(value, d, ctx->blockBuf[i] + line * 8 + x / 2);
            }
        }
    }
}

// extractConvertRgb422 with one vector of 16 lanes per line of the MCU.
template <class D16>
void extractConvertRgb422Wide(EncoderContext* ctx, uint32_t mcuColumn)
{
    const D16 d;
    const hn::Half<D16> dh;
    LineSource<3> source(ctx, mcuColumn, 16);
    const bool mean = ctx->downsampleMode == 1;
    const PairMatrix pairs(d, ctx);
    for (uint32_t line = 0; line < 8; ++line) {
        hn::Vec<D16> raw[4] = {hn::Zero(d), hn::Zero(d), hn::Zero(d), hn::Zero(d)};
        loadPixels<3>(d, source.line(line), true, raw);
        hn::Vec<D16> rg, b1;
        samplePairs(d, raw, rg, b1);
        const auto luma = pairs.convert(d, 0, rg, b1);
        hn::StoreU(hn::LowerHalf(dh, luma), dh, ctx->blockBuf[0] + line * 8);
        hn::StoreU(hn::UpperHalf(dh, luma), dh, ctx->blockBuf[0] + 64 + line * 8);
        for (int i = 1; i < 3; ++i) {
            const auto converted = pairs.convert(d, i, rg, b1);
            auto value = hn::ConcatEven(d, converted, converted);  // first samples in the lower half
            if (mean) value = roundedMean<1>(d, hn::Add(value, hn::ConcatOdd(d, converted, converted)));
            hn::StoreU(hn::LowerHalf(dh, value), dh, ctx->blockBuf[i] + line * 8);
        }
    }
}

#endif  // HWY_TARGET != HWY_SCALAR

bool ExtractConvert(EncoderContext* ctx, uint32_t mcuColumn)
{
    switch (ctx->components) {
    case 1:
        if (ctx->fixedMatrix[0] == 256) return extractConvert<1, true, true>(ctx, mcuColumn);
        return extractConvert<1, true>(ctx, mcuColumn);
    case 3:
        if (ctx->pixelFormat != MOX_PIXEL_RGB)
            return extractConvert<3, false>(ctx, mcuColumn);  // planes 1 and 2 take no bytes
#if HWY_TARGET != HWY_SCALAR
        if (isRgb422(ctx)) {
            using D16 = hn::CappedTag<int32_t, 16>;
            if constexpr (hn::MaxLanes(D16()) == 16) {
                extractConvertRgb422Wide<D16>(ctx, mcuColumn);
            } else {
                extractConvertRgb422(ctx, mcuColumn);
            }
            return true;
        }
        if (pairsFit(ctx)) return extractConvert<3, true, false, true>(ctx, mcuColumn);
#endif
        return extractConvert<3, true>(ctx, mcuColumn);
    default:
        return extractConvert<4, true>(ctx, mcuColumn);
    }
}

// ---- downsampling ------------------------------------------------------------

#if HWY_TARGET != HWY_SCALAR  // one lane: the reference serves (see Downsample)

// One component reduced by kRh x kRv (not both 1) from the converted plane
// (tiles of 8 x 8, hMax per tile row) into its h x v blocks.
template <int kRh, int kRv>
void reduce(const int32_t* plane, uint32_t hMax, uint32_t h, uint32_t v, bool mean, int32_t* out)
{
    const DC d;
    const size_t lanes = hn::Lanes(d);
    auto at = [](uint32_t x) { return (x / 8) * 64 + x % 8; };
    for (uint32_t blockY = 0; blockY < v; ++blockY) {
        for (uint32_t j = 0; j < 8; ++j) {
            uint32_t y = (blockY * 8 + j) * kRv;
            const int32_t* line0 = plane + (y / 8) * hMax * 64 + (y % 8) * 8;
            const int32_t* line1 = line0 + 8;  // y is even when kRv is 2
            for (uint32_t blockX = 0; blockX < h; ++blockX) {
                int32_t* target = out + (blockY * h + blockX) * 64 + j * 8;
                for (uint32_t i = 0; i < 8; i += static_cast<uint32_t>(lanes)) {
                    uint32_t x = (blockX * 8 + i) * kRh;
                    VC value;
                    if (kRh == 1) {
                        value = hn::LoadU(d, line0 + at(x));
                        if (mean) value = roundedMean<1>(d, hn::Add(value, hn::LoadU(d, line1 + at(x))));
                    } else {
                        // Lanes hold groups x, x + 2, ...: first samples at the
                        // even positions, second samples at the odd ones.
                        const uint32_t second = x + static_cast<uint32_t>(lanes);
                        VC lo = hn::LoadU(d, line0 + at(x)), hi = hn::LoadU(d, line0 + at(second));
                        value = hn::ConcatEven(d, hi, lo);
                        if (mean) {
                            VC sum = hn::Add(value, hn::ConcatOdd(d, hi, lo));
                            if (kRv == 2) {
                                lo = hn::LoadU(d, line1 + at(x));
                                hi = hn::LoadU(d, line1 + at(second));
                                sum = hn::Add(sum, hn::Add(hn::ConcatEven(d, hi, lo), hn::ConcatOdd(d, hi, lo)));
                                value = roundedMean<2>(d, sum);
                            } else {
                                value = roundedMean<1>(d, sum);
                            }
                        }
                    }
                    hn::StoreU(value, d, target + i);
                }
            }
        }
    }
}

#endif  // HWY_TARGET != HWY_SCALAR

void Downsample(EncoderContext* ctx)
{
#if HWY_TARGET == HWY_SCALAR
    downsample(ctx);
#else
    const uint32_t hMax = ctx->hMax;
    const bool mean = ctx->downsampleMode == 1;
    forEachComponentToDownsample(ctx, [&](const int32_t* plane, uint32_t rh, uint32_t rv,
                                          uint32_t h, uint32_t v, int32_t* out) {
        if (rh == 2 && rv == 2) {
            reduce<2, 2>(plane, hMax, h, v, mean, out);
        } else if (rh == 2) {
            reduce<2, 1>(plane, hMax, h, v, mean, out);
        } else {
            reduce<1, 2>(plane, hMax, h, v, mean, out);
        }
    });
#endif
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace mox::enc
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace mox::enc {

HWY_EXPORT(ForwardDctTransposed);
HWY_EXPORT(ForwardDctQuantize);
HWY_EXPORT(QuantizeFloats);
HWY_EXPORT(ExtractConvert);
HWY_EXPORT(Downsample);

ForwardDctFn forwardDctKernel()
{
    return HWY_DYNAMIC_DISPATCH(ForwardDctTransposed);
}

ForwardDctQuantizeFn forwardDctQuantizeKernel()
{
    return HWY_DYNAMIC_DISPATCH(ForwardDctQuantize);
}

QuantizeFn quantizeKernel()
{
    return HWY_DYNAMIC_DISPATCH(QuantizeFloats);
}

ExtractConvertFn extractConvertKernel()
{
    return HWY_DYNAMIC_DISPATCH(ExtractConvert);
}

DownsampleFn downsampleKernel()
{
    return HWY_DYNAMIC_DISPATCH(Downsample);
}

}  // namespace mox::enc
#endif
