// Vector form of the inverse DCT, compiled once per instruction set and
// picked at run time. It performs the reference transform's operations in
// the reference's order (separate multiplications and additions, never
// fused), with several rows, then several columns, in the lanes of one
// vector, so every output equals the reference's.
//
// Input: a dequantised block held transposed, entry 8 * u + v holding the
// coefficient of horizontal frequency u in frequency row v. The fast
// Huffman decoder writes blocks this way, so the row pass finds the same
// coefficient of consecutive rows side by side. The block is left all
// zeros, ready for the decoder's next one.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "decoder/idct_fast.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <cstring>

#include <hwy/highway.h>

#include "decoder/fast.h"
#include "decoder/idct.h"

HWY_BEFORE_NAMESPACE();
namespace mox {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using D = hn::CappedTag<double, 8>;
using DI = hn::Rebind<int32_t, D>;
using V = hn::Vec<D>;
using VI = hn::Vec<DI>;

struct VSums {
    V x0, x1, x2, x3, x4, x5, x6, x7;
    V s04, d04, s26, s35, s17;
};

// The reference flowgraph, lane by lane.
HWY_INLINE void flowgraph(D d, const VSums& in, V* y)
{
    using namespace idct;
    const V halfSqrt2 = hn::Set(d, kHalfSqrt2);
    V a0 = hn::Mul(hn::Mul(in.s04, halfSqrt2), hn::Set(d, kSqrt2));
    V a1 = hn::Mul(hn::Mul(in.d04, halfSqrt2), hn::Set(d, kSqrt2));
    V z = hn::Mul(in.s26, hn::Set(d, kC6S));
    V t2 = hn::Sub(z, hn::Mul(in.x6, hn::Set(d, kEvenX6)));
    V t3 = hn::Add(z, hn::Mul(in.x2, hn::Set(d, kEvenX2)));
    V e0 = hn::Add(a0, t3), e3 = hn::Sub(a0, t3), e1 = hn::Add(a1, t2), e2 = hn::Sub(a1, t2);

    V p = hn::Mul(in.s35, hn::Set(d, kOdd35));
    V q = hn::Mul(in.s17, hn::Set(d, kOdd17));
    V A = hn::Sub(p, hn::Mul(in.x3, hn::Set(d, kOddX3)));
    V B = hn::Sub(p, hn::Mul(in.x5, hn::Set(d, kOddX5)));
    V C = hn::Add(hn::Mul(in.x1, hn::Set(d, kOddX1)), q);
    V Dd = hn::Sub(q, hn::Mul(in.x7, hn::Set(d, kOddX7)));
    V o0 = hn::Add(B, C), o3 = hn::Add(Dd, A);
    V u = hn::Sub(C, B), w = hn::Sub(Dd, A);
    V o1 = hn::Mul(hn::Add(w, u), halfSqrt2);
    V o2 = hn::Mul(hn::Sub(u, w), halfSqrt2);

    y[0] = hn::Add(e0, o0);
    y[7] = hn::Sub(e0, o0);
    y[1] = hn::Add(e1, o1);
    y[6] = hn::Sub(e1, o1);
    y[2] = hn::Add(e2, o2);
    y[5] = hn::Sub(e2, o2);
    y[3] = hn::Add(e3, o3);
    y[4] = hn::Sub(e3, o3);
}

// Column pass over the lanes' columns: inputs x[r], outputs the 8 column
// values, truncated toward zero into 32 bits (saturated), in t[k].
HWY_INLINE void columnPass(D d, const V* x, VI* t)
{
    VSums in{x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7],
             hn::Add(x[0], x[4]), hn::Sub(x[0], x[4]), hn::Add(x[2], x[6]),
             hn::Add(x[3], x[5]), hn::Add(x[1], x[7])};
    V y[8];
    flowgraph(d, in, y);
    const DI di;
    for (int k = 0; k < 8; ++k) t[k] = hn::DemoteTo(di, y[k]);
}

