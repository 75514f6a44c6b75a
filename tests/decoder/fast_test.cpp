// The decoder's fast paths against the reference functions, stage by
// stage, on every instruction set this processor runs: random and extreme
// inputs, every output byte compared; and a known answer of the reference
// inverse DCT.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/fast.h"
#include "frame/t81tables.h"
#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"
#include "support/targets.h"

namespace moxtest {
namespace {

struct IdctCase {
    std::string name;
    std::vector<int32_t> coefficients;  // 64, zig-zag order
    std::vector<int32_t> quant;         // 64, natural order
};

constexpr int kDigestBlocks = 4096;

// First kDigestBlocks seeded blocks of every length with large coefficients
// (a quantiser of 1..8), whose output digest shows every constant and the
// operation order. Then extremes at both coefficient limits and quantisers
// 1 and 255 (all equal, alternating signs, each coefficient alone); DC alone
// (level shift, clamps, the 10-bit wrap, saturation of corrupt values);
// photo-like random blocks; and corrupt blocks of any 32-bit products.
std::vector<IdctCase> idctCases()
{
    std::vector<IdctCase> cases;
    std::vector<int32_t> eightQuantisers(64);
    for (int n = 0; n < 64; ++n) eightQuantisers[n] = 1 + n % 8;
    uint32_t state = 11;
    for (int block = 0; block < kDigestBlocks; ++block) {
        std::vector<int32_t> c(64, 0);
        for (int32_t& v : c) v = int32_t((state = state * 1664525u + 1013904223u) >> 21) - 1024;
        std::fill(c.begin() + 1 + block % 64, c.end(), 0);
        cases.push_back({"digest block " + std::to_string(block), c, eightQuantisers});
    }
    std::mt19937 rng(1234);
    auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    const std::vector<int32_t> q1(64, 1);
    for (int32_t limit : {1023, 2047})
        for (int32_t q : {1, 255})
            for (int pattern = -3; pattern < 64; ++pattern) {
                std::vector<int32_t> c(64, 0);
                for (int k = 0; k < 64; ++k)
                    if (pattern < 0 || k == pattern)
                        c[k] = pattern == -3 ? limit : pattern == -1 ? -limit : (pattern == -2 ? k % 2 : k % 3) ? limit : -limit;
                cases.push_back({std::to_string(limit) + " q" + std::to_string(q) + " pattern " +
                                     std::to_string(pattern), c, std::vector<int32_t>(64, q)});
            }
    for (int32_t dc : {0, 1, -1, 7, -8, 1016, -1024, 1100, -1100, 4200, 2047 * 255, -2047 * 255,
                       (1 << 30) + 8180, -(1 << 30) - 3, INT32_MAX, INT32_MIN, INT32_MAX - 64}) {
        std::vector<int32_t> c(64, 0);
        c[0] = dc;
        cases.push_back({"dc " + std::to_string(dc), c, q1});
    }
    for (int i = 0; i < 3300; ++i) {
        std::vector<int32_t> c(64, 0), q(64);
        int last = uniform(0, 63);
        for (int k = 0; k < 64; ++k)
            if (i >= 3000) c[k] = int32_t(rng());
            else if (k <= last && (uniform(0, 3) == 0 || k == 0)) c[k] = uniform(-2047, 2047) / (1 + k / 4);
        for (int32_t& v : q) v = uniform(1, 255);
        cases.push_back({"random " + std::to_string(i), c, q});
    }
    return cases;
}

TEST(DecoderFastPaths, InverseDctMatchesReference)
{
    uint8_t range[mox::kRangeLimitBytes];
    mox::buildRangeLimit(range);
    mox::McuParam param{};
    param.rangeLimit = range + mox::kRangeLimitOrigin;
    const std::vector<IdctCase> cases = idctCases();
    std::vector<uint8_t> samples;  // the reference's output of the digest blocks
    forEachTarget([&](const std::string& target) {
        for (const IdctCase& c : cases) {
            mox::McuComponent component{};
            component.quantTable = c.quant.data();
            int32_t want[64], have[64];
            mox::D_idctBlock(c.coefficients.data(), &param, &component, want);
            if (samples.size() < kDigestBlocks * 64) samples.insert(samples.end(), want, want + 64);
            mox::idctBlockFast(c.coefficients.data(), &param, &component, have);
            ASSERT_EQ(0, std::memcmp(want, have, sizeof(want))) << target << ", " << c.name;
            // Straight into the lines of a band, 11 bytes apart.
            int32_t block[64];
            uint8_t lines[8 * 11];
            for (int k = 0; k < 64; ++k) {
                const int n = mox::kZigzagToNatural[k];
                block[8 * (n & 7) + (n >> 3)] = static_cast<int32_t>(
                    static_cast<uint32_t>(c.coefficients[k]) * static_cast<uint32_t>(c.quant[n]));
            }
            mox::idctBytesKernel()(block, lines, 11);
            for (int k = 0; k < 64; ++k) ASSERT_EQ(want[k], lines[11 * (k / 8) + k % 8]) << target << ", bytes, " << c.name;
            ASSERT_TRUE(std::all_of(block, block + 64, [](int32_t v) { return v == 0; })) << c.name;
            if (std::all_of(c.coefficients.begin() + 1, c.coefficients.end(), [](int32_t v) { return v == 0; })) {
                int32_t dc = static_cast<int32_t>(static_cast<uint32_t>(c.coefficients[0]) *
                                                  static_cast<uint32_t>(c.quant[0]));
                mox::idctDcOnlyKernel()(dc, have);
                ASSERT_EQ(0, std::memcmp(want, have, sizeof(want))) << target << ", DC-only " << c.name;
                mox::idctDcOnlyBytesKernel()(dc, lines, 11);
                for (int k = 0; k < 64; ++k) ASSERT_EQ(want[k], lines[11 * (k / 8) + k % 8]) << c.name;
            }
        }
    });
    EXPECT_EQ(digest(samples), 0x5438a548bf901f1full) << "have 0x" << std::hex << digest(samples);
}

// Upsampling and colour output of one MCU at a time, in the context Init
// set up for a 37 x 21 picture, so that the last MCU column and row are cut
// by the picture's edge: random blocks, samples at 0 and 255 often (the
// clamps of every channel), the whole band compared.
TEST(DecoderFastPaths, ColourOutputMatchesReference)
{
    const struct {
        const char* name;
        int components, h0, v0, outFormat, colorTransform;
    } cases[] = {
        {"gray", 1, 1, 1, 0, -1},  {"gray", 1, 1, 1, 1, -1},  {"4:4:4", 3, 1, 1, 1, -1},
        {"4:2:2", 3, 2, 1, 1, -1}, {"4:4:0", 3, 1, 2, 1, -1}, {"4:2:0", 3, 2, 2, 1, -1},
        {"4:2:0 RGB-coded", 3, 2, 2, 1, 0}, {"4:2:0 red only", 3, 2, 2, 0, -1},
        {"4:2:0 format 2", 3, 2, 2, 2, -1},
    };
    std::mt19937 rng(99);
    for (const auto& c : cases) {
        RefEncodeOptions encode;
        encode.hSamp[0] = c.h0;
        encode.vSamp[0] = c.v0;
        DecodeOptions options;
        options.outFormat = c.outFormat;
        options.colorTransform = c.colorTransform;
        options.drive = [&](DecoderContext* ctx, const std::function<bool()>&) {
            const size_t bytes = size_t(ctx->lineStride) * ctx->mcuHeight;
            auto store = [&](int32_t (*up)(DecoderContext*), int32_t (*out)(DecoderContext*, int32_t, int32_t),
                             int column, int row) {
                std::fill(ctx->bandBuffer, ctx->bandBuffer + bytes, 0xA5);
                ctx->writePointer = ctx->bandBuffer;
                EXPECT_EQ(up(ctx), 0);
                EXPECT_EQ(out(ctx, column, row), 0);
                return std::vector<uint8_t>(ctx->bandBuffer, ctx->bandBuffer + bytes);
            };
            for (int trial = 0; trial < 200; ++trial) {
                for (int k = 0; k < c.components; ++k)
                    for (int32_t* v = ctx->blockArea[k]; v < ctx->blockArea[k] + ctx->hSamp[k] * ctx->vSamp[k] * 64; ++v) {
                        uint32_t r = rng();
                        *v = r % 4 == 0 ? 0 : r % 4 == 1 ? 255 : int32_t(r >> 8) % 256;
                    }
                int column = trial % ctx->mcusPerRow, row = (trial / 3) % ctx->mcuRows;
                std::vector<uint8_t> want = store(&mox::upSample, &mox::storeMcu, column, row);
                EXPECT_EQ(want, store(&mox::upSampleFast, &mox::storeMcuFast, column, row))
                    << c.name << " format " << c.outFormat << ", MCU (" << column << ", " << row << ")";
            }
            return 0;
        };
        EXPECT_EQ(decodeStream(refEncode(makePicture(37, 21, c.components), encode), options).status, 0);
    }
}

}  // namespace
}  // namespace moxtest
