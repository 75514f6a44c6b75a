// Headers written by the reference codec (libjpeg-turbo) over a matrix of
// options: every field the writer put there must come back, and the header
// cut at every byte must give 1 with the stream position put back.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "header/stream_builder.h"
#include "support/picture.h"
#include "support/refjpeg.h"

using headertest::Analysis;

namespace {

// The writer's quality scaling of the Annex K tables (baseline-limited).
int32_t scaledQuant(int base, int quality)
{
    int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    int value = (base * scale + 50) / 100;
    return std::clamp(value, 1, 255);
}

// The DHT tables of a stream, found by walking its segments.
struct DhtTable {
    std::vector<uint8_t> bits;
    std::vector<uint8_t> values;
};

struct StreamLayout {
    std::map<int, DhtTable> huffman;  // key: Tc * 16 + Th
    size_t scanStart = 0;             // first byte after the scan header
};

StreamLayout walkSegments(const std::vector<uint8_t>& stream)
{
    StreamLayout layout;
    size_t pos = 2;  // after SOI
    while (pos + 4 <= stream.size()) {
        uint8_t code = stream[pos + 1];
        size_t length = size_t(stream[pos + 2]) << 8 | stream[pos + 3];
        size_t body = pos + 4;
        if (code == 0xC4) {
            size_t at = body;
            while (at < pos + 2 + length) {
                DhtTable table;
                int key = stream[at];
                table.bits.assign(stream.begin() + long(at) + 1, stream.begin() + long(at) + 17);
                int count = 0;
                for (uint8_t b : table.bits) count += b;
                table.values.assign(stream.begin() + long(at) + 17,
                                    stream.begin() + long(at) + 17 + count);
                layout.huffman[key] = table;
                at += 17 + size_t(count);
            }
        }
        pos += 2 + length;
        if (code == 0xDA) {
            layout.scanStart = pos;
            break;
        }
    }
    return layout;
}

struct Options {
    int components, h, v, quality, restart;
    bool optimize;
    std::string comment;

