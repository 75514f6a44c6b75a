// The encoder's fast paths against the reference stages, on every
// instruction set this processor runs: random and extreme inputs, every
// value and byte compared.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoder/encoder.h"
#include "encoder/fast.h"
#include "support/targets.h"

namespace moxtest {
namespace {

using namespace mox::enc;

// Level-shifted sample blocks: photo-like, flat, extreme and, as a caller's
// extreme colour matrix gives them, samples far outside 8 bits.
std::vector<std::vector<int32_t>> sampleBlocks()
{
    std::mt19937 rng(99);
    auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    std::vector<std::vector<int32_t>> blocks;
    for (int32_t flat : {-128, 127, 0, -1})
        blocks.push_back(std::vector<int32_t>(64, flat));
    std::vector<int32_t> checker(64), stripes(64);
    for (int i = 0; i < 64; ++i) {
        checker[i] = ((i / 8 + i) % 2) ? 127 : -128;
        stripes[i] = (i % 8 < 4) ? 127 : -128;
    }
    blocks.push_back(checker);
    blocks.push_back(stripes);
    for (int i = 0; i < 64; ++i) {
        std::vector<int32_t> impulse(64, -128);
        impulse[i] = 127;
        blocks.push_back(impulse);
    }
    for (int n = 0; n < 2000; ++n) {
        std::vector<int32_t> block(64);
        int base = uniform(-128, 127), spread = uniform(0, 128);
        for (int32_t& s : block) s = std::clamp(base + uniform(-spread, spread), -128, 127);
        blocks.push_back(block);
    }
    for (int n = 0; n < 50; ++n) {
        std::vector<int32_t> block(64);
        for (int32_t& s : block) s = uniform(-4200000, 4200000);
        blocks.push_back(block);
    }
    return blocks;
}

TEST(EncoderFastPaths, TransformAndQuantisationMatchReference)
{
    std::mt19937 rng(7);
    std::vector<std::vector<int32_t>> tables = {std::vector<int32_t>(64, 1),
                                                std::vector<int32_t>(64, 255)};
    for (int t = 0; t < 3; ++t) {
        std::vector<int32_t> table(64);
        for (int32_t& q : table) q = std::uniform_int_distribution<int32_t>(1, 255)(rng);
        tables.push_back(table);
    }
    const auto blocks = sampleBlocks();
    forEachTarget([&](const std::string& target) {
        for (size_t b = 0; b < blocks.size(); ++b) {
            float want[64], have[64];
            forwardDct(blocks[b].data(), want);
            forwardDctKernel()(blocks[b].data(), have);
            for (int n = 0; n < 64; ++n)
                ASSERT_EQ(std::bit_cast<uint32_t>(want[n]),
                          std::bit_cast<uint32_t>(have[(n % 8) * 8 + n / 8]))
                    << target << ", block " << b << ", coefficient " << n;
            for (size_t t = 0; t < tables.size(); ++t) {
                int32_t natural[64], wantZz[64], haveZz[64];
                quantize(want, tables[t].data(), natural);
                zigzag(natural, wantZz);
                float divisors[64];
                transposedDivisors(tables[t].data(), divisors);
                int32_t transposed[64];
                uint64_t mask = forwardDctQuantizeKernel()(blocks[b].data(), divisors, transposed);
                for (int k = 0; k < 64; ++k) haveZz[k] = transposed[kZigzagToTransposed[k]];
                uint64_t wantMask = 0;
                for (int k = 0; k < 64; ++k) wantMask |= uint64_t{wantZz[k] != 0} << k;
                ASSERT_EQ(0, std::memcmp(wantZz, haveZz, sizeof wantZz))
                    << target << ", block " << b << ", table " << t;
                ASSERT_EQ(mask, wantMask) << target << ", block " << b << ", table " << t;
            }
        }
    });
}

// The vector quantiser against quantize for every divisor: floats over the
// whole range of the DCT's output, quotients near k + 0.5 (where the float
// rounding decides the integer), past the clamp, and next to points halfway
// between two floats.
TEST(EncoderFastPaths, QuantisationMatchesReferenceForEveryDivisor)
{
    std::mt19937 rng(11);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    auto withNeighbours = [](std::vector<float>& out, float x) {
        for (int step = 0; step < 3; ++step) {
            out.push_back(x);
            out.push_back(-x);
            x = std::nextafter(x, 0.0f);
        }
        for (int step = 0; step < 2; ++step) {
            x = std::nextafter(x, 1e30f);
            out.push_back(x);
        }
    };
    for (int32_t q = 1; q <= 255; ++q) {
        std::vector<float> values = {0.0f, -0.0f};
        for (int n = 0; n < 300; ++n)  // magnitudes 2^-40 .. 2^26, sign either way
            values.push_back(static_cast<float>((n % 2 ? -1 : 1) * std::exp2(uniform(-40, 26))));
        for (int k = 0; k < 1100; ++k)  // quotients k + 0.5, 1023.5 and past the clamp
            withNeighbours(values, static_cast<float>(q * (k + 0.5)));
        for (int n = 0; n < 300; ++n) {
            // m halfway between the float f and the next: x = float(q * m).
            float f = static_cast<float>(std::exp2(uniform(-20, 18)));
            double m = (double{f} + double{std::nextafter(f, 1e30f)}) / 2;
            withNeighbours(values, static_cast<float>(q * m));
        }
        while (values.size() % 64 != 0) values.push_back(0.0f);
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

// The fast Huffman coder writes the streams the reference codec reads back
// exactly (interop_test.cpp) and those any split gives (resume_test.cpp).

// Extraction, colour conversion and downsampling of one MCU.
struct McuCase {
    std::string name;
    int pixelFormat;
    int components;
    int h0, v0;          // factors of component 0; the others 1 x 1
    int mode;            // downsampleMode
    int matrix;  // 0 the default entries, 1 random 16-bit ones (edges included), 2 up to +-2^20
    int regionLeft, regionWidth, presentLines;
};

struct McuPlanes {
    EncoderContext ctx{};
    std::vector<int32_t> storage = std::vector<int32_t>(12 * 256, 0);
    std::vector<uint8_t> pixels;

    McuPlanes(const McuCase& c, uint32_t seed)
    {
        ctx.components = uint8_t(c.components);
        ctx.pixelFormat = uint8_t(c.pixelFormat);
        for (int i = 0; i < 4; ++i) ctx.hSamp[i] = ctx.vSamp[i] = 1;
        ctx.hSamp[0] = uint8_t(c.h0);
        ctx.vSamp[0] = uint8_t(c.v0);
        ctx.hMax = uint8_t(c.h0);
        ctx.vMax = uint8_t(c.v0);
        ctx.planeSamples = 64u * c.h0 * c.v0;
        ctx.downsampleMode = uint8_t(c.mode);
        for (int i = 0; i < 4; ++i) {
            ctx.convertedPlane[i] = storage.data() + i * 256;
            ctx.rawPlane[i] = storage.data() + (4 + i) * 256;
            ctx.blockBuf[i] = storage.data() + (8 + i) * 256;
        }
        std::mt19937 rng(seed);
        static const int32_t kDefault[16] = {77, 150, 29, 0, -43, -85, 128, 0, 128, -107, -21, 0, 0, 0, 0, 256};
        for (int i = 0; i < 16; ++i) {
            ctx.fixedMatrix[i] = c.matrix == 0   ? kDefault[i]
                                 : c.matrix == 1 ? int32_t(rng() % 65536) - 32768
                                                 : int32_t(rng() % (1u << 21)) - (1 << 20);
        }
        if (c.matrix == 1) {
            ctx.fixedMatrix[0] = ctx.fixedMatrix[5] = -32768;
            ctx.fixedMatrix[1] = ctx.fixedMatrix[10] = 32767;
        }
        if (c.components == 1 && c.matrix == 0) ctx.fixedMatrix[0] = 256;  // the identity
        const int32_t shifts[2][4] = {{-128, 0, 0, -128}, {-128, -128, -128, -128}};
        std::memcpy(ctx.levelShift, shifts[seed % 2], sizeof shifts[0]);
        ctx.regionLeft = c.regionLeft;
        ctx.regionWidth = c.regionWidth;
        ctx.lineBytes = uint32_t(c.regionLeft + c.regionWidth) * c.components + 5;
        ctx.rowBytes = ctx.lineBytes * uint32_t(c.presentLines) - 3;  // last line partly present
        pixels.resize(size_t(ctx.lineBytes) * 8 * c.v0);
        for (uint8_t& p : pixels) p = uint8_t(rng() % 4 == 0 ? (rng() % 2) * 255 : rng());
        ctx.rowSource = pixels.data();
    }
};

TEST(EncoderFastPaths, McuPreparationMatchesReference)
{
    std::vector<McuCase> cases;
    for (int mode : {0, 1}) {
        for (auto [h, v] : {std::pair{1, 1}, {2, 1}, {1, 2}, {2, 2}}) {
            for (int matrix : {0, 1, 2}) {
                std::string tag = std::to_string(h) + "x" + std::to_string(v) + " mode " +
                                  std::to_string(mode) + " matrix " + std::to_string(matrix);
                cases.push_back({"rgb " + tag, MOX_PIXEL_RGB, 3, h, v, mode, matrix, 3, 40, 16});
                cases.push_back({"rgb cut " + tag, MOX_PIXEL_RGB, 3, h, v, mode, matrix, 1, 5, 3});
                cases.push_back({"first of 3 " + tag, MOX_PIXEL_FIRST_OF_3, 3, h, v, mode, matrix, 0, 16, 9});
                cases.push_back({"cmyk " + tag, MOX_PIXEL_CMYK, 4, h, v, mode, matrix, 2, 9, 1});
            }
        }
    }
    for (int matrix : {0, 1, 2})
        for (int width : {8, 3, 1})
            cases.push_back({"gray " + std::to_string(width), MOX_PIXEL_GRAY, 1, 1, 1, 0, matrix, 4, width, 6});
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
                    << target << ", " << c.name << ", converted plane " << p;
                uint32_t blockSamples = 64u * want.ctx.hSamp[p] * want.ctx.vSamp[p];
                ASSERT_EQ(0, std::memcmp(want.ctx.blockBuf[p], have.ctx.blockBuf[p],
                                         blockSamples * sizeof(int32_t)))
                    << target << ", " << c.name << ", block buffer " << p;
            }
        }
    });
}

}  // namespace
}  // namespace moxtest
