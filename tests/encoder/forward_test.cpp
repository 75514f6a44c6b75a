// The forward path and the block coder, stage by stage, on hand-computed
// examples and against the DCT definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "encoder/encoder.h"
#include "frame/bits.h"

namespace {

using namespace mox::enc;

TEST(EncodeForward, FixedPointRounding)
{
    // t / 256 and matrix entries x 256, halves away from zero.
    const int32_t rounding[][2] = {{127, 0}, {128, 1}, {-127, 0}, {-128, -1}, {77 * 255, 77},
                                   {-43 * 255, -43}, {384, 2}, {-384, -2}};
    for (const auto& [t, want] : rounding) EXPECT_EQ(roundFixed(t), want) << "t " << t;
    const std::pair<float, int32_t> entries[] = {
        {0.299f, 77},      {0.587f, 150},      {0.114f, 29},      {-0.1687f, -43},
        {-0.3313f, -85},   {0.5f, 128},        {-0.4187f, -107},  {-0.0813f, -21},
        {1.0f / 512, 1},   {-1.0f / 512, -1},  {1e30f, 1 << 20},  {NAN, -(1 << 20)}};
    for (const auto& [entry, want] : entries)
        EXPECT_EQ(fixedMatrixEntry(entry), want) << "entry " << entry;
}

// A context with one MCU of work planes, enough for extraction, conversion
// and downsampling.
struct PlaneContext {
    EncoderContext ctx{};
    std::vector<int32_t> storage = std::vector<int32_t>(16 * 256, 0);
    std::vector<uint8_t> rows;

    PlaneContext(int components, int pixelFormat, int hMax, int vMax)
    {
        ctx.components = uint8_t(components);
        ctx.pixelFormat = uint8_t(pixelFormat);
        ctx.hMax = uint8_t(hMax);
        ctx.vMax = uint8_t(vMax);
        ctx.planeSamples = 64u * hMax * vMax;
        for (int c = 0; c < 4; ++c) {
            ctx.convertedPlane[c] = storage.data() + c * 256;
            ctx.rawPlane[c] = storage.data() + (4 + c) * 256;
            ctx.blockBuf[c] = storage.data() + (8 + c) * 256;
            ctx.hSamp[c] = ctx.vSamp[c] = 1;
        }
        for (int i = 0; i < 16; ++i) ctx.fixedMatrix[i] = i % 5 == 0 ? 256 : 0;
        for (int32_t& shift : ctx.levelShift) shift = -128;
    }
};

TEST(EncodeForward, ExtractionReplicatesEdges)
{
    // A region 5 columns wide and a last MCU row with 3 valid lines.
    PlaneContext p(1, MOX_PIXEL_GRAY, 1, 1);
    p.ctx.lineBytes = 9;
    p.ctx.regionLeft = 2;
    p.ctx.regionWidth = 5;
    p.rows.resize(8 * 9);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x) p.rows[y * 9 + x] = uint8_t(10 * y + x);
    p.ctx.rowSource = p.rows.data();
    p.ctx.rowBytes = 3 * 9;
    extractSamples(&p.ctx, 0);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            int line = y < 3 ? y : 2;
            int column = 2 + (x < 5 ? x : 4);
            ASSERT_EQ(p.ctx.rawPlane[0][y * 8 + x], 10 * line + column)
                << "sample (" << x << ", " << y << ")";
        }
    }
}

TEST(EncodeForward, RoundedMeanAndDecimation)
{
    EXPECT_EQ(meanOfTwo(-3, -2), -3);
    EXPECT_EQ(meanOfTwo(2, 3), 3);
    EXPECT_EQ(meanOfTwo(-1, 1), 0);
    EXPECT_EQ(meanOfFour(1, 1, 0, 0), 1);      // 0.5 -> 1
    EXPECT_EQ(meanOfFour(-1, -1, 0, 0), -1);   // -0.5 -> -1
    EXPECT_EQ(meanOfFour(-3, -3, -3, 0), -2);  // -2.25 -> -2

    // Converted samples 2 (x % 2) + 5 (y % 2) - 3: decimation keeps -3, the
    // mean gives -2 for pairs across, -1 for pairs down, 1 for groups of
    // four. Component 0 at full resolution is copied unchanged.
    const struct {
        int h, v, mean;
    } shapes[] = {{2, 1, -2}, {1, 2, -1}, {2, 2, 1}};
    for (const auto& shape : shapes) {
        for (int mode : {0, 1}) {
            PlaneContext p(3, MOX_PIXEL_RGB, shape.h, shape.v);
            p.ctx.hSamp[0] = uint8_t(shape.h);
            p.ctx.vSamp[0] = uint8_t(shape.v);
            p.ctx.downsampleMode = uint8_t(mode);
            const int samples = 64 * shape.h * shape.v;
            for (int i = 0; i < samples; ++i) {
                int x = i / 64 % shape.h * 8 + i % 8, y = i / 64 / shape.h * 8 + i / 8 % 8;
                p.ctx.convertedPlane[0][i] = i;
                p.ctx.convertedPlane[1][i] = 2 * (x % 2) + 5 * (y % 2) - 3;
            }
            downsample(&p.ctx);
            for (int n : {0, 6, 16, 54})
                EXPECT_EQ(p.ctx.blockBuf[1][n], mode == 0 ? -3 : shape.mean)
                    << shape.h << "x" << shape.v << " mode " << mode << " sample " << n;
            EXPECT_EQ(p.ctx.blockBuf[0][samples - 1], samples - 1);
        }
    }
}

