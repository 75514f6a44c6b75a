// The tool's decode and encode jobs end to end: options reach the stream,
// libjpeg reads what the tool writes, and any piece size, band height,
// output buffer and driving (callbacks or return codes) give the same bytes.
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

// Decodes `stream` with the tool; false (and a test failure) if it fails.
bool toolDecode(const ScratchDir& dir, const std::vector<uint8_t>& stream,
                const std::vector<std::string>& options, moxtest::Picture& out,
                const std::string& outName = "out.pnm")
{
    tooltest::writeFile(dir.path("in.jpg"), stream);
    std::vector<std::string> args = {"decode", dir.path("in.jpg"), dir.path(outName)};
    args.insert(args.end(), options.begin(), options.end());
    tooltest::RunResult r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << joined(args) << "\n" << r.err;
    bool read = r.exitCode == 0 && tooltest::readPicture(dir.path(outName), out);
    EXPECT_TRUE(read || r.exitCode != 0) << joined(args) << ": unreadable output";
    return read;
}

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

// ---------------------------------------------------------------- decode

TEST(ToolDecode, SamePixelsForAnyPieceBandAndDriving)
{
    moxtest::RefEncodeOptions options;
    options.hSamp[0] = 2;
    options.vSamp[0] = 2;
    options.restartInterval = 2;
    std::vector<uint8_t> stream = moxtest::refEncode(moxtest::makePicture(97, 61, 3, 4), options);
    ScratchDir dir;
    moxtest::Picture expected;
    ASSERT_TRUE(toolDecode(dir, stream, {}, expected));
    const std::vector<std::vector<std::string>> variants = {
        {"--piece", "700", "--band", "1"},
        {"--piece", "700", "--band", "7", "--push"},
        {"--piece", "1500", "--band", "61", "--push"},
        {"--piece", "64", "--band", "20"},  // header outgrows the piece: it is grown
    };
    for (const auto& variant : variants) {
        moxtest::Picture have;
        if (toolDecode(dir, stream, variant, have)) {
            EXPECT_EQ(have.pixels, expected.pixels) << joined(variant) << ": pixels differ";
        }
    }
    moxtest::Picture png;
    if (toolDecode(dir, stream, {"--band", "5"}, png, "out.png")) {
        EXPECT_EQ(png.pixels, expected.pixels) << "PNG output differs from PNM output";
    }
    // Previews: 97 x 61 at 1/4 is 25 x 16, whatever the pieces and bands.
    moxtest::Picture preview, driven;
    if (toolDecode(dir, stream, {"--scale", "1/4"}, preview) &&
        toolDecode(dir, stream, {"--scale", "1/4", "--piece", "700", "--band", "3", "--push"}, driven)) {
        EXPECT_EQ(preview.width * 1000 + preview.height, 25016);
        EXPECT_EQ(driven.pixels, preview.pixels) << "preview pixels differ";
    }
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
        moxtest::RefDecoded back = moxtest::refDecode(ours);
        EXPECT_TRUE(back.ok && back.warnings == 0) << joined(options) << ": " << back.message;
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

    // A region on MCU boundaries (16x8 at 2x1) codes the same blocks as the
    // whole picture does, so it decodes to the same pixels as that crop.
    std::vector<std::string> options = {"--sampling", "422", "--quality", "9"};
    moxtest::RefDecoded whole = moxtest::refDecode(toolEncode(dir, "in.ppm", options));
    options.insert(options.end(), {"--region", "16,24,64,40"});
    std::vector<uint8_t> regionStream = toolEncode(dir, "in.ppm", options);
    std::vector<uint8_t> sof = tooltest::segment(regionStream, 0xC0);
    EXPECT_EQ(std::vector<uint8_t>(sof.begin() + 1, sof.begin() + 5),
              (std::vector<uint8_t>{0, 40, 0, 64})) << "frame height and width";
    moxtest::RefDecoded region = moxtest::refDecode(regionStream);
    ASSERT_TRUE(whole.ok && region.ok) << region.message;
    std::vector<uint8_t> crop;
    for (int y = 24; y < 64; ++y) {
        auto row = whole.picture.pixels.begin() + (long(y) * 150 + 16) * 3;
        crop.insert(crop.end(), row, row + 64 * 3);
    }
    EXPECT_EQ(region.picture.pixels, crop) << "the region differs from that crop of the whole";

    // Without markers the output is the scan data of the complete stream.
    std::vector<uint8_t> full = toolEncode(dir, "in.ppm", {"--quality", "6"});
    std::vector<uint8_t> bare = toolEncode(dir, "in.ppm", {"--quality", "6", "--omit-markers"});
    scan = tooltest::segment(full, 0xDA);
    EXPECT_EQ(bare, scan) << "have " << bare.size() << " bytes, want the " << scan.size()
                          << " scan bytes of the full stream";
}

TEST(ToolEncode, SameStreamForAnyBandBufferAndDriving)
{
    moxtest::Picture source = moxtest::makePicture(90, 50, 3, 13);
    moxtest::Picture rgba = source;
    rgba.components = 4;
    rgba.pixels.clear();
    for (size_t i = 0; i < source.pixels.size(); i += 3) {
        rgba.pixels.insert(rgba.pixels.end(), {source.pixels[i], source.pixels[i + 1],
                                               source.pixels[i + 2], uint8_t(i)});
    }
    ScratchDir dir;
    tooltest::writePicture(dir.path("in.ppm"), source);
    tooltest::writePicture(dir.path("in.png"), source);
    tooltest::writePicture(dir.path("rgba.png"), rgba);
    const std::vector<std::string> common = {"--quality", "7", "--restart", "3"};
    std::vector<uint8_t> expected = toolEncode(dir, "in.ppm", common);
    ASSERT_FALSE(expected.empty());
    struct Case {
        const char* input;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"in.ppm", {"--band", "1", "--out-buffer", "100"}},
        {"in.ppm", {"--band", "9", "--out-buffer", "100", "--push"}},
        {"in.ppm", {"--band", "50", "--out-buffer", "4096", "--push"}},
        {"in.png", {"--band", "13"}},
        {"rgba.png", {}},  // alpha is dropped for baseline JPEG
    };
    for (const Case& c : cases) {
        std::vector<std::string> options = common;
        options.insert(options.end(), c.options.begin(), c.options.end());
        std::vector<uint8_t> have = toolEncode(dir, c.input, options);
        EXPECT_EQ(have, expected) << c.input << " " << joined(options) << ": have " << have.size()
                                  << " bytes, want " << expected.size();
    }
    // The stream of the PNG decoded back to PNG: libjpeg's pixels.
    moxtest::Picture back;
    if (toolDecode(dir, expected, {"--band", "11", "--piece", "900"}, back, "back.png")) {
        expectNearLibjpeg(back, expected, "decoded to PNG");
    }
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
