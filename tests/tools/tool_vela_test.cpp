// VELA through the tool: four-component and gray pictures coded per MCU and
// decoded in mode 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/picture.h"
#include "tools/tool_support.h"

namespace {

using tooltest::runTool;

// Smooth ramps with one edge per component: what a copier's contone page
// holds, and what 64-byte MCUs can carry.
moxtest::Picture smoothPicture(int width, int height, int components)
{
    moxtest::Picture p{width, height, components, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                int v = (x * 3 + y * (c + 1) * 2 + c * 40) % 256;
                p.pixels.push_back(uint8_t(x > width / 2 + c * 3 ? 255 - v / 2 : v));
            }
        }
    }
    return p;
}

TEST(ToolVela, RoundTripInBothSizeModes)
{
    tooltest::ScratchDir dir;
    struct Case {
        int components;
        std::string sizeMode;
        double minPsnr;
    };
    const Case cases[] = {{4, "0", 20.0}, {4, "1", 28.0}, {1, "0", 24.0}, {1, "1", 28.0}};
    for (const Case& c : cases) {
        moxtest::Picture source = smoothPicture(64, 40, c.components);
        std::string ext = c.components == 4 ? ".png" : ".pgm";
        tooltest::writePicture(dir.path("in" + ext), source);
        std::string stream = dir.path("out.vela");
        tooltest::RunResult encoded = runTool({"encode", dir.path("in" + ext), stream,
                                               "--coding-mode", "1", "--vela-size-mode", c.sizeMode});
        ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
        size_t bytes = tooltest::readFile(stream).size();
        EXPECT_TRUE(c.sizeMode == "0" ? bytes == 40u * 64u : bytes <= 40u * 64u)
            << "have " << bytes << " bytes for 40 MCUs of at most 64 bytes, size mode " << c.sizeMode;
        // Any piece size and band height give the same pixels.
        moxtest::Picture first;
        for (const std::vector<std::string>& sizes :
             {std::vector<std::string>{}, std::vector<std::string>{"--piece", "100", "--band", "3"}}) {
            std::vector<std::string> args = {"decode", stream, dir.path("out" + ext), "--mode", "1",
                                             "--width", "64", "--height", "40", "--components",
                                             std::to_string(c.components), "--vela-size-mode",
                                             c.sizeMode};
            args.insert(args.end(), sizes.begin(), sizes.end());
            tooltest::RunResult decoded = runTool(args);
            ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
            moxtest::Picture back;
            ASSERT_TRUE(tooltest::readPicture(dir.path("out" + ext), back));
            ASSERT_EQ(back.components, c.components);
            if (sizes.empty()) {
                first = back;
                EXPECT_GE(moxtest::psnr(source, back), c.minPsnr)
                    << c.components << " components, size mode " << c.sizeMode;
            } else {
                EXPECT_EQ(back.pixels, first.pixels) << "piece 100, band 3";
            }
        }
    }
}

}  // namespace
