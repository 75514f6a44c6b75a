// Resumability must not show in the output: any band height, any output
// buffer size, pull or push on either side gives the same bytes.
#include <gtest/gtest.h>

#include <string>

#include "encoder/encode_support.h"
#include "support/refjpeg.h"

namespace {

using enctest::EncodeRun;
using enctest::EncodeSetup;
using enctest::makeSetup;
using enctest::runEncode;

struct SweepCase {
    const char* name;
    EncodeSetup setup;
};

std::vector<SweepCase> sweepCases()
{
    std::vector<SweepCase> cases;
    // 2x2 luminance sampling: 16-line MCU rows straddle most band heights.
    cases.push_back({"rgb_2x2", makeSetup(37, 29, MOX_PIXEL_RGB, 0, 3)});
    // A region whose top lies several bands down, with restart markers.
    EncodeSetup region = makeSetup(41, 45, MOX_PIXEL_GRAY, 8, 4);
    region.pic.regionLeft = 3;
    region.pic.regionTop = 17;
    region.pic.regionWidth = 30;
    region.pic.regionHeight = 21;
    region.param.restartInterval = 2;
    cases.push_back({"gray_region_restart", region});
    // Bare entropy-coded data, CMYK.
    EncodeSetup bare = makeSetup(19, 23, MOX_PIXEL_CMYK, 3, 5);
    bare.pic.omitMarkers = 1;
    cases.push_back({"cmyk_bare", bare});
    return cases;
}

TEST(EncodeResume, AnySplitGivesTheSameStream)
{
    const uint32_t bandHeights[] = {1, 7, 8, 15, 16, 33, 0};
    const uint32_t outSizes[] = {1, 100, 699, 700, 4096, 1u << 20};
    for (const SweepCase& sweep : sweepCases()) {
        EncodeRun reference = runEncode(sweep.setup);
        ASSERT_EQ(reference.status, MOX_OK) << sweep.name;
        ASSERT_GT(reference.stream.size(), 100u) << sweep.name;
        // One band, a buffer that holds everything: one call does the job.
        EXPECT_EQ(reference.needInput + reference.outputFull, 0) << sweep.name;
        for (uint32_t band : bandHeights) {
            for (uint32_t outSize : outSizes) {
                for (int sides = 0; sides < 4; ++sides) {
                    EncodeSetup setup = sweep.setup;
                    setup.bandLines = band;
                    setup.outBufSize = outSize;
                    setup.pullInput = (sides & 1) != 0;
                    setup.pullOutput = (sides & 2) != 0;
                    std::string where = std::string(sweep.name) + " band " + std::to_string(band) +
                                        " out " + std::to_string(outSize) + " pullIn " +
                                        std::to_string(setup.pullInput) + " pullOut " +
                                        std::to_string(setup.pullOutput);
                    EncodeRun run = runEncode(setup);
                    ASSERT_EQ(run.initStatus, MOX_OK) << where;
                    ASSERT_EQ(run.status, MOX_OK) << where;
                    ASSERT_EQ(run.stream.size(), reference.stream.size()) << where;
                    ASSERT_TRUE(run.stream == reference.stream) << where << ": bytes differ";
                    for (size_t i = 0; i + 1 < run.handOvers.size(); ++i)
                        ASSERT_EQ(run.handOvers[i], outSize)
                            << where << ": hand-over " << i << " has " << run.handOvers[i];
                    if (!run.handOvers.empty()) {
                        ASSERT_GT(run.handOvers.back(), 0u) << where;
                        ASSERT_LE(run.handOvers.back(), outSize) << where;
                    }
                    for (uint32_t pushed : run.pushed)
                        ASSERT_EQ(pushed, outSize) << where << ": a return of 2 left " << pushed;
                }
            }
        }
    }
}

TEST(EncodeResume, PushInputAsksForEachBand)
{
    // 40 lines in bands of 16: bands of 16, 16 and 8 lines, so two returns of 1
    // and a shortened last band.
    EncodeSetup setup = makeSetup(24, 40, MOX_PIXEL_GRAY, 5);
    setup.bandLines = 16;
    EncodeRun run = runEncode(setup);
    ASSERT_EQ(run.status, MOX_OK);
    EXPECT_EQ(run.needInput, 2);

    // A region starting in the third band: the first call returns 1 twice
    // before any MCU is coded.
    EncodeSetup deep = makeSetup(24, 40, MOX_PIXEL_GRAY, 5);
    deep.bandLines = 8;
    deep.pic.regionTop = 17;
    deep.pic.regionHeight = 20;
    EncodeRun deepRun = runEncode(deep);
    ASSERT_EQ(deepRun.status, MOX_OK);
    EncodeSetup whole = deep;
    whole.bandLines = 0;
    EXPECT_EQ(deepRun.stream, runEncode(whole).stream);
    EXPECT_EQ(deepRun.needInput, 4);  // bands 1 and 2 skipped, then bands 3 and 4
}

}  // namespace