    std::string describe() const
    {
        return std::to_string(components) + " comp " + std::to_string(h) + "x" +
               std::to_string(v) + " q" + std::to_string(quality) + " rst" +
               std::to_string(restart) + (optimize ? " opt" : "");
    }
};

// Grey, and colour at 4:4:4, 4:2:2, 4:4:0 and 4:2:0 (luminance factors).
std::vector<Options> optionMatrix()
{
    const int samplings[][3] = {{1, 1, 1}, {3, 1, 1}, {3, 2, 1}, {3, 1, 2}, {3, 2, 2}};
    std::vector<Options> all;
    for (const auto& [components, h, v] : samplings)
        for (int quality : {5, 25, 50, 75, 100})
            for (int restart : {0, 3})
                for (bool optimize : {false, true})
                    all.push_back({components, h, v, quality, restart, optimize,
                                   quality == 75 ? "written by the reference" : ""});
    return all;
}

std::vector<uint8_t> encode(const Options& o)
{
    moxtest::RefEncodeOptions ref;
    ref.quality = o.quality;
    ref.hSamp[0] = o.h;
    ref.vSamp[0] = o.v;
    ref.restartInterval = o.restart;
    ref.optimize = o.optimize;
    ref.comment = o.comment;
    return moxtest::refEncode(moxtest::makePicture(45, 29, o.components, 3), ref);
}

TEST(Interop, ReferenceHeadersOverAnOptionMatrix)
{
    for (const Options& o : optionMatrix()) {
        const std::string what = o.describe();
        std::vector<uint8_t> stream = encode(o);
        ASSERT_FALSE(stream.empty()) << what;
        StreamLayout layout = walkSegments(stream);

        Analysis a(stream);
        ASSERT_EQ(a.run(), MOX_OK) << what;
        EXPECT_EQ(a.sys.pieceOffset, layout.scanStart) << what;
        EXPECT_EQ(a.sys.consumedTotal, layout.scanStart) << what;
        EXPECT_EQ(a.pic.width, 45) << what;
        EXPECT_EQ(a.pic.height, 29) << what;
        EXPECT_EQ(a.pic.componentCount, o.components) << what;
        EXPECT_EQ(a.pic.densityUnit, 0) << what;
        EXPECT_EQ(a.pic.densityX, 1) << what;
        EXPECT_EQ(a.pic.densityY, 1) << what;
        EXPECT_EQ(a.param.restartInterval, o.restart == 0 ? -1 : o.restart) << what;
        EXPECT_STREQ(a.param.comment, o.comment.c_str()) << what;

        for (int c = 0; c < o.components; ++c) {
            int chroma = c == 0 ? 0 : 1;
            EXPECT_EQ(a.param.hSamp[c], c == 0 ? o.h : 1) << what << " comp " << c;
            EXPECT_EQ(a.param.vSamp[c], c == 0 ? o.v : 1) << what << " comp " << c;
            EXPECT_EQ(a.param.quantSel[c], chroma) << what << " comp " << c;
            EXPECT_EQ(a.param.dcSel[c], chroma) << what << " comp " << c;
            EXPECT_EQ(a.param.acSel[c], chroma) << what << " comp " << c;
        }
        for (int n = 0; n < 64; ++n) {
            ASSERT_EQ(a.param.quantTable[0][n], scaledQuant(mox::kLuminanceQuant[n], o.quality))
                << what << " luminance " << n;
            if (o.components == 3)
                ASSERT_EQ(a.param.quantTable[1][n],
                          scaledQuant(mox::kChrominanceQuant[n], o.quality))
                    << what << " chrominance " << n;
        }

        // Default and optimised tables alike: what the segment holds.
        for (int t = 0; t < (o.components == 3 ? 2 : 1); ++t)
            for (int tableClass = 0; tableClass < 2; ++tableClass) {
                const DhtTable& segment = layout.huffman[tableClass * 16 + t];
                ASSERT_EQ(segment.bits.size(), 16u) << what << " table " << t;
                const HuffDecodeTable& have = tableClass == 0 ? a.param.dcHuff[t] : a.param.acHuff[t];
                headertest::expectPrefixCode(have, segment.bits.data(), segment.values.data(),
                                             what + (tableClass == 0 ? " DC " : " AC ") +
                                                 std::to_string(t));
            }
    }
}

// Every cut inside the header leaves the analysis wanting more input and the
// position untouched; the buffer is exactly the cut size, so a read past it
// is caught by the sanitizer build.
TEST(Interop, HeaderCutAtEveryByte)
{
    for (const Options& o : optionMatrix()) {
        if (o.quality != 75) continue;
        const std::string what = o.describe();
        std::vector<uint8_t> stream = encode(o);
        size_t scanStart = walkSegments(stream).scanStart;
        for (size_t cut = 1; cut < scanStart; ++cut) {
            Analysis a(stream, cut);
            a.sys.consumedTotal = 77;
            a.sys.skipRemain = 5;
            int32_t have = a.run();
            ASSERT_EQ(have, MOX_NEED_INPUT) << what << " cut " << cut << ": have " << have;
            ASSERT_EQ(a.sys.pieceOffset, 0u) << what << " cut " << cut;
            ASSERT_EQ(a.sys.consumedTotal, 77u) << what << " cut " << cut;
            ASSERT_EQ(a.sys.skipRemain, 5u) << what << " cut " << cut;
        }
        Analysis exact(stream, scanStart);
        EXPECT_EQ(exact.run(), MOX_OK) << what << " cut at the scan data";
    }
}

TEST(Interop, ProgressiveAndArithmeticAreRefused)
{
    moxtest::Picture picture = moxtest::makePicture(32, 16, 3, 5);
    for (int kind = 0; kind < 2; ++kind) {
        moxtest::RefEncodeOptions ref;
        ref.progressive = kind == 0;
        ref.arithmetic = kind == 1;
        std::vector<uint8_t> stream = moxtest::refEncode(picture, ref);
        ASSERT_FALSE(stream.empty()) << (kind == 0 ? "progressive" : "arithmetic");
        Analysis a(stream);
        EXPECT_EQ(a.run(), MOX_ERR_UNSUPPORTED) << (kind == 0 ? "progressive" : "arithmetic");
    }
}

}  // namespace