// T.81 A.3.3 straight from the definition.
double definitionDct(const int32_t f[64], int u, int v)
{
    double sum = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            sum += f[y * 8 + x] * std::cos((2 * x + 1) * u * M_PI / 16) *
                   std::cos((2 * y + 1) * v * M_PI / 16);
    double cu = u == 0 ? 1 / std::sqrt(2.0) : 1;
    double cv = v == 0 ? 1 / std::sqrt(2.0) : 1;
    return 0.25 * cu * cv * sum;
}

TEST(EncodeForward, DctMatchesTheDefinition)
{
    int32_t block[64];
    uint32_t state = 7;
    for (int32_t& s : block) {
        state = state * 1103515245u + 12345u;
        s = int32_t(state >> 16) % 256 - 128;
    }
    float coefficients[64];
    forwardDct(block, coefficients);
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u)
            EXPECT_NEAR(coefficients[v * 8 + u], definitionDct(block, u, v), 1e-3)
                << "u " << u << " v " << v;

}

TEST(EncodeForward, QuantisationRoundsHalvesAwayFromZero)
{
    const struct {
        float coefficient;
        int32_t q;
        int32_t want;
    } cases[] = {{-1024.0f, 16, -64}, {-5.0f, 2, -3}, {5.0f, 2, 3}, {0.49f, 1, 0},
                 {-0.49f, 1, 0}, {2047.0f, 1, 1023}, {-1100.0f, 1, -1023}, {1023.4f, 1, 1023}};
    for (const auto& c : cases) {
        float coefficients[64] = {c.coefficient};
        int32_t table[64];
        for (int32_t& t : table) t = c.q;
        int32_t out[64];
        quantize(coefficients, table, out);
        EXPECT_EQ(out[0], c.want) << c.coefficient << " / " << c.q;
    }
}

// Coded bits of one zig-zag block with the K.3/K.5 tables, as a '0'/'1' string.
struct Coded {
    std::string bits;
    CodePositions positions;
    int32_t predictor;
    std::vector<uint8_t> bytes;
};

Coded codeBlock(const int32_t zz[64], int32_t predictor)
{
    HuffDecodeTable dc, ac;
    defaultHuffmanTable(false, 0, &dc);
    defaultHuffmanTable(true, 0, &ac);
    Coded coded{};
    coded.bytes.assign(256, 0);
    mox::BitCursor cursor{};
    cursor.bitPos = 7;
    cursor.data = coded.bytes.data();
    coded.predictor = predictor;
    EXPECT_EQ(codeHuffman(zz, &dc, &ac, &coded.predictor, &cursor, &coded.positions), 0);
    // Bits of the complete bytes, the stuffing 0x00 after each 0xFF left
    // out, then those of the partial byte.
    for (int32_t i = 0; i <= cursor.byteIndex; ++i) {
        if (i > 0 && coded.bytes[i - 1] == 0xFF) continue;
        int bits = i < cursor.byteIndex ? 8 : 7 - cursor.bitPos;
        for (int b = 0; b < bits; ++b) coded.bits += (coded.bytes[i] >> (7 - b)) & 1 ? '1' : '0';
    }
    coded.bytes.resize(cursor.byteIndex + (cursor.bitPos != 7));
    return coded;
}

TEST(EncodeForward, CodePositionsAndStuffing)
{
    // DC +1 ("010" "1"), AC 0/1 values: entries end at known bits.
    int32_t zz[64] = {};
    zz[0] = 1;
    zz[1] = 1;   // "00" "1": bits 4..6
    zz[2] = -1;  // "00" "0": bits 7..9
    Coded coded = codeBlock(zz, 0);
    EXPECT_EQ(coded.bits, std::string("0101") + "001" + "000" + "1010");
    ASSERT_EQ(coded.positions.count, 4);
    const int32_t freeBits[] = {4, 1, 6, 2};
    const int32_t byteIndex[] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(coded.positions.freeBits[i], freeBits[i]) << "entry " << i;
        EXPECT_EQ(coded.positions.byteIndex[i], byteIndex[i]) << "entry " << i;
    }

    // A DC difference of 2047 (category 11, code "111111110" + 11 ones)
    // completes a byte 0xFF: a stuffing 0x00 follows and is counted.
    int32_t big[64] = {};
    big[0] = 2047;
    Coded stuffed = codeBlock(big, 0);
    ASSERT_GE(stuffed.bytes.size(), 3u);
    EXPECT_EQ(stuffed.bytes[0], 0xFF);
    EXPECT_EQ(stuffed.bytes[1], 0x00);
    // 9 + 11 = 20 bits: the DC entry ends 4 bits into the byte after the stuffing.
    EXPECT_EQ(stuffed.positions.byteIndex[0], 3);
    EXPECT_EQ(stuffed.positions.freeBits[0], 4);
}

}  // namespace
