// The tool as a user meets it, in one table: usage and exit statuses, the
// one-line messages, pipes both ways, RGB-coded JPEGs, damaged streams
// that still give a picture, output files that survive a failed job, PNM
// variants, encode options as info reads them back, VELA and its variants,
// the demo, and what info reports; the tool runs in a scratch folder with
// its exit status and both output streams. Splits of pieces, bands and
// buffers and the codecs' arithmetic are the library tests'.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder/harness.h"
#include "support/picture.h"
#include "support/refjpeg.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes text(const std::string& t) { return Bytes(t.begin(), t.end()); }

uint32_t pngFormat(int components)
{
    return components == 1 ? PNG_FORMAT_GRAY : components == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
}

// A fresh folder below the system's temporary folder, removed on destruction.
class ScratchDir {
public:
    ScratchDir()
    {
        static std::atomic<int> counter{0};
        dir_ = fs::temp_directory_path() / ("moxtool-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(dir_);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    fs::path dir_;
};

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

// Runs the tool with `args`, standard input from `stdinPath` through a pipe
// (cat, so that the tool cannot seek it) when it is given.
RunResult runTool(const std::vector<std::string>& args, const std::string& stdinPath = "")
{
    ScratchDir scratch;
    std::string command = MOXCODEC_TOOL_LAUNCHER " " + shellQuote(MOXCODEC_TOOL);
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " >" + shellQuote(scratch.path("out")) + " 2>" + shellQuote(scratch.path("err"));
    if (!stdinPath.empty()) command = "cat " + shellQuote(stdinPath) + " | " + command;
    RunResult result;
    int status = std::system(command.c_str());
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    Bytes out = readFile(scratch.path("out")), err = readFile(scratch.path("err"));
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

// Binary PNM (P5/P6, maxval 255).
void writePicture(const std::string& path, const moxtest::Picture& picture)
{
    std::string head = (picture.components == 1 ? "P5\n" : "P6\n") + std::to_string(picture.width) + " " +
                       std::to_string(picture.height) + "\n255\n";
    Bytes bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), picture.pixels.begin(), picture.pixels.end());
    writeFile(path, bytes);
}

// PNG (libpng's simplified interface) when the name ends in .png, else binary PNM.
bool readPicture(const std::string& path, moxtest::Picture& picture)
{
    if (path.ends_with(".png")) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
        int channels = int(PNG_IMAGE_SAMPLE_CHANNELS(image.format));
        picture.components = channels == 2 ? 1 : channels;  // gray+alpha read as gray
        image.format = pngFormat(picture.components);
        picture.width = int(image.width);
        picture.height = int(image.height);
        picture.pixels.assign(PNG_IMAGE_SIZE(image), 0);
        bool ok = png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
        png_image_free(&image);
        return ok;
    }
    Bytes bytes = readFile(path);
    std::string head(bytes.begin(), bytes.begin() + long(std::min<size_t>(bytes.size(), 64)));
    char magic[3] = {};
    int maxval = 0, used = 0;
    if (std::sscanf(head.c_str(), "%2s %d %d %d%n", magic, &picture.width, &picture.height,
                    &maxval, &used) != 4 || maxval != 255) {
        return false;
    }
    picture.components = std::strcmp(magic, "P5") == 0 ? 1 : std::strcmp(magic, "P6") == 0 ? 3 : 0;
    size_t size = size_t(picture.width) * picture.height * picture.components;
    if (picture.components == 0 || bytes.size() != size_t(used) + 1 + size) return false;
    picture.pixels.assign(bytes.begin() + used + 1, bytes.end());
    return true;
}

void putBigEndian(Bytes& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(value >> shift));
}

