// VELA through the tool: four-component and gray pictures coded per MCU and
// decoded in mode 1. These skip while the library answers VELA requests
// with its placeholders (coding mode refused by the encoder, decoding mode
// refused by MoxDecode).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/picture.h"
#include "tools/tool_support.h"

namespace {

using tooltest::runTool;
using tooltest::ScratchDir;

constexpr char kEncoderPlaceholder[] = "status -18 (coding mode out of range)";
constexpr char kDecoderPlaceholder[] = "MoxDecode failed: status -333";

// Smooth ramps with one edge per component: what a copier's contone page
// holds, and what 64-byte MCUs can carry.
moxtest::Picture smoothPicture(int width, int height, int components)
{
    moxtest::Picture p;
    p.width = width;
    p.height = height;
    p.components = components;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < components; ++c) {
                int v = (x * 3 + y * (c + 1) * 2 + c * 40) % 256;
                if (x > width / 2 + c * 3) v = 255 - v / 2;
                p.pixels.push_back(uint8_t(v));
            }
        }
    }
    return p;
}

TEST(ToolVela, RoundTripInBothSizeModes)
{
    SKIP_UNLESS_ENCODER();
    ScratchDir dir;
    struct Case {
        int components;
        const char* sizeMode;
        double minPsnr;
    };
    const Case cases[] = {{4, "0", 20.0}, {4, "1", 28.0}, {1, "0", 24.0}, {1, "1", 28.0}};
    for (const Case& c : cases) {
        moxtest::Picture source = smoothPicture(64, 40, c.components);
        std::string input = dir.path(c.components == 4 ? "in.png" : "in.pgm");
        if (c.components == 4) tooltest::writePng(input, source);
        else tooltest::writePnm(input, source);
        std::string stream = dir.path("out.vela");
        tooltest::RunResult encoded = runTool({"encode", input, stream, "--coding-mode", "1",
                                               "--vela-size-mode", c.sizeMode});
        if (encoded.err.find(kEncoderPlaceholder) != std::string::npos) {
            GTEST_SKIP() << "VELA encoder not landed";
        }
        ASSERT_EQ(encoded.exitCode, 0) << encoded.err;
        size_t bytes = tooltest::readFile(stream).size();
        if (std::string(c.sizeMode) == "0") {
            EXPECT_EQ(bytes, 40u * 64u) << "fixed-size mode: 40 MCUs of 64 bytes";
        } else {
            EXPECT_LE(bytes, 40u * 64u) << "variable-size MCUs never exceed 64 bytes";
        }
        std::string output = dir.path(c.components == 4 ? "out.png" : "out.pgm");
        std::vector<std::string> decodeArgs = {"decode", stream, output, "--mode", "1",
                                               "--width", "64", "--height", "40",
                                               "--components", std::to_string(c.components),
                                               "--vela-size-mode", c.sizeMode};
        tooltest::RunResult decoded = runTool(decodeArgs);
        if (decoded.err.find(kDecoderPlaceholder) != std::string::npos) {
            GTEST_SKIP() << "VELA decoder not landed";
        }
        ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
        moxtest::Picture back;
        ASSERT_TRUE(c.components == 4 ? tooltest::readPng(output, back)
                                      : tooltest::readPnm(output, back));
        ASSERT_EQ(back.components, c.components);
        double quality = moxtest::psnr(source, back);
        EXPECT_GE(quality, c.minPsnr) << c.components << " components, size mode " << c.sizeMode;

        // Any piece size and band height give the same pixels.
        decodeArgs[2] = dir.path(c.components == 4 ? "small.png" : "small.pgm");
        decodeArgs.insert(decodeArgs.end(), {"--piece", "100", "--band", "3"});
        ASSERT_EQ(runTool(decodeArgs).exitCode, 0);
        moxtest::Picture small;
        ASSERT_TRUE(c.components == 4 ? tooltest::readPng(decodeArgs[2], small)
                                      : tooltest::readPnm(decodeArgs[2], small));
        EXPECT_EQ(small.pixels, back.pixels) << "piece 100, band 3";
    }
}

}  // namespace
