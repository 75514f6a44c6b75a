// The tool's command line and its info command: usage errors, help texts,
// one-line failure messages with the status meaning, and the header report
// checked against streams whose content libjpeg fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/picture.h"
#include "support/refjpeg.h"
#include "tools/tool_support.h"

namespace {

using tooltest::runTool;

// Usage, help and every kind of failure: a wrong command line exits with 2,
// a failed job with 1 after one line on stderr naming the status and its
// meaning (the library's log follows on stdout for info and with --trace),
// and a failed job leaves no output file behind.
TEST(ToolCommandLine, ExitStatusAndMessages)
{
    tooltest::ScratchDir dir;
    auto file = [&dir](const std::string& name, const std::vector<uint8_t>& bytes) {
        tooltest::writeFile(dir.path(name), bytes);
        return dir.path(name);
    };
    auto text = [](const std::string& t) { return std::vector<uint8_t>(t.begin(), t.end()); };
    moxtest::Picture picture = moxtest::makePicture(64, 48, 3, 2);
    moxtest::RefEncodeOptions options;
    options.restartInterval = 1;
    std::vector<uint8_t> good = moxtest::refEncode(picture, options);
    size_t scanStart = good.size() - 2 - tooltest::segment(good, 0xDA).size();
    std::vector<uint8_t> badRestart = good;
    for (size_t i = scanStart; i + 1 < good.size(); ++i) {
        if (good[i] == 0xFF && good[i + 1] == 0xD0) {
            badRestart[i + 1] = 0xC8;  // a marker, but not RSTn
            break;
        }
    }
    options.progressive = true;
    tooltest::writePicture(dir.path("in.ppm"), picture);
    std::vector<uint8_t> ppm = tooltest::readFile(dir.path("in.ppm"));
    const std::string out = dir.path("out.jpg"), pic = dir.path("out.ppm"), ppmIn = dir.path("in.ppm");
    const std::string shortPpm = file("short.ppm", {ppm.begin(), ppm.begin() + long(ppm.size() / 2)});
    const std::string log = "---libmoxcodec_ERROR_LOG start";
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
        {{"decode", "a.jpg", "b.ppm", "--scale", "1/3"}, 2, "", "--scale is 1/1, 1/2, 1/4 or 1/8"},
        {{"encode", "a.ppm", "b.jpg", "--quality", "high"}, 2, "", "not 'high'"},
        {{"encode", "a.ppm", "b.jpg", "--sampling", "411"}, 2, "", "--sampling is 444"},
        {{"encode", "a.ppm", "b.jpg", "--region", "1,2,3"}, 2, "", "--region wants"},
        {{"encode", "a.ppm", "b.jpg", "--comment", std::string(99, 'c')}, 2, "", "98 characters"},
        {{"demo", "stray"}, 2, "", "demo takes no file"},
        // Files that are not what they claim.
        {{"decode", dir.path("missing.jpg"), pic}, 1, "", "cannot open"},
        {{"info", dir.path("missing.jpg")}, 1, "", "cannot open"},
        {{"encode", dir.path("in.bmp"), out}, 1, "", "unknown picture format"},
        {{"encode", file("a.ppm", text("P3\n1 1\n255\n0 0 0\n")), out}, 1, "",
         "not a binary PGM (P5) or PPM"},
        {{"encode", file("b.pgm", text(std::string("P5\n1 1\n65535\n\0\0", 15))), out}, 1, "",
         "maxval must be 255"},
        // 74 bytes claiming a 10^6 x 10^6 interlaced RGBA picture: refused,
        // not taken as a reason to hold 4 TB.
        {{"encode", file("huge.png", tooltest::handBuiltPng(1000000, 1000000, 6, true,
                                                            std::vector<uint8_t>(1000))), out},
         1, "", "huge.png: "},
        // Streams the header analysis refuses.
        {{"info", file("p.jpg", moxtest::refEncode(picture, options))}, 1, log,
         "info: MoxAnalysisHeader failed: status -10 (unsupported frame type, marker or MCU layout)"},
        {{"info", file("t.jpg", text("not JPEG"))}, 1, log,
         "info: MoxAnalysisHeader failed: status -100 (marker missing or segment refused)"},
        {{"info", file("c.jpg", {good.begin(), good.begin() + 100})}, 1, log,
         "info: MoxAnalysisHeader failed: status 1 (more input needed): the stream ends inside its header"},
        {{"info", file("e.jpg", {0xFF, 0xD8, 0xFF, 0xD9})}, 1, "",
         "info: the stream ends before any scan: no picture"},
        {{"info", file("z.jpg", {})}, 1, "", "info: the stream is empty"},
        // Decoding failures. A cut stream may stop at the missing piece or at
        // the damaged code before it: only the form of the message is fixed.
        {{"decode", file("cut.jpg", {good.begin(), good.begin() + long(scanStart + 200)}), pic,
          "--piece", "1024"}, 1, "", "decode: MoxDecode failed: status "},
        {{"decode", file("rst.jpg", badRestart), pic, "--trace"}, 1, log,
         "decode: MoxDecode failed: status -99998 (restart marker expected)"},
        {{"decode", file("g.jpg", good), pic, "--mode", "7"}, 1, "",
         "decode: MoxDecInit failed: status -333 (decoding mode out of range)"},
        {{"decode", dir.path("g.jpg"), pic, "--mode", "1"}, 1, "",
         "decode: VELA decoding needs --width and --height"},
        // Encoding failures.
        {{"encode", ppmIn, out, "--quality", "11"}, 1, "",
         "encode: MoxEncInit failed: status -17 (quality level out of range)"},
        {{"encode", ppmIn, out, "--region", "60,0,20,10"}, 1, "",
         "encode: MoxEncInit failed: status -20 (picture size or region out of range)"},
        {{"encode", ppmIn, out, "--coding-mode", "2"}, 1, "",
         "encode: MoxEncInit failed: status -18 (coding mode out of range)"},
        {{"encode", ppmIn, out, "--coding-mode", "1"}, 1, "",
         "encode: VELA coding takes gray or four-component pictures"},
        {{"encode", shortPpm, out, "--band", "8"}, 1, "",
         "encode: MoxEncode failed: status -111 (callback failed), callback returned 1: " + shortPpm +
             ": the PNM file ends early"},
    };
    for (const Case& c : cases) {
        tooltest::RunResult r = runTool(c.args);
        std::string line = tooltest::joined(c.args).substr(0, 160);
        EXPECT_EQ(r.exitCode, c.exitCode) << line << "\nstderr: " << r.err;
        EXPECT_NE(r.out.find(c.wantOut), std::string::npos)
            << line << ": have stdout\n" << r.out << "want it to contain " << c.wantOut;
        EXPECT_NE(r.err.find(c.wantErr), std::string::npos)
            << line << ": have stderr\n" << r.err << "want it to contain " << c.wantErr;
        if (c.exitCode != 1) continue;
        EXPECT_EQ(r.err.rfind("moxcodec: ", 0), 0u) << line << ": have stderr\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << line << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(out) || std::filesystem::exists(pic))
            << line << ": a failed job leaves its output file behind";
    }
    // A job that fails before it opens its output leaves an older file alone.
    std::string older = file("older.ppm", ppm);
    EXPECT_EQ(runTool({"decode", dir.path("t.jpg"), older}).exitCode, 1);
    EXPECT_EQ(tooltest::readFile(older), ppm) << "decode removed a file it never wrote";
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
    const std::string bothTables = "2 DC, 2 AC tables; codes: DC0=12 DC1=12 AC0=162 AC1=162";
    struct Case {
        int width, height, components, h0, v0, restart;
        std::string comment, sampling, restartText, huffman;
    };
    const Case cases[] = {
        {33, 17, 1, 1, 1, 0, "", "1x1", "none", "1 DC, 1 AC tables; codes: DC0=12 AC0=162"},
        {40, 24, 3, 1, 1, 3, "one two", "1x1 1x1 1x1", "every 3 MCUs", bothTables},
        {64, 64, 3, 2, 2, 7, "hello band", "2x2 1x1 1x1", "every 7 MCUs", bothTables},
    };
    tooltest::ScratchDir dir;
    for (const Case& c : cases) {
        moxtest::RefEncodeOptions options;
        options.quality = 50;  // libjpeg then writes T.81 tables K.1 and K.2 unscaled
        options.hSamp[0] = c.h0;
        options.vSamp[0] = c.v0;
        options.restartInterval = c.restart;
        options.comment = c.comment;
        tooltest::writeFile(dir.path("in.jpg"),
                            moxtest::refEncode(moxtest::makePicture(c.width, c.height, c.components, 3),
                                               options));
        tooltest::RunResult r = runTool({"info", dir.path("in.jpg")});
        ASSERT_EQ(r.exitCode, 0) << c.sampling << ": " << r.err;
        const std::string& o = r.out;
        EXPECT_EQ(field(o, "size"), std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_EQ(field(o, "components"), std::to_string(c.components));
        EXPECT_EQ(field(o, "sampling"), c.sampling);
        EXPECT_EQ(field(o, "restart"), c.restartText);
        EXPECT_EQ(field(o, "huffman"), c.huffman);
        EXPECT_EQ(field(o, "comment"), c.comment.empty() ? "none" : "\"" + c.comment + "\"");
        EXPECT_EQ(field(o, "density"), "1 x 1 (no unit, aspect ratio)");
        // K.1's first and last rows and K.2's first row, natural order.
        EXPECT_NE(o.find("quant table 0 (natural order):\n     16  11  10  16  24  40  51  61\n"),
                  std::string::npos) << o;
        EXPECT_NE(o.find("     72  92  95  98 112 100 103  99\n"), std::string::npos) << o;
        bool chroma = o.find("quant table 1 (natural order):\n     17  18  24  47  99  99  99  99\n") !=
                      std::string::npos;
        EXPECT_EQ(chroma, c.components == 3) << o;
    }
}

}  // namespace
