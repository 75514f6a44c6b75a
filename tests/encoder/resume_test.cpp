// Resumability must not show in the output: any band height, any output
// buffer size, pull or push on either side gives the same bytes, and the
// spill is clean behind what it still holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "encoder/encode_support.h"
#include "encoder/encoder.h"
#include "support/allocator.h"

namespace {

using namespace enctest;

TEST(EncodeResume, AnySplitGivesTheSameStream)
{
    // 2x2 luminance: 16-line MCU rows straddle most band heights. A region
    // whose top lies several bands down, with restart markers. Bare CMYK.
    EncodeSetup region = makeSetup(41, 45, MOX_PIXEL_GRAY, 8, 4);
    region.pic = {41, 45, 30, 21, 3, 17, 8, MOX_PIXEL_GRAY, 0, 72, 72, 1, 0};
    region.param.restartInterval = 2;
    EncodeSetup bare = makeSetup(19, 23, MOX_PIXEL_CMYK, 3, 5);
    bare.pic.omitMarkers = 1;
    // Caller tables of 16-bit codes FFFF, FFFE, ...: a stream of several
    // output buffers and dense in 0xFF, so that stuffing bytes meet every
    // buffer and spill boundary and direct writing resumes after hand-overs.
    EncodeSetup dense = makeSetup(64, 48, MOX_PIXEL_GRAY, 10, 6);
    useDenseCodes(&dense.param);
    // The largest MCUs: ten blocks of noise with quantisers of 1 and those
    // 16-bit codes, several MCUs to an output buffer at most.
    EncodeSetup largest = makeSetup(32, 16, MOX_PIXEL_RGB, 5, 3);
    std::mt19937 random(11);
    for (uint8_t& value : largest.picture.pixels) value = uint8_t(random());
    for (int c = 0; c < 4; ++c) {
        largest.param.hSamp[c] = c < 3 ? 2 : 1;
        largest.param.vSamp[c] = c < 2 ? 2 : 1;
        largest.param.quantSel[c] = 0;
    }
    std::fill_n(largest.param.quantTable[0], 64, 1);
    useDenseCodes(&largest.param);
    // VELA mode 1: MCUs of 64 bytes, then of their own sizes.
    VelaEncodeParam velaWords[2] = {};
    velaWords[1].word[31] = 1;
    EncodeSetup vela[2];
    for (int i = 0; i < 2; ++i) {
        vela[i] = makeSetup(43, 29, MOX_PIXEL_CMYK, 5, 7);
        vela[i].pic.codingMode = vela[i].param.velaMode = 1;
        vela[i].param.velaParam = &velaWords[i];
        std::fill_n(vela[i].param.quantSel, 4, 0);
        std::fill_n(vela[i].param.quantTable[0], 64, 16);
    }
    const std::pair<const char*, EncodeSetup> sweeps[] = {
        {"rgb_2x2", makeSetup(37, 29, MOX_PIXEL_RGB, 0, 3)},
        {"gray_region_restart", region},
        {"cmyk_bare", bare},
        {"gray_dense_ff", dense},
        {"rgb_10_blocks_dense", largest},
        {"vela_fixed", vela[0]},
        {"vela_variable", vela[1]},
    };
    for (const auto& [name, base] : sweeps) {
        EncodeRun reference = runEncode(base);
        ASSERT_EQ(reference.status, MOX_OK) << name;
        ASSERT_GT(reference.stream.size(), 100u) << name;
        // One band, a buffer that holds everything: one call does the job.
        EXPECT_EQ(reference.needInput + reference.pushed.size(), 0u) << name;
        for (uint32_t band : {1, 7, 8, 15, 16, 33, 0}) {
            for (uint32_t outSize : {1u, 100u, 699u, 700u, 2099u, 4096u, 1u << 20}) {
                for (int sides = 0; sides < 4; ++sides) {
                    EncodeSetup setup = base;
                    setup.bandLines = band;
                    setup.outBufSize = outSize;
                    setup.pullInput = (sides & 1) != 0;
                    setup.pullOutput = (sides & 2) != 0;
                    std::string where = std::string(name) + " band " + std::to_string(band) + " out " +
                                        std::to_string(outSize) + " sides " + std::to_string(sides);
                    EncodeRun run = runEncode(setup);
                    ASSERT_EQ(run.status, MOX_OK) << where;
                    ASSERT_TRUE(run.stream == reference.stream) << where << ": bytes differ";
                    // Every hand-over and every return of 2 carries a full
                    // buffer, except the last hand-over, which is not empty.
                    for (size_t i = 0; i < run.handOvers.size(); ++i)
                        ASSERT_TRUE(run.handOvers[i] == outSize ||
                                    (i + 1 == run.handOvers.size() && run.handOvers[i] > 0 &&
                                     run.handOvers[i] < outSize))
                            << where << ": hand-over " << i << " has " << run.handOvers[i];
                    for (uint32_t pushed : run.pushed) ASSERT_EQ(pushed, outSize) << where;
                }
            }
        }
    }
}

TEST(EncodeResume, PushInputAsksForEachBand)
{
    // 30 lines in bands of 16: the last band is announced with its 14 lines.
    // (Bands above a region are skipped: the region sweeps above.)
    EncodeSetup setup = makeSetup(24, 30, MOX_PIXEL_GRAY, 5);
    EncodeSystemParam sys{};
    MoxEncSetupMalloc(moxtest::plainAlloc, moxtest::plainFree, &sys);
    sys.lineBytes = 24, sys.inBufSize = 24 * 16, sys.outBufSize = 4096;
    int32_t status = 0;
    uint32_t bytes = 0;
    EncoderContext* ctx = MoxEncInit(&setup.pic, &sys, &setup.param, &status);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(MoxGetCurrentBandHeight(ctx), 16);
    ASSERT_EQ(MoxEncode(ctx, &bytes, nullptr), MOX_NEED_INPUT);
    EXPECT_EQ(MoxGetCurrentBandHeight(ctx), 14);
    ASSERT_EQ(MoxEncode(ctx, &bytes, nullptr), MOX_OK);
    MoxEncFinalize(ctx);
}

TEST(EncodeResume, SpillIsZeroBeyondItsFillAfterMovingOn)
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
