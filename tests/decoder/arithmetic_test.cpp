// Exact arithmetic of the sample path: inverse DCT, range limiting, colour
// conversion and replication, plus golden digests of whole decodes.
#include <gtest/gtest.h>

#include <vector>

#include "decoder/decoder.h"
#include "decoder/harness.h"
#include "frame/t81tables.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

struct Tables {
    uint8_t range[mox::kRangeLimitBytes];
    int32_t color[4][256];
    int32_t quant[64];
    mox::McuParam param{};
    mox::McuComponent component{};
    Tables()
    {
        mox::buildRangeLimit(range);
        mox::buildColorTables(color[0], color[1], color[2], color[3]);
        for (int32_t& q : quant) q = 1;
        param.rangeLimit = range + mox::kRangeLimitOrigin;
        component.quantTable = quant;
    }
};

TEST(DecoderArithmetic, DcOnlyBlocks)
{
    const struct {
        int32_t dc;
        int32_t want;
    } cases[] = {{0, 128}, {80, 138}, {-1100, 0}, {1100, 255}, {4200, 0}, {-8, 127}};
    Tables t;
    for (const auto& c : cases) {
        int32_t coefficients[64] = {c.dc};
        int32_t out[64];
        mox::D_idctBlock(coefficients, &t.param, &t.component, out);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(out[i], c.want) << "DC " << c.dc << " sample " << i << ": have " << out[i]
                                      << ", want " << c.want;
    }
}

// A context with just enough set for upSample.
struct UpsampleContext {
    DecoderContext ctx{};
    std::vector<int32_t> blocks[3];
    std::vector<int32_t> rasters[3];
    UpsampleContext(int h0, int v0)
    {
        ctx.componentCount = 3;
        ctx.hSamp[0] = uint8_t(h0);
        ctx.vSamp[0] = uint8_t(v0);
        ctx.hSamp[1] = ctx.vSamp[1] = ctx.hSamp[2] = ctx.vSamp[2] = 1;
        ctx.hMax = h0;
        ctx.vMax = v0;
        ctx.blockSize = 8;
        for (int c = 0; c < 3; ++c) ctx.blockWidth[c] = ctx.blockHeight[c] = 8;
        for (int c = 0; c < 3; ++c) {
            blocks[c].resize(size_t(ctx.hSamp[c] * ctx.vSamp[c] * 64));
            for (size_t i = 0; i < blocks[c].size(); ++i) blocks[c][i] = int32_t(i + 1000 * c);
            rasters[c].assign(size_t(h0 * v0 * 64), -1);
            ctx.blockArea[c] = blocks[c].data();
            ctx.upsampleArea[c] = rasters[c].data();
        }
    }
};

TEST(DecoderArithmetic, ReplicationUpsampling)
{
    const struct {
        int h0, v0;
    } cases[] = {{2, 2}, {2, 1}, {1, 2}};
    for (const auto& c : cases) {
        UpsampleContext u(c.h0, c.v0);
        ASSERT_EQ(mox::upSample(&u.ctx), 0);
        int stride = 8 * c.h0;
        for (int y = 0; y < 8 * c.v0; ++y)
            for (int x = 0; x < stride; ++x) {
                int32_t want = 1000 + (y / c.v0) * 8 + x / c.h0;
                ASSERT_EQ(u.ctx.upsampled[1][y * stride + x], want)
                    << c.h0 << "x" << c.v0 << " chroma at (" << x << "," << y << ")";
                int block = (y / 8) * c.h0 + x / 8;
                ASSERT_EQ(u.ctx.upsampled[0][y * stride + x], block * 64 + (y % 8) * 8 + x % 8)
                    << c.h0 << "x" << c.v0 << " luma at (" << x << "," << y << ")";
            }
    }
    UpsampleContext bad(2, 2);
    bad.ctx.hSamp[2] = 0;
    EXPECT_EQ(mox::upSample(&bad.ctx), MOX_ERR_SAMPLING);
}

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