// Samples from truncated column values: only bits 3..12 of t + 4 reach the
// range-limit table ((t + 4) >> 3, ten bits), so the 32-bit wrapping sum
// serves; shifting them to the top and back gives them as a signed 10-bit
// value, which the table moves to 0..255 and clamps.
template <class DS>
HWY_INLINE hn::Vec<DS> samples(DS ds, hn::Vec<DS> t)
{
    hn::Vec<DS> s = hn::ShiftRight<22>(hn::ShiftLeft<19>(hn::Add(t, hn::Set(ds, 4))));
    return hn::Min(hn::Max(hn::Add(s, hn::Set(ds, 128)), hn::Zero(ds)), hn::Set(ds, 255));
}

// Where the samples go: the 64 32-bit samples of a block in raster order,
// or bytes into eight lines of a band (a gray picture's output).
struct ToSamples {
    int32_t* out;
    template <class DS>
    HWY_INLINE void put(DS ds, int line, int column, hn::Vec<DS> v) const
    {
        hn::StoreU(v, ds, out + 8 * line + column);
    }
#if HWY_TARGET != HWY_SCALAR
    // Lines `line` and `line + 1` whole, in one vector of 16 samples.
    template <class DS>
    HWY_INLINE void putTwo(DS ds, int line, hn::Vec<DS> v) const
    {
        hn::StoreU(v, ds, out + 8 * line);
    }
#endif
};
struct ToBytes {
    uint8_t* out;
    size_t stride;
    template <class DS>
    HWY_INLINE void put(DS, int line, int column, hn::Vec<DS> v) const
    {
        const hn::Rebind<uint8_t, DS> d8;
        hn::StoreU(hn::DemoteTo(d8, v), d8, out + size_t(line) * stride + column);
    }
#if HWY_TARGET != HWY_SCALAR
    template <class DS>
    HWY_INLINE void putTwo(DS, int line, hn::Vec<DS> v) const
    {
        // Samples are 0..255 already: their low bytes are the bytes.
        const hn::Rebind<uint8_t, DS> d8;
        const hn::Half<decltype(d8)> dh;
        const auto bytes = hn::TruncateTo(d8, hn::BitCast(hn::RebindToUnsigned<DS>(), v));
        hn::StoreU(hn::LowerHalf(dh, bytes), dh, out + size_t(line) * stride);
        hn::StoreU(hn::UpperHalf(dh, bytes), dh, out + size_t(line + 1) * stride);
    }
#endif
};

// Stores the 8 sample rows of the column groups h and h + 1 (t and t + 8),
// at `column`.
template <class Sink>
HWY_INLINE void storeRows(const VI* t, const Sink& sink, int column)
{
#if HWY_TARGET == HWY_SCALAR
    const DI di;
    for (int k = 0; k < 8; ++k) {
        sink.put(di, k, column, samples(di, t[k]));
        sink.put(di, k, column + 1, samples(di, t[8 + k]));
    }
#else
    // Two groups side by side in one vector of twice the lanes.
    const hn::Twice<DI> dw;
    for (int k = 0; k < 8; ++k) sink.put(dw, k, column, samples(dw, hn::Combine(dw, t[8 + k], t[k])));
#endif
}

// Transposes the square of `lanes` vectors at in[0], in[1], ... into out
// (two or four lanes; eight take transposeEight).
#if HWY_TARGET == HWY_SCALAR
HWY_INLINE void transposeSquare(D, const V* in, V* out)
{
    out[0] = in[0];
}
#else
template <class DD>
HWY_INLINE void transposeSquare(DD d, const hn::Vec<DD>* in, hn::Vec<DD>* out)
{
    constexpr size_t kLanes = hn::MaxLanes(DD());
    if constexpr (kLanes == 2) {
        out[0] = hn::InterleaveLower(d, in[0], in[1]);
        out[1] = hn::InterleaveUpper(d, in[0], in[1]);
    } else if constexpr (kLanes == 4) {
        const hn::Vec<DD> t0 = hn::InterleaveLower(d, in[0], in[1]);
        const hn::Vec<DD> t1 = hn::InterleaveUpper(d, in[0], in[1]);
        const hn::Vec<DD> t2 = hn::InterleaveLower(d, in[2], in[3]);
        const hn::Vec<DD> t3 = hn::InterleaveUpper(d, in[2], in[3]);
        out[0] = hn::ConcatLowerLower(d, t2, t0);
        out[1] = hn::ConcatLowerLower(d, t3, t1);
        out[2] = hn::ConcatUpperUpper(d, t2, t0);
        out[3] = hn::ConcatUpperUpper(d, t3, t1);
    }
}

