// Valid input never fails: a padded 0xFF before a marker keeps its stuffing
// byte, and the spill is clean behind what it still holds. (The largest
// MCUs at any output buffer size are resume_test.cpp's.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "decoder/harness.h"
#include "encoder/encode_support.h"
#include "encoder/encoder.h"
#include "support/refjpeg.h"

namespace {

using enctest::EncodeRun;
using enctest::EncodeSetup;
using enctest::makeSetup;
using enctest::runEncode;

// Canonical codes for lengths given per symbol index, in the order the
// header lists them (by length, then by index), as every decoder rebuilds
// them.
void canonicalTable(HuffDecodeTable* table, uint32_t count, uint32_t (*lengthOf)(uint32_t))
{
    *table = HuffDecodeTable{};
    table->count = count;
    for (uint32_t i = 0; i < count; ++i) {
        table->lengths[i] = lengthOf(i);
        table->symbols[i] = i;
    }
    uint32_t code = 0;
    for (uint32_t length = 1; length <= 16; ++length, code <<= 1)
        for (uint32_t i = 0; i < count; ++i)
            if (table->lengths[i] == length) table->codes[i] = code++;
}

TEST(EncodeWorstCase, PaddedFFBeforeMarkerKeepsItsStuffingByte)
{
    // Every block is one coefficient: 127 at zig-zag position 63 (the only
    // table entry of 1), so it codes as DC size 0 (2 bits), three ZRL
    // (8 bits each) and run 14 / size 7 (6 bits), a whole 4 bytes, then the
    // 7 extra bits 1111111. Seven blocks: with no restarts and with
    // intervals 1..7 the last byte before every marker and before EOI holds
    // 1..7 of those ones, padded to 0xFF.
    EncodeSetup setup = makeSetup(56, 8, MOX_PIXEL_GRAY, 5);
    for (int n = 0; n < 64; ++n) setup.param.quantTable[0][n] = n == 63 ? 1 : 255;
    canonicalTable(&setup.param.dcHuff[0], 12, [](uint32_t i) { return i == 0 ? 2u : 5u; });
    canonicalTable(&setup.param.acHuff[0], 162, [](uint32_t i) {
        return i == 147 ? 6u : i == mox::enc::kAcIndexZrl ? 8u : i == 0 ? 4u : 12u;
    });
    // The highest-frequency pattern whose coefficient quantises to 127 alone.
    bool found = false;
    for (double amplitude = 30.0; amplitude < 34.0 && !found; amplitude += 0.01) {
        int32_t samples[64], quantized[64];
        for (int n = 0; n < 64; ++n)
            samples[n] = int32_t(std::lround(amplitude * std::cos((2 * (n % 8) + 1) * 7 * M_PI / 16) *
                                             std::cos((2 * (n / 8) + 1) * 7 * M_PI / 16)));
        float coefficients[64];
        mox::enc::forwardDct(samples, coefficients);
        mox::enc::quantize(coefficients, setup.param.quantTable[0], quantized);
        found = quantized[63] == 127 && std::count(quantized, quantized + 63, 0) == 63;
        for (int i = 0; i < 56 * 8; ++i) setup.picture.pixels[i] = uint8_t(128 + samples[(i / 56) * 8 + i % 8]);
    }
    ASSERT_TRUE(found);
    std::vector<uint8_t> refPlain, oursPlain;
    for (int interval = 0; interval <= 7; ++interval) {
        std::string where = "interval " + std::to_string(interval);
        setup.param.restartInterval = interval;
        EncodeRun run = runEncode(setup);
        ASSERT_EQ(run.status, MOX_OK) << where;
        const std::vector<uint8_t>& s = run.stream;
        int stuffedBeforeMarker = 0;
        for (size_t i = 0; i + 3 < s.size(); ++i)
            stuffedBeforeMarker += s[i] == 0xFF && s[i + 1] == 0x00 && s[i + 2] == 0xFF &&
                                   (s[i + 3] == 0xD9 || (s[i + 3] & 0xF8) == 0xD0);
        EXPECT_EQ(stuffedBeforeMarker, (interval == 0 ? 0 : 6 / interval) + 1) << where;
        // Restart markers change no pixel, for the reference codec and ours.
        moxtest::RefDecoded ref = moxtest::refDecode(s);
        ASSERT_TRUE(ref.ok) << where << ": " << ref.message;
        EXPECT_EQ(ref.warnings, 0) << where;
        moxtest::DecodeResult ours = moxtest::decodeStream(s, {});
        ASSERT_EQ(ours.status, MOX_OK) << where;
        if (interval == 0) refPlain = ref.picture.pixels, oursPlain = ours.picture.pixels;
        EXPECT_TRUE(ref.picture.pixels == refPlain && ours.picture.pixels == oursPlain) << where;
    }
    // Bare entropy-coded data ends the same way.
    setup.pic.omitMarkers = 1;
    std::vector<uint8_t> bare = runEncode(setup).stream;
    ASSERT_GE(bare.size(), 2u);
    EXPECT_EQ(bare[bare.size() - 2], 0xFF);
    EXPECT_EQ(bare.back(), 0x00);
}

TEST(EncodeWorstCase, SpillIsZeroBeyondItsFillAfterMovingOn)
{
    // The writer ORs bits into the spill, so after its bytes move on to the
    // output buffer everything behind the waiting bytes and the partial
    // byte must be zero again, also where the moved bytes used to lie.
    const struct {
        uint32_t fill;   // complete bytes in the spill
        int32_t bitPos;  // 7: no partial byte
        uint32_t room;   // free bytes in the output buffer
    } cases[] = {{3000, 7, 3000}, {3000, 3, 5000}, {4100, 0, 4100}, {2500, 7, 1000}, {100, 5, 50}};
    for (const auto& c : cases) {
        std::vector<uint8_t> spill(mox::enc::kSpillSize, 0);
        for (uint32_t i = 0; i < c.fill; ++i) spill[i] = uint8_t(0xA5 ^ i);
        if (c.bitPos != 7) spill[c.fill] = 0xF0;
        std::vector<uint8_t> out(8000, 0);
        uint32_t outBytes = uint32_t(out.size()) - c.room;
        EncoderContext ctx{};
        ctx.spill = ctx.writer.data = spill.data();
        ctx.spillCapacity = uint32_t(spill.size());
        ctx.outBuf = out.data();
        ctx.outBufSize = uint32_t(out.size());
        ctx.callerCount = &outBytes;
        ctx.outputMode = mox::enc::OutputMode::spill;
        ctx.writer.byteIndex = int32_t(c.fill);
        ctx.writer.bitPos = c.bitPos;
        int32_t status = mox::enc::saveOutput(&ctx, false, nullptr);
        std::string where = "fill " + std::to_string(c.fill) + " room " + std::to_string(c.room);
        uint32_t moved = std::min(c.fill, c.room);
        EXPECT_EQ(status, moved == c.room ? MOX_OUTPUT_READY : MOX_OK) << where;
        EXPECT_EQ(ctx.spillPending, c.fill - moved) << where;
        uint32_t kept = ctx.spillPending + (c.bitPos != 7 ? 1 : 0);
        for (uint32_t i = 0; i < spill.size(); ++i)
            ASSERT_EQ(spill[i], i >= kept ? 0 : i < ctx.spillPending ? uint8_t(0xA5 ^ (i + moved)) : 0xF0)
                << where << " at " << i;
    }
}

}  // namespace
