// Headers written by the reference codec (libjpeg-turbo), grey and colour at
// every sampling, with and without restarts, optimised tables and a comment,
// cut at every byte: 1 with the stream position put back. The buffer is
// exactly the cut size, so a read past it is caught by the sanitizer build.
// What the headers hold is checked by the decoder's exact coefficient
// differential over the same kinds of stream.
#include <gtest/gtest.h>

#include "decoder/harness.h"
#include "header/stream_builder.h"
#include "support/picture.h"
#include "support/refjpeg.h"

using headertest::Analysis;

namespace {

TEST(Interop, HeaderCutAtEveryByte)
{
    const int samplings[][3] = {{1, 1, 1}, {3, 1, 1}, {3, 2, 1}, {3, 1, 2}, {3, 2, 2}};
    for (const auto& [components, h, v] : samplings)
        for (int restart : {0, 3})
            for (bool optimize : {false, true}) {
                moxtest::RefEncodeOptions o;
                o.hSamp[0] = h;
                o.vSamp[0] = v;
                o.restartInterval = restart;
                o.optimize = optimize;
                o.comment = "written by the reference";
                const std::vector<uint8_t> stream = moxtest::refEncode(moxtest::makePicture(45, 29, components, 3), o);
                const size_t scanStart = moxtest::scanStart(stream);
                SCOPED_TRACE(testing::Message() << components << " comp " << h << "x" << v << " rst" << restart
                                                << (optimize ? " opt" : ""));
                for (size_t cut = 1; cut < scanStart; ++cut) {
                    Analysis a(stream, cut);
                    a.sys.consumedTotal = 77;
                    a.sys.skipRemain = 5;
                    ASSERT_EQ(a.run(), MOX_NEED_INPUT) << "cut " << cut;
                    ASSERT_EQ(a.sys.pieceOffset * 10000 + a.sys.consumedTotal * 10 + a.sys.skipRemain, 775u)
                        << "cut " << cut << ": the position moved";
                }
                Analysis whole(stream, scanStart);
                ASSERT_EQ(whole.run(), MOX_OK) << "cut at the scan data";
                EXPECT_STREQ(whole.param.comment, o.comment.c_str());
                EXPECT_EQ(whole.pic.densityUnit * 10000 + whole.pic.densityX * 100 + whole.pic.densityY, 101);
            }
}

}  // namespace
