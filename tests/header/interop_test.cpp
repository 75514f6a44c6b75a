// Headers written by the reference codec (libjpeg-turbo) over a matrix of
// options: the fields the writer put there must come back, and the header
// cut at every byte must give 1 with the stream position put back.
#include <gtest/gtest.h>


#include "header/stream_builder.h"
#include "support/picture.h"
#include "support/refjpeg.h"

using headertest::Analysis;

namespace {

// First byte after the scan header.
size_t scanStartOf(const std::vector<uint8_t>& s)
{
    for (size_t i = 2; i + 3 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] == 0xDA) return i + 2 + (size_t(s[i + 2]) << 8 | s[i + 3]);
    return s.size();
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

// The fields the table segments do not hold (those the decoder's exact
// coefficient comparison checks): size, densities, restart interval,
// comment, sampling and where the scan starts.
TEST(Interop, ReferenceHeadersOverAnOptionMatrix)
{
    for (const Options& o : optionMatrix()) {
        const std::string what = o.describe();
        std::vector<uint8_t> stream = encode(o);
        Analysis a(stream);
        ASSERT_EQ(a.run(), MOX_OK) << what;
        EXPECT_EQ(a.sys.pieceOffset, scanStartOf(stream)) << what;
        EXPECT_EQ(a.sys.consumedTotal, scanStartOf(stream)) << what;
        EXPECT_EQ(a.pic.width, 45) << what;
        EXPECT_EQ(a.pic.height, 29) << what;
        EXPECT_EQ(a.pic.componentCount, o.components) << what;
        EXPECT_EQ(a.pic.densityUnit * 10000 + a.pic.densityX * 100 + a.pic.densityY, 101) << what;
        EXPECT_EQ(a.param.restartInterval, o.restart == 0 ? -1 : o.restart) << what;
        EXPECT_STREQ(a.param.comment, o.comment.c_str()) << what;
        for (int c = 0; c < o.components; ++c) {
            EXPECT_EQ(a.param.hSamp[c], c == 0 ? o.h : 1) << what << " comp " << c;
            EXPECT_EQ(a.param.vSamp[c], c == 0 ? o.v : 1) << what << " comp " << c;
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
        size_t scanStart = scanStartOf(stream);
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

}  // namespace
