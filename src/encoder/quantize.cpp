// Quantisation (single-precision quotient, rounded half away from zero in
// double) and zig-zag reordering (T.81 Figure A.6). The quantiser is the one
// place that keeps coefficients codable in baseline: |AC| <= 1023 (category
// 10) and |DC| <= 1023, so DC differences stay within category 11 even with
// caller tables of 1 or extreme colour matrices.
#include "encoder/encoder.h"
#include "frame/t81tables.h"

namespace mox::enc {

void quantize(const float coefficients[64], const int32_t table[64], int32_t quantized[64])
{
    for (int n = 0; n < 64; ++n) {
        float quotient = coefficients[n] / static_cast<float>(table[n]);
        double rounded = static_cast<double>(quotient);
        rounded += coefficients[n] >= 0 ? 0.5 : -0.5;
        if (rounded > kMaxCoefficient) rounded = kMaxCoefficient;
        if (rounded < -kMaxCoefficient) rounded = -kMaxCoefficient;
        quantized[n] = static_cast<int32_t>(rounded);
    }
}

void zigzag(const int32_t natural[64], int32_t zigzagOrder[64])
{
    for (int k = 0; k < 64; ++k) zigzagOrder[k] = natural[kZigzagToNatural[k]];
}

}  // namespace mox::enc

// ---- Fast path: the table in the transposed block's order -------------------

namespace mox::enc {

namespace {

// Bit t of a transposed-order mask -> bit (zig-zag index) of the zig-zag mask,
// one table per byte of the mask.
struct MaskTables {
    uint64_t byByte[8][256];
    constexpr MaskTables() : byByte{}
    {
        uint8_t zigzagOf[64] = {};
        for (int k = 0; k < 64; ++k) zigzagOf[kZigzagToTransposed[k]] = static_cast<uint8_t>(k);
        for (int j = 0; j < 8; ++j)
            for (int b = 0; b < 256; ++b)
                for (int i = 0; i < 8; ++i)
                    if (b & (1 << i)) byByte[j][b] |= uint64_t{1} << zigzagOf[8 * j + i];
    }
};
constexpr MaskTables kMaskTables;

}  // namespace

uint64_t zigzagMaskOfTransposed(uint64_t transposedMask)
{
    uint64_t mask = 0;
    for (int j = 0; j < 8; ++j) mask |= kMaskTables.byByte[j][(transposedMask >> (8 * j)) & 0xFF];
    return mask;
}

void transposedDivisors(const int32_t table[64], float divisors[64])
{
    for (int n = 0; n < 64; ++n) divisors[(n % 8) * 8 + n / 8] = static_cast<float>(table[n]);
}

}  // namespace mox::enc
