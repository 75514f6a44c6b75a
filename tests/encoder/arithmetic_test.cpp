// The forward path's arithmetic: known answers (colour matrix, downsampling
// means, quantiser, forward DCT against its definition), the bits and code
// positions of the block coder, and every fast path against the reference
// stages on every instruction set this processor runs, random and extreme
// inputs, every value and byte compared. (The fast Huffman coder is checked
// through the streams of interop_test.cpp and resume_test.cpp.)
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoder/encoder.h"
#include "encoder/fast.h"
#include "frame/bits.h"
#include "support/targets.h"

namespace moxtest {
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
    for (auto [have, want] : {std::pair{meanOfTwo(-3, -2), -3}, {meanOfTwo(2, 3), 3}, {meanOfFour(1, 1, 0, 0), 1},
                              {meanOfFour(-1, -1, 0, 0), -1}, {meanOfFour(-3, -3, -3, 0), -2}})
        EXPECT_EQ(have, want);
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

// The block coder's stuffing and code positions: a DC difference of 2047
// ("111111110" + 11 ones, K.3) completes a byte 0xFF, a stuffing 0x00
// follows and counts, so the DC entry ends 4 bits into the byte after it.
// (Positions without stuffing are the VELA round trip's: its cuts use them.)
TEST(EncodeForward, CodePositionsAndStuffing)
{
    HuffDecodeTable dc, ac;
    defaultHuffmanTable(false, 0, &dc);
    defaultHuffmanTable(true, 0, &ac);
    uint8_t bytes[256] = {};
    mox::BitCursor cursor{};
    cursor.bitPos = 7;
    cursor.data = bytes;
    CodePositions positions{};
    int32_t zz[64] = {2047}, predictor = 0;
    ASSERT_EQ(codeHuffman(zz, &dc, &ac, &predictor, &cursor, &positions), 0);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(positions.byteIndex[0], 3);
    EXPECT_EQ(positions.freeBits[0], 4);
}

TEST(EncoderFastPaths, TransformAndQuantisationMatchReference)
{
    // Level-shifted blocks: flat, checker, stripes, impulses, photo-like and,
    // as a caller's extreme colour matrix gives them, far outside 8 bits.
    std::mt19937 rng(99);
    auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    std::vector<std::vector<int32_t>> blocks;
    for (int32_t flat : {-128, 127, 0, -1}) blocks.push_back(std::vector<int32_t>(64, flat));
    for (int pattern = 0; pattern < 66; ++pattern) {
        std::vector<int32_t> block(64);
        for (int i = 0; i < 64; ++i)
            block[i] = (pattern == 64 ? (i / 8 + i) % 2 : pattern == 65 ? i % 8 < 4 : i == pattern) ? 127 : -128;
        blocks.push_back(block);
    }
    for (int n = 0; n < 2050; ++n) {
        std::vector<int32_t> block(64);
        int base = uniform(-128, 127), spread = uniform(0, 128);
        for (int32_t& s : block)
            s = n < 2000 ? std::clamp(base + uniform(-spread, spread), -128, 127) : uniform(-4200000, 4200000);
        blocks.push_back(block);
    }
    std::vector<std::vector<int32_t>> tables = {std::vector<int32_t>(64, 1), std::vector<int32_t>(64, 255)};
    for (int t = 0; t < 3; ++t) {
        tables.push_back(std::vector<int32_t>(64));
        for (int32_t& q : tables.back()) q = uniform(1, 255);
    }
    forEachTarget([&](const std::string& target) {
        for (size_t b = 0; b < blocks.size(); ++b) {
            float want[64], have[64];
            forwardDct(blocks[b].data(), want);
            forwardDctKernel()(blocks[b].data(), have);
            for (int n = 0; n < 64; ++n)
                ASSERT_EQ(std::bit_cast<uint32_t>(want[n]), std::bit_cast<uint32_t>(have[(n % 8) * 8 + n / 8]))
                    << target << ", block " << b << ", coefficient " << n;
            for (size_t t = 0; t < tables.size(); ++t) {
                int32_t natural[64], wantZz[64], haveZz[64], transposed[64];
                quantize(want, tables[t].data(), natural);
                zigzag(natural, wantZz);
                float divisors[64];
                transposedDivisors(tables[t].data(), divisors);
                uint64_t mask = forwardDctQuantizeKernel()(blocks[b].data(), divisors, transposed);
                uint64_t wantMask = 0;
                for (int k = 0; k < 64; ++k) {
                    haveZz[k] = transposed[kZigzagToTransposed[k]];
                    wantMask |= uint64_t{wantZz[k] != 0} << k;
                }
                ASSERT_EQ(0, std::memcmp(wantZz, haveZz, sizeof wantZz)) << target << ", block " << b << ", table " << t;
                ASSERT_EQ(mask, wantMask) << target << ", block " << b << ", table " << t;
            }
        }
    });
}

// The vector quantiser against quantize for every divisor: floats over the
// whole range of the DCT's output, quotients near k + 0.5 (where the float
// rounding decides the integer), past the clamp, and next to points halfway
// between two floats; each value with its neighbours and its negative.
TEST(EncoderFastPaths, QuantisationMatchesReferenceForEveryDivisor)
{
    std::mt19937 rng(11);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    for (int32_t q = 1; q <= 255; ++q) {
        std::vector<float> values = {0.0f, -0.0f};
        auto withNeighbours = [&values](float x) {
            for (float y : {std::nextafter(x, 0.0f), x, std::nextafter(x, 1e30f)}) values.insert(values.end(), {y, -y});
        };
        for (int n = 0; n < 300; ++n) withNeighbours(static_cast<float>(std::exp2(uniform(-40, 26))));
        for (int k = 0; k < 1100; ++k) withNeighbours(static_cast<float>(q * (k + 0.5)));
        for (int n = 0; n < 300; ++n) {
            float f = static_cast<float>(std::exp2(uniform(-20, 18)));
            withNeighbours(static_cast<float>(q * ((double{f} + double{std::nextafter(f, 1e30f)}) / 2)));
        }
        values.resize((values.size() + 63) / 64 * 64, 0.0f);
        const std::vector<int32_t> table(64, q);
        const std::vector<float> divisors(64, static_cast<float>(q));
        forEachTarget([&](const std::string& target) {
            for (size_t first = 0; first < values.size(); first += 64) {
                int32_t want[64], have[64];
                quantize(values.data() + first, table.data(), want);
                quantizeKernel()(values.data() + first, divisors.data(), have);
                ASSERT_EQ(0, std::memcmp(want, have, sizeof want)) << target << ", Q " << q << ", at " << first;
            }
        });
    }
}

// Extraction, colour conversion and downsampling of one MCU: every layout,
// both downsampling modes, the default matrix and random 16-bit and 21-bit
// entries, regions cut at the right and a last line only partly present.
struct McuCase {
    int pixelFormat, components, h0, v0, mode, matrix, regionLeft, regionWidth, presentLines;
};

struct McuPlanes {
    EncoderContext ctx{};
    std::vector<int32_t> storage = std::vector<int32_t>(12 * 256, 0);
    std::vector<uint8_t> pixels;