// A PNG assembled chunk by chunk (8-bit samples), for files libpng's writer
// is never asked for: `scanlines` are the raw lines with their filter bytes.
Bytes handBuiltPng(uint32_t width, uint32_t height, uint8_t colorType, bool interlaced,
                                  const Bytes& scanlines)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header, data(scanlines.size() + 64);
    auto chunk = [&png](const char* type, const Bytes& body) {
        putBigEndian(png, uint32_t(body.size()));
        size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), body.begin(), body.end());
        putBigEndian(png, uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
    };
    putBigEndian(header, width);
    putBigEndian(header, height);
    header.insert(header.end(), {8, colorType, 0, 0, uint8_t(interlaced ? 1 : 0)});
    chunk("IHDR", header);
    uLongf size = uLongf(data.size());
    compress(data.data(), &size, scanlines.data(), uLong(scanlines.size()));
    data.resize(size);
    chunk("IDAT", data);
    chunk("IEND", {});
    return png;
}

// The largest sample difference between `ours` and libjpeg's decoding of
// `stream` over lines [0, lines) (all lines when negative); -1 when libjpeg
// fails or the sizes differ.
int worstDifference(const moxtest::Picture& ours, const Bytes& stream, int lines)
{
    moxtest::RefDecoded ref = moxtest::refDecode(stream, false, true);
    const moxtest::Picture& theirs = ref.picture;
    if (!ref.ok || ours.width != theirs.width || ours.height != theirs.height ||
        ours.components != theirs.components || ours.pixels.size() != theirs.pixels.size()) {
        return -1;
    }
    size_t end = lines < 0 ? ours.pixels.size() : size_t(lines) * ours.width * ours.components;
    int worst = 0;
    for (size_t i = 0; i < end; ++i) worst = std::max(worst, std::abs(int(ours.pixels[i]) - int(theirs.pixels[i])));
    return worst;
}



// What a case checks beyond the exit status and the two streams.
enum class Check {
    None,
    NearLibjpeg,  // the output picture is libjpeg's decoding of `reference` within +-3
    Damaged,      // the first third of the lines as libjpeg decodes `reference`, last line grey
    SameBytes,    // the output holds exactly `reference` (an older file: unchanged)
};

struct Case {
    std::vector<std::string> args;  // "@name" stands for the file `name` in the scratch folder
    int exitCode;
    std::vector<std::string> wantOut;  // substrings of stdout
    std::vector<std::string> wantErr;  // substrings of stderr
    Check check = Check::None;
    std::string output;         // checked file; "-" for stdout
    const Bytes* reference = nullptr;
    std::string input;          // file fed to stdin through a pipe
    std::string notOut;         // must not appear in stdout
};

