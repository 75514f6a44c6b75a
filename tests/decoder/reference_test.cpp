// Decoding against the reference codec: the quantised coefficients exactly,
// at several piece sizes, and the pixels within 3.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

struct SweepStream {
    std::string name;
    std::vector<uint8_t> stream;
    bool rgb;  // R, G, B coded as they are (colour transform 0)
};

// Every size meets every sampling; qualities, restart intervals and table
// optimisation cycle so that each of their values meets each size and
// sampling (the big picture takes two streams per sampling). Quality 100
// noise adds long codes and many stuffed 0xFF bytes.
void forEachSweepStream(const std::function<void(const SweepStream&)>& run)
{
    const struct {
        const char* name;
        int components, h0, v0;
        bool rgb;
    } samplings[] = {{"grey", 1, 1, 1, false}, {"444", 3, 1, 1, false}, {"422", 3, 2, 1, false},
                     {"440", 3, 1, 2, false}, {"420", 3, 2, 2, false}, {"rgb 420", 3, 2, 2, true}};
    const int sizes[][2] = {{1, 1}, {7, 9}, {17, 13}, {1001, 7}, {640, 480}};
    const int qualities[] = {5, 50, 95, 100};
    const int restarts[] = {0, 1, 7};
    int cases = 0;
    for (const auto& size : sizes)
        for (int si = 0; si < 6; ++si)
            for (int i = si; i < si + (size[0] * size[1] > 100000 ? 2 : 6); ++i, ++cases) {
                const auto& s = samplings[si];
                RefEncodeOptions options;
                options.quality = qualities[i % 4];
                options.hSamp[0] = s.h0;
                options.vSamp[0] = s.v0;
                options.restartInterval = restarts[i % 3];
                options.optimize = i % 2 == 1;
                options.storeRgb = s.rgb;
                Picture picture = makePicture(size[0], size[1], s.components, uint32_t(cases + 7));
                std::string name = std::to_string(size[0]) + "x" + std::to_string(size[1]) + " " + s.name +
                                   " q" + std::to_string(options.quality) + " rst" +
                                   std::to_string(options.restartInterval) + " opt" +
                                   std::to_string(options.optimize);
                run(SweepStream{name, refEncode(picture, options), s.rgb});
            }
    {
        // Chroma as wide as luminance but half as high.
        RefEncodeOptions options;
        options.quality = 90;
        for (int c = 0; c < 3; ++c) options.hSamp[c] = 2;
        options.vSamp[0] = 2;
        run(SweepStream{"Y 2x2 CbCr 2x1 q90", refEncode(makePicture(45, 27, 3, 8), options), false});
    }
    // A single-component scan is non-interleaved, one block an MCU, whatever
    // factors the frame gives the grey component.
    for (uint8_t factors : {0x22, 0x21, 0x12}) {
        std::vector<uint8_t> stream = refEncode(makePicture(37, 21, 1, 4), RefEncodeOptions{});
        for (size_t i = 0; i + 11 < stream.size(); ++i)
            if (stream[i] == 0xFF && stream[i + 1] == 0xC0) {
                stream[i + 11] = factors;
                break;
            }
        run(SweepStream{"grey frame factors " + std::to_string(factors), stream, false});
    }
    for (int components : {1, 3}) {
        RefEncodeOptions options;
        options.quality = 100;
        options.hSamp[0] = options.vSamp[0] = 2;
        options.restartInterval = 1;
        Picture picture = makePicture(48, 40, components, 5);
        uint32_t state = 99;
        for (uint8_t& v : picture.pixels) v = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
        run(SweepStream{"noise q100 rst1 components " + std::to_string(components),
                        refEncode(picture, options), false});
    }
}

// The large streams once, in pieces of 97; the others also whole and in
// pieces of 64 as previews of every size; the noise streams at every piece
// size from 64 to 320, which moves the ends across stuffing pairs, padding
// and restart markers.
TEST(DecoderReference, CoefficientsEqualTheReferenceAtEveryPieceSize)
{
    int streams = 0, refills = 0;
    forEachSweepStream([&](const SweepStream& s) {
        ++streams;
        RefCoefficients reference = refCoefficients(s.stream);
        std::vector<uint32_t> pieces = {97};
        if (s.stream.size() < 50000) pieces.insert(pieces.end(), {0, 64});
        for (uint32_t piece = 64; piece <= 320 && s.name.rfind("noise", 0) == 0; ++piece) pieces.push_back(piece);
        for (size_t i = 0; i < pieces.size(); ++i) {
            OurCoefficients ours = readCoefficients(s.stream, pieces[i], i == 0 || i > 2 ? -1 : 2 << (streams + pieces[i]) % 3);
            refills += ours.refills;
            ASSERT_EQ(compareCoefficients(reference, ours), "") << s.name << " piece " << pieces[i];
        }
    });
    EXPECT_GT(refills, 5000) << "the small pieces must cut through the scans";
    std::printf("coefficients: %d streams in pieces, %d refills\n", streams, refills);
}

// Damaged scans: a marker inside an MCU, flipped bytes. Whatever the reference
// MCU decoder makes of them, the fast one makes the same (status, cursor,
// predictors, samples).
TEST(DecoderReference, FastDecoderFollowsTheReferenceOnDamagedStreams)
{
    std::mt19937 random(5);
    int failed = 0;
    forEachSweepStream([&](const SweepStream& s) {
        if (s.stream.size() > 50000) return;
        const size_t start = scanStart(s.stream);
        for (int n = 0; n < 12; ++n) {
            std::vector<uint8_t> damaged = s.stream;
            size_t at = start + random() % (damaged.size() - start - 2);
            if (n % 4 == 0) damaged[at] = 0xFF, damaged[at + 1] = uint8_t(0xD0 + n % 8);
            for (int f = 0; n % 4 != 0 && f < n % 3 + 1; ++f)
                damaged[start + random() % (damaged.size() - start)] ^= uint8_t(1 + random() % 255);
            std::string failure = readCoefficients(damaged, n % 2 ? 64 : 0).failure;
            ASSERT_EQ(failure.find("fast decoder"), std::string::npos) << s.name << ", case " << n << failure;
            failed += !failure.empty();
        }
    });
    EXPECT_GT(failed, 100) << "the damage must reach the MCU decoders";
}

TEST(DecoderReference, PixelsWithinThreeOfTheReference)
{
    int worst = 0, streams = 0;
    double sum = 0, count = 0;
    forEachSweepStream([&](const SweepStream& s) {
        RefDecoded reference = refDecode(s.stream);
        ASSERT_TRUE(reference.ok) << reference.message;
        DecodeOptions decode;
        decode.colorTransform = s.rgb ? 0 : -1;
        DecodeResult ours = decodeStream(s.stream, decode);
        ASSERT_EQ(ours.status, 0) << s.name;
        ASSERT_EQ(ours.picture.pixels.size(), reference.picture.pixels.size()) << s.name;
        for (size_t k = 0; k < ours.picture.pixels.size(); ++k) {
            int d = std::abs(int(ours.picture.pixels[k]) - int(reference.picture.pixels[k]));
            worst = std::max(worst, d);
            sum += d;
        }
        count += double(ours.picture.pixels.size());
        ++streams;
    });
    std::printf("reference comparison: %d streams, largest difference %d, mean %.4f\n", streams, worst,
                sum / count);
    EXPECT_LE(worst, 3);
    EXPECT_LE(sum / count, 0.12) << "mean difference (0.0999 measured)";
}

}  // namespace
}  // namespace moxtest
