// Resumption and hostile input: the encoder writes the same stream whatever
// its band height, output buffer and transfer style; the decoder delivers
// the same pixels over any piece size from 64 and any band; a cut stream
// ends in -99999.
#include <gtest/gtest.h>

#include "decoder/harness.h"
#include "vela_support.h"

namespace {

constexpr int kWidth = 43;
constexpr int kHeight = 29;

moxtest::DecodeResult decodeVela(const std::vector<uint8_t>& stream, uint32_t sizeMode,
                                 moxtest::DecodeOptions options)
{
    const uint32_t words[2] = {sizeMode, 1};
    options.useInput = true;
    options.outFormat = 4;
    options.records = [&](PictureInfo& pic, DecodeParam& param) {
        velatest::velaRecords(pic, param, kWidth, kHeight, 4, words);
    };
    return moxtest::decodeStream(stream, options);
}

TEST(VelaResume, EncoderStreamIndependentOfBandsAndBuffers)
{
    for (uint32_t sizeMode : {0u, 1u}) {
        velatest::VelaSetup base = velatest::velaSetup(kWidth, kHeight, MOX_PIXEL_CMYK, 1, sizeMode, 3);
        const std::vector<uint8_t> reference = velatest::encodeVela(base).stream;
        ASSERT_FALSE(reference.empty());
        const uint32_t bands[] = {0, 8, 5, 13, 1};
        const uint32_t buffers[] = {1, 64, 100, 700, 4096};
        int variant = 0;
        for (uint32_t band : bands)
            for (uint32_t buffer : buffers) {
                velatest::VelaSetup v = velatest::velaSetup(kWidth, kHeight, MOX_PIXEL_CMYK, 1, sizeMode, 3);
                v.setup.bandLines = band;
                v.setup.outBufSize = buffer;
                v.setup.pullInput = (variant & 1) != 0;
                v.setup.pullOutput = (variant & 2) != 0;
                ++variant;
                enctest::EncodeRun run = velatest::encodeVela(v);
                ASSERT_EQ(run.initStatus, 0) << "buffer " << buffer;
                ASSERT_EQ(run.status, 0) << "band " << band << ", buffer " << buffer;
                EXPECT_EQ(run.stream, reference) << "size mode " << sizeMode << ", band " << band
                                                 << ", buffer " << buffer;
            }
    }
}

TEST(VelaResume, DecoderPixelsIndependentOfPiecesAndBands)
{
    for (uint32_t sizeMode : {0u, 1u}) {
        velatest::VelaSetup v = velatest::velaSetup(kWidth, kHeight, MOX_PIXEL_CMYK, 2, sizeMode, 5);
        const std::vector<uint8_t> stream = velatest::encodeVela(v).stream;
        moxtest::DecodeResult whole = decodeVela(stream, sizeMode, {});
        ASSERT_EQ(whole.status, 0);
        const uint32_t bands[] = {1, 3, 8, 29, 7};
        for (uint32_t piece = 64; piece <= 200; ++piece) {
            moxtest::DecodeOptions options;
            options.pieceSize = piece;
            options.bandLines = bands[piece % 5];
            options.useOutput = piece % 2 == 0;
            moxtest::DecodeResult r = decodeVela(stream, sizeMode, options);
            ASSERT_EQ(r.status, 0) << "size mode " << sizeMode << ", piece " << piece;
            ASSERT_EQ(r.picture.pixels, whole.picture.pixels) << "size mode " << sizeMode << ", piece " << piece;
            EXPECT_EQ(r.consumedTotal, stream.size()) << "piece " << piece;
            EXPECT_EQ(r.liveBlocks, 0);
        }
    }
}

TEST(VelaResume, CutStreamsFail)
{
    for (uint32_t sizeMode : {0u, 1u}) {
        velatest::VelaSetup v = velatest::velaSetup(kWidth, kHeight, MOX_PIXEL_CMYK, 3, sizeMode, 7);
        const std::vector<uint8_t> stream = velatest::encodeVela(v).stream;
        for (size_t cut = 1; cut < stream.size(); ++cut) {
            std::vector<uint8_t> part(stream.begin(), stream.begin() + long(cut));
            moxtest::DecodeOptions options;
            options.pieceSize = 64 + uint32_t(cut % 37);
            moxtest::DecodeResult r = decodeVela(part, sizeMode, options);
            ASSERT_EQ(r.status, MOX_ERR_CORRUPT) << "size mode " << sizeMode << ", cut at " << cut;
            ASSERT_EQ(r.liveBlocks, 0);
        }
    }
}

}  // namespace
