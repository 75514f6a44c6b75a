// VELA round trip over the parameter grid: MCU forms and lengths as the
// words ask, fixed-size MCUs of 64 bytes that decode alone; tags come back,
// palette blocks exactly, DCT blocks within a measured PSNR.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

#include "decoder/harness.h"
#include "vela/vela.h"
#include "vela_support.h"

namespace {

using velatest::Mcu;

// Distinct values of component c of the source in MCU (mx, my), edge pixels
// replicated as the encoder does.
int distinctValues(const moxtest::Picture& p, int mx, int my, int c)
{
    std::set<uint8_t> values;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            values.insert(p.at(std::min(mx * 8 + x, p.width - 1), std::min(my * 8 + y, p.height - 1), c));
    return int(values.size());
}

// PSNR over component `only`, or all components when it is negative.
double psnrOf(const moxtest::Picture& a, const moxtest::Picture& b, int only)
{
    double sum = 0, n = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i)
        if (only < 0 || int(i % a.components) == only) {
            sum += (double(a.pixels[i]) - b.pixels[i]) * (double(a.pixels[i]) - b.pixels[i]);
            ++n;
        }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / sum);
}

TEST(VelaRoundTrip, ParameterGrid)
{
    struct Case {
        const char* name;
        int pixelFormat;
        uint32_t sizeMode;
        int velaMode;
        uint32_t word26;
        uint32_t word33;
        double minPsnr;  // measured, less about 0.7 dB; over the components carried
        std::function<void(VelaEncodeParam&)> words;
    };
    auto none = [](VelaEncodeParam&) {};
    const Case cases[] = {
        {"4c fixed", 4, 0, 1, 0, 64, 24.5, none},
        {"4c variable", 4, 1, 2, 0, 64, 24.5, none},
        {"4c fixed, short when blocks 0..2 are 0", 4, 0, 3, 2, 64, 24.5, none},
        {"4c variable, blocks 0..2 dropped", 4, 1, 1, 1, 64, 40.5, none},
        {"4c fixed, DC only", 4, 0, 2, 0, 1, 11.5, none},
        {"4c fixed, no palette blocks, DC-only palette, orders 0..4 excluded", 4, 0, 1, 0, 64, 28.0,
         [](VelaEncodeParam& w) { w.word[0] = w.word[1] = w.word[32] = w.word[20] = w.word[21] = w.word[22] =
                                      w.word[23] = w.word[24] = 1; }},
        {"4c variable, tag value forced uniform, block 3 never palette", 4, 1, 1, 0, 64, 28.0,
         [](VelaEncodeParam& w) { w.word[28] = w.word[19] = 1; }},
        {"gray fixed short, word 33 = 0 sets no limit", 5, 0, 1, 2, 0, 41.5, none},
        {"gray fixed long, DC only", 5, 0, 3, 0, 1, 32.5, none},
        {"gray variable, forced short", 5, 1, 1, 1, 64, 41.5, none},
    };
    static const uint8_t kTagOfMode[4] = {0, 1, 0, 2};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int width = 43, height = 29, perRow = (width + 7) / 8;
        const size_t mcus = size_t(perRow) * ((height + 7) / 8);
        velatest::VelaSetup v = velatest::velaSetup(width, height, c.pixelFormat, c.velaMode, c.sizeMode);
        v.words.word[26] = c.word26;
        v.words.word[33] = c.word33;
        c.words(v.words);
        enctest::EncodeRun run = velatest::encodeVela(v);
        ASSERT_EQ(run.status, 0);
        if (c.sizeMode == 0) ASSERT_EQ(run.stream.size(), 64 * mcus);

        // MCU by MCU: tags, header forms, lengths, and each fixed-size MCU alone.
        int32_t status = 0;
        std::vector<Mcu> plain = velatest::McuDecoder(1, c.sizeMode).decodeAll(run.stream, &status, mcus);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(plain.size(), mcus);
        size_t offset = 0;
        for (size_t k = 0; k < mcus; ++k) {
            for (uint8_t tag : plain[k].tags) ASSERT_EQ(tag, kTagOfMode[c.velaMode]) << "MCU " << k;
            const bool shortForm = (run.stream[offset] & 0x80) != 0;
            if (c.word26 == 1 || (c.word26 == 2 && c.pixelFormat == 5)) EXPECT_TRUE(shortForm) << k;
            if (c.word26 == 0) EXPECT_FALSE(shortForm) << k;
            mox::VelaMcuHeader h = mox::unpackVelaHeader(run.stream.data() + offset);
            int32_t span = mox::velaHeaderBytes(h.shortForm) + mox::velaBodyBytes(h);
            ASSERT_LE(span, 64) << "MCU " << k;
            if (c.word33 == 1)
                for (int i = shortForm ? 3 : 0; i < 4; ++i) EXPECT_LE(h.blockBytes[i], 3) << k;
            if (c.sizeMode == 0) {  // the MCU alone, from its own 64 bytes, filled with 0xFF
                std::vector<uint8_t> alone(run.stream.begin() + offset, run.stream.begin() + offset + 64);
                std::vector<Mcu> one = velatest::McuDecoder(1, 0).decodeAll(alone, &status, 1);
                ASSERT_TRUE(one.size() == 1 && one[0] == plain[k]) << "MCU " << k;
                EXPECT_EQ(std::count(alone.begin() + span, alone.end(), 0xFF), 64 - span) << "MCU " << k;
            }
            offset += c.sizeMode == 0 ? 64 : size_t(span);
        }
        if (c.sizeMode == 1) EXPECT_EQ(offset, run.stream.size());

        // The public decoder: palette blocks (block 3 with two or three
        // values) exact, the rest within the PSNR bound.
        moxtest::DecodeOptions options;
        options.useInput = true;
        options.outFormat = c.pixelFormat == 5 ? 5 : 4;
        const uint32_t velaWords[2] = {c.sizeMode, 0};
        options.records = [&](PictureInfo& pic, DecodeParam& param) {
            velatest::velaRecords(pic, param, width, height, options.outFormat, velaWords);
        };
        moxtest::DecodeResult decoded = moxtest::decodeStream(run.stream, options);
        ASSERT_EQ(decoded.status, 0);
        const moxtest::Picture &source = v.setup.picture, &back = decoded.picture;
        ASSERT_EQ(back.pixels.size(), source.pixels.size());
        const bool palettes = c.words == nullptr || (v.words.word[19] == 0 && v.words.word[0] == 0);
        const int third = source.components - 1;
        for (int my = 0; palettes && my < (height + 7) / 8; ++my)
            for (int mx = 0; mx < perRow; ++mx) {
                int n = distinctValues(source, mx, my, third);
                if (n != 2 && n != 3) continue;
                for (int y = my * 8; y < std::min(height, my * 8 + 8); ++y)
                    for (int x = mx * 8; x < std::min(width, mx * 8 + 8); ++x)
                        ASSERT_EQ(back.at(x, y, third), source.at(x, y, third))
                            << "palette block " << mx << "," << my;
            }
        const bool dropped = c.word26 == 1 && c.pixelFormat == 4;
        double psnr = psnrOf(source, back, dropped ? 3 : -1);
        EXPECT_GE(psnr, c.minPsnr);
        std::printf("  %-70s PSNR %.2f dB, %zu bytes\n", c.name, psnr, run.stream.size());
    }
}

}  // namespace
