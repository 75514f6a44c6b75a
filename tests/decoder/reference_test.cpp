// Decoded pictures against the reference codec's output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

struct Sampling {
    const char* name;
    int h0, v0;
};

TEST(DecoderReference, MatchesReferenceWithinThree)
{
    const Sampling samplings[] = {{"444", 1, 1}, {"422", 2, 1}, {"440", 1, 2}, {"420", 2, 2}};
    const int sizes[][2] = {{1, 1}, {7, 9}, {17, 13}, {1001, 7}, {640, 480}};
    const int qualities[] = {5, 50, 95, 100};
    int worst = 0;
    double sum = 0;
    double count = 0;
    int cases = 0;
    for (const auto& size : sizes)
        for (int components : {1, 3})
            for (const Sampling& s : samplings) {
                if (components == 1 && s.h0 * s.v0 != 1) continue;
                for (int quality : qualities)
                    for (int restart : {0, 1, 7})
                        for (bool optimize : {false, true}) {
                            // The big picture takes fewer combinations.
                            bool big = size[0] * size[1] > 100000;
                            if (big && (restart == 1 || (quality != 50 && quality != 100))) continue;
                            Picture original = makePicture(size[0], size[1], components,
                                                           uint32_t(cases + 7));
                            RefEncodeOptions options;
                            options.quality = quality;
                            options.hSamp[0] = s.h0;
                            options.vSamp[0] = s.v0;
                            options.restartInterval = restart;
                            options.optimize = optimize;
                            std::vector<uint8_t> stream = refEncode(original, options);
                            RefDecoded reference = refDecode(stream);
                            ASSERT_TRUE(reference.ok) << reference.message;
                            DecodeResult ours = decodeStream(stream, DecodeOptions{});
                            SCOPED_TRACE(testing::Message()
                                         << size[0] << "x" << size[1] << " c" << components << " "
                                         << s.name << " q" << quality << " rst" << restart
                                         << " opt" << optimize);
                            ASSERT_EQ(ours.status, 0) << "have status " << ours.status << ", want 0";
                            ASSERT_EQ(ours.picture.pixels.size(), reference.picture.pixels.size());
                            for (size_t i = 0; i < ours.picture.pixels.size(); ++i) {
                                int d = std::abs(int(ours.picture.pixels[i]) -
                                                 int(reference.picture.pixels[i]));
                                worst = std::max(worst, d);
                                sum += d;
                            }
                            count += double(ours.picture.pixels.size());
                            ++cases;
                            EXPECT_EQ(ours.liveBlocks, 0);
                        }
            }
    std::printf("reference comparison: %d streams, largest difference %d, mean %.4f\n", cases,
                worst, sum / count);
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
