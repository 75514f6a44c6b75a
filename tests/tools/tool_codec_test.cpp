// The tool's decode and encode commands end to end: streams written by
// libjpeg decode to libjpeg's pixels, our streams read back by libjpeg,
// options reach the stream, and any piece size, band height, output buffer
// and driving (callbacks or return codes) give the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/picture.h"
#include "support/refjpeg.h"
#include "tools/tool_support.h"

namespace {

using tooltest::runTool;
using tooltest::ScratchDir;

std::string joined(const std::vector<std::string>& args)
{
    std::string line = "moxcodec";
    for (const auto& a : args) line += " " + a;
    return line;
}

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
    if (r.exitCode != 0) return false;
    bool read = outName.ends_with(".png") ? tooltest::readPng(dir.path(outName), out)
                                          : tooltest::readPnm(dir.path(outName), out);
    EXPECT_TRUE(read) << joined(args) << ": unreadable output";
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

// ---------------------------------------------------------------- decode

TEST(ToolDecode, MatchesLibjpegOnItsStreams)
{
    SKIP_UNLESS_DECODER();
    struct Case {
        const char* name;
        int width, height, components, h0, v0, restart;
        bool optimize;
    };
    const Case cases[] = {
        {"gray", 33, 17, 1, 1, 1, 0, false},     {"444 restart 3", 40, 24, 3, 1, 1, 3, false},
        {"422 odd size", 75, 53, 3, 2, 1, 0, false}, {"420 restart 7", 64, 64, 3, 2, 2, 7, false},
        {"420 odd size", 101, 77, 3, 2, 2, 0, true}, {"440", 48, 40, 3, 1, 2, 0, false},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        moxtest::RefEncodeOptions options;
        options.quality = 85;
        options.hSamp[0] = c.h0;
        options.vSamp[0] = c.v0;
        options.restartInterval = c.restart;
        options.optimize = c.optimize;
        moxtest::Picture source = moxtest::makePicture(c.width, c.height, c.components, 11);
        std::vector<uint8_t> stream = moxtest::refEncode(source, options);
        moxtest::RefDecoded reference = moxtest::refDecode(stream, false, true);
        ASSERT_TRUE(reference.ok) << c.name << ": " << reference.message;
        moxtest::Picture ours;
        if (!toolDecode(dir, stream, {}, ours)) continue;
        int worst = tooltest::maxDifference(ours, reference.picture);
        EXPECT_GE(worst, 0) << c.name << ": have " << ours.width << "x" << ours.height << "x"
                            << ours.components << ", want " << reference.picture.width << "x"
                            << reference.picture.height << "x" << reference.picture.components;
        EXPECT_LE(worst, 3) << c.name << ": have largest difference " << worst << ", want <= 3";
    }
}

TEST(ToolDecode, SamePixelsForAnyPieceBandAndDriving)
{
    SKIP_UNLESS_DECODER();
    moxtest::RefEncodeOptions options;
    options.hSamp[0] = 2;
    options.vSamp[0] = 2;
    options.restartInterval = 2;
    std::vector<uint8_t> stream =
        moxtest::refEncode(moxtest::makePicture(97, 61, 3, 4), options);
    ScratchDir dir;
    moxtest::Picture expected;
    ASSERT_TRUE(toolDecode(dir, stream, {}, expected));
    const std::vector<std::vector<std::string>> variants = {
        {"--piece", "700", "--band", "1"},
        {"--piece", "1000", "--band", "7"},
        {"--piece", "4097", "--band", "16"},
        {"--piece", "1048576", "--band", "1000"},
        {"--piece", "700", "--band", "7", "--push"},
        {"--piece", "1500", "--band", "61", "--push"},
        {"--piece", "64", "--band", "20"},  // header outgrows the piece: it is grown
    };
    for (const auto& variant : variants) {
        moxtest::Picture have;
        if (!toolDecode(dir, stream, variant, have)) continue;
        EXPECT_EQ(have.pixels, expected.pixels) << joined(variant) << ": pixels differ";
    }
    moxtest::Picture png;
    if (toolDecode(dir, stream, {"--band", "5"}, png, "out.png")) {
        EXPECT_EQ(png.pixels, expected.pixels) << "PNG output differs from PNM output";
    }
}

TEST(ToolDecode, RefusesDamagedStreamsInOneLine)
{
    SKIP_UNLESS_DECODER();
    moxtest::Picture picture = moxtest::makePicture(64, 48, 3, 2);
    moxtest::RefEncodeOptions restartOptions;
    restartOptions.restartInterval = 1;
    std::vector<uint8_t> good = moxtest::refEncode(picture, restartOptions);
    tooltest::JpegLayout layout = tooltest::parseJpeg(good);
    ASSERT_TRUE(layout.ok);
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(layout.scanStart + 200));
    std::vector<uint8_t> badRestart = good;
    for (size_t i = layout.scanStart; i + 1 < badRestart.size(); ++i) {
        if (badRestart[i] == 0xFF && badRestart[i + 1] == 0xD0) {
            badRestart[i + 1] = 0xC8;  // a marker, but not RSTn
            break;
        }
    }
    struct Case {
        const char* name;
        std::vector<uint8_t> stream;
        std::vector<std::string> options;
        std::string wantErr;
    };
    const Case cases[] = {
        {"cut", cut, {"--piece", "1024"}, "MoxDecode failed: status "},
        {"restart", badRestart, {}, "MoxDecode failed: status -99998 (restart marker expected)"},
        {"mode", good, {"--mode", "7"}, "MoxDecInit failed: status -333 (decoding mode out of range)"},
        {"vela size", good, {"--mode", "1"}, "VELA decoding needs --width and --height"},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        tooltest::writeFile(dir.path("in.jpg"), c.stream);
        std::vector<std::string> args = {"decode", dir.path("in.jpg"), dir.path("out.ppm")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        tooltest::RunResult r = runTool(args);
        EXPECT_EQ(r.exitCode, 1) << c.name;
        // A cut stream may stop at the missing piece or at the damaged code
        // before it: only the form of the message is fixed there.
        if (std::string(c.name) == "cut") {
            EXPECT_EQ(r.err.rfind("moxcodec: decode: " + c.wantErr, 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        } else {
            EXPECT_EQ(r.err, "moxcodec: decode: " + c.wantErr + "\n") << c.name;
        }
        EXPECT_FALSE(std::filesystem::exists(dir.path("out.ppm")))
            << c.name << ": a failed decode leaves no output file";
        // --trace adds the library's log on stdout.
        args.push_back("--trace");
        r = runTool(args);
        bool log = r.out.find("---libmoxcodec_ERROR_LOG start") != std::string::npos;
        EXPECT_EQ(log, c.wantErr.rfind("Mox", 0) == 0) << c.name << ": have stdout\n" << r.out;
    }
}

// ---------------------------------------------------------------- encode

TEST(ToolEncode, LibjpegReadsEveryQualityRowAndSampling)
{
    SKIP_UNLESS_ENCODER();
    moxtest::Picture source = moxtest::makePicture(150, 97, 3, 21);
    ScratchDir dir;
    tooltest::writePnm(dir.path("in.ppm"), source);
    struct Case {
        int quality;
        const char* sampling;  // "" for the quality row's own
        int h0, v0;            // what SOF0 must say
    };
    const Case cases[] = {
        {0, "", 2, 2},  {1, "", 2, 2},      {2, "", 2, 1},      {5, "", 2, 1},
        {10, "", 2, 1}, {5, "444", 1, 1}, {7, "420", 2, 2}, {3, "440", 1, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options = {"--quality", std::to_string(c.quality)};
        if (*c.sampling) options.insert(options.end(), {"--sampling", c.sampling});
        std::vector<uint8_t> stream = toolEncode(dir, "in.ppm", options);
        tooltest::JpegLayout layout = tooltest::parseJpeg(stream);
        ASSERT_TRUE(layout.ok) << joined(options);
        EXPECT_EQ(layout.width, 150);
        EXPECT_EQ(layout.height, 97);
        EXPECT_EQ(layout.components, 3);
        EXPECT_EQ(layout.hSamp[0] * 10 + layout.vSamp[0], c.h0 * 10 + c.v0)
            << joined(options) << ": have sampling " << layout.hSamp[0] << "x" << layout.vSamp[0];
        moxtest::RefDecoded back = moxtest::refDecode(stream);
        ASSERT_TRUE(back.ok) << joined(options) << ": " << back.message;
        EXPECT_EQ(back.warnings, 0) << joined(options);
    }
}

// Quality rows 8, 9 and 10 scale T.81 tables K.1 and K.2 by 50, 30 and 10
// percent, exactly what libjpeg does at quality 75, 85 and 95; with the same
// sampling and the default Huffman tables both encoders must land close in
// size and in PSNR.
TEST(ToolEncode, MatchesLibjpegAtTheSameTables)
{
    SKIP_UNLESS_ENCODER();
    moxtest::Picture source = moxtest::makePicture(160, 96, 3, 27);
    ScratchDir dir;
    tooltest::writePnm(dir.path("in.ppm"), source);
    struct Case {
        int row, libjpegQuality;
        const char* sampling;
        int h0, v0;
    };
    const Case cases[] = {
        {8, 75, "444", 1, 1}, {9, 85, "422", 2, 1}, {10, 95, "420", 2, 2}, {8, 75, "422", 2, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> options = {"--quality", std::to_string(c.row), "--sampling",
                                            c.sampling};
        std::vector<uint8_t> ours = toolEncode(dir, "in.ppm", options);
        moxtest::RefEncodeOptions refOptions;
        refOptions.quality = c.libjpegQuality;
        refOptions.hSamp[0] = c.h0;
        refOptions.vSamp[0] = c.v0;
        std::vector<uint8_t> theirs = moxtest::refEncode(source, refOptions);
        moxtest::RefDecoded oursBack = moxtest::refDecode(ours);
        moxtest::RefDecoded theirsBack = moxtest::refDecode(theirs);
        ASSERT_TRUE(oursBack.ok && theirsBack.ok) << joined(options);
        double oursPsnr = moxtest::psnr(source, oursBack.picture);
        double theirsPsnr = moxtest::psnr(source, theirsBack.picture);
        EXPECT_NEAR(oursPsnr, theirsPsnr, 1.0) << joined(options) << ": have PSNR " << oursPsnr
                                               << ", libjpeg " << theirsPsnr;
        double ratio = double(ours.size()) / double(theirs.size());
        EXPECT_NEAR(ratio, 1.0, 0.1) << joined(options) << ": have " << ours.size()
                                     << " bytes, libjpeg " << theirs.size();
    }
}

TEST(ToolEncode, HigherQualityRowsGiveLargerBetterStreams)
{
    SKIP_UNLESS_ENCODER();
    moxtest::Picture source = moxtest::makePicture(120, 80, 3, 8);
    ScratchDir dir;
    tooltest::writePnm(dir.path("in.ppm"), source);
    size_t lastSize = 0;
    double lastPsnr = 0;
    for (int quality = 2; quality <= 10; ++quality) {
        std::vector<uint8_t> stream = toolEncode(dir, "in.ppm", {"--quality", std::to_string(quality)});
        moxtest::RefDecoded back = moxtest::refDecode(stream);
        ASSERT_TRUE(back.ok) << back.message;
        double p = moxtest::psnr(source, back.picture);
        EXPECT_GT(stream.size(), lastSize) << "quality " << quality;
        EXPECT_GT(p, lastPsnr) << "quality " << quality;
        lastSize = stream.size();
        lastPsnr = p;
    }
}

TEST(ToolEncode, OptionsReachTheStream)
{
    SKIP_UNLESS_ENCODER();
    moxtest::Picture source = moxtest::makePicture(150, 97, 3, 6);
    moxtest::Picture gray = moxtest::makePicture(70, 45, 1, 6);
    ScratchDir dir;
    tooltest::writePnm(dir.path("in.ppm"), source);
    tooltest::writePnm(dir.path("gray.pgm"), gray);

    // 150x97 at 2x1: 10 x 13 = 130 MCUs; a marker after every 4th but the last.
    tooltest::JpegLayout restart = tooltest::parseJpeg(
        toolEncode(dir, "in.ppm", {"--restart", "4", "--sampling", "422"}));
    EXPECT_EQ(restart.restartInterval, 4);
    EXPECT_EQ(restart.restartMarkers, 32);

    tooltest::JpegLayout labelled = tooltest::parseJpeg(
        toolEncode(dir, "in.ppm", {"--comment", "band test", "--density", "300,200,1"}));
    EXPECT_EQ(labelled.comment.substr(0, 9), "band test");
    EXPECT_TRUE(labelled.jfif);
    EXPECT_EQ(labelled.densityUnit, 1);
    EXPECT_EQ(labelled.densityX, 300);
    EXPECT_EQ(labelled.densityY, 200);

    std::vector<uint8_t> grayStream = toolEncode(dir, "gray.pgm", {"--quality", "9"});
    tooltest::JpegLayout grayLayout = tooltest::parseJpeg(grayStream);
    EXPECT_EQ(grayLayout.components, 1);
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
    std::vector<std::string> regionOptions = {"--sampling", "422", "--quality", "9"};
    std::vector<uint8_t> whole = toolEncode(dir, "in.ppm", regionOptions);
    regionOptions.insert(regionOptions.end(), {"--region", "16,24,64,40"});
    std::vector<uint8_t> region = toolEncode(dir, "in.ppm", regionOptions);
    tooltest::JpegLayout regionLayout = tooltest::parseJpeg(region);
    EXPECT_EQ(regionLayout.width, 64);
    EXPECT_EQ(regionLayout.height, 40);
    moxtest::RefDecoded wholeBack = moxtest::refDecode(whole);
    moxtest::RefDecoded regionBack = moxtest::refDecode(region);
    ASSERT_TRUE(wholeBack.ok && regionBack.ok) << regionBack.message;
    EXPECT_EQ(regionBack.picture.pixels, tooltest::crop(wholeBack.picture, 16, 24, 64, 40).pixels)
        << "the region differs from the same crop of the whole picture";

    // Without markers the output is the scan data of the complete stream.
    std::vector<uint8_t> full = toolEncode(dir, "in.ppm", {"--quality", "6"});
    std::vector<uint8_t> bare = toolEncode(dir, "in.ppm", {"--quality", "6", "--omit-markers"});
    tooltest::JpegLayout fullLayout = tooltest::parseJpeg(full);
    ASSERT_TRUE(fullLayout.ok);
    std::vector<uint8_t> scan(full.begin() + long(fullLayout.scanStart),
                              full.begin() + long(fullLayout.scanEnd));
    EXPECT_EQ(bare, scan) << "have " << bare.size() << " bytes, want the " << scan.size()
                          << " scan bytes of the full stream";
}

TEST(ToolEncode, SameStreamForAnyBandBufferAndDriving)
{
    SKIP_UNLESS_ENCODER();
    moxtest::Picture source = moxtest::makePicture(90, 50, 3, 13);
    ScratchDir dir;
    tooltest::writePnm(dir.path("in.ppm"), source);
    tooltest::writePng(dir.path("in.png"), source);
    moxtest::Picture rgba;
    rgba.width = source.width;
    rgba.height = source.height;
    rgba.components = 4;
    for (size_t i = 0; i < source.pixels.size(); i += 3) {
        rgba.pixels.insert(rgba.pixels.end(), {source.pixels[i], source.pixels[i + 1],
                                               source.pixels[i + 2], uint8_t(i)});
    }
    tooltest::writePng(dir.path("rgba.png"), rgba);
    const std::vector<std::string> common = {"--quality", "7", "--restart", "3"};
    std::vector<uint8_t> expected = toolEncode(dir, "in.ppm", common);
    ASSERT_FALSE(expected.empty());
    struct Case {
        const char* input;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"in.ppm", {"--band", "1", "--out-buffer", "100"}},
        {"in.ppm", {"--band", "7", "--out-buffer", "699"}},
        {"in.ppm", {"--band", "16", "--out-buffer", "700"}},
        {"in.ppm", {"--band", "1000", "--out-buffer", "1000000"}},
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
}

TEST(ToolEncode, RefusalsNameTheStatus)
{
    SKIP_UNLESS_ENCODER();
    ScratchDir dir;
    tooltest::writePnm(dir.path("in.ppm"), moxtest::makePicture(40, 30, 3, 1));
    std::vector<uint8_t> shortFile = tooltest::readFile(dir.path("in.ppm"));
    shortFile.resize(shortFile.size() / 2);
    tooltest::writeFile(dir.path("short.ppm"), shortFile);
    struct Case {
        const char* input;
        std::vector<std::string> options;
        std::string wantErr;
    };
    const Case cases[] = {
        {"in.ppm", {"--quality", "11"}, "MoxEncInit failed: status -17 (quality level out of range)"},
        {"in.ppm", {"--region", "30,0,20,10"},
         "MoxEncInit failed: status -20 (picture size or region out of range)"},
        {"in.ppm", {"--coding-mode", "2"}, "MoxEncInit failed: status -18 (coding mode out of range)"},
        {"in.ppm", {"--coding-mode", "1"}, "VELA coding takes gray or four-component pictures"},
        {"short.ppm", {"--band", "8"},
         "MoxEncode failed: status -111 (callback failed), callback returned 1: " +
             dir.path("short.ppm") + ": the PNM file ends early"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"encode", dir.path(c.input), dir.path("out.jpg")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        tooltest::RunResult r = runTool(args);
        EXPECT_EQ(r.exitCode, 1) << joined(args);
        EXPECT_EQ(r.err, "moxcodec: encode: " + c.wantErr + "\n") << joined(args);
        EXPECT_FALSE(std::filesystem::exists(dir.path("out.jpg"))) << joined(args);
    }
}

// ---------------------------------------------------------------- both

TEST(ToolRoundTrip, OurDecoderAgreesWithLibjpegOnOurStreams)
{
    SKIP_UNLESS_ENCODER();
    SKIP_UNLESS_DECODER();
    ScratchDir dir;
    moxtest::Picture color = moxtest::makePicture(131, 67, 3, 17);
    moxtest::Picture gray = moxtest::makePicture(59, 41, 1, 17);
    tooltest::writePnm(dir.path("color.ppm"), color);
    tooltest::writePnm(dir.path("gray.pgm"), gray);
    struct Case {
        const char* input;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"color.ppm", {"--quality", "3"}},
        {"color.ppm", {"--quality", "9", "--sampling", "420", "--restart", "5"}},
        {"color.ppm", {"--quality", "10", "--sampling", "444"}},
        {"gray.pgm", {"--quality", "6", "--restart", "1"}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> stream = toolEncode(dir, c.input, c.options);
        moxtest::Picture ours;
        if (!toolDecode(dir, stream, {"--band", "11", "--piece", "900"}, ours)) continue;
        const moxtest::Picture& source = c.input[0] == 'c' ? color : gray;
        moxtest::RefDecoded reference = moxtest::refDecode(stream, false, true);
        ASSERT_TRUE(reference.ok) << reference.message;
        int worst = tooltest::maxDifference(ours, reference.picture);
        EXPECT_GE(worst, 0);
        EXPECT_LE(worst, 3) << c.input << " " << joined(c.options) << ": have largest difference "
                            << worst;
        EXPECT_NEAR(moxtest::psnr(source, ours), moxtest::psnr(source, reference.picture), 0.3)
            << c.input << " " << joined(c.options);
    }
}

// The demo writes what its table says: each decoded PNG has the PSNR the
// table prints against page.png, and libjpeg reads each JPEG to nearly the
// same pixels.
TEST(ToolDemo, TableMatchesTheFilesItWrites)
{
    SKIP_UNLESS_ENCODER();
    SKIP_UNLESS_DECODER();
    ScratchDir dir;
    std::string out = dir.path("demo");
    tooltest::RunResult r = runTool({"demo", "--out", out, "--size", "240x160", "--repeat", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    moxtest::Picture page;
    ASSERT_TRUE(tooltest::readPng(out + "/page.png", page));
    EXPECT_EQ(page.width, 240);
    EXPECT_EQ(page.height, 160);
    size_t lastBytes = 0;
    for (int quality : {2, 5, 8, 10}) {
        char label[16];
        std::snprintf(label, sizeof label, "JPEG q%d ", quality);
        size_t at = r.out.find(label);
        ASSERT_NE(at, std::string::npos) << "no row " << label << " in\n" << r.out;
        std::istringstream row(r.out.substr(at + std::strlen(label)));
        std::string sampling, ratio;
        size_t bytes = 0;
        double tablePsnr = 0;
        row >> sampling >> bytes >> ratio >> tablePsnr;
        std::string stem = out + (quality < 10 ? "/page-q0" : "/page-q") + std::to_string(quality);
        std::vector<uint8_t> stream = tooltest::readFile(std::string(stem) + ".jpg");
        EXPECT_EQ(stream.size(), bytes) << label;
        EXPECT_GT(bytes, lastBytes) << label;
        lastBytes = bytes;
        moxtest::Picture decoded;
        ASSERT_TRUE(tooltest::readPng(std::string(stem) + "-decoded.png", decoded)) << label;
        EXPECT_NEAR(moxtest::psnr(page, decoded), tablePsnr, 0.006) << label;
        moxtest::RefDecoded reference = moxtest::refDecode(stream, false, true);
        ASSERT_TRUE(reference.ok) << label << reference.message;
        int worst = tooltest::maxDifference(decoded, reference.picture);
        EXPECT_GE(worst, 0) << label;
        EXPECT_LE(worst, 3) << label;
    }
}

}  // namespace
