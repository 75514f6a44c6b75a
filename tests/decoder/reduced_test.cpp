// Reduced decoding (previews at 1/2, 1/4, 1/8): each sample follows the
// r x r mean of the full-size decode and flat pictures stay exactly flat.
// Pieces, bands and callbacks are the resume sweep's; exact values the
// golden digests' and the coefficient differential's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

struct Sampling {
    const char* name;
    int components, h0, v0;
};
const Sampling kSamplings[] = {
    {"grey", 1, 1, 1}, {"444", 3, 1, 1}, {"422", 3, 2, 1}, {"440", 3, 1, 2}, {"420", 3, 2, 2}};
const int kReductions[] = {2, 4, 8};

std::vector<uint8_t> encode(const Picture& picture, const Sampling& s, int quality, int restart)
{
    RefEncodeOptions options;
    options.quality = quality;
    options.hSamp[0] = s.h0;
    options.vSamp[0] = s.v0;
    options.restartInterval = restart;
    return refEncode(picture, options);
}

// The r x r box of the full-size picture at reduced sample (x, y), cut at
// the picture's edges: its mean, and whether it holds a clamped sample.
struct Box {
    double mean = 0;
    bool clamped = false;
};
Box boxOf(const Picture& full, int r, int x, int y, int c)
{
    Box box;
    int sum = 0, count = 0;
    for (int j = y * r; j < std::min(full.height, (y + 1) * r); ++j)
        for (int i = x * r; i < std::min(full.width, (x + 1) * r); ++i, ++count) {
            int v = full.at(i, j, c);
            sum += v;
            box.clamped = box.clamped || v == 0 || v == 255;
        }
    box.mean = double(sum) / count;
    return box;
}

// Every sampling meets every size of the decoder's reference sweep; the
// qualities and restart intervals cycle through the streams. Where the full
// decode clamped a sample of the box (0 or 255), the mean of the clamped
// samples may lie further from the clamped mean: those boxes are counted
// apart and their largest difference printed.
TEST(DecoderReduced, FollowsTheBoxFilterOfTheFullDecode)
{
    const int sizes[][2] = {{1, 1}, {7, 9}, {17, 13}, {1001, 7}, {640, 480}};
    const int qualities[] = {30, 75, 95};
    double worstMean = 0;
    int worst = 0, worstClamped = 0;
    long samples = 0, clamped = 0, clampedFar = 0, outside = 0;
    int stream = 0;
    for (const auto& size : sizes)
        for (const Sampling& s : kSamplings) {
            ++stream;
            std::vector<uint8_t> jpeg = encode(makePicture(size[0], size[1], s.components, uint32_t(stream)), s,
                                               qualities[stream % 3], stream % 4 == 0 ? 3 : 0);
            DecodeResult full = decodeStream(jpeg, DecodeOptions{});
            ASSERT_EQ(full.status, 0);
            for (int r : kReductions) {
                DecodeOptions options;
                options.reduction = r;
                DecodeResult small = decodeStream(jpeg, options);
                SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " " << s.name << " 1/" << r);
                ASSERT_EQ(small.status, 0) << "have status " << small.status;
                const Picture& p = small.picture;
                ASSERT_EQ(p.pixels.size(), size_t((size[0] + r - 1) / r) * ((size[1] + r - 1) / r) * s.components);
                double sum = 0;
                long count = 0, far = 0;
                for (int y = 0; y < p.height; ++y)
                    for (int x = 0; x < p.width; ++x)
                        for (int c = 0; c < s.components; ++c) {
                            Box box = boxOf(full.picture, r, x, y, c);
                            double d = std::abs(p.at(x, y, c) - box.mean);
                            int rounded = int(d + 0.5);
                            if (box.clamped) {
                                ++clamped;
                                worstClamped = std::max(worstClamped, rounded);
                                if (d > 4) ++clampedFar;
                                continue;
                            }
                            sum += d;
                            ++count;
                            worst = std::max(worst, rounded);
                            if (d > 4) ++far;
                        }
                double mean = count == 0 ? 0 : sum / double(count);
                worstMean = std::max(worstMean, mean);
                EXPECT_LE(mean, 1.0) << "mean absolute difference";
                // Tiny pictures have too few samples for a share: none may be far.
                EXPECT_LE(double(far), 0.001 * double(count)) << far << " samples beyond 4";
                samples += count;
                outside += far;
            }
        }
    std::printf("reduced against box filter: worst mean %.3f, %ld of %ld samples beyond 4, largest %d; "
                "%ld boxes with clamped samples, %ld beyond 4, largest %d\n",
                worstMean, outside, samples, worst, clamped, clampedFar, worstClamped);
}

TEST(DecoderReduced, FlatPictureStaysExactlyFlat)
{
    const uint8_t values[][3] = {{0, 0, 0}, {37, 37, 37}, {128, 128, 128}, {255, 255, 255}, {200, 90, 30}};
    for (const Sampling& s : kSamplings)
        for (const auto& value : values) {
            Picture flat{45, 23, s.components, {}};
            for (int i = 0; i < flat.width * flat.height; ++i)
                flat.pixels.insert(flat.pixels.end(), value, value + s.components);
            std::vector<uint8_t> jpeg = encode(flat, s, 90, 0);
            DecodeResult full = decodeStream(jpeg, DecodeOptions{});
            ASSERT_EQ(full.status, 0);
            std::vector<uint8_t> want(full.picture.pixels.begin(), full.picture.pixels.begin() + s.components);
            for (int r : {1, 2, 4, 8}) {
                DecodeOptions options;
                options.reduction = r;
                DecodeResult run = decodeStream(jpeg, options);
                ASSERT_EQ(run.status, 0);
                for (size_t i = 0; i < run.picture.pixels.size(); ++i)
                    ASSERT_EQ(run.picture.pixels[i], want[i % size_t(s.components)])
                        << s.name << " value " << int(value[0]) << " 1/" << r << " sample " << i;
            }
        }
}

}  // namespace
}  // namespace moxtest
