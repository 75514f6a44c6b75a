// Reduced decoding (previews at 1/2, 1/4, 1/8): each sample follows the
// r x r mean of the full-size decode. Pieces, bands and callbacks are the
// resume sweep's; exact values the golden digests' and the coefficient
// differential's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

// Every sampling meets every size of the decoder's reference sweep; the
// qualities and restart intervals cycle through the streams. A box holding
// a sample the full decode clamped (0 or 255) is left out: the clamp moves
// its mean.
TEST(DecoderReduced, FollowsTheBoxFilterOfTheFullDecode)
{
    const struct {
        const char* name;
        int components, h0, v0;
    } samplings[] = {{"grey", 1, 1, 1}, {"444", 3, 1, 1}, {"422", 3, 2, 1}, {"440", 3, 1, 2}, {"420", 3, 2, 2}};
    const int sizes[][2] = {{1, 1}, {7, 9}, {17, 13}, {1001, 7}, {640, 480}};
    const int qualities[] = {30, 75, 95};
    int stream = 0;
    for (const auto& size : sizes)
        for (const auto& s : samplings) {
            ++stream;
            RefEncodeOptions encode;
            encode.quality = qualities[stream % 3];
            encode.hSamp[0] = s.h0;
            encode.vSamp[0] = s.v0;
            encode.restartInterval = stream % 4 == 0 ? 3 : 0;
            std::vector<uint8_t> jpeg = refEncode(makePicture(size[0], size[1], s.components, uint32_t(stream)), encode);
            DecodeResult full = decodeStream(jpeg, DecodeOptions{});
            ASSERT_EQ(full.status, 0);
            const Picture& f = full.picture;
            for (int r : {2, 4, 8}) {
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
                            int boxSum = 0, boxCount = 0;
                            bool clamped = false;
                            for (int j = y * r; j < std::min(f.height, (y + 1) * r); ++j)
                                for (int i = x * r; i < std::min(f.width, (x + 1) * r); ++i, ++boxCount) {
                                    boxSum += f.at(i, j, c);
                                    clamped = clamped || f.at(i, j, c) == 0 || f.at(i, j, c) == 255;
                                }
                            if (clamped) continue;
                            double d = std::abs(p.at(x, y, c) - double(boxSum) / boxCount);
                            sum += d;
                            ++count;
                            far += d > 4;
                        }
                EXPECT_LE(count == 0 ? 0 : sum / double(count), 1.0) << "mean absolute difference";
                // Tiny pictures have too few samples for a share: none may be far.
                EXPECT_LE(double(far), 0.001 * double(count)) << far << " samples beyond 4";
            }
        }
}

}  // namespace
}  // namespace moxtest