// Transposes eight vectors of eight lanes: each round splits every pair of
// vectors into its even and its odd lanes, and three rounds exchange the
// vector and lane indices.
template <class DD>
HWY_INLINE void transposeEight(DD d, const hn::Vec<DD>* in, hn::Vec<DD>* out)
{
    hn::Vec<DD> a[8], b[8];
    for (int j = 0; j < 4; ++j) {
        a[j] = hn::ConcatEven(d, in[2 * j + 1], in[2 * j]);
        a[4 + j] = hn::ConcatOdd(d, in[2 * j + 1], in[2 * j]);
    }
    for (int j = 0; j < 4; ++j) {
        b[j] = hn::ConcatEven(d, a[2 * j + 1], a[2 * j]);
        b[4 + j] = hn::ConcatOdd(d, a[2 * j + 1], a[2 * j]);
    }
    for (int j = 0; j < 4; ++j) {
        out[j] = hn::ConcatEven(d, b[2 * j + 1], b[2 * j]);
        out[4 + j] = hn::ConcatOdd(d, b[2 * j + 1], b[2 * j]);
    }
}

// Eight lanes hold all eight columns: the column pass gives whole rows.
template <class DD, class Sink>
HWY_INLINE void columnsOfEight(DD d, const hn::Vec<DD>* rowOut, const Sink& sink)
{
    hn::Vec<DD> x[8];
    transposeEight(d, rowOut, x);
    hn::Vec<hn::Rebind<int32_t, DD>> t[8];
    columnPass(d, x, t);
    // Two lines in each vector of twice the lanes.
    const hn::Twice<hn::Rebind<int32_t, DD>> dw;
    for (int k = 0; k < 8; k += 2) sink.putTwo(dw, k, samples(dw, hn::Combine(dw, t[k + 1], t[k])));
}
#endif

template <class Sink>
HWY_INLINE void idctTransposed(int32_t* block, const Sink& sink)
{
    const D d;
    const DI di;
    constexpr size_t kLanes = hn::MaxLanes(D());
    constexpr size_t kGroups = 8 / kLanes;
    // rowOut[g * 8 + i]: output i of the row pass for the rows of group g.
    V rowOut[64 / kLanes];
    for (size_t g = 0; g < kGroups; ++g) {
        const size_t r0 = g * kLanes;
        VI xi[8];
        for (int k = 0; k < 8; ++k) {
            xi[k] = hn::LoadU(di, block + 8 * k + r0);
            hn::StoreU(hn::Zero(di), di, block + 8 * k + r0);  // left cleared for the next block
        }
        V x[8];
        for (int k = 0; k < 8; ++k) x[k] = hn::PromoteTo(d, xi[k]);
        VI ac = hn::Or(hn::Or(hn::Or(xi[1], xi[2]), hn::Or(xi[3], xi[4])),
                       hn::Or(hn::Or(xi[5], xi[6]), xi[7]));
        V* y = rowOut + 8 * g;
        if (hn::AllTrue(di, hn::Eq(ac, hn::Zero(di)))) {
            for (int i = 0; i < 8; ++i) y[i] = x[0];
            continue;
        }
        // Integer sums wrap as the reference's do, then become doubles.
        VSums in{x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7],
                 hn::PromoteTo(d, hn::Add(xi[0], xi[4])),
                 hn::PromoteTo(d, hn::Sub(xi[0], xi[4])),
                 hn::PromoteTo(d, hn::Add(xi[2], xi[6])),
                 hn::PromoteTo(d, hn::Add(xi[3], xi[5])),
                 hn::PromoteTo(d, hn::Add(xi[1], xi[7]))};
        flowgraph(d, in, y);
        // A row without AC coefficients takes its DC value unchanged.
        const auto dcOnly = hn::Eq(hn::PromoteTo(d, ac), hn::Zero(d));
        if (!hn::AllFalse(d, dcOnly))
            for (int i = 0; i < 8; ++i) y[i] = hn::IfThenElse(dcOnly, x[0], y[i]);
    }
