// Known answers of the forward path's arithmetic (colour matrix, downsampling
// means, quantiser, forward DCT against its definition) and the bits and
// code positions of the block coder.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "encoder/encoder.h"
#include "frame/bits.h"

namespace {

using namespace mox::enc;

TEST(EncodeForward, ArithmeticKnownAnswers)
{
    // The fixed-point colour matrix: t / 256 and entries x 256, halves away
    // from zero, entries clamped to +-2^20 (NaN to the low end).
    for (auto [t, want] : {std::pair{127, 0}, {128, 1}, {-127, 0}, {-128, -1}, {-43 * 255, -43}, {384, 2}, {-384, -2}})
        EXPECT_EQ(roundFixed(t), want) << "t " << t;
    for (auto [entry, want] : {std::pair{0.299f, 77}, {0.587f, 150}, {-0.1687f, -43}, {-0.4187f, -107},
                               {-0.0813f, -21}, {1.0f / 512, 1}, {-1.0f / 512, -1}, {1e30f, 1 << 20},
                               {NAN, -(1 << 20)}})
        EXPECT_EQ(fixedMatrixEntry(entry), want) << "entry " << entry;
    // Downsampling means round halves up.
    EXPECT_EQ(meanOfTwo(-3, -2), -3);
    EXPECT_EQ(meanOfTwo(2, 3), 3);
    EXPECT_EQ(meanOfFour(1, 1, 0, 0), 1);
    EXPECT_EQ(meanOfFour(-1, -1, 0, 0), -1);
    EXPECT_EQ(meanOfFour(-3, -3, -3, 0), -2);
    // The quantiser: halves away from zero, clamped to the baseline range.
    const struct {
        float coefficient;
        int32_t q, want;
    } quantised[] = {{-1024.0f, 16, -64}, {-5.0f, 2, -3}, {5.0f, 2, 3},       {0.49f, 1, 0},
                     {-0.49f, 1, 0},      {2047.0f, 1, 1023}, {-1100.0f, 1, -1023}, {1023.4f, 1, 1023}};
    for (const auto& c : quantised) {
        float coefficients[64] = {c.coefficient};
        int32_t table[64], out[64];
        std::fill_n(table, 64, c.q);
        quantize(coefficients, table, out);
        EXPECT_EQ(out[0], c.want) << c.coefficient << " / " << c.q;
    }
    // The forward DCT against T.81 A.3.3 evaluated in double.
    int32_t block[64];
    uint32_t state = 7;
    for (int32_t& s : block) s = int32_t((state = state * 1103515245u + 12345u) >> 16) % 256 - 128;
    float coefficients[64];
    forwardDct(block, coefficients);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int n = 0; n < 64; ++n)
                sum += block[n] * std::cos((2 * (n % 8) + 1) * u * M_PI / 16) * std::cos((2 * (n / 8) + 1) * v * M_PI / 16);
            const double scale = 0.25 * (u == 0 ? M_SQRT1_2 : 1) * (v == 0 ? M_SQRT1_2 : 1);
            EXPECT_NEAR(coefficients[v * 8 + u], scale * sum, 1e-3) << "u " << u << " v " << v;
        }
}

// Codes one zig-zag block with the K.3/K.5 tables from predictor 0.
struct Coded {
    std::string bits;  // '0'/'1' of the coded data, stuffing bytes left out
    CodePositions positions;
    std::vector<uint8_t> bytes;
};

Coded codeBlock(const int32_t zz[64])
{
    HuffDecodeTable dc, ac;
    defaultHuffmanTable(false, 0, &dc);
    defaultHuffmanTable(true, 0, &ac);
    Coded coded{};
    coded.bytes.assign(256, 0);
    mox::BitCursor cursor{};
    cursor.bitPos = 7;
    cursor.data = coded.bytes.data();
    int32_t predictor = 0;
    EXPECT_EQ(codeHuffman(zz, &dc, &ac, &predictor, &cursor, &coded.positions), 0);
    for (int32_t i = 0; i <= cursor.byteIndex; ++i) {
        if (i > 0 && coded.bytes[i - 1] == 0xFF) continue;
        for (int b = 0; b < (i < cursor.byteIndex ? 8 : 7 - cursor.bitPos); ++b)
            coded.bits += (coded.bytes[i] >> (7 - b)) & 1 ? '1' : '0';
    }
    coded.bytes.resize(cursor.byteIndex + (cursor.bitPos != 7));
    return coded;
}

TEST(EncodeForward, CodePositionsAndStuffing)
{
    // DC +1 ("010" "1"), AC 0/1 +1 ("00" "1"), AC 0/1 -1 ("00" "0"), EOB:
    // each entry ends at a known byte and bit.
    int32_t zz[64] = {1, 1, -1};
    Coded coded = codeBlock(zz);
    EXPECT_EQ(coded.bits, "0101" "001" "000" "1010");
    ASSERT_EQ(coded.positions.count, 4);
    const int32_t freeBits[] = {4, 1, 6, 2}, byteIndex[] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(coded.positions.freeBits[i], freeBits[i]) << "entry " << i;
        EXPECT_EQ(coded.positions.byteIndex[i], byteIndex[i]) << "entry " << i;
    }
    // A DC difference of 2047 ("111111110" + 11 ones) completes a byte 0xFF:
    // a stuffing 0x00 follows and counts, so the DC entry ends 4 bits into
    // the byte after it.
    int32_t big[64] = {2047};
    Coded stuffed = codeBlock(big);
    ASSERT_GE(stuffed.bytes.size(), 3u);
    EXPECT_EQ(stuffed.bytes[0], 0xFF);
    EXPECT_EQ(stuffed.bytes[1], 0x00);
    EXPECT_EQ(stuffed.positions.byteIndex[0], 3);
    EXPECT_EQ(stuffed.positions.freeBits[0], 4);
}

}  // namespace
