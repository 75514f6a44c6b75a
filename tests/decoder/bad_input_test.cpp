// Hostile and damaged streams: every case ends with a status from the table,
// never a crash (the sanitizer build runs these).
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace moxtest {
namespace {

const std::set<int32_t> kAllowed = {MOX_OK,          MOX_STREAM_NO_EOI, MOX_ERR_CORRUPT,
                                    MOX_ERR_RESTART, MOX_ERR_SAMPLING};

std::vector<uint8_t> smallStream(int restart)
{
    RefEncodeOptions options;
    options.quality = 80;
    options.hSamp[0] = 2;
    options.vSamp[0] = 2;
    options.restartInterval = restart;
    return refEncode(makePicture(40, 24, 3, 5), options);
}

TEST(DecoderBadInput, TruncatedAtEveryByte)
{
    std::vector<uint8_t> stream = smallStream(0);
    size_t start = scanStart(stream);
    for (size_t length = start + 1; length < stream.size(); ++length) {
        std::vector<uint8_t> cut(stream.begin(), stream.begin() + long(length));
        for (bool useInput : {false, true}) {
            DecodeOptions options;
            options.pieceSize = 64;
            options.useInput = useInput;
            DecodeResult run = decodeStream(cut, options);
            EXPECT_TRUE(kAllowed.count(run.status)) << "length " << length << ": have " << run.status;
            EXPECT_EQ(run.liveBlocks, 0);
        }
    }
}

TEST(DecoderBadInput, FlippedBytes)
{
    std::mt19937 random(20261205);
    for (int restart : {0, 2}) {
        std::vector<uint8_t> stream = smallStream(restart);
        size_t start = scanStart(stream);
        for (int n = 0; n < 1500; ++n) {
            std::vector<uint8_t> damaged = stream;
            int flips = 1 + int(random() % 4);
            for (int f = 0; f < flips; ++f) {
                size_t at = start + random() % (damaged.size() - start);
                damaged[at] ^= uint8_t(1 + random() % 255);
            }
            DecodeOptions options;
            options.pieceSize = n % 2 ? 97 : 0;
            options.bandLines = 7;
            options.useInput = n % 3 == 0;
            options.useOutput = n % 5 == 0;
            DecodeResult run = decodeStream(damaged, options);
            ASSERT_TRUE(kAllowed.count(run.status)) << "case " << n << ": have " << run.status;
            EXPECT_EQ(run.liveBlocks, 0);
        }
    }
}

// Replaces the k-th restart marker with `code`.
std::vector<uint8_t> withMarker(std::vector<uint8_t> s, int k, uint8_t code)
{
    for (size_t i = scanStart(s); i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] >= 0xD0 && s[i + 1] <= 0xD7 && k-- == 0) {
            s[i + 1] = code;
            break;
        }
    return s;
}

TEST(DecoderBadInput, RestartMarkers)
{
    std::vector<uint8_t> stream = smallStream(1);
    DecodeResult good = decodeStream(stream, DecodeOptions{});
    ASSERT_EQ(good.status, 0);
    const struct {
        const char* name;
        uint8_t code;
        int32_t want;
    } cases[] = {
        {"RST3 where RST2 is due", 0xD3, MOX_OK},
        {"APP0 where RST2 is due", 0xE0, MOX_ERR_RESTART},
        {"EOI where RST2 is due", 0xD9, MOX_ERR_RESTART},
    };
    for (const auto& c : cases)
        for (uint32_t piece : {0u, 64u, 65u}) {
            DecodeOptions options;
            options.pieceSize = piece;
            DecodeResult run = decodeStream(withMarker(stream, 2, c.code), options);
            EXPECT_EQ(run.status, c.want) << c.name << " piece " << piece << ": have " << run.status;
            if (c.want == MOX_OK) EXPECT_EQ(digest(run.picture.pixels), digest(good.picture.pixels));
        }
}

TEST(DecoderBadInput, MissingEndOfImage)
{
    std::vector<uint8_t> stream = smallStream(0);
    DecodeResult good = decodeStream(stream, DecodeOptions{});
    stream.resize(stream.size() - 2);  // drop FF D9
    for (uint32_t piece : {0u, 64u}) {
        DecodeOptions options;
        options.pieceSize = piece;
        DecodeResult run = decodeStream(stream, options);
        EXPECT_EQ(run.status, MOX_STREAM_NO_EOI) << "piece " << piece << ": have " << run.status;
        EXPECT_EQ(digest(run.picture.pixels), digest(good.picture.pixels)) << "all pixels delivered";
        EXPECT_EQ(run.consumedTotal, stream.size());
    }
}

}  // namespace
}  // namespace moxtest
