// Vector form of the inverse DCT, compiled once per instruction set and
// picked at run time. It performs the reference transform's operations in
// the reference's order (separate multiplications and additions, never
// fused), with several rows, then several columns, in the lanes of one
// vector, so every output equals the reference's.
//
// Input: a dequantised block held transposed, entry 8 * u + v holding the
// coefficient of horizontal frequency u in frequency row v. The fast
// Huffman decoder writes blocks this way, so the row pass finds the same
// coefficient of consecutive rows side by side.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "decoder/idct_fast.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
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

// Column pass over the lanes' columns: inputs x[r], outputs 8 sample rows
// (level shift and clamp as the range-limit table does them) at out[8 * k].
HWY_INLINE void columnPass(D d, const V* x, int32_t* out)
{
    const DI di;
    VSums in{x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7],
             hn::Add(x[0], x[4]), hn::Sub(x[0], x[4]), hn::Add(x[2], x[6]),
             hn::Add(x[3], x[5]), hn::Add(x[1], x[7])};
    V y[8];
    flowgraph(d, in, y);
    const V lowest = hn::Set(d, -2147483648.0);
    const V highest = hn::Set(d, 2147483647.0);
    for (int k = 0; k < 8; ++k) {
        // Truncation into 32 bits, saturated; then (t + 4) >> 3 keeps only
        // ten bits, which the 32-bit wrapping sum holds exactly.
        VI t = hn::DemoteTo(di, hn::Min(hn::Max(y[k], lowest), highest));
        VI v = hn::And(hn::ShiftRight<3>(hn::Add(t, hn::Set(di, 4))), hn::Set(di, 0x3FF));
        // The range-limit table at 128 + v: v as a signed 10-bit value,
        // moved to 0..255 and clamped.
        VI s = hn::ShiftRight<22>(hn::ShiftLeft<22>(v));
        s = hn::Min(hn::Max(hn::Add(s, hn::Set(di, 128)), hn::Zero(di)), hn::Set(di, 255));
        hn::StoreU(s, di, out + 8 * k);
    }
}

void IdctTransposed(const int32_t* block, int32_t* output)
{
    const D d;
    const DI di;
    const size_t lanes = hn::Lanes(d);
    HWY_ALIGN double transposed[64];  // transposed[8 * i + r]: row pass output i of row r
    for (size_t r0 = 0; r0 < 8; r0 += lanes) {
        VI xi[8];
        for (int k = 0; k < 8; ++k) xi[k] = hn::LoadU(di, block + 8 * k + r0);
        V x[8];
        for (int k = 0; k < 8; ++k) x[k] = hn::PromoteTo(d, xi[k]);
        VI ac = hn::Or(hn::Or(hn::Or(xi[1], xi[2]), hn::Or(xi[3], xi[4])),
                       hn::Or(hn::Or(xi[5], xi[6]), xi[7]));
        V y[8];
        if (hn::AllTrue(di, hn::Eq(ac, hn::Zero(di)))) {
            for (int i = 0; i < 8; ++i) y[i] = x[0];
        } else {
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
            for (int i = 0; i < 8; ++i) y[i] = hn::IfThenElse(dcOnly, x[0], y[i]);
        }
        for (int i = 0; i < 8; ++i) hn::Store(y[i], d, transposed + 8 * i + r0);
    }
    HWY_ALIGN double rows[64];
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) rows[8 * r + c] = transposed[8 * c + r];
    for (size_t c0 = 0; c0 < 8; c0 += lanes) {
        V x[8];
        for (int r = 0; r < 8; ++r) x[r] = hn::Load(d, rows + 8 * r + c0);
        columnPass(d, x, output + c0);
    }
}

// A block with its DC coefficient alone: every row but the first is zero,
// so every column transforms the same input.
void IdctDcOnly(int32_t dc, int32_t* output)
{
    const D d;
    const size_t lanes = hn::Lanes(d);
    V x[8];
    x[0] = hn::Set(d, static_cast<double>(dc));
    for (int r = 1; r < 8; ++r) x[r] = hn::Zero(d);
    for (size_t c0 = 0; c0 < 8; c0 += lanes) columnPass(d, x, output + c0);
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace mox
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace mox {

HWY_EXPORT(IdctTransposed);
HWY_EXPORT(IdctDcOnly);

IdctTransposedFn idctTransposedKernel()
{
    return HWY_DYNAMIC_DISPATCH(IdctTransposed);
}

IdctDcOnlyFn idctDcOnlyKernel()
{
    return HWY_DYNAMIC_DISPATCH(IdctDcOnly);
}

}  // namespace mox
#endif
