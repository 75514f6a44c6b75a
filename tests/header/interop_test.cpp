// Headers written by the reference codec (libjpeg-turbo) over a matrix of
// options: the fields the writer put there must come back, and the header
// cut at every byte must give 1 with the stream position put back.
#include <gtest/gtest.h>

#include <functional>

#include "decoder/harness.h"
#include "header/stream_builder.h"
#include "support/picture.h"
#include "support/refjpeg.h"

using headertest::Analysis;

namespace {

// Grey, and colour at 4:4:4, 4:2:2, 4:4:0 and 4:2:0 (luminance factors),
// every quality, restart interval and table optimisation; quality 75 adds a
// comment, and its streams are cut at every byte of the header.
void forEachStream(const std::function<void(const std::string&, const std::vector<uint8_t>&, int components,
                                            const moxtest::RefEncodeOptions&)>& body)
{
    const int samplings[][3] = {{1, 1, 1}, {3, 1, 1}, {3, 2, 1}, {3, 1, 2}, {3, 2, 2}};
    for (const auto& [components, h, v] : samplings)
        for (int quality : {5, 25, 50, 75, 100})
            for (int restart : {0, 3})
                for (bool optimize : {false, true}) {
                    moxtest::RefEncodeOptions o;
                    o.quality = quality;
                    o.hSamp[0] = h;
                    o.vSamp[0] = v;
                    o.restartInterval = restart;
                    o.optimize = optimize;
                    o.comment = quality == 75 ? "written by the reference" : "";
                    const std::string what = std::to_string(components) + " comp " + std::to_string(h) + "x" +
                                             std::to_string(v) + " q" + std::to_string(quality) + " rst" +
                                             std::to_string(restart) + (optimize ? " opt" : "");
                    body(what, moxtest::refEncode(moxtest::makePicture(45, 29, components, 3), o), components, o);
                }
}

// The fields the table segments do not hold (those the decoder's exact
// coefficient comparison checks): size, densities, restart interval,
// comment, sampling and where the scan starts.
TEST(Interop, ReferenceHeadersOverAnOptionMatrix)
{
    forEachStream([](const std::string& what, const std::vector<uint8_t>& stream, int components,
                     const moxtest::RefEncodeOptions& o) {
        Analysis a(stream);
        ASSERT_EQ(a.run(), MOX_OK) << what;
        EXPECT_EQ(a.sys.pieceOffset, moxtest::scanStart(stream)) << what;
        EXPECT_EQ(a.sys.consumedTotal, moxtest::scanStart(stream)) << what;
        EXPECT_EQ(a.pic.width * 1000 + a.pic.height * 10 + a.pic.componentCount, 45290 + components) << what;
        EXPECT_EQ(a.pic.densityUnit * 10000 + a.pic.densityX * 100 + a.pic.densityY, 101) << what;
        EXPECT_EQ(a.param.restartInterval, o.restartInterval == 0 ? -1 : o.restartInterval) << what;
        EXPECT_STREQ(a.param.comment, o.comment.c_str()) << what;
        for (int c = 0; c < components; ++c)
            EXPECT_EQ(a.param.hSamp[c] * 10 + a.param.vSamp[c], c == 0 ? o.hSamp[0] * 10 + o.vSamp[0] : 11)
                << what << " comp " << c;
    });
}

// Every cut inside the header leaves the analysis wanting more input and the
// position untouched; the buffer is exactly the cut size, so a read past it
// is caught by the sanitizer build.
TEST(Interop, HeaderCutAtEveryByte)
{
    forEachStream([](const std::string& what, const std::vector<uint8_t>& stream, int,
                     const moxtest::RefEncodeOptions& o) {
        if (o.quality != 75) return;
        const size_t scanStart = moxtest::scanStart(stream);
        for (size_t cut = 1; cut < scanStart; ++cut) {
            Analysis a(stream, cut);
            a.sys.consumedTotal = 77;
            a.sys.skipRemain = 5;
            ASSERT_EQ(a.run(), MOX_NEED_INPUT) << what << " cut " << cut;
            ASSERT_EQ(a.sys.pieceOffset * 10000 + a.sys.consumedTotal * 10 + a.sys.skipRemain, 775u)
                << what << " cut " << cut << ": the position moved";
        }
        EXPECT_EQ(Analysis(stream, scanStart).run(), MOX_OK) << what << " cut at the scan data";
    });
}

}  // namespace