TEST(ToolCases, EveryCommandAsUsersMeetIt)
{
    ScratchDir dir;
    auto file = [&dir](const std::string& name, const Bytes& bytes) {
        writeFile(dir.path(name), bytes);
        return bytes;
    };
    moxtest::Picture picture = moxtest::makePicture(64, 48, 3, 2);
    moxtest::Picture gray = moxtest::makePicture(40, 24, 1, 5);
    // Quality 50: libjpeg writes T.81 tables K.1 and K.2 unscaled.
    const Bytes ycc = file("ycc.jpg", moxtest::refEncode(picture, {.quality = 50, .hSamp = {2, 1, 1}, .vSamp = {2, 1, 1},
                                                                    .restartInterval = 1, .comment = "hello band"}));
    file("gray.jpg", moxtest::refEncode(gray, {}));
    const Bytes rgb = file("rgb.jpg", moxtest::refEncode(picture, {.hSamp = {2, 1, 1}, .storeRgb = true}));
    file("scans.jpg", moxtest::refEncode(picture, {.separateScans = true}));
    file("prog.jpg", moxtest::refEncode(picture, {.progressive = true}));
    file("cmyk.jpg", moxtest::refEncode(moxtest::makePicture(16, 16, 4, 1), {}));
    file("wide.jpg", moxtest::refEncode(moxtest::makePicture(12001, 8, 1, 1), {}));

    // Damaged streams: cut inside the scan; a restart marker replaced by
    // another marker; no end-of-image marker.
    const size_t scanStart = moxtest::scanStart(ycc);
    file("cut.jpg", Bytes(ycc.begin(), ycc.begin() + long(scanStart + (ycc.size() - scanStart) * 3 / 5)));
    Bytes badRestart = ycc;
    size_t at = scanStart + (ycc.size() - scanStart) / 2;
    while (at + 1 < ycc.size() && !(ycc[at] == 0xFF && (ycc[at + 1] & 0xF8) == 0xD0)) ++at;
    badRestart[at + 1] = 0xC8;
    file("rst.jpg", badRestart);
    file("noeoi.jpg", Bytes(ycc.begin(), ycc.end() - 2));

    // PNM inputs: binary at maxval 255 is the reference; 16-bit, plain and
    // small-maxval files of the same samples must give the same stream.
    writePicture(dir.path("in.ppm"), picture);
    writePicture(dir.path("gray.pgm"), gray);
    std::string plain = "P3\n# plain\n64 48\n255\n", wide = "P6 64 48 65535\n", plain4 = "P2 40 24 15\n";
    for (uint8_t v : picture.pixels) {
        plain += std::to_string(v) + (v % 7 ? " " : "\n");
        wide += {char(v), char(v)};  // v * 257
    }
    moxtest::Picture gray4 = gray;  // 16 levels: v * 17 on the 8-bit scale
    for (uint8_t& v : gray4.pixels) {
        plain4 += std::to_string(v >> 4) + " ";
        v = uint8_t((v >> 4) * 17);
    }
    file("plain.ppm", text(plain));
    file("wide.ppm", text(wide));
    file("plain4.pgm", text(plain4));
    writePicture(dir.path("gray4.pgm"), gray4);
    file("bare.pgm", text(std::string("P5 1 1 0\n\0", 10)));
    file("notes.txt", text("plain text, not a picture"));
    // 74 bytes claiming a 10^6 x 10^6 interlaced RGBA picture: refused, not
    // taken as a reason to hold 4 TB.
    file("huge.png", handBuiltPng(1000000, 1000000, 6, true, Bytes(1000)));
    Bytes ppm = readFile(dir.path("in.ppm"));
    file("short.ppm", Bytes(ppm.begin(), ppm.begin() + long(ppm.size() / 2)));
    file("eoi.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
    file("empty.jpg", {});
    file("head.jpg", Bytes(ycc.begin(), ycc.begin() + 100));
    // Two copier MCUs of 64 bytes: R 0, three blocks of DC 0 and EOB (all 128).
    Bytes copier(128, 0xFF);
    for (size_t at : {0, 64}) std::copy_n(Bytes{0x00, 0x10, 0x41, 0x2B, 0x0F, 0x0F}.begin(), 6, copier.begin() + long(at));
    file("copier.vela", copier);
    file("short.bin", Bytes(100, 0));
    Bytes ppmStream, grayStream;
    {
        RunResult a = runTool({"encode", dir.path("in.ppm"), dir.path("a.jpg")});
        RunResult b = runTool({"encode", dir.path("gray4.pgm"), dir.path("b.jpg")});
        ASSERT_EQ(a.exitCode + b.exitCode, 0) << a.err << b.err;
        ppmStream = readFile(dir.path("a.jpg"));
        grayStream = readFile(dir.path("b.jpg"));
    }

    // Files a failed job must leave alone: a plain file and one behind a link.
    const Bytes precious = file("keep.ppm", text("P5 1 1 255\n?"));
    file("target.ppm", precious);
    fs::create_symlink(dir.path("target.ppm"), dir.path("link.ppm"));
    fs::create_directory(dir.path("folder"));

    const std::string log = "---libmoxcodec_ERROR_LOG start";
    const Case cases[] = {
        // Usage, help and exit statuses.
        {{}, 2, {}, {"usage: moxcodec COMMAND"}},
        {{"--help"}, 0, {"commands:", "Exit status: 0 done; 1 failed; 2 a warning"}, {}},
        {{"frobnicate"}, 2, {}, {"unknown command 'frobnicate'"}},
        {{"decode", "--help"}, 0, {"--piece BYTES        compressed piece size, at least 64",
                                   "--png-level N", "--format F", "2 a warning"}, {}},
        {{"decode", "a.jpg", "b.ppm", "--bogus"}, 2, {}, {"unknown option --bogus"}},
        {{"decode", "a.jpg", "b.ppm", "--piece", "63"}, 2, {}, {"--piece wants a whole number from 64"}},
        {{"decode", "a.jpg", "b.ppm", "--scale", "1/3"}, 2, {}, {"--scale is 1/1, 1/2, 1/4 or 1/8"}},
        {{"decode", "@ycc.jpg", "-"}, 2, {}, {"-: unknown picture format (use .png, .ppm, .pgm or .pnm, or --format)"}},
        {{"encode", "a.ppm", "b.jpg", "--comment", std::string(99, 'c')}, 2, {}, {"98 characters"}},
        {{"demo", "--out", "@demo", "--size", "240x160", "--repeat", "1"}, 0,
         {"JPEG q10 ", "preview    1/8         30x20 ", "VELA 4c ", "VELA gray "}, {}},
        // Encode options as info reads them back.
        {{"encode", "@in.ppm", "@opt.jpg", "--restart", "4", "--sampling", "422", "--comment", "band test",
          "--density", "300,200,1"}, 0, {}, {}},
        {{"info", "@opt.jpg"}, 0, {"sampling:      2x1 1x1 1x1\n", "restart:       every 4 MCUs\n",
                                   "comment:       \"band test\"\n", "density:       300 x 200 (dots per inch)\n"}, {}},
        {{"encode", "@in.ppm", "@reg.jpg", "--quality", "0", "--region", "16,24,40,16"}, 0, {}, {}},
        {{"info", "@reg.jpg"}, 0, {"size:          40 x 16\n", "sampling:      2x2 1x1 1x1\n"}, {}},
        // VELA through the tool, and the variants' parameter options.
        {{"encode", "@gray.pgm", "@g.vela", "--coding-mode", "1", "--vela-size-mode", "1"}, 0, {}, {}},
        {{"decode", "@g.vela", "@g.pgm", "--mode", "1", "--width", "40", "--height", "24", "--components", "1",
          "--vela-size-mode", "1", "--piece", "100", "--band", "3"}, 0, {}, {}},
        {{"decode", "@copier.vela", "@c.ppm", "--mode", "3", "--width", "16", "--height", "8"}, 0, {}, {}},
        {{"decode", "@copier.vela", "@x.ppm", "--mode", "3", "--width", "16", "--height", "8", "--copier-rule", "0"},
         1, {}, {"MoxDecInit failed: status -12"}},
        {{"decode", "@copier.vela", "@x.pgm", "--mode", "2", "--width", "16", "--height", "8", "--tables", "@short.bin"},
         1, {}, {"holds 100 bytes; a table block has 6672"}},
        // RGB-coded JPEG (Adobe transform 0): R, G, B come out unconverted.
        {{"decode", "@rgb.jpg", "@rgb.ppm"}, 0, {}, {}, Check::NearLibjpeg, "rgb.ppm", &rgb},
        {{"info", "@rgb.jpg"}, 0, {"colour:        transform 0, RGB stored as is (Adobe APP14 says 0)\n"}, {}},
        {{"info", "@ycc.jpg"}, 0, {"colour:        transform 1, YCbCr converted to RGB (JFIF)\n",
                                   "sampling:      2x2 1x1 1x1\n", "restart:       every 1 MCUs\n",
                                   "scan:          3 of 3 components, interleaved\n", "decodable:     yes\n",
                                   "quant table 0: 16 11 10 16 24 40 51 61 12 12 14 19 ", "quant table 1: 17 18 24 47 99 ",
                                   "huffman:       2 DC, 2 AC tables; codes: DC0=12 DC1=12 AC0=162 AC1=162\n",
                                   "comment:       \"hello band\"\n", "density:       1 x 1 (no unit, aspect ratio)\n"}, {}},
        // Pipes both ways.
        {{"decode", "-", "@piped.ppm", "--piece", "100"}, 0, {}, {}, Check::NearLibjpeg, "piped.ppm", &ycc, "ycc.jpg"},
        {{"decode", "-", "-", "--format", "pnm", "--push"}, 0, {}, {}, Check::NearLibjpeg, "-", &ycc, "ycc.jpg"},
        {{"encode", "-", "-"}, 0, {}, {}, Check::SameBytes, "-", &ppmStream, "in.ppm"},
        {{"info", "-"}, 0, {"file:          standard input (", "size:          40 x 24\n",
                            "colour:        transform none (1 component)\n"}, {}, Check::None, "", nullptr, "gray.jpg"},
        // PNG output.
        {{"decode", "@ycc.jpg", "@small.png", "--png-level", "9"}, 0, {}, {}, Check::NearLibjpeg, "small.png", &ycc},
        // Damaged streams keep what was decoded, fill grey and warn with 2.
        {{"decode", "@cut.jpg", "@cut.ppm", "--band", "8"}, 2, {},
         {"moxcodec: warning: decode: the stream ends before the picture is complete (MoxDecode failed: status ", "); the lines after the fault are grey\n"},
         Check::Damaged, "cut.ppm", &ycc},
        {{"decode", "@rst.jpg", "@rst.ppm"}, 2, {}, {"warning: decode: MoxDecode failed: status -99998 (restart marker expected)"},
         Check::Damaged, "rst.ppm", &ycc},
        {{"decode", "@noeoi.jpg", "@noeoi.ppm"}, 2, {}, {"warning: decode: the stream has no end-of-image marker"},
         Check::NearLibjpeg, "noeoi.ppm", &ycc},
        // A failed job leaves an existing output, and a link and its target, alone.
        {{"decode", "@ycc.jpg", "@keep.ppm", "--mode", "7"}, 1, {},
         {"decode: MoxDecInit failed: status -333 (decoding mode out of range)"}, Check::SameBytes, "keep.ppm", &precious},
        {{"decode", "@cmyk.jpg", "@link.ppm"}, 1, {}, {"four components (CMYK or YCCK)"}, Check::SameBytes, "link.ppm", &precious},
        {{"encode", "@notes.txt", "@link.ppm"}, 1, {}, {"notes.txt: not a PNG or PNM (P2, P3, P5, P6) picture"},
         Check::SameBytes, "link.ppm", &precious},
        // Messages that say what is wrong.
        {{"decode", "@wide.jpg", "@w.pgm"}, 1, {}, {"the picture is 12001 pixels wide, wider than the 12000 pixels the decoder supports"}},
        {{"info", "@wide.jpg"}, 0, {"decodable:     no, the picture is 12001 pixels wide, wider than the 12000 pixels the decoder supports; --scale 1/2"}, {}},
        {{"decode", "@scans.jpg", "@s.ppm"}, 1, {}, {"separate scans (non-interleaved); the decoder reads single-scan interleaved"}},
        {{"decode", "@prog.jpg", "@p.ppm"}, 1, {}, {"MoxAnalysisHeader failed: status -10 (unsupported frame type, marker or MCU layout): the JPEG is progressive"}},
        {{"info", "@cmyk.jpg"}, 0, {"components:    4\n", "decodable:     no, the JPEG has four components"}, {}},
        {{"decode", "@folder", "@f.ppm"}, 1, {}, {"folder is a directory, not a file"}},
        {{"decode", "@missing.jpg", "@m.ppm"}, 1, {}, {"cannot open"}},
        {{"info", "@notes.txt"}, 1, {}, {"info: MoxAnalysisHeader failed: status -100 (marker missing or segment refused)"}, Check::None, "", nullptr, "", log},
        {{"info", "@notes.txt", "--trace"}, 1, {log}, {"status -100"}},
        // PNM variants are read as the 8-bit binary file of the same samples.
        {{"encode", "@plain.ppm", "@plain.jpg"}, 0, {}, {}, Check::SameBytes, "plain.jpg", &ppmStream},
        {{"encode", "-", "@wide16.jpg"}, 0, {}, {}, Check::SameBytes, "wide16.jpg", &ppmStream, "wide.ppm"},
        {{"encode", "@plain4.pgm", "@plain4.jpg"}, 0, {}, {}, Check::SameBytes, "plain4.jpg", &grayStream},
        {{"encode", "@bare.pgm", "@bare.jpg"}, 1, {}, {"bare.pgm: PNM maxval must be 1 to 65535"}},
        {{"encode", "@in.ppm", "@q.jpg", "--quality", "11"}, 1, {}, {"encode: MoxEncInit failed: status -17 (quality level out of range)"}},
        {{"encode", "@huge.png", "@h.jpg"}, 1, {}, {"huge.png: the picture size exceeds what the file can hold"}},
        {{"encode", "@short.ppm", "@s.jpg", "--band", "8"}, 1, {},
         {"encode: MoxEncode failed: status -111 (callback failed), callback returned 1: ", "short.ppm: the PNM file ends early"}},
        {{"decode", "@ycc.jpg", "@v.ppm", "--mode", "1"}, 1, {}, {"decode: VELA decoding needs --width and --height"}},
        {{"info", "@eoi.jpg"}, 1, {}, {"info: the stream ends before any scan: no picture"}},
        {{"info", "-"}, 1, {}, {"info: the stream is empty"}, Check::None, "", nullptr, "empty.jpg"},
        {{"info", "@head.jpg"}, 1, {}, {"status 1 (more input needed): the stream ends inside its header"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args;
        for (const std::string& a : c.args) args.push_back(a.rfind('@', 0) == 0 ? dir.path(a.substr(1)) : a);
        RunResult r = runTool(args, c.input.empty() ? "" : dir.path(c.input));
        std::string line = "moxcodec";
        for (const std::string& a : c.args) line += " " + a.substr(0, 40);
        EXPECT_EQ(r.exitCode, c.exitCode) << line << "\nstderr: " << r.err;
        for (const std::string& want : c.wantOut)
            EXPECT_NE(r.out.find(want), std::string::npos) << line << ": have stdout\n" << r.out << "want " << want;
        for (const std::string& want : c.wantErr)
            EXPECT_NE(r.err.find(want), std::string::npos) << line << ": have stderr\n" << r.err << "want " << want;
        if (!c.notOut.empty()) EXPECT_EQ(r.out.find(c.notOut), std::string::npos) << line << ": " << r.out;
        if (c.exitCode == 1) EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << line << ": have\n" << r.err;
        std::string output = c.output == "-" ? dir.path("stdout") : dir.path(c.output);
        if (c.output == "-") writeFile(output, Bytes(r.out.begin(), r.out.end()));
        moxtest::Picture have;
        if (c.check == Check::SameBytes) EXPECT_EQ(readFile(output), *c.reference) << line;
        if (c.check == Check::NearLibjpeg || c.check == Check::Damaged) {
            ASSERT_TRUE(readPicture(output, have)) << line << ": unreadable output";
            const bool damaged = c.check == Check::Damaged;
            int worst = worstDifference(have, *c.reference, damaged ? have.height / 3 : -1);
            EXPECT_TRUE(worst >= 0 && worst <= 3) << line << ": have largest difference " << worst
                                                  << " to libjpeg (-1: other size), want <= 3";
            EXPECT_TRUE(!damaged || std::all_of(have.pixels.end() - long(have.width * have.components),
                                                have.pixels.end(), [](uint8_t v) { return v == 128; }))
                << line << ": the last line is not grey";
        }
    }
    // The link is still a link, and no temporary file stayed behind.
    EXPECT_TRUE(fs::is_symlink(dir.path("link.ppm")));
    for (const auto& entry : fs::directory_iterator(dir.path(""))) {
        EXPECT_NE(entry.path().filename().string()[0], '.') << "left behind: " << entry.path();
    }
    // A successful job through the link writes the link's target.
    ASSERT_EQ(runTool({"decode", dir.path("ycc.jpg"), dir.path("link.ppm")}).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(dir.path("link.ppm")));
    EXPECT_NE(readFile(dir.path("target.ppm")), precious) << "the link's target was not written";
}

}  // namespace
