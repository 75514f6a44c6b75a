// Running the moxcodec tool from tests: a scratch folder per test, the
// process's exit status and both output streams, PNM and PNG files, and
// probes that tell whether the decoder and the encoder have landed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/picture.h"

namespace tooltest {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the tool with `args` (each quoted for the shell).
RunResult runTool(const std::vector<std::string>& args);

// A fresh folder below the system's temporary folder, removed on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);

// Binary PNM (P5/P6), maxval 255; a picture of 1 or 3 components.
void writePnm(const std::string& path, const moxtest::Picture& picture);
bool readPnm(const std::string& path, moxtest::Picture& picture);
// PNG through libpng's simplified interface (gray, RGB or RGBA as stored).
bool readPng(const std::string& path, moxtest::Picture& picture);
void writePng(const std::string& path, const moxtest::Picture& picture);
// A PNG assembled chunk by chunk (8-bit samples), for files libpng's writer
// is never asked for: `scanlines` are the raw lines with their filter bytes,
// `trns` the body of a tRNS chunk (none when empty).
std::vector<uint8_t> handBuiltPng(uint32_t width, uint32_t height, uint8_t colorType,
                                  bool interlaced, const std::vector<uint8_t>& scanlines,
                                  const std::vector<uint8_t>& trns = {});

// Largest absolute sample difference; -1 when the sizes differ.
int maxDifference(const moxtest::Picture& a, const moxtest::Picture& b);

// The rectangle (left, top, width, height) of a picture.
moxtest::Picture crop(const moxtest::Picture& picture, int left, int top, int width, int height);

// Whether the library's decoder and encoder are real yet; while they are
// placeholders, the tests that need them skip.
bool decoderLanded(std::string& why);
bool encoderLanded(std::string& why);

// JPEG marker segments found by walking the stream by hand.
struct JpegLayout {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    int hSamp[4] = {}, vSamp[4] = {};
    int restartInterval = 0;      // 0 without DRI
    std::string comment;
    bool jfif = false;
    int densityUnit = -1, densityX = -1, densityY = -1;
    size_t scanStart = 0;          // first byte of entropy-coded data
    size_t scanEnd = 0;            // index of the EOI marker (or size)
    int restartMarkers = 0;        // RSTn met in the scan
};
JpegLayout parseJpeg(const std::vector<uint8_t>& stream);

}  // namespace tooltest

#define SKIP_UNLESS_DECODER()                                          \
    do {                                                               \
        std::string why_;                                              \
        if (!tooltest::decoderLanded(why_)) GTEST_SKIP() << why_;      \
    } while (0)

#define SKIP_UNLESS_ENCODER()                                          \
    do {                                                               \
        std::string why_;                                              \
        if (!tooltest::encoderLanded(why_)) GTEST_SKIP() << why_;      \
    } while (0)
