// Decoded pictures against the reference codec's output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

// Every size meets every sampling; qualities, restart intervals and table
// optimisation cycle so that each of their values meets each size and
// sampling (the big picture takes two streams per sampling).
TEST(DecoderReference, MatchesReferenceWithinThree)
{
    const struct {
        const char* name;
        int components, h0, v0;
        bool rgb;  // R, G, B coded as they are (colour transform 0)
    } samplings[] = {{"grey", 1, 1, 1, false}, {"444", 3, 1, 1, false}, {"422", 3, 2, 1, false},
                     {"440", 3, 1, 2, false}, {"420", 3, 2, 2, false}, {"rgb 420", 3, 2, 2, true}};
    const int sizes[][2] = {{1, 1}, {7, 9}, {17, 13}, {1001, 7}, {640, 480}};
    const int qualities[] = {5, 50, 95, 100};
    const int restarts[] = {0, 1, 7};
    int worst = 0, cases = 0;
    double sum = 0, count = 0;
    for (const auto& size : sizes)
        for (int si = 0; si < 6; ++si)
            for (int i = si; i < si + (size[0] * size[1] > 100000 ? 2 : 6); ++i) {
                const auto& s = samplings[si];
                RefEncodeOptions options;
                options.quality = qualities[i % 4];
                options.hSamp[0] = s.h0;
                options.vSamp[0] = s.v0;
                options.restartInterval = restarts[i % 3];
                options.optimize = i % 2 == 1;
                options.storeRgb = s.rgb;
                std::vector<uint8_t> stream =
                    refEncode(makePicture(size[0], size[1], s.components, uint32_t(cases + 7)), options);
                RefDecoded reference = refDecode(stream);
                ASSERT_TRUE(reference.ok) << reference.message;
                DecodeOptions decode;
                decode.colorTransform = s.rgb ? 0 : -1;
                DecodeResult ours = decodeStream(stream, decode);
                SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " " << s.name << " q"
                                                << options.quality << " rst" << options.restartInterval
                                                << " opt" << options.optimize);
                ASSERT_EQ(ours.status, 0) << "have status " << ours.status << ", want 0";
                ASSERT_EQ(ours.picture.pixels.size(), reference.picture.pixels.size());
                for (size_t k = 0; k < ours.picture.pixels.size(); ++k) {
                    int d = std::abs(int(ours.picture.pixels[k]) - int(reference.picture.pixels[k]));
                    worst = std::max(worst, d);
                    sum += d;
                }
                count += double(ours.picture.pixels.size());
                ++cases;
            }
    std::printf("reference comparison: %d streams, largest difference %d, mean %.4f\n", cases, worst,
                sum / count);
    EXPECT_LE(worst, 3) << "have largest difference " << worst << ", want at most 3";
}

TEST(DecoderReference, GreyFrameWithLargerFactorsIsOneBlockPerMcu)
{
    // A single-component scan is non-interleaved whatever the frame's
    // factors say: patching 1x1 into 2x2 or 2x1 must not change the pixels.
    std::vector<uint8_t> stream = refEncode(makePicture(37, 21, 1, 4), RefEncodeOptions{});
    DecodeResult plain = decodeStream(stream, DecodeOptions{});
    ASSERT_EQ(plain.status, 0);
    for (uint8_t factors : {0x22, 0x21, 0x12}) {
        std::vector<uint8_t> patched = stream;
        for (size_t i = 0; i + 11 < patched.size(); ++i)
            if (patched[i] == 0xFF && patched[i + 1] == 0xC0) {
                patched[i + 11] = factors;
                break;
            }
        DecodeResult run = decodeStream(patched, DecodeOptions{});
        ASSERT_EQ(run.status, 0) << "factors " << int(factors) << ": have " << run.status;
        EXPECT_EQ(digest(run.picture.pixels), digest(plain.picture.pixels)) << "factors " << int(factors);
    }
}

}  // namespace
}  // namespace moxtest
