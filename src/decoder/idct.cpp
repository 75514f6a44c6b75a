// Dequantisation and inverse DCT of one 8x8 block: the one place that fixes
// the exact arithmetic of the transform. Separable 8-point flowgraph (even
// part with one rotation, odd part with two, a 1/sqrt(2) scaling of two
// terms) in double precision; the constants are the exact doubles written
// below, with 0.7071068 and 1.41421356 applied as two multiplications.
#include <cstdint>

#include "decoder/decoder.h"
#include "decoder/idct.h"
#include "frame/t81tables.h"

namespace mox {

namespace {

using namespace idct;

// One 8-point pass. The even and odd sums arrive already formed (integer
// sums converted to double in the row pass, double sums in the column pass)
// so both passes share the products in exactly the written order.
struct Sums {
    double x0, x1, x2, x3, x4, x5, x6, x7;
    double s04, d04, s26, s35, s17;
};

inline void flowgraph(const Sums& in, double* y)
{
    double a0 = in.s04 * kHalfSqrt2 * kSqrt2;
    double a1 = in.d04 * kHalfSqrt2 * kSqrt2;
    double z = in.s26 * kC6S;
    double t2 = z - in.x6 * kEvenX6;
    double t3 = z + in.x2 * kEvenX2;
    double e0 = a0 + t3, e3 = a0 - t3, e1 = a1 + t2, e2 = a1 - t2;

    double p = in.s35 * kOdd35;
    double q = in.s17 * kOdd17;
    double A = p - in.x3 * kOddX3;
    double B = p - in.x5 * kOddX5;
    double C = in.x1 * kOddX1 + q;
    double D = q - in.x7 * kOddX7;
    double o0 = B + C, o3 = D + A;
    double u = C - B, w = D - A;
    double o1 = (w + u) * kHalfSqrt2;
    double o2 = (u - w) * kHalfSqrt2;

    y[0] = e0 + o0;
    y[7] = e0 - o0;
    y[1] = e1 + o1;
    y[6] = e1 - o1;
    y[2] = e2 + o2;
    y[5] = e2 - o2;
    y[3] = e3 + o3;
    y[4] = e3 - o3;
}

// 32-bit sums wrap as two's complement; only corrupt data reaches the limits.
inline int32_t wrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Truncation toward zero into 32 bits, saturating where a corrupt block
// leaves the range (the conversion itself would be undefined there).
inline int32_t truncate32(double y)
{
    if (y >= 2147483647.0) return INT32_MAX;
    if (y <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(y);
}

}  // namespace

int32_t D_idctBlock(const int32_t* coefficients, const McuParam* param,
                    const McuComponent* component, int32_t* output)
{
    // Zig-zag to natural order (T.81 Figure A.6), then dequantise.
    int32_t d[64];
    for (int k = 0; k < 64; ++k) {
        int n = kZigzagToNatural[k];
        d[n] = static_cast<int32_t>(static_cast<uint32_t>(coefficients[k]) *
                                    static_cast<uint32_t>(component->quantTable[n]));
    }

    double rows[64];
    for (int r = 0; r < 8; ++r) {
        const int32_t* x = d + 8 * r;
        double* y = rows + 8 * r;
        if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
            double dc = static_cast<double>(x[0]);
            for (int i = 0; i < 8; ++i) y[i] = dc;
            continue;
        }
        Sums in{double(x[0]),          double(x[1]),          double(x[2]),
                double(x[3]),          double(x[4]),          double(x[5]),
                double(x[6]),          double(x[7]),          double(wrapAdd(x[0], x[4])),
                double(wrapSub(x[0], x[4])), double(wrapAdd(x[2], x[6])),
                double(wrapAdd(x[3], x[5])), double(wrapAdd(x[1], x[7]))};
        flowgraph(in, y);
    }

    const uint8_t* limit = param->rangeLimit;
    for (int c = 0; c < 8; ++c) {
        double x[8];
        for (int r = 0; r < 8; ++r) x[r] = rows[8 * r + c];
        Sums in{x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7],
                x[0] + x[4], x[0] - x[4], x[2] + x[6], x[3] + x[5], x[1] + x[7]};
        double y[8];
        flowgraph(in, y);
        for (int k = 0; k < 8; ++k) {
            int32_t t = truncate32(y[k]);
            // (t + 4) >> 3 with sign, then the 10-bit wrap into the table.
            int32_t v = static_cast<int32_t>((static_cast<int64_t>(t) + 4) >> 3);
            output[8 * k + c] = limit[128 + (v & 0x3FF)];
        }
    }
    return 0;
}

}  // namespace mox
