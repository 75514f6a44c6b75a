// The tool's encode options reach the stream, and the demo writes what its
// table says. Splits of pieces, bands and buffers are the library tests'.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/picture.h"
#include "support/refjpeg.h"
#include "tools/tool_support.h"

namespace {

using tooltest::joined;
using tooltest::runTool;
using tooltest::ScratchDir;

// Encodes `input` (a file in dir) with the tool and returns the stream.
std::vector<uint8_t> toolEncode(const ScratchDir& dir, const std::string& input,
                                const std::vector<std::string>& options)
{
    std::vector<std::string> args = {"encode", dir.path(input), dir.path("out.jpg")};
    args.insert(args.end(), options.begin(), options.end());
    tooltest::RunResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << joined(args) << "\n" << r.err;
    return r.exitCode == 0 ? tooltest::readFile(dir.path("out.jpg")) : std::vector<uint8_t>{};
}

// Our decoding of `stream` against libjpeg's: within +-3 per sample.
void expectNearLibjpeg(const moxtest::Picture& ours, const std::vector<uint8_t>& stream,
                       const std::string& name)
{
    int worst = tooltest::worstDifference(ours, stream);
    EXPECT_TRUE(worst >= 0 && worst <= 3) << name << ": have largest difference " << worst
                                          << " (-1: other size), want <= 3";
}

// ---------------------------------------------------------------- encode

TEST(ToolEncode, OptionsReachTheStream)
{
    moxtest::Picture gray = moxtest::makePicture(70, 45, 1, 6);
    ScratchDir dir;
    tooltest::writePicture(dir.path("in.ppm"), moxtest::makePicture(150, 97, 3, 6));
    tooltest::writePicture(dir.path("gray.pgm"), gray);

    // --sampling and the quality rows' own sampling reach SOF0 (10 x H + V of
    // component 0), and libjpeg reads every result.
    const std::pair<std::vector<std::string>, int> samplings[] = {
        {{"--quality", "0"}, 22}, {{"--quality", "2"}, 21}, {{"--sampling", "444"}, 11},
        {{"--sampling", "440"}, 12}, {{"--quality", "10", "--sampling", "420"}, 22}};
    for (const auto& [options, hv] : samplings) {
        std::vector<uint8_t> ours = toolEncode(dir, "in.ppm", options);
        std::vector<uint8_t> sof = tooltest::segment(ours, 0xC0);
        ASSERT_EQ(sof.size(), 15u) << joined(options);
        EXPECT_EQ(sof[7] / 16 * 10 + sof[7] % 16, hv) << joined(options);
    }

    // 150x97 at 2x1: 10 x 13 = 130 MCUs; a marker after every 4th but the last.
    std::vector<uint8_t> restart = toolEncode(dir, "in.ppm", {"--restart", "4", "--sampling", "422"});
    EXPECT_EQ(tooltest::segment(restart, 0xDD), (std::vector<uint8_t>{0, 4}));
    std::vector<uint8_t> scan = tooltest::segment(restart, 0xDA);
    int markers = 0;
    for (size_t i = 0; i + 1 < scan.size(); ++i) markers += scan[i] == 0xFF && scan[i + 1] >> 3 == 0x1A;
    EXPECT_EQ(markers, 32);

    std::vector<uint8_t> labelled =
        toolEncode(dir, "in.ppm", {"--comment", "band test", "--density", "300,200,1"});
    std::vector<uint8_t> comment = tooltest::segment(labelled, 0xFE);
    EXPECT_EQ(std::string(comment.begin(), comment.end()).substr(0, 9), "band test");
    std::vector<uint8_t> jfif = tooltest::segment(labelled, 0xE0);
    ASSERT_GE(jfif.size(), 12u);
    EXPECT_EQ(std::vector<uint8_t>(jfif.begin() + 7, jfif.begin() + 12),
              (std::vector<uint8_t>{1, 300 >> 8, 300 & 255, 0, 200})) << "unit, X and Y density";

    std::vector<uint8_t> grayStream = toolEncode(dir, "gray.pgm", {"--quality", "9"});
    EXPECT_EQ(tooltest::segment(grayStream, 0xC0).at(5), 1) << "one component";
    moxtest::RefDecoded grayBack = moxtest::refDecode(grayStream);
    ASSERT_TRUE(grayBack.ok) << grayBack.message;
    EXPECT_GE(moxtest::psnr(gray, grayBack.picture), 30.0);
    // A gray PNG with a transparent colour key is still a gray picture.
    std::vector<uint8_t> scanlines;
    for (int y = 0; y < gray.height; ++y) {
        scanlines.push_back(0);
        auto row = gray.pixels.begin() + long(y) * gray.width;
        scanlines.insert(scanlines.end(), row, row + gray.width);
    }
    tooltest::writeFile(dir.path("keyed.png"),
                        tooltest::handBuiltPng(70, 45, 0, false, scanlines, {0, 0}));
    EXPECT_EQ(toolEncode(dir, "keyed.png", {"--quality", "9"}), grayStream)
        << "gray PNG with tRNS: have another stream than from the same PGM";

    std::vector<uint8_t> sof =
        tooltest::segment(toolEncode(dir, "in.ppm", {"--quality", "9", "--region", "16,24,64,40"}), 0xC0);
    EXPECT_EQ(std::vector<uint8_t>(sof.begin() + 1, sof.begin() + 5),
              (std::vector<uint8_t>{0, 40, 0, 64})) << "frame height and width";

    // Without markers the output is the scan data of the complete stream.
    std::vector<uint8_t> full = toolEncode(dir, "in.ppm", {"--quality", "6"});
    std::vector<uint8_t> bare = toolEncode(dir, "in.ppm", {"--quality", "6", "--omit-markers"});
    scan = tooltest::segment(full, 0xDA);
    EXPECT_EQ(bare, scan) << "have " << bare.size() << " bytes, want the " << scan.size()
                          << " scan bytes of the full stream";
}

// ---------------------------------------------------------------- demo

// The demo writes what its table says: each decoded PNG has the PSNR the
// table prints against page.png, and libjpeg reads each JPEG to nearly the
// same pixels.
TEST(ToolDemo, TableMatchesTheFilesItWrites)
{
    ScratchDir dir;
    std::string out = dir.path("demo");
    tooltest::RunResult r = runTool({"demo", "--out", out, "--size", "240x160", "--repeat", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    moxtest::Picture page;
    ASSERT_TRUE(tooltest::readPicture(out + "/page.png", page));
    EXPECT_EQ(page.width * 1000 + page.height, 240160);
    size_t lastBytes = 0;
    for (int quality : {2, 5, 8, 10}) {
        std::string label = "JPEG q" + std::to_string(quality) + " ";
        size_t at = r.out.find(label);
        ASSERT_NE(at, std::string::npos) << "no row " << label << " in\n" << r.out;
        std::istringstream row(r.out.substr(at + label.size()));
        std::string sampling, ratio;
        size_t bytes = 0;
        double tablePsnr = 0;
        row >> sampling >> bytes >> ratio >> tablePsnr;
        char stem[32];
        std::snprintf(stem, sizeof stem, "/page-q%02d", quality);
        std::vector<uint8_t> stream = tooltest::readFile(out + stem + ".jpg");
        EXPECT_EQ(stream.size(), bytes) << label;
        EXPECT_GT(bytes, lastBytes) << label;
        lastBytes = bytes;
        moxtest::Picture decoded;
        ASSERT_TRUE(tooltest::readPicture(out + stem + "-decoded.png", decoded)) << label;
        EXPECT_NEAR(moxtest::psnr(page, decoded), tablePsnr, 0.006) << label;
        expectNearLibjpeg(decoded, stream, label);
    }
    // The preview row: the q08 stream at 1/8, its size in the bytes column.
    EXPECT_NE(r.out.find("preview    1/8         30x20 "), std::string::npos) << r.out;
    moxtest::Picture preview;
    ASSERT_TRUE(tooltest::readPicture(out + "/page-q08-preview8.png", preview));
    EXPECT_EQ(preview.width * 1000 + preview.height, 30020);
    // The VELA rows: 600 fixed-size MCUs of 64 bytes each.
    for (const char* label : {"VELA 4c ", "VELA gray "}) {
        size_t at = r.out.find(label);
        ASSERT_NE(at, std::string::npos) << "no row " << label << " in\n" << r.out;
        std::istringstream row(r.out.substr(at + std::strlen(label)));
        std::string sampling;
        size_t bytes = 0;
        row >> sampling >> bytes;
        EXPECT_EQ(bytes, 600u * 64u) << label;
    }
}

}  // namespace
