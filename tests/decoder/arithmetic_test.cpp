// Golden digests of whole decodes at full size and in previews (colour
// conversion, upsampling, reduction). ./run.sh test runs them again with
// MOX_SIMD=none, so they hold for the reference and the fast paths.
#include <gtest/gtest.h>

#include <vector>

#include "decoder/harness.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

TEST(DecoderArithmetic, GoldenDigests)
{
    // Locks the exact output at full size and in previews; a change here
    // means the arithmetic changed (or the reference encoder's streams did,
    // which the comparison test tells apart).
    const struct {
        int width, height, components, h0, v0, quality, reduction;
        uint64_t want;
    } cases[] = {
        {33, 17, 1, 1, 1, 75, -1, 0xf638e9d7be95320full},
        {48, 40, 3, 2, 2, 50, -1, 0x3a9bf27ee19b25d5ull},
        {31, 29, 3, 2, 1, 95, -1, 0xd67a1a111cc61ce5ull},
        {20, 36, 3, 1, 2, 30, -1, 0x524727e12377828cull},
        {61, 45, 3, 2, 2, 90, 2, 0x7523357f48927a2dull},
        {61, 45, 3, 2, 1, 90, 4, 0xb99c793e1a39bff7ull},
        {61, 45, 1, 1, 1, 90, 4, 0x818977cf40f1d14bull},
        {61, 45, 3, 1, 1, 90, 8, 0xe0c0ef6352718b61ull},
    };
    for (const auto& c : cases) {
        RefEncodeOptions options;
        options.quality = c.quality;
        options.hSamp[0] = c.h0;
        options.vSamp[0] = c.v0;
        std::vector<uint8_t> stream = refEncode(makePicture(c.width, c.height, c.components, 11), options);
        DecodeOptions decode;
        decode.reduction = c.reduction;
        DecodeResult run = decodeStream(stream, decode);
        ASSERT_EQ(run.status, 0);
        uint64_t have = digest(run.picture.pixels);
        EXPECT_EQ(have, c.want) << c.width << "x" << c.height << " 1/" << c.reduction << ": have 0x" << std::hex
                                << have;
    }
}

}  // namespace
}  // namespace moxtest
