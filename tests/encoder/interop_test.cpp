// Streams this encoder writes, read back by an independent decoder
// (libjpeg-turbo), and golden digests of whole streams and of the forward DCT.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "decoder/harness.h"
#include "encoder/encode_support.h"
#include "encoder/encoder.h"
#include "support/refjpeg.h"

namespace {

using namespace enctest;

// The coefficients the reference codec reads from our streams are exactly
// those of the forward path: edge-replicated samples less 128, the forward
// DCT, the quantiser with the tables the stream carries. Formats, sizes,
// quality rows, restart intervals (300 over 51 MCUs: the interval's high
// byte), bands and both output disciplines cycle; black and white squares
// on tables of 1 reach the largest coefficients.
TEST(EncodeInterop, ReferenceReadsTheForwardPathsCoefficients)
{
    int cases = 0;
    const int kRestarts[] = {0, 1, 3, 7, 300};
    const int sizes[][2] = {{1, 1}, {8, 8}, {61, 37}, {130, 20}, {17, 70}};
    for (const auto& size : sizes)
        for (int format : {MOX_PIXEL_GRAY, MOX_PIXEL_RGB, MOX_PIXEL_CMYK})
            for (int q : {0, 5, 10, -1}) {  // -1: tables of 1
                const int i = cases++;
                EncodeSetup setup = makeSetup(size[0], size[1], format, q < 0 ? 10 : q, uint32_t(i + 3));
                const int bpp = setup.picture.components;
                if (q < 0) {
                    for (auto& table : setup.param.quantTable) std::fill_n(table, 64, 1);
                    for (size_t k = 0; k < setup.picture.pixels.size(); ++k) {
                        size_t x = k / bpp % size[0], y = k / bpp / size[0];
                        if ((x / 8 + y / 8) % 3 != 2) setup.picture.pixels[k] = (x / 8 + y / 8) % 3 ? 255 : 0;
                    }
                }
                for (int c = 0; c < 4; ++c) setup.param.hSamp[c] = setup.param.vSamp[c] = 1;
                setup.param.colorTransform = 0;  // components coded as given
                setup.param.restartInterval = kRestarts[i / 2 % 5];
                setup.bandLines = uint32_t(i % 3 == 0 ? 0 : i % 3 == 1 ? 8 : 13);
                setup.pullInput = i % 2 == 1;
                setup.pullOutput = i % 4 >= 2;
                setup.outBufSize = i % 5 == 0 ? 700 : i % 5 == 1 ? 1800 : 1u << 20;  // spill, spill near full
                const std::string where = "case " + std::to_string(i) + " format " + std::to_string(format);
                EncodeRun run = runEncode(setup);
                ASSERT_EQ(run.status, MOX_OK) << where;
                moxtest::RefCoefficients ref = moxtest::refCoefficients(run.stream);
                ASSERT_TRUE(ref.ok) << where << ": " << ref.message;
                ASSERT_EQ(ref.warnings, 0) << where;
                ASSERT_EQ(ref.components, bpp) << where;
                mox::enc::PresetRow row;
                mox::enc::qualityPresets(q < 0 ? 10 : q, &row);
                for (int c = 0; c < bpp; ++c) {
                    int32_t table[64];
                    for (int n = 0; n < 64; ++n) {
                        table[n] = ref.quant[c][n];
                        ASSERT_EQ(table[n], q < 0 ? 1 : row.quant[c == 1 || c == 2][n]) << where << " table entry " << n;
                    }
                    ASSERT_EQ(ref.blocksWide[c], (size[0] + 7) / 8) << where;
                    ASSERT_EQ(ref.blocksHigh[c], (size[1] + 7) / 8) << where;
                    for (int by = 0; by < ref.blocksHigh[c]; ++by)
                        for (int bx = 0; bx < ref.blocksWide[c]; ++bx) {
                            int32_t samples[64], quantized[64];
                            float coefficients[64];
                            for (int k = 0; k < 64; ++k)
                                samples[k] = setup.picture.at(std::min(bx * 8 + k % 8, size[0] - 1),
                                                              std::min(by * 8 + k / 8, size[1] - 1), c) - 128;
                            mox::enc::forwardDct(samples, coefficients);
                            mox::enc::quantize(coefficients, table, quantized);
                            for (int k = 0; k < 64; ++k) {
                                ASSERT_LE(std::abs(quantized[k]), 1023) << where << ": beyond baseline";
                                ASSERT_EQ(ref.block(c, bx, by)[k], quantized[k])
                                    << where << " component " << c << " block " << bx << "," << by
                                    << " coefficient " << k;
                            }
                        }
                }
            }
}

TEST(EncodeInterop, GoldenDigests)
{
    EncodeSetup restart = makeSetup(70, 50, MOX_PIXEL_RGB, 10, 2);
    restart.param.restartInterval = 3;
    EncodeSetup region = makeSetup(70, 50, MOX_PIXEL_RGB, 7, 2);
    region.pic = {70, 50, 33, 29, 9, 11, 7, MOX_PIXEL_RGB, 0, 72, 72, 1, 0};
    region.param.downsampleMode = 0;
    const struct {
        const char* name;
        EncodeSetup setup;
        uint64_t digest;
    } cases[] = {
        {"gray q5", makeSetup(70, 50, MOX_PIXEL_GRAY, 5, 2), 0x66f77059e7418ffaull},
        {"rgb q0", makeSetup(70, 50, MOX_PIXEL_RGB, 0, 2), 0xc290b1fc56ba774cull},
        {"rgb q10 restart 3", restart, 0x8c2a90b330c47453ull},
        {"cmyk q8", makeSetup(70, 50, MOX_PIXEL_CMYK, 8, 2), 0x6646e11765fd0b1eull},
        {"rgb q7 region decimated", region, 0xbd0edb00620d9d18ull},
        {"first of 3 q3", makeSetup(70, 50, MOX_PIXEL_FIRST_OF_3, 3, 2), 0xb18914071be4818dull},
        {"first of 3 shifted q9", makeSetup(70, 50, MOX_PIXEL_FIRST_OF_3_SHIFTED, 9, 2), 0x86463401d12564c3ull},
    };
    for (const auto& c : cases) {
        EncodeRun run = runEncode(c.setup);
        ASSERT_EQ(run.status, MOX_OK) << c.name;
        EXPECT_EQ(moxtest::digest(run.stream), c.digest) << c.name << ": have 0x" << std::hex
                                                          << moxtest::digest(run.stream);
        // Without markers the stream is exactly the scan data: no SOI,
        // header or EOI, the last byte padded all the same.
        EncodeSetup bare = c.setup;
        bare.pic.omitMarkers = 1;
        EXPECT_EQ(runEncode(bare).stream,
                  std::vector<uint8_t>(run.stream.begin() + long(moxtest::scanStart(run.stream)), run.stream.end() - 2))
            << c.name;
    }
    // The forward DCT's float output bit for bit, over blocks of seeded
    // samples from -128 to 127: any change of a constant shows.
    std::vector<uint8_t> bits;
    uint32_t state = 5;
    for (int block = 0; block < 2000; ++block) {
        int32_t samples[64];
        float coefficients[64];
        for (int32_t& v : samples) v = int32_t((state = state * 1664525u + 1013904223u) >> 24) - 128;
        mox::enc::forwardDct(samples, coefficients);
        auto* raw = reinterpret_cast<const uint8_t*>(coefficients);
        bits.insert(bits.end(), raw, raw + sizeof(coefficients));
    }
    EXPECT_EQ(moxtest::digest(bits), 0x1de536e53c58e29eull) << "forward DCT: have 0x" << std::hex
                                                            << moxtest::digest(bits);
}

}  // namespace
