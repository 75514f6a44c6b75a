// Resumability is invisible: any piece size, band height and callback
// combination gives the same pixels as one piece and one band, at full size
// and in every preview size.
#include <gtest/gtest.h>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

TEST(DecoderResume, PiecesBandsAndCallbacksGiveIdenticalPixels)
{
    const struct {
        const char* name;
        int width, height, components, h0, v0, restart;
    } cases[] = {
        {"grey 17x13", 17, 13, 1, 1, 1, 0},
        {"420 61x37 rst1", 61, 37, 3, 2, 2, 1},
        {"422 100x50 rst7", 100, 50, 3, 2, 1, 7},
        {"440 33x70", 33, 70, 3, 1, 2, 0},
    };
    const int32_t reductions[] = {-1, 2, 4, 8};
    for (const auto& c : cases) {
        RefEncodeOptions encode;
        encode.quality = 90;
        encode.hSamp[0] = c.h0;
        encode.vSamp[0] = c.v0;
        encode.restartInterval = c.restart;
        const std::vector<uint8_t> stream = refEncode(makePicture(c.width, c.height, c.components, 3), encode);
        std::vector<uint64_t> whole;
        for (int32_t r : reductions) {
            DecodeOptions options;
            options.reduction = r;
            DecodeResult one = decodeStream(stream, options);
            ASSERT_EQ(one.status, 0) << c.name << " 1/" << r;
            whole.push_back(digest(one.picture.pixels));
        }
        for (uint32_t piece : {64, 65, 97, 128, 1000, 0})
            for (uint32_t band : {1, 7, 16, 20, 0})
                for (int callbacks = 0; callbacks < 4; ++callbacks) {
                    DecodeOptions options{piece, band, (callbacks & 1) != 0, (callbacks & 2) != 0};
                    const size_t r = (piece + band + uint32_t(callbacks)) % 4;
                    options.reduction = reductions[r];
                    DecodeResult run = decodeStream(stream, options);
                    SCOPED_TRACE(testing::Message() << c.name << " piece " << piece << " band " << band
                                                    << " callbacks " << callbacks << " 1/" << reductions[r]);
                    ASSERT_EQ(run.status, 0) << "have status " << run.status << ", want 0";
                    EXPECT_EQ(run.consumedTotal, stream.size());
                    ASSERT_EQ(digest(run.picture.pixels), whole[r])
                        << "pixels differ from the one-piece, one-band decode";
                    EXPECT_EQ(run.liveBlocks, 0);
                    // Without callbacks, small pieces and bands must have suspended.
                    if (callbacks == 0 && piece == 64)
                        EXPECT_GT(run.calls, 2) << "have " << run.calls << " calls, want suspensions";
                }
    }
}

}  // namespace
}  // namespace moxtest