    McuPlanes(const McuCase& c, uint32_t seed)
    {
        ctx.components = uint8_t(c.components), ctx.pixelFormat = uint8_t(c.pixelFormat);
        for (int i = 0; i < 4; ++i) {
            ctx.hSamp[i] = ctx.vSamp[i] = 1;
            ctx.convertedPlane[i] = storage.data() + i * 256;
            ctx.rawPlane[i] = storage.data() + (4 + i) * 256;
            ctx.blockBuf[i] = storage.data() + (8 + i) * 256;
            ctx.levelShift[i] = seed % 2 || i == 0 || i == 3 ? -128 : 0;
        }
        ctx.hSamp[0] = ctx.hMax = uint8_t(c.h0);
        ctx.vSamp[0] = ctx.vMax = uint8_t(c.v0);
        ctx.planeSamples = 64u * c.h0 * c.v0, ctx.downsampleMode = uint8_t(c.mode);
        std::mt19937 rng(seed);
        static const int32_t kDefault[16] = {77, 150, 29, 0, -43, -85, 128, 0, 128, -107, -21, 0, 0, 0, 0, 256};
        for (int i = 0; i < 16; ++i)
            ctx.fixedMatrix[i] = c.matrix == 0   ? kDefault[i]
                                 : c.matrix == 1 ? int32_t(rng() % 65536) - 32768
                                                 : int32_t(rng() % (1u << 21)) - (1 << 20);
        if (c.matrix == 1) ctx.fixedMatrix[0] = ctx.fixedMatrix[5] = -32768, ctx.fixedMatrix[1] = ctx.fixedMatrix[10] = 32767;
        if (c.components == 1 && c.matrix == 0) ctx.fixedMatrix[0] = 256;  // the identity
        ctx.regionLeft = c.regionLeft, ctx.regionWidth = c.regionWidth;
        ctx.lineBytes = uint32_t(c.regionLeft + c.regionWidth) * c.components + 5;
        ctx.rowBytes = ctx.lineBytes * uint32_t(c.presentLines) - 3;
        pixels.resize(size_t(ctx.lineBytes) * 8 * c.v0);
        for (uint8_t& p : pixels) p = uint8_t(rng() % 4 == 0 ? (rng() % 2) * 255 : rng());
        ctx.rowSource = pixels.data();
    }
};

TEST(EncoderFastPaths, McuPreparationMatchesReference)
{
    std::vector<McuCase> cases;
    for (int mode : {0, 1})
        for (auto [h, v] : {std::pair{1, 1}, {2, 1}, {1, 2}, {2, 2}})
            for (int matrix : {0, 1, 2}) {
                cases.push_back({MOX_PIXEL_RGB, 3, h, v, mode, matrix, 3, 40, 16});
                cases.push_back({MOX_PIXEL_RGB, 3, h, v, mode, matrix, 1, 5, 3});
                cases.push_back({MOX_PIXEL_FIRST_OF_3, 3, h, v, mode, matrix, 0, 16, 9});
                cases.push_back({MOX_PIXEL_CMYK, 4, h, v, mode, matrix, 2, 9, 1});
            }
    for (int matrix : {0, 1, 2})
        for (int width : {8, 3, 1}) cases.push_back({MOX_PIXEL_GRAY, 1, 1, 1, 0, matrix, 4, width, 6});
    forEachTarget([&](const std::string& target) {
        for (size_t i = 0; i < cases.size(); ++i) {
            const McuCase& c = cases[i];
            McuPlanes want(c, uint32_t(i)), have(c, uint32_t(i));
            extractSamples(&want.ctx, 0);
            convertColor(&want.ctx);
            downsample(&want.ctx);
            const bool downsampled = extractConvertKernel()(&have.ctx, 0);
            if (!downsampled) downsampleKernel()(&have.ctx);
            for (int p = 0; p < c.components; ++p) {
                ASSERT_TRUE(downsampled || std::memcmp(want.ctx.convertedPlane[p], have.ctx.convertedPlane[p],
                                                       want.ctx.planeSamples * sizeof(int32_t)) == 0)
                    << target << ", case " << i << ", converted plane " << p;
                ASSERT_EQ(0, std::memcmp(want.ctx.blockBuf[p], have.ctx.blockBuf[p],
                                         64u * want.ctx.hSamp[p] * want.ctx.vSamp[p] * sizeof(int32_t)))
                    << target << ", case " << i << " (format " << c.pixelFormat << ", " << c.h0 << "x" << c.v0
                    << ", mode " << c.mode << ", matrix " << c.matrix << "), block buffer " << p;
            }
        }
    });
}

}  // namespace
}  // namespace moxtest