#if HWY_TARGET != HWY_SCALAR
    if constexpr (kLanes == 8) {
        columnsOfEight(d, rowOut, sink);
        return;
    }
#endif
    VI t[16];
    for (size_t h = 0; h < kGroups; ++h) {
        // Columns h * kLanes.. of rows 0..7: square (g, h) of the row pass
        // output, transposed.
        V x[8];
        for (size_t g = 0; g < kGroups; ++g) transposeSquare(d, rowOut + 8 * g + h * kLanes, x + g * kLanes);
        columnPass(d, x, t + 8 * (h % 2));
        if (h % 2 == 1) storeRows(t, sink, static_cast<int>((h - 1) * kLanes));
    }
}

// A block with its DC coefficient alone: every row takes its DC value
// unchanged, every column then sees that value alone, and the flowgraph
// gives each of its outputs a0 = dc * kHalfSqrt2 * kSqrt2 plus or minus a
// zero product, which is a0 itself (or a zero that truncates to 0 all the
// same). So all 64 samples are one value.
int32_t dcOnlySample(int32_t dc)
{
    using namespace idct;
    const double a0 = static_cast<double>(dc) * kHalfSqrt2 * kSqrt2;
    const int32_t t = a0 >= 2147483647.0 ? INT32_MAX : a0 <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(a0);
    // As samples() does it: bits 3..12 of t + 4 as a signed value, then 0..255.
    const int32_t v = static_cast<int32_t>((static_cast<uint32_t>(t) + 4u) << 19) >> 22;
    return v + 128 < 0 ? 0 : v + 128 > 255 ? 255 : v + 128;
}

void IdctTransposed(int32_t* block, int32_t* output)
{
    idctTransposed(block, ToSamples{output});
}

void IdctTransposedBytes(int32_t* block, uint8_t* out, size_t stride)
{
    idctTransposed(block, ToBytes{out, stride});
}

void IdctDcOnly(int32_t dc, int32_t* output)
{
    const hn::ScalableTag<int32_t> di;
    const auto fill = hn::Set(di, dcOnlySample(dc));
    for (size_t k = 0; k < size_t(kBlockSamples); k += hn::Lanes(di)) hn::StoreU(fill, di, output + k);
}

void IdctDcOnlyBytes(int32_t dc, uint8_t* out, size_t stride)
{
    const auto sample = static_cast<uint8_t>(dcOnlySample(dc));
    for (int line = 0; line < 8; ++line) std::memset(out + size_t(line) * stride, sample, 8);
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace mox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace mox {

HWY_EXPORT(IdctTransposed);
HWY_EXPORT(IdctDcOnly);
HWY_EXPORT(IdctTransposedBytes);
HWY_EXPORT(IdctDcOnlyBytes);

IdctTransposedFn idctTransposedKernel()
{
    return HWY_DYNAMIC_DISPATCH(IdctTransposed);
}

IdctDcOnlyFn idctDcOnlyKernel()
{
    return HWY_DYNAMIC_DISPATCH(IdctDcOnly);
}

IdctBytesFn idctBytesKernel()
{
    return HWY_DYNAMIC_DISPATCH(IdctTransposedBytes);
}

IdctDcOnlyBytesFn idctDcOnlyBytesKernel()
{
    return HWY_DYNAMIC_DISPATCH(IdctDcOnlyBytes);
}

}  // namespace mox
#endif
