// The tool's command line and its info command: usage errors, help texts,
// one-line failure messages with the status meaning, and the header report
// checked against streams whose content libjpeg fixed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/picture.h"
#include "support/refjpeg.h"
#include "tools/tool_support.h"

namespace {

using tooltest::runTool;

TEST(ToolCommandLine, ExitStatusAndMessages)
{
    tooltest::ScratchDir dir;
    tooltest::writeFile(dir.path("ascii.ppm"), {'P', '3', '\n', '1', ' ', '1', '\n', '2', '5', '5',
                                                '\n', '0', ' ', '0', ' ', '0', '\n'});
    tooltest::writeFile(dir.path("deep.pgm"), {'P', '5', '\n', '1', ' ', '1', '\n', '6', '5', '5',
                                               '3', '5', '\n', 0, 0});
    // 74 bytes claiming a 10^6 x 10^6 interlaced RGBA picture: refused, not
    // taken as a reason to hold 4 TB.
    tooltest::writeFile(dir.path("huge.png"), tooltest::handBuiltPng(1000000, 1000000, 6, true,
                                                                      std::vector<uint8_t>(1000)));
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string wantOut;  // substring of stdout
        std::string wantErr;  // substring of stderr
    };
    const Case cases[] = {
        {{}, 2, "", "usage: moxcodec COMMAND"},
        {{"--help"}, 0, "commands:", ""},
        {{"frobnicate"}, 2, "", "unknown command 'frobnicate'"},
        {{"version"}, 0, "MOXCODECLIB, Version 01.10.00\n", ""},
        {{"info", "--help"}, 0, "MoxAnalysisHeader", ""},
        {{"decode", "--help"}, 0, "--piece BYTES", ""},
        {{"encode", "--help"}, 0, "--quality N", ""},
        {{"demo", "--help"}, 0, "--out DIR", ""},
        {{"info"}, 2, "", "usage: moxcodec info"},
        {{"decode", "only-one.jpg"}, 2, "", "usage: moxcodec decode"},
        {{"decode", "a.jpg", "b.ppm", "--bogus"}, 2, "", "unknown option --bogus"},
        {{"decode", "a.jpg", "b.ppm", "--band", "0"}, 2, "", "--band wants a whole number"},
        {{"decode", "a.jpg", "b.ppm", "--piece"}, 2, "", "--piece needs a value"},
        {{"encode", "a.ppm", "b.jpg", "--quality", "high"}, 2, "", "not 'high'"},
        {{"encode", "a.ppm", "b.jpg", "--sampling", "411"}, 2, "", "--sampling is 444"},
        {{"encode", "a.ppm", "b.jpg", "--region", "1,2,3"}, 2, "", "--region wants"},
        {{"encode", "a.ppm", "b.jpg", "--comment", std::string(99, 'c')}, 2, "", "98 characters"},
        {{"demo", "stray"}, 2, "", "demo takes no file"},
        {{"decode", dir.path("missing.jpg"), dir.path("b.ppm")}, 1, "", "cannot open"},
        {{"info", dir.path("missing.jpg")}, 1, "", "cannot open"},
        {{"encode", dir.path("in.bmp"), dir.path("b.jpg")}, 1, "", "unknown picture format"},
        {{"encode", dir.path("ascii.ppm"), dir.path("b.jpg")}, 1, "", "not a binary PGM (P5) or PPM (P6)"},
        {{"encode", dir.path("deep.pgm"), dir.path("b.jpg")}, 1, "", "maxval must be 255"},
        {{"encode", dir.path("huge.png"), dir.path("b.jpg")}, 1, "", "huge.png: "},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += " " + a.substr(0, 20);
        tooltest::RunResult r = runTool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << "moxcodec" << line << "\nstderr: " << r.err;
        EXPECT_NE(r.out.find(c.wantOut), std::string::npos)
            << "moxcodec" << line << ": have stdout\n" << r.out << "want it to contain " << c.wantOut;
        EXPECT_NE(r.err.find(c.wantErr), std::string::npos)
            << "moxcodec" << line << ": have stderr\n" << r.err << "want it to contain " << c.wantErr;
        // Failures are one line on stderr.
        if (c.exitCode == 1) EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

// Reads the value after "label:" on its line of the info report.
std::string field(const std::string& report, const std::string& label)
{
    std::string text = "\n" + report;
    size_t at = text.find("\n" + label + ":");
    if (at == std::string::npos) return "<missing>";
    size_t start = text.find_first_not_of(' ', at + label.size() + 2);
    return text.substr(start, text.find('\n', start) - start);
}

TEST(ToolInfo, ReportsWhatLibjpegWrote)
{
    struct Case {
        const char* name;
        int width, height, components;
        int h0, v0;
        int restart;
        const char* comment;
        std::string sampling, restartText, huffman;
    };
    const Case cases[] = {
        {"gray", 33, 17, 1, 1, 1, 0, "", "1x1", "none", "1 DC, 1 AC tables; codes: DC0=12 AC0=162"},
        {"444", 40, 24, 3, 1, 1, 3, "one two", "1x1 1x1 1x1", "every 3 MCUs",
         "2 DC, 2 AC tables; codes: DC0=12 DC1=12 AC0=162 AC1=162"},
        {"422", 75, 53, 3, 2, 1, 0, "", "2x1 1x1 1x1", "none",
         "2 DC, 2 AC tables; codes: DC0=12 DC1=12 AC0=162 AC1=162"},
        {"420", 64, 64, 3, 2, 2, 7, "hello band", "2x2 1x1 1x1", "every 7 MCUs",
         "2 DC, 2 AC tables; codes: DC0=12 DC1=12 AC0=162 AC1=162"},
    };
    tooltest::ScratchDir dir;
    for (const Case& c : cases) {
        moxtest::RefEncodeOptions options;
        options.quality = 50;  // libjpeg then writes T.81 tables K.1 and K.2 unscaled
        options.hSamp[0] = c.h0;
        options.vSamp[0] = c.v0;
        options.restartInterval = c.restart;
        options.comment = c.comment;
        std::vector<uint8_t> stream =
            moxtest::refEncode(moxtest::makePicture(c.width, c.height, c.components, 3), options);
        std::string path = dir.path(std::string(c.name) + ".jpg");
        tooltest::writeFile(path, stream);
        tooltest::RunResult r = runTool({"info", path});
        ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
        const std::string& o = r.out;
        EXPECT_EQ(field(o, "size"), std::to_string(c.width) + " x " + std::to_string(c.height)) << c.name;
        EXPECT_EQ(field(o, "components"), std::to_string(c.components)) << c.name;
        EXPECT_EQ(field(o, "sampling"), c.sampling) << c.name;
        EXPECT_EQ(field(o, "restart"), c.restartText) << c.name;
        EXPECT_EQ(field(o, "huffman"), c.huffman) << c.name;
        EXPECT_EQ(field(o, "comment"), *c.comment ? "\"" + std::string(c.comment) + "\"" : "none")
            << c.name;
        EXPECT_EQ(field(o, "density"), "1 x 1 (no unit, aspect ratio)") << c.name;
        // K.1's first and last rows, natural order.
        EXPECT_NE(o.find("quant table 0 (natural order):\n     16  11  10  16  24  40  51  61\n"),
                  std::string::npos) << c.name << ": have\n" << o;
        EXPECT_NE(o.find("     72  92  95  98 112 100 103  99\n"), std::string::npos) << o;
        bool chroma = o.find("quant table 1 (natural order):\n     17  18  24  47  99  99  99  99\n") !=
                      std::string::npos;
        EXPECT_EQ(chroma, c.components == 3) << c.name << ": have\n" << o;
    }
}

// Damaged or unsupported streams: one line naming the status and its
// meaning, the library's log on stdout, exit status 1.
TEST(ToolInfo, RefusedStreams)
{
    moxtest::Picture picture = moxtest::makePicture(48, 32, 3, 9);
    std::vector<uint8_t> good = moxtest::refEncode(picture, {});
    moxtest::RefEncodeOptions progressiveOptions;
    progressiveOptions.progressive = true;
    std::vector<uint8_t> progressive = moxtest::refEncode(picture, progressiveOptions);
    std::vector<uint8_t> cut(good.begin(), good.begin() + 100);
    std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', ' ', 'J', 'P', 'E', 'G', '\n'};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string wantErr;
        bool wantLog;
    };
    const Case cases[] = {
        {"progressive", progressive,
         "MoxAnalysisHeader failed: status -10 (unsupported frame type, marker or MCU layout)", true},
        {"text", text, "MoxAnalysisHeader failed: status -100 (marker missing or segment refused)",
         true},
        {"cut", cut, "MoxAnalysisHeader failed: status 1 (more input needed): the stream ends inside its header",
         true},
        {"eoi-only", {0xFF, 0xD8, 0xFF, 0xD9}, "the stream ends before any scan: no picture", false},
        {"empty", {}, "the stream is empty", false},
    };
    tooltest::ScratchDir dir;
    for (const Case& c : cases) {
        std::string path = dir.path(std::string(c.name) + ".jpg");
        tooltest::writeFile(path, c.bytes);
        tooltest::RunResult r = runTool({"info", path});
        EXPECT_EQ(r.exitCode, 1) << c.name;
        EXPECT_EQ(r.err, "moxcodec: info: " + c.wantErr + "\n") << c.name;
        bool log = r.out.find("---libmoxcodec_ERROR_LOG start") != std::string::npos;
        EXPECT_EQ(log, c.wantLog) << c.name << ": have stdout\n" << r.out;
    }
}

}  // namespace
